#include "ResampledInput.h"

#include <cmath>
#include <stdexcept>
#include <string>

namespace KOLV::host {

namespace {
// Sample frames taken from the input at a time: small, so a live stream is
// not held back by the resampler.
constexpr long kInputBlock = 256;
}  // namespace

ResampledInput::ResampledInput(std::unique_ptr<AudioInput> input, int rate)
    : input_(std::move(input)), rate_(rate) {
  soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  // High quality: a pass band to 91 % of the lower Nyquist frequency, stop
  // band rejection far below the 16-bit noise floor, linear phase.
  soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  soxr_error_t error = nullptr;
  resampler_ = soxr_create(input_->sampleRate(), rate_, static_cast<unsigned>(input_->channels()),
                           &error, &io, &quality, nullptr);
  if (error) throw std::runtime_error(std::string("cannot resample: ") + error);
  block_.resize(static_cast<size_t>(kInputBlock) * input_->channels());
}

ResampledInput::~ResampledInput() { soxr_delete(resampler_); }

long long ResampledInput::frames() const {
  const long long in = input_->frames();
  if (in < 0) return in;
  return std::llround(static_cast<double>(in) * rate_ / input_->sampleRate());
}

long ResampledInput::read(float *interleaved, long frames) {
  long done = 0;
  while (done < frames && !flushed_) {
    float *out = interleaved + static_cast<size_t>(done) * channels();
    const size_t room = static_cast<size_t>(frames - done);
    size_t produced = 0;
    soxr_error_t error = nullptr;
    if (pendingFrames_ == 0 && !inputEnded_) {
      pendingFrames_ = input_->read(block_.data(), kInputBlock);
      pendingStart_ = 0;
      if (pendingFrames_ == 0) inputEnded_ = true;
    }
    if (pendingFrames_ > 0) {
      size_t used = 0;
      error = soxr_process(resampler_, block_.data() + pendingStart_ * channels(),
                           static_cast<size_t>(pendingFrames_), &used, out, room, &produced);
      pendingStart_ += static_cast<long>(used);
      pendingFrames_ -= static_cast<long>(used);
    } else {
      // Nothing more comes in: what the filter still holds comes out.
      error = soxr_process(resampler_, nullptr, 0, nullptr, out, room, &produced);
      if (produced == 0) flushed_ = true;
    }
    if (error) throw std::runtime_error(std::string("resampling failed: ") + error);
    done += static_cast<long>(produced);
    // A live input read block by block gives what it has at once.
    if (produced > 0 && input_->isLive()) break;
  }
  return done;
}

}  // namespace KOLV::host
