#include "Spectral.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace KOLV::host {

namespace {
constexpr double kTwoPi = 6.283185307179586476925286766559;
constexpr double kHannOffset = 0.5, kHannScale = 0.5;
constexpr double kHammingOffset = 0.54, kHammingScale = 0.46;
// Fraction of the steady-state sum of squared windows below which a sample
// counts as partly covered (the start of a stream under a tapering window).
// Dividing there by the small sum gives an untouched spectrum back exactly,
// but raises whatever a node changed in the frame (a filter's response wraps
// around it) by up to 1/w: a click 20 dB and more above the signal at the
// start of every separated or enhanced file. Those samples fade in instead.
// A rectangular window no longer than four shifts covers every sample with a
// quarter of the steady sum or more, and reconstructs them all.
constexpr float kRelativeNormFloor = 0.25f;

std::vector<float> cosineWindow(int length, double offset, double scale) {
  std::vector<float> w(length);
  for (int n = 0; n < length; ++n)
    w[n] = static_cast<float>(offset - scale * std::cos(kTwoPi * n / length));
  return w;
}
}  // namespace

const char *const kWindowNames = "HANN, HAMMING or RECTANGLE";

std::vector<float> makeWindow(const std::string &name, int length) {
  if (name == "HANN") return cosineWindow(length, kHannOffset, kHannScale);
  if (name == "HAMMING") return cosineWindow(length, kHammingOffset, kHammingScale);
  if (name == "RECTANGLE") return std::vector<float>(length, 1.0f);
  throw std::invalid_argument("unknown window '" + name + "' (use " + kWindowNames + ")");
}

SpectrumAnalyzer::SpectrumAnalyzer(std::vector<float> window)
    : length_(static_cast<int>(window.size())), window_(std::move(window)) {
  frame_ = fftwf_alloc_real(length_);
  bins_ = fftwf_alloc_complex(bins());
  plan_ = fftwf_plan_dft_r2c_1d(length_, frame_, bins_, FFTW_ESTIMATE);
}

SpectrumAnalyzer::~SpectrumAnalyzer() {
  fftwf_destroy_plan(plan_);
  fftwf_free(bins_);
  fftwf_free(frame_);
}

void SpectrumAnalyzer::analyze(const float *signal, std::complex<float> *spectrum) {
  for (int n = 0; n < length_; ++n) frame_[n] = window_[n] * signal[n];
  fftwf_execute(plan_);
  for (int k = 0; k < bins(); ++k) spectrum[k] = {bins_[k][0], bins_[k][1]};
}

OverlapAdder::OverlapAdder(std::vector<float> window, int advance)
    : length_(static_cast<int>(window.size())),
      advance_(advance),
      window_(std::move(window)),
      sum_(length_, 0.0f),
      norm_(length_, 0.0f) {
  double steady = 0.0;
  for (float w : window_) steady += static_cast<double>(w) * w;
  normFloor_ = kRelativeNormFloor * static_cast<float>(steady / advance_);
  frame_ = fftwf_alloc_real(length_);
  bins_ = fftwf_alloc_complex(bins());
  plan_ = fftwf_plan_dft_c2r_1d(length_, bins_, frame_, FFTW_ESTIMATE);
}

OverlapAdder::~OverlapAdder() {
  fftwf_destroy_plan(plan_);
  fftwf_free(bins_);
  fftwf_free(frame_);
}

void OverlapAdder::synthesize(const std::complex<float> *spectrum, float *finished) {
  for (int k = 0; k < bins(); ++k) {
    bins_[k][0] = spectrum[k].real();
    bins_[k][1] = spectrum[k].imag();
  }
  // A real signal's spectrum has real values at 0 and, for even lengths, at
  // L/2; the inverse transform must not see imaginary parts there.
  bins_[0][1] = 0.0f;
  if (length_ % 2 == 0) bins_[length_ / 2][1] = 0.0f;
  fftwf_execute(plan_);
  const float scale = 1.0f / static_cast<float>(length_);
  for (int n = 0; n < length_; ++n) {
    sum_[n] += window_[n] * (frame_[n] * scale);
    norm_[n] += window_[n] * window_[n];
  }
  for (int n = 0; n < advance_; ++n) finished[n] = sum_[n] / std::max(norm_[n], normFloor_);
  std::copy(sum_.begin() + advance_, sum_.end(), sum_.begin());
  std::fill(sum_.end() - advance_, sum_.end(), 0.0f);
  std::copy(norm_.begin() + advance_, norm_.end(), norm_.begin());
  std::fill(norm_.end() - advance_, norm_.end(), 0.0f);
}

}  // namespace KOLV::host
