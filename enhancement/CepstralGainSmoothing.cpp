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

// ln g per bin, g kept within [floor, 1] (a NaN taken as floor).
void logGainOverBins(int n, float floor, const float *__restrict gain, float *__restrict out) {
  for (int k = 0; k < n; ++k) out[k] = fastLog(atMost(atLeast(gain[k], floor), 1.0f));
}

void averageOverQuefrencies(int n, float weight, const float *__restrict cepstrum,
                            float *__restrict smoothed) {
  for (int q = 0; q < n; ++q) smoothed[q] = weight * smoothed[q] + (1.0f - weight) * cepstrum[q];
}

void gainOverBins(int n, float scale, float offset, float floor, const float *__restrict logGain,
                  float *__restrict gain) {
  for (int k = 0; k < n; ++k)
    gain[k] = atLeast(atMost(fastExp(scale * logGain[k] + offset), 1.0f), floor);
}

}  // namespace

CepstralGainSmoothing::~CepstralGainSmoothing() { release(); }

void CepstralGainSmoothing::release() {
  std::lock_guard<std::mutex> guard(plannerLock());
  if (plan_) fftwf_destroy_plan(plan_);
  fftwf_free(buffer_);
  fftwf_free(smoothed_);
  plan_ = nullptr;
  buffer_ = smoothed_ = nullptr;
}

void CepstralGainSmoothing::start(int cols, double samplingRate, double frameShift) {
  release();
  cols_ = cols;
  fineStart_ = std::clamp(static_cast<int>(std::lround(settings_.fineStart * samplingRate)), 0, cols);
  fineWeight_ = static_cast<float>(std::pow(static_cast<double>(settings_.fineWeight),
                                            frameShift / CepstralSmoothingSettings::kReferenceFrameShift));
  first_ = true;
  if (cols < 2) return;  // nothing to smooth across
  std::lock_guard<std::mutex> guard(plannerLock());
  buffer_ = fftwf_alloc_real(cols);
  smoothed_ = fftwf_alloc_real(cols);
  plan_ = fftwf_plan_r2r_1d(cols, buffer_, buffer_, FFTW_REDFT00, FFTW_ESTIMATE);
}

void CepstralGainSmoothing::smooth(float floor, float *gain) {
  if (!plan_) return;
  logGainOverBins(cols_, floor, gain, buffer_);
  fftwf_execute(plan_);
  float *fine = buffer_ + fineStart_;
  const int fineCount = cols_ - fineStart_;
  if (first_) std::copy(fine, fine + fineCount, smoothed_);
  first_ = false;
  averageOverQuefrencies(fineCount, fineWeight_, fine, smoothed_);
  std::copy(smoothed_, smoothed_ + fineCount, fine);
  fftwf_execute(plan_);
  gainOverBins(cols_, 1.0f / static_cast<float>(2 * (cols_ - 1)), settings_.logBias, floor, buffer_,
               gain);
}

}  // namespace enhancement
