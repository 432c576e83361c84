// The common part of the CSV sinks: the file with its header line, and the
// time of a frame's start from FILE, ADVANCE and SAMPLING_RATE.
#ifndef KOLV_HOST_TABLE_SINK_H
#define KOLV_HOST_TABLE_SINK_H

#include <cstdio>
#include <string>
#include <vector>

#include "Node.h"

namespace KOLV::host {

// Decimals of the time column: microseconds resolve every sample up to 1 MHz.
constexpr int kTimeDecimals = 6;

// The start of frame `frame` in seconds.
double frameStartSeconds(int frame, int advance, int samplingRate);

// FILE, ADVANCE and SAMPLING_RATE, as every CSV sink reads them.
std::vector<ParameterInfo> tableSinkParameters();

class TableSink : public BufferedNode {
 public:
  void finish() override;
  ~TableSink() override;

 protected:
  // Reads FILE, ADVANCE and SAMPLING_RATE in that order, opens FILE and
  // writes `header`.
  TableSink(std::string nodeName, const ParameterSet &params, const char *header);
  // Writes one whole line: the frame number, its time, then `rest`.
  void writeRow(int frame, const std::string &rest);

 private:
  std::string file_;
  int advance_;
  int samplingRate_;
  FILE *out_ = nullptr;
  bool writeFailed_ = false;
};

}  // namespace KOLV::host

#endif
