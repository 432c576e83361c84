#include "AdaptiveSpeechEnhancer.h"

#include <algorithm>
#include <cmath>

#include "FastMath.h"

namespace enhancement {

namespace {

float power(Complex x) { return x.real() * x.real() + x.imag() * x.imag(); }

bool usable(Complex x) {
  const float p = power(x);
  return p <= NoiseTracker::kPowerCeiling;  // false for NaN and infinity
}

}  // namespace

AdaptiveSpeechEnhancer::AdaptiveSpeechEnhancer(const AdaptiveEnhancerSettings &settings)
    : settings_(settings), logFloor_(std::log(settings.gainFloor)) {}

void AdaptiveSpeechEnhancer::start(int rows, int bins) {
  rows_ = rows;
  cols_ = bins + 1;
  trackers_.assign(settings_.sharedGain ? 1 : rows, NoiseTracker(settings_.tracker));
  for (NoiseTracker &t : trackers_) t.start(cols_);
  power_.assign(static_cast<size_t>(rows) * cols_, 0.0f);
  pooled_.assign(cols_, 0.0f);
  gain_.assign(cols_, 0.0f);
  smoothedPrior_.assign(cols_, 0.0f);
  localPrior_.assign(cols_, 0.0f);
  globalPrior_.assign(cols_, 0.0f);
  absence_.assign(cols_, 0.0f);
  previousFramePrior_ = 0.0f;
  amplitude_.assign(cols_, 0.0f);
  phaseCos_.assign(cols_, 0.0f);
  phaseSin_.assign(cols_, 0.0f);
  regeneration_.reset();
  if (settings_.regenerateHarmonics) regeneration_ = std::make_unique<HarmonicRegeneration>(bins);
}

const NoiseTracker &AdaptiveSpeechEnhancer::tracker(int row) const {
  return trackers_[settings_.sharedGain ? 0 : row];
}

void AdaptiveSpeechEnhancer::process(const Complex *in, Complex *out) {
  for (int r = 0; r < rows_; ++r) measureRow(r, in + static_cast<size_t>(r) * cols_);
  if (settings_.sharedGain) {
    const float share = 1.0f / static_cast<float>(rows_);
    for (int k = 0; k < cols_; ++k) pooled_[k] = 0.0f;
    for (int r = 0; r < rows_; ++r) {
      const float *p = power_.data() + static_cast<size_t>(r) * cols_;
      for (int k = 0; k < cols_; ++k) pooled_[k] += p[k] * share;
    }
    trackers_[0].update(pooled_.data());
    gainsFrom(trackers_[0]);
  }
  for (int r = 0; r < rows_; ++r) {
    const size_t offset = static_cast<size_t>(r) * cols_;
    if (!settings_.sharedGain) {
      trackers_[r].update(power_.data() + offset);
      gainsFrom(trackers_[r]);
    }
    applyRow(r, in + offset, out + offset, tracker(r));
  }
}

void AdaptiveSpeechEnhancer::measureRow(int row, const Complex *in) {
  float *p = power_.data() + static_cast<size_t>(row) * cols_;
  for (int k = 0; k < cols_; ++k) p[k] = power(in[k]);
}

namespace {

// Mean of `in` over 2 half + 1 bins around each bin, the span cut at the edges.
void movingMean(const float *in, float *out, int n, int half) {
  double sum = 0.0;
  int lo = 0, hi = -1;
  for (int k = 0; k < n; ++k) {
    while (hi < std::min(n - 1, k + half)) sum += in[++hi];
    while (lo < k - half) sum -= in[lo++];
    out[k] = static_cast<float>(sum / (hi - lo + 1));
  }
}

// 0 below -10 dB, 1 above -5 dB, linear in dB between (Cohen and Berdugo 2001).
float likelihoodOfSpeech(float zeta) {
  constexpr float kLow = 0.1f, kHigh = 0.316228f;
  if (zeta <= kLow) return 0.0f;
  if (zeta >= kHigh) return 1.0f;
  return std::log10(zeta / kLow) / std::log10(kHigh / kLow);
}

}  // namespace

void AdaptiveSpeechEnhancer::absenceFromPriors(const BinStatistics &s) {
  constexpr float kSmoothing = 0.7f;
  constexpr int kLocalHalf = 1, kGlobalHalf = 15;
  constexpr float kMaxAbsence = 0.95f;
  for (int k = 0; k < cols_; ++k)
    smoothedPrior_[k] = kSmoothing * smoothedPrior_[k] + (1.0f - kSmoothing) * s.priorSnr[k];
  movingMean(smoothedPrior_.data(), localPrior_.data(), cols_, kLocalHalf);
  movingMean(smoothedPrior_.data(), globalPrior_.data(), cols_, kGlobalHalf);
  double frameSum = 0.0;
  for (int k = 0; k < cols_; ++k) frameSum += smoothedPrior_[k];
  const float framePrior = static_cast<float>(frameSum / cols_);
  float frameLikelihood = 1.0f;
  if (framePrior <= 0.1f) frameLikelihood = 0.0f;
  else if (framePrior < previousFramePrior_) frameLikelihood = 1.0f;
  else frameLikelihood = likelihoodOfSpeech(framePrior);
  previousFramePrior_ = framePrior;
  for (int k = 0; k < cols_; ++k)
    absence_[k] = std::min(1.0f - likelihoodOfSpeech(localPrior_[k]) *
                                      likelihoodOfSpeech(globalPrior_[k]) * frameLikelihood,
                           kMaxAbsence);
}

// G = G_H1^p G_min^(1 - p), in the log domain.
void AdaptiveSpeechEnhancer::gainsFrom(const NoiseTracker &tracker) {
  const BinStatistics s = tracker.statistics();
  if (settings_.recursiveAbsence) absenceFromPriors(s);
  for (int k = 0; k < cols_; ++k) {
    float p = s.presence[k];
    if (settings_.recursiveAbsence) {
      const float q = absence_[k], xi = s.priorSnr[k];
      const float v = s.posteriorSnr[k] * xi / (1.0f + xi);
      p = (1.0f - q) / ((1.0f - q) + q * (1.0f + xi) * fastExp(-v));
    }
    gain_[k] = settings_.linearMix ? p * s.speechGain[k] + (1.0f - p) * settings_.gainFloor
                                   : fastExp(p * fastLog(s.speechGain[k]) + (1.0f - p) * logFloor_);
  }
  if (settings_.finalGainPrior) const_cast<NoiseTracker &>(tracker).estimateFromGain(gain_.data());
}

void AdaptiveSpeechEnhancer::applyRow(int row, const Complex *in, Complex *out,
                                      const NoiseTracker &tracker) {
  for (int k = 0; k < cols_; ++k) out[k] = usable(in[k]) ? in[k] * gain_[k] : Complex();
  if (!regeneration_) return;
  const int bins = cols_ - 1;
  const float *noisyPower = power_.data() + static_cast<size_t>(row) * cols_;
  for (int k = 0; k < bins; ++k) {
    const float magnitude = std::sqrt(noisyPower[k]);
    const bool phaseKnown = magnitude > 0.0f && magnitude <= FLT_MAX;
    phaseCos_[k] = phaseKnown ? in[k].real() / magnitude : 1.0f;
    phaseSin_[k] = phaseKnown ? in[k].imag() / magnitude : 0.0f;
    amplitude_[k] = gain_[k] * magnitude;
  }
  regeneration_->regenerate({out, gain_.data(), amplitude_.data(), in, noisyPower,
                             phaseCos_.data(), phaseSin_.data(), tracker.statistics().noisePower});
  for (int k = 0; k < bins; ++k)
    if (!usable(in[k]) || !std::isfinite(out[k].real()) || !std::isfinite(out[k].imag()))
      out[k] = Complex();
}

}  // namespace enhancement
