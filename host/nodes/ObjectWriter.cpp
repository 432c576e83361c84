#include "ObjectWriter.h"

#include <filesystem>

#include "GenericType.h"
#include "NodeError.h"
#include "OutputPath.h"
#include "StreamParameters.h"

namespace KOLV::host {

namespace {
// Enough significant digits that every float reads back exactly.
constexpr int kFloatDigits = 9;
}  // namespace

void openOutputFile(std::ofstream &out, const std::string &path, const std::string &nodeName) {
  std::filesystem::path parent = std::filesystem::path(path).parent_path();
  std::error_code error;
  if (!parent.empty()) std::filesystem::create_directories(parent, error);
  if (error)
    KOLV_NODE_ERROR(nodeName,
                    "cannot create the folder of FILE '" + path + "': " + error.message());
  out.open(path);
  if (!out) KOLV_NODE_ERROR(nodeName, "cannot write FILE '" + path + "'");
}

namespace {

struct Parameters : ParameterTable {
  const ParameterInfo &file =
      add(fileParameter("the text-form file to write (its folder is created)"));
};

const Parameters &declared() {
  static const Parameters table;
  return table;
}

}  // namespace

const NodeDescription &ObjectWriter::description() {
  static const NodeDescription d{
      "Writes each frame's object in the text form, one per line, floats to 9 digits",
      {{"INPUT", "any", "the objects to write"}},
      {},
      declared().entries()};
  return d;
}

ObjectWriter::ObjectWriter(std::string nodeName, ParameterSet params)
    : BufferedNode(nodeName, params) {
  inputID_ = addInput("INPUT");
  file_ = outputPath(declared().file.readString(parameters));
  processInOrder = true;
  openOutputFile(out_, file_, getName());
  out_.precision(kFloatDigits);
}

void ObjectWriter::calculate(int, int count, Buffer &) {
  ObjectRef object = getInput(inputID_, count);
  out_ << object << '\n';
  if (!out_) KOLV_NODE_ERROR(getName(), "writing FILE '" + file_ + "' failed");
}

void ObjectWriter::finish() {
  if (!out_.flush()) KOLV_NODE_ERROR(getName(), "writing FILE '" + file_ + "' failed");
}

}  // namespace KOLV::host
