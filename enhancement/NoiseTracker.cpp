#include "NoiseTracker.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "FastMath.h"

namespace enhancement {

namespace {

// Largest a-posteriori SNR a bin is given (90 dB): keeps every product finite.
constexpr float kMaxPosteriorSnr = 1.0e9f;
// Weights of the frequency smoothing over a bin and its two neighbours.
constexpr float kCentreWeight = 0.5f;
constexpr float kSideWeight = 0.25f;

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

// The effective smoothing of the first frames: a plain mean until it would
// weigh the past less than the recursion does.
float periodogramWeight(long frames, float smoothing) {
  const float mean = static_cast<float>(frames) / static_cast<float>(frames + 1);
  return std::min(mean, smoothing);
}

// The loops over bins take their arrays as parameters, so that the compiler
// knows they do not overlap and runs several bins at a time.

void gainAndPriorOverBins(int bins, float alpha, float floor, const float *__restrict power,
                          const float *__restrict noise, float *__restrict posterior,
                          float *__restrict prior, float *__restrict speechGain,
                          float *__restrict previous) {
  for (int k = 0; k < bins; ++k) {
    const float gamma = atMost(power[k] / noise[k], kMaxPosteriorSnr);
    const float xi =
        atLeast(alpha * previous[k] + (1.0f - alpha) * atLeast(gamma - 1.0f, 0.0f), floor);
    const float wiener = xi / (1.0f + xi);
    const float v = gamma * wiener;
    const float gain = atMost(wiener * fastExp(0.5f * fastExpint(v)), 1.0f);
    posterior[k] = gamma;
    prior[k] = xi;
    speechGain[k] = gain;
    previous[k] = gain * gain * gamma;
  }
}

void presenceOverBins(int bins, const NoiseTrackerSettings &settings, const float *__restrict power,
                      const float *__restrict minimum, const float *__restrict smoothed,
                      const float *__restrict prior, const float *__restrict posterior,
                      float *__restrict presence) {
  const float bias = settings.minimumBias;
  const float limit = settings.absenceThreshold;
  const float smoothLimit = settings.smoothThreshold;
  for (int k = 0; k < bins; ++k) {
    const float floor = bias * minimum[k];
    const float rawRatio = power[k] / floor;
    // 1 at or below the minimum, falling to 0 at `limit` times it, and 0
    // wherever the smoothed power stands clear of the minimum.
    const float ramp = atLeast(atMost((limit - rawRatio) / (limit - 1.0f), 1.0f), 0.0f);
    const float q = selectBits(smoothed[k] < smoothLimit * floor, ramp, 0.0f);
    const float xi = prior[k];
    const float v = posterior[k] * xi / (1.0f + xi);
    const float likelihood = (1.0f + xi) * fastExp(-v);
    presence[k] = (1.0f - q) / ((1.0f - q) + q * likelihood);
  }
}

}  // namespace

void NoiseTracker::MinimumSearch::start(int bins, int subwindows) {
  smoothed.assign(bins, 0.0f);
  minimum.assign(bins, 0.0f);
  current.assign(bins, 0.0f);
  stored.assign(static_cast<size_t>(bins) * subwindows, 0.0f);
}

void NoiseTracker::MinimumSearch::startFrom(const float *initial, int bins, int subwindows) {
  std::copy(initial, initial + bins, smoothed.begin());
  std::copy(initial, initial + bins, minimum.begin());
  std::copy(initial, initial + bins, current.begin());
  for (int s = 0; s < subwindows; ++s)
    std::copy(initial, initial + bins, stored.begin() + static_cast<size_t>(s) * bins);
}

void NoiseTracker::MinimumSearch::track(int bins) {
  for (int k = 0; k < bins; ++k) {
    minimum[k] = std::min(minimum[k], smoothed[k]);
    current[k] = std::min(current[k], smoothed[k]);
  }
}

void NoiseTracker::MinimumSearch::closeSubwindow(int bins, int subwindows, int slot) {
  std::copy(current.begin(), current.end(), stored.begin() + static_cast<size_t>(slot) * bins);
  std::copy(stored.begin(), stored.begin() + bins, minimum.begin());
  for (int s = 1; s < subwindows; ++s) {
    const float *sub = stored.data() + static_cast<size_t>(s) * bins;
    for (int k = 0; k < bins; ++k) minimum[k] = std::min(minimum[k], sub[k]);
  }
  std::copy(smoothed.begin(), smoothed.end(), current.begin());
}

NoiseTracker::NoiseTracker(const NoiseTrackerSettings &settings)
    : settings_(settings),
      subwindowFrames_(std::max(1, settings.minimumWindowFrames / settings.subwindows)) {}

void NoiseTracker::start(int bins) {
  bins_ = bins;
  frames_ = 0;
  slot_ = 0;
  for (auto *v : {&power_, &rawSmoothed_, &indicator_, &gatedPower_, &gateWeight_, &gatedSmoothed_, &noiseAverage_, &noise_,
                  &posterior_, &prior_, &speechGain_, &previousEstimate_, &presence_})
    v->assign(bins, 0.0f);
  first_.start(bins, settings_.subwindows);
  second_.start(bins, settings_.subwindows);
}

BinStatistics NoiseTracker::statistics() const {
  return {noise_.data(), posterior_.data(), prior_.data(), speechGain_.data(), presence_.data()};
}

void NoiseTracker::update(const float *power) {
  bool anyAudible = false;
  for (int k = 0; k < bins_; ++k) anyAudible = anyAudible || audible(power[k]);
  if (!anyAudible) {
    silentFrame();
    return;
  }
  // A bin without information takes the noise average, which leaves its
  // noise as it was; before the first audible frame there is none.
  const bool first = frames_ == 0;
  for (int k = 0; k < bins_; ++k)
    power_[k] = audible(power[k]) ? power[k] : (first ? kPowerFloor : noiseAverage_[k]);
  if (first) startStream(power_.data());
  trackFrame();
}

// A frame of digital silence or damage tells nothing about the noise: the
// state stays, and the frame is taken as free of speech.
void NoiseTracker::silentFrame() {
  std::fill(posterior_.begin(), posterior_.end(), 0.0f);
  std::fill(presence_.begin(), presence_.end(), 0.0f);
  std::fill(speechGain_.begin(), speechGain_.end(), 0.0f);
  if (frames_ == 0) std::fill(noise_.begin(), noise_.end(), kPowerFloor);
}

// The first frame sets every statistic, so that the stream needs no
// noise-only stretch: its noise may be over-estimated, and the minimum search
// pulls it down within one search window.
void NoiseTracker::startStream(const float *power) {
  smoothAcrossFrequency(power, rawSmoothed_.data(), bins_);
  first_.startFrom(rawSmoothed_.data(), bins_, settings_.subwindows);
  second_.startFrom(rawSmoothed_.data(), bins_, settings_.subwindows);
  for (int k = 0; k < bins_; ++k) {
    noiseAverage_[k] = rawSmoothed_[k];
    noise_[k] = rawSmoothed_[k];
  }
}

void NoiseTracker::trackFrame() {
  speechGainAndPrior();
  firstPass();
  secondPass();
  speechPresence();
  noiseUpdate();
  ++frames_;
  // Within the first sub-window the periodogram is still a mean of a few
  // frames; a minimum taken over those would sit far below the noise.
  if (frames_ < subwindowFrames_) {
    first_.startFrom(first_.smoothed.data(), bins_, settings_.subwindows);
    second_.startFrom(second_.smoothed.data(), bins_, settings_.subwindows);
  } else if (frames_ % subwindowFrames_ == 0) {
    first_.closeSubwindow(bins_, settings_.subwindows, slot_);
    second_.closeSubwindow(bins_, settings_.subwindows, slot_);
    slot_ = (slot_ + 1) % settings_.subwindows;
  }
}

// Decision-directed a-priori SNR and the log-spectral amplitude gain under
// speech presence (Ephraim and Malah 1985), G_H1 = xi / (1 + xi) e^{E1(v)/2}.
void NoiseTracker::speechGainAndPrior() {
  gainAndPriorOverBins(bins_, settings_.priorSnrSmoothing, settings_.priorSnrFloor, power_.data(),
                       noise_.data(), posterior_.data(), prior_.data(), speechGain_.data(),
                       previousEstimate_.data());
}

void NoiseTracker::firstPass() {
  const float alpha = periodogramWeight(frames_, settings_.periodogramSmoothing);
  smoothAcrossFrequency(power_.data(), rawSmoothed_.data(), bins_);
  for (int k = 0; k < bins_; ++k)
    first_.smoothed[k] = alpha * first_.smoothed[k] + (1.0f - alpha) * rawSmoothed_[k];
  first_.track(bins_);
  const float bias = settings_.minimumBias;
  const float *__restrict power = power_.data();
  const float *__restrict minimum = first_.minimum.data();
  const float *__restrict smoothed = first_.smoothed.data();
  float *__restrict indicator = indicator_.data();
  for (int k = 0; k < bins_; ++k) {
    const float floor = bias * minimum[k];
    const bool absent = (power[k] < settings_.rawThreshold * floor) &
                        (smoothed[k] < settings_.smoothThreshold * floor);
    indicator[k] = selectBits(absent, 1.0f, 0.0f);
  }
}

void NoiseTracker::secondPass() {
  const float alpha = periodogramWeight(frames_, settings_.periodogramSmoothing);
  // Frequency smoothing over the bins the first pass found free of speech:
  // the weights and the weighted powers smoothed alike, then divided.
  for (int k = 0; k < bins_; ++k) gatedPower_[k] = indicator_[k] * power_[k];
  smoothAcrossFrequency(indicator_.data(), gateWeight_.data(), bins_);
  smoothAcrossFrequency(gatedPower_.data(), gatedSmoothed_.data(), bins_);
  const float *__restrict weight = gateWeight_.data();
  const float *__restrict sum = gatedSmoothed_.data();
  float *__restrict smoothed = second_.smoothed.data();
  for (int k = 0; k < bins_; ++k) {
    const float observed = selectBits(weight[k] > 0.0f, sum[k] / atLeast(weight[k], FLT_MIN), smoothed[k]);
    smoothed[k] = alpha * smoothed[k] + (1.0f - alpha) * observed;
  }
  second_.track(bins_);
}

// Prior probability of speech absence from the second pass, then the
// posterior probability of speech presence.
void NoiseTracker::speechPresence() {
  presenceOverBins(bins_, settings_, power_.data(), second_.minimum.data(), first_.smoothed.data(),
                   prior_.data(), posterior_.data(), presence_.data());
}

void NoiseTracker::noiseUpdate() {
  const float alpha = settings_.noiseSmoothing;
  const float bias = settings_.noiseBias;
  const float *__restrict presence = presence_.data();
  const float *__restrict power = power_.data();
  float *__restrict average = noiseAverage_.data();
  float *__restrict noise = noise_.data();
  for (int k = 0; k < bins_; ++k) {
    const float weight = alpha + (1.0f - alpha) * presence[k];
    average[k] = weight * average[k] + (1.0f - weight) * power[k];
    noise[k] = atLeast(bias * average[k], kPowerFloor);
  }
}

}  // namespace enhancement
