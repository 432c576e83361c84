#include "NoiseTracker.h"

#include <algorithm>
#include <cmath>

#include "FastMath.h"

namespace enhancement {

namespace {

// Largest a-posteriori SNR a bin is given (90 dB): keeps every product finite.
constexpr float kMaxPosteriorSnr = 1.0e9f;
// Weights of the frequency smoothing over a bin and its two neighbours.
constexpr float kCentreWeight = 0.5f;
constexpr float kSideWeight = 0.25f;
// Natural log to decibels of power.
constexpr float kDbPerNeper = 4.3429448f;

// Whether a power carries information about the sound: digital silence
// (and subnormals) does not, nor does damage (NaN, infinity, beyond audio).
bool audible(float power) {
  return power >= NoiseTracker::kPowerFloor && power <= NoiseTracker::kPowerCeiling;
}

// Weighted mean of a bin and its neighbours, mirrored at the edges.
void smoothAcrossFrequency(const float *in, float *out, int bins) {
  if (bins == 1) {
    out[0] = in[0];
    return;
  }
  out[0] = kCentreWeight * in[0] + 2.0f * kSideWeight * in[1];
  for (int k = 1; k < bins - 1; ++k)
    out[k] = kCentreWeight * in[k] + kSideWeight * (in[k - 1] + in[k + 1]);
  out[bins - 1] = kCentreWeight * in[bins - 1] + 2.0f * kSideWeight * in[bins - 2];
}

// The loops over bins take their arrays as parameters, so that the compiler
// knows they do not overlap and runs several bins at a time.

// The a-posteriori speech-presence probability with a prior of one half and
// a fixed SNR of speech, capped where it has stayed near 1 for long (as
// after a rise of the noise), then the expected noise power given the bin's
// power, and its recursive average with weight `alpha`.
void trackOverBins(int bins, const NoiseTrackerSettings &settings, float alpha,
                   const float *__restrict power, float *__restrict noise,
                   float *__restrict smoothedPresence, float *__restrict presence) {
  const float xi = settings.speechSnr;
  const float exponent = xi / (1.0f + xi);
  const float beta = settings.presenceSmoothing;
  const float stuck = settings.stuckPresence;
  for (int k = 0; k < bins; ++k) {
    const float gamma = atMost(power[k] / noise[k], kMaxPosteriorSnr);
    const float p = 1.0f / (1.0f + (1.0f + xi) * fastExp(-gamma * exponent));
    smoothedPresence[k] = beta * smoothedPresence[k] + (1.0f - beta) * p;
    const float capped = selectBits(smoothedPresence[k] > stuck, atMost(p, stuck), p);
    presence[k] = capped;
    const float expected = (1.0f - capped) * power[k] + capped * noise[k];
    noise[k] = atLeast(alpha * noise[k] + (1.0f - alpha) * expected, NoiseTracker::kPowerFloor);
  }
}

// The band mean of ln(a / b); the logarithms are kept in `logs`.
float meanLogRatio(int bins, const float *__restrict a, const float *__restrict b,
                   float *__restrict logs) {
  for (int k = 0; k < bins; ++k) logs[k] = fastLog(a[k] / b[k]);
  return laneSum(logs, bins) / static_cast<float>(bins);
}

template <SpeechGainRule rule>
void gainAndPriorOverBins(int bins, float alpha, float floor, const float *__restrict power,
                          const float *__restrict noise, float *__restrict posterior,
                          float *__restrict prior, float *__restrict speechGain,
                          float *__restrict previous) {
  for (int k = 0; k < bins; ++k) {
    const float gamma = atMost(power[k] / noise[k], kMaxPosteriorSnr);
    const float xi =
        atLeast(alpha * previous[k] + (1.0f - alpha) * atLeast(gamma - 1.0f, 0.0f), floor);
    const float wiener = xi / (1.0f + xi);
    float gain = wiener;
    if constexpr (rule == SpeechGainRule::kLogSpectralAmplitude)
      gain = atMost(wiener * fastExp(0.5f * fastExpint(gamma * wiener)), 1.0f);
    posterior[k] = gamma;
    prior[k] = xi;
    speechGain[k] = gain;
    previous[k] = gain * gain * gamma;
  }
}

// Every bin times `factor`, kept within the audible powers.
void scaleOverBins(int bins, float factor, float *__restrict power) {
  for (int k = 0; k < bins; ++k)
    power[k] = atMost(atLeast(power[k] * factor, NoiseTracker::kPowerFloor), NoiseTracker::kPowerCeiling);
}

// Per bin, the log ratio of fast over steady beyond the band's (`logs`
// less `drift`), averaged over time; where it has sunk below -limit the
// steady estimate stands far above the noise in that bin alone (it started
// on speech or on damage), and the bin takes the fast estimate's value.
void healOverBins(int bins, float smoothing, float limit, float drift, const float *__restrict logs,
                  const float *__restrict fast, float *__restrict binDrift,
                  float *__restrict steady) {
  for (int k = 0; k < bins; ++k) {
    const float d = smoothing * binDrift[k] + (1.0f - smoothing) * (logs[k] - drift);
    const bool heal = d < -limit;
    steady[k] = selectBits(heal, fast[k], steady[k]);
    binDrift[k] = selectBits(heal, 0.0f, d);
  }
}

// Whether any bin's power is audible; every bin is looked at, so that the
// loop runs several bins at a time.
bool anyAudible(int bins, const float *__restrict power) {
  int count = 0;
  for (int k = 0; k < bins; ++k) count += audible(power[k]) ? 1 : 0;
  return count > 0;
}

// The frame's power where it is audible, the fast estimate elsewhere.
void usablePowerOverBins(int bins, const float *__restrict power, const float *__restrict fast,
                         float *__restrict usable) {
  for (int k = 0; k < bins; ++k) usable[k] = selectBits(audible(power[k]), power[k], fast[k]);
}

// A bin that has had no audible power yet (its estimates still at the
// floor) starts both estimates from its first.
void firstAudibleOverBins(int bins, const float *__restrict power, float *__restrict fast,
                          float *__restrict steady) {
  for (int k = 0; k < bins; ++k) {
    const bool first = fast[k] <= NoiseTracker::kPowerFloor && audible(power[k]);
    fast[k] = selectBits(first, power[k], fast[k]);
    steady[k] = selectBits(first, power[k], steady[k]);
  }
}

// A per-frame smoothing weight for frames `ratio` times the reference shift.
float rescaled(float weight, double ratio) {
  return static_cast<float>(std::pow(static_cast<double>(weight), ratio));
}

}  // namespace

NoiseTrackerSettings NoiseTrackerSettings::forFrameShift(double seconds) const {
  const double ratio = seconds / kReferenceFrameShift;
  NoiseTrackerSettings s = *this;
  s.noiseSmoothing = rescaled(noiseSmoothing, ratio);
  s.presenceSmoothing = rescaled(presenceSmoothing, ratio);
  s.steadySmoothing = rescaled(steadySmoothing, ratio);
  s.healSmoothing = rescaled(healSmoothing, ratio);
  return s;
}

NoiseTracker::NoiseTracker(const NoiseTrackerSettings &settings) : settings_(settings) {}

void NoiseTracker::start(int bins) {
  bins_ = bins;
  started_ = false;
  for (auto *v : {&power_, &fast_, &fastPresence_, &noise_, &steadyPresence_, &steadyScratch_,
                  &binDrift_, &posterior_, &prior_, &speechGain_, &previousEstimate_, &presence_})
    v->assign(bins, 0.0f);
}

BinStatistics NoiseTracker::statistics() const {
  return {noise_.data(), posterior_.data(), prior_.data(), speechGain_.data(), presence_.data()};
}

void NoiseTracker::update(const float *power) {
  if (!anyAudible(bins_, power)) {
    silentFrame();
    return;
  }
  // A bin without information takes the fast estimate, which leaves that
  // estimate as it was; before the first audible frame there is none.
  if (started_) {
    usablePowerOverBins(bins_, power, fast_.data(), power_.data());
  } else {
    for (int k = 0; k < bins_; ++k) power_[k] = audible(power[k]) ? power[k] : kPowerFloor;
    startStream();
  }
  firstAudibleOverBins(bins_, power, fast_.data(), noise_.data());
  trackNoise();
  speechGainAndPrior();
}

// A frame of digital silence or damage tells nothing about the noise: the
// state stays, and the frame is taken as free of speech.
void NoiseTracker::silentFrame() {
  std::fill(posterior_.begin(), posterior_.end(), 0.0f);
  std::fill(presence_.begin(), presence_.end(), 0.0f);
  std::fill(speechGain_.begin(), speechGain_.end(), 0.0f);
  if (!started_) std::fill(noise_.begin(), noise_.end(), kPowerFloor);
}

// The first frame sets both estimates, so that the stream needs no
// noise-only stretch: if it holds speech the noise starts high, and falls to
// the noise within a few frames of the first pause (a bin below its
// estimate counts as noise and is followed at the fast rate).
void NoiseTracker::startStream() {
  smoothAcrossFrequency(power_.data(), fast_.data(), bins_);
  std::copy(fast_.begin(), fast_.end(), noise_.begin());
  started_ = true;
}

// Both estimates follow the frame; once the fast one has moved away from
// the steady one over the band (the noise has grown, fallen or swings), the
// steady one moves by the same amount in every bin. It keeps its own shape
// across the band (the fast one's is rougher and, in the bins that carry
// speech, raised by it), except in a bin where it has stayed far above the
// fast one.
void NoiseTracker::trackNoise() {
  trackOverBins(bins_, settings_, settings_.noiseSmoothing, power_.data(), fast_.data(),
                fastPresence_.data(), presence_.data());
  trackOverBins(bins_, settings_, settings_.steadySmoothing, power_.data(), noise_.data(),
                steadyPresence_.data(), steadyScratch_.data());
  const float drift = meanLogRatio(bins_, fast_.data(), noise_.data(), steadyScratch_.data());
  healOverBins(bins_, settings_.healSmoothing, settings_.healLimitDb / kDbPerNeper, drift,
               steadyScratch_.data(), fast_.data(), binDrift_.data(), noise_.data());
  if (std::fabs(drift) * kDbPerNeper > settings_.driftLimitDb)
    scaleOverBins(bins_, fastExp(drift), noise_.data());
}

// Decision-directed a-priori SNR and the gain under speech presence: the
// log-spectral amplitude gain (Ephraim and Malah 1985),
// G_H1 = xi / (1 + xi) e^{E1(v)/2}, or the Wiener gain xi / (1 + xi).
void NoiseTracker::speechGainAndPrior() {
  auto overBins = settings_.speechGainRule == SpeechGainRule::kLogSpectralAmplitude
                      ? gainAndPriorOverBins<SpeechGainRule::kLogSpectralAmplitude>
                      : gainAndPriorOverBins<SpeechGainRule::kWiener>;
  overBins(bins_, settings_.priorSnrSmoothing, settings_.priorSnrFloor, power_.data(),
           noise_.data(), posterior_.data(), prior_.data(), speechGain_.data(),
           previousEstimate_.data());
}

}  // namespace enhancement
