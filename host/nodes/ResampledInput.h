// An audio input at another sampling rate: the samples of a recording
// resampled by libsoxr as they stream, so a file or stream at any rate gives
// the frames of the same recording at the network's rate.
#ifndef KOLV_HOST_RESAMPLED_INPUT_H
#define KOLV_HOST_RESAMPLED_INPUT_H

#include <soxr.h>

#include <memory>
#include <vector>

#include "AudioInput.h"

namespace KOLV::host {

class ResampledInput : public AudioInput {
 public:
  // Reads `input` and gives its samples at `rate`.
  ResampledInput(std::unique_ptr<AudioInput> input, int rate);
  ~ResampledInput() override;
  ResampledInput(const ResampledInput &) = delete;
  ResampledInput &operator=(const ResampledInput &) = delete;

  int channels() const override { return input_->channels(); }
  int sampleRate() const override { return rate_; }
  long long frames() const override;
  long read(float *interleaved, long frames) override;
  std::string truncation() const override { return input_->truncation(); }

 private:
  std::unique_ptr<AudioInput> input_;
  int rate_;
  soxr_t resampler_ = nullptr;
  std::vector<float> block_;  // samples read from the input, interleaved
  long pendingStart_ = 0;     // first sample frame of block_ not yet resampled
  long pendingFrames_ = 0;    // sample frames of block_ not yet resampled
  bool inputEnded_ = false;
  bool flushed_ = false;
};

}  // namespace KOLV::host

#endif
