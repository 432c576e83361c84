#include "TableSink.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "GenericType.h"
#include "NodeError.h"
#include "OutputPath.h"
#include "StreamParameters.h"

namespace KOLV::host {

double frameStartSeconds(int frame, int advance, int samplingRate) {
  return static_cast<double>(frame) * advance / samplingRate;
}

namespace {

struct Parameters : ParameterTable {
  const ParameterInfo &file =
      add(fileParameter("the CSV file to write (its folder is created)"));
  const ParameterInfo &advance = add(advanceParameter("frame shift, for the time column"));
  const ParameterInfo &samplingRate =
      add(samplingRateParameter("sampling rate, for the time column"));
};

const Parameters &declared() {
  static const Parameters table;
  return table;
}

}  // namespace

std::vector<ParameterInfo> tableSinkParameters() { return declared().entries(); }

TableSink::TableSink(std::string nodeName, const ParameterSet &params, const char *header)
    : BufferedNode(nodeName, params) {
  const Parameters &p = declared();
  file_ = outputPath(p.file.readString(parameters));
  advance_ = p.advance.readInt(parameters);
  samplingRate_ = p.samplingRate.readInt(parameters);
  processInOrder = true;
  if (advance_ < 1)
    KOLV_NODE_ERROR(getName(),
                    "ADVANCE must be at least 1 sample, not " + std::to_string(advance_));
  if (samplingRate_ < 1)
    KOLV_NODE_ERROR(getName(),
                    "SAMPLING_RATE must be positive, not " + std::to_string(samplingRate_));
  std::filesystem::path parent = std::filesystem::path(file_).parent_path();
  std::error_code error;
  if (!parent.empty()) std::filesystem::create_directories(parent, error);
  out_ = error ? nullptr : std::fopen(file_.c_str(), "w");
  if (!out_)
    KOLV_NODE_ERROR(getName(), "cannot write FILE '" + file_ +
                                   "': " + (error ? error.message() : std::strerror(errno)));
  std::fprintf(out_, "%s\n", header);
}

TableSink::~TableSink() {
  if (out_) std::fclose(out_);
}

void TableSink::writeRow(int frame, const std::string &rest) {
  if (std::fprintf(out_, "%d,%.*f,%s\n", frame, kTimeDecimals,
                   frameStartSeconds(frame, advance_, samplingRate_), rest.c_str()) < 0) {
    writeFailed_ = true;
    KOLV_NODE_ERROR(getName(), "writing FILE '" + file_ + "' failed: " + std::strerror(errno));
  }
}

// Buffered rows reach the disk here at the latest: a full disk shows itself
// now, and the run must not end as if the table were written.
void TableSink::finish() {
  if (writeFailed_) return;  // already reported
  if (std::fflush(out_) != 0 || std::ferror(out_))
    KOLV_NODE_ERROR(getName(), "writing FILE '" + file_ + "' failed: " + std::strerror(errno));
}

}  // namespace KOLV::host
