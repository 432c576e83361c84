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
  smoothers_.clear();
  if (settings_.cepstralSmoothing)
    for (size_t i = 0; i < trackers_.size(); ++i) {
      smoothers_.push_back(std::make_unique<CepstralGainSmoothing>(settings_.cepstral));
      smoothers_.back()->start(cols_, settings_.samplingRate, settings_.frameShift);
    }
  power_.assign(static_cast<size_t>(rows) * cols_, 0.0f);
  pooled_.assign(cols_, 0.0f);
  speechGain_.assign(cols_, 0.0f);
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
    gainsFrom(trackers_[0], 0);
  }
  for (int r = 0; r < rows_; ++r) {
    const size_t offset = static_cast<size_t>(r) * cols_;
    if (!settings_.sharedGain) {
      trackers_[r].update(power_.data() + offset);
      gainsFrom(trackers_[r], r);
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

// The a-priori SNR's recursive smoothing, and the spans it is averaged
// over: a bin and its neighbours, and a band of 31 bins.
constexpr float kPriorSmoothing = 0.7f;
constexpr int kLocalHalfSpan = 1;
constexpr int kGlobalHalfSpan = 15;
// Smoothed SNRs that say nothing of speech, and surely speech.
constexpr float kNoSpeechSnr = 0.1f;       // -10 dB
constexpr float kSpeechSnr = 0.316228f;    // -5 dB
// The prior of absence stays below this, so that a bin can always turn to speech.
constexpr float kMaxAbsence = 0.95f;

// 0 at or below -10 dB, 1 at or above -5 dB, linear in dB between.
inline float likelihoodOfSpeech(float zeta) {
  const float span = 1.0f / fastLog(kSpeechSnr / kNoSpeechSnr);
  return atLeast(atMost(fastLog(zeta * (1.0f / kNoSpeechSnr)) * span, 1.0f), 0.0f);
}

// The shape of the super-Gaussian speech prior (Lotter and Vary's fit).
constexpr float kPriorShapeMu = 1.74f;
constexpr float kPriorShapeNu = 0.126f;
// Keeps 1 / gamma and 1 / sqrt(gamma xi) finite (a silent frame has gamma 0).
constexpr float kSmallestSnr = 1.0e-6f;
// Smallest gain under speech presence (-120 dB): its logarithm stays finite.
constexpr float kSmallestSpeechGain = 1.0e-6f;

}  // namespace

void superGaussianGainOverBins(int bins, const float *__restrict prior,
                               const float *__restrict posterior, float *__restrict gain) {
  for (int k = 0; k < bins; ++k) {
    const float gamma = atLeast(posterior[k], kSmallestSnr);
    const float u = 0.5f - kPriorShapeMu / (4.0f * std::sqrt(atLeast(gamma * prior[k], kSmallestSnr)));
    const float c = kPriorShapeNu / (2.0f * gamma);
    const float root = std::sqrt(u * u + c);
    // u + root, written as c / (root - u) where u < 0 to avoid the cancellation.
    const float g = selectBits(u >= 0.0f, u + root, c / (root - u));
    gain[k] = atLeast(atMost(g, 1.0f), kSmallestSpeechGain);
  }
}

namespace {

// ln G = p ln G_H1 + (1 - p) ln G_min over a row.
void logGainOverBins(int bins, float logFloor, const float *__restrict absence,
                     const float *__restrict prior, const float *__restrict posterior,
                     const float *__restrict speechGain, float *__restrict logGain) {
  for (int k = 0; k < bins; ++k) {
    const float q = absence[k], xi = prior[k];
    const float v = posterior[k] * xi / (1.0f + xi);
    const float p = (1.0f - q) / ((1.0f - q) + q * (1.0f + xi) * fastExp(-v));
    logGain[k] = p * fastLog(speechGain[k]) + (1.0f - p) * logFloor;
  }
}

void expOverBins(int bins, float *__restrict x) {
  for (int k = 0; k < bins; ++k) x[k] = fastExp(x[k]);
}

// The speech likelihood of two smoothed SNRs, with the frame's, as a prior
// of speech absence.
void absenceOverBins(int bins, float frameLikelihood, const float *__restrict local,
                     const float *__restrict global, float *__restrict absence) {
  for (int k = 0; k < bins; ++k)
    absence[k] = atMost(1.0f - likelihoodOfSpeech(local[k]) * likelihoodOfSpeech(global[k]) *
                                   frameLikelihood,
                        kMaxAbsence);
}

}  // namespace

// The prior probability of speech absence of Cohen and Berdugo (2001): the
// product of the speech likelihoods of the smoothed a-priori SNR over a
// bin's neighbourhood, over a wider band and over the whole frame, where the
// frame's counts fully while its SNR rises (an onset) and by its level while
// it falls.
void AdaptiveSpeechEnhancer::absenceFromPriors(const BinStatistics &s) {
  float *__restrict smoothed = smoothedPrior_.data();
  const float *__restrict prior = s.priorSnr;
  for (int k = 0; k < cols_; ++k)
    smoothed[k] = kPriorSmoothing * smoothed[k] + (1.0f - kPriorSmoothing) * prior[k];
  movingMean(smoothedPrior_.data(), localPrior_.data(), cols_, kLocalHalfSpan);
  movingMean(smoothedPrior_.data(), globalPrior_.data(), cols_, kGlobalHalfSpan);
  double frameSum = 0.0;
  for (int k = 0; k < cols_; ++k) frameSum += smoothedPrior_[k];
  const float framePrior = static_cast<float>(frameSum / cols_);
  float frameLikelihood = likelihoodOfSpeech(framePrior);
  if (framePrior > kNoSpeechSnr && framePrior > previousFramePrior_) frameLikelihood = 1.0f;
  previousFramePrior_ = framePrior;
  absenceOverBins(cols_, frameLikelihood, localPrior_.data(), globalPrior_.data(),
                  absence_.data());
}

// G = G_H1^p G_min^(1 - p), in the log domain, with the speech-presence
// probability p of the gain's own prior of speech absence (the tracker's
// serves the noise update), then smoothed in the cepstral domain. The
// tracker's own gain under speech presence (log-spectral amplitude) serves
// its decision-directed a-priori SNR.
void AdaptiveSpeechEnhancer::gainsFrom(const NoiseTracker &tracker, int row) {
  const BinStatistics s = tracker.statistics();
  absenceFromPriors(s);
  superGaussianGainOverBins(cols_, s.priorSnr, s.posteriorSnr, speechGain_.data());
  logGainOverBins(cols_, logFloor_, absence_.data(), s.priorSnr, s.posteriorSnr,
                  speechGain_.data(), gain_.data());
  if (smoothers_.empty())
    expOverBins(cols_, gain_.data());
  else
    smoothers_[row]->smooth(logFloor_, gain_.data());
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
