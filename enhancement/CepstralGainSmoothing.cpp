#include "CepstralGainSmoothing.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "FastMath.h"

namespace enhancement {

namespace {

// FFTW's planner is not reentrant, and enhancers may start on several threads.
std::mutex &plannerLock() {
  static std::mutex lock;
  return lock;
}

// ln G per bin kept within [ln floor, 0] (a NaN taken as ln floor).
void limitOverBins(int n, float logFloor, const float *__restrict logGain, float *__restrict out) {
  for (int k = 0; k < n; ++k) out[k] = atMost(atLeast(logGain[k], logFloor), 0.0f);
}

void gainOverBins(int n, float scale, float offset, float logFloor, const float *__restrict logGain,
                  float *__restrict gain) {
  for (int k = 0; k < n; ++k)
    gain[k] = fastExp(atLeast(atMost(scale * logGain[k] + offset, 0.0f), logFloor));
}

}  // namespace

CepstralGainSmoothing::~CepstralGainSmoothing() { release(); }

void CepstralGainSmoothing::release() {
  std::lock_guard<std::mutex> guard(plannerLock());
  for (fftwf_plan *p : {&forward_, &backward_}) {
    if (*p) fftwf_destroy_plan(*p);
    *p = nullptr;
  }
  fftwf_free(period_);
  fftwf_free(spectrum_);
  period_ = nullptr;
  spectrum_ = nullptr;
}

void CepstralGainSmoothing::start(int cols, double samplingRate, double frameShift) {
  release();
  cols_ = cols;
  fineStart_ = std::clamp(static_cast<int>(std::lround(settings_.fineStart * samplingRate)), 0, cols);
  fineWeight_ = static_cast<float>(std::pow(static_cast<double>(settings_.fineWeight),
                                            frameShift / CepstralSmoothingSettings::kReferenceFrameShift));
  smoothed_.assign(cols - fineStart_, 0.0f);
  first_ = true;
  if (cols < 2) return;  // nothing to smooth across
  const int length = 2 * (cols - 1);
  std::lock_guard<std::mutex> guard(plannerLock());
  period_ = fftwf_alloc_real(length);
  spectrum_ = fftwf_alloc_complex(cols);
  forward_ = fftwf_plan_dft_r2c_1d(length, period_, spectrum_, FFTW_ESTIMATE);
  backward_ = fftwf_plan_dft_c2r_1d(length, spectrum_, period_, FFTW_ESTIMATE);
}

// The cepstrum's fine part (times N) joins its average over time, which
// takes its place; the spectrum of an even sequence has no imaginary part.
void CepstralGainSmoothing::averageFinePart() {
  float *__restrict average = smoothed_.data();
  const float weight = first_ ? 0.0f : fineWeight_;
  for (int q = fineStart_; q < cols_; ++q) {
    float &c = spectrum_[q][0];
    average[q - fineStart_] = weight * average[q - fineStart_] + (1.0f - weight) * c;
    c = average[q - fineStart_];
  }
  for (int q = 0; q < cols_; ++q) spectrum_[q][1] = 0.0f;
  first_ = false;
}

void CepstralGainSmoothing::smooth(float logFloor, float *gain) {
  if (!forward_) {  // a single bin: nothing to smooth across
    for (int k = 0; k < cols_; ++k) gain[k] = fastExp(atLeast(atMost(gain[k], 0.0f), logFloor));
    return;
  }
  const int length = 2 * (cols_ - 1);
  limitOverBins(cols_, logFloor, gain, period_);
  std::reverse_copy(period_ + 1, period_ + cols_ - 1, period_ + cols_);
  fftwf_execute(forward_);
  averageFinePart();
  fftwf_execute(backward_);
  gainOverBins(cols_, 1.0f / static_cast<float>(length), settings_.logBias, logFloor, period_, gain);
}

}  // namespace enhancement
