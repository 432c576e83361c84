// Writes the samples of each frame to a 16-bit PCM WAV file.
#ifndef KOLV_HOST_WAVE_SINK_H
#define KOLV_HOST_WAVE_SINK_H

#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Node.h"
#include "WavStreamWriter.h"

namespace KOLV::host {

// Rounds samples on the 16-bit scale to 16-bit integers, clipping to the
// range and writing NaN as 0, and counts both.
class PcmQuantizer {
 public:
  // Converts `n` samples of `in` into `out`.
  void quantize(const float *in, int16_t *out, long n);
  long long clipped() const { return clipped_; }
  long long notANumber() const { return notANumber_; }

 private:
  long long clipped_ = 0;
  long long notANumber_ = 0;
};

class WaveSink : public BufferedNode {
 public:
  WaveSink(std::string nodeName, ParameterSet params);
  ~WaveSink() override;
  static const NodeDescription &description();
  void calculate(int output_id, int count, Buffer &out) override;
  void finish() override;

 private:
  void open(int channels);
  void close();
  void closeChecked();

  int audioID_;
  std::string file_;
  int sampleRate_;
  SNDFILE *sndfile_ = nullptr;
  std::unique_ptr<WavStreamWriter> stream_;  // for FILE -, standard output
  FILE *standardOutput_ = nullptr;            // taken for FILE - until the stream starts
  int channels_ = 0;
  PcmQuantizer quantizer_;
  std::vector<int16_t> interleaved_;
};

}  // namespace KOLV::host

#endif
