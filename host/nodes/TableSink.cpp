#include "TableSink.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "GenericType.h"
#include "NodeError.h"

namespace KOLV::host {

double frameStartSeconds(int frame, int advance, int samplingRate) {
  return static_cast<double>(frame) * advance / samplingRate;
}

TableSink::TableSink(std::string nodeName, const ParameterSet &params, const char *header)
    : BufferedNode(nodeName, params) {
  file_ = dereference_cast<String>(parameters.get("FILE"));
  advance_ = dereference_cast<int>(parameters.get("ADVANCE"));
  samplingRate_ = dereference_cast<int>(parameters.get("SAMPLING_RATE"));
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
                   frameStartSeconds(frame, advance_, samplingRate_), rest.c_str()) < 0)
    KOLV_NODE_ERROR(getName(), "writing FILE '" + file_ + "' failed: " + std::strerror(errno));
}

void TableSink::finish() { std::fflush(out_); }

}  // namespace KOLV::host
