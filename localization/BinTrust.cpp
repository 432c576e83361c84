#include "BinTrust.h"

#include <algorithm>
#include <cmath>

namespace localization {

float perFrameFactor(float decibelsPerSecond, float frameSeconds) {
  return static_cast<float>(std::pow(10.0, decibelsPerSecond * frameSeconds / 10.0));
}

BinTrust::BinTrust(const TrustSettings &settings, int lowBin, int highBin)
    : settings_(settings), lowBin_(lowBin), bins_(std::max(0, highBin - lowBin)) {
  smoothedPower_.assign(static_cast<size_t>(bins_), 0.0f);
  noise_.assign(static_cast<size_t>(bins_), 0.0f);
  tail_.assign(static_cast<size_t>(bins_), 0.0f);
}

// The noise level of a bin falls at once to a quieter smoothed power, follows
// the mean of the frames that look like noise (below noiseGate times it) and
// creeps up through the others, so it recovers from a level learnt in speech.
void BinTrust::updateNoise(float power, float smoothed, float &noise) const {
  const TrustSettings &s = settings_;
  if (smoothed < noise)
    noise = smoothed;
  else if (power < s.noiseGate * noise)
    noise = s.noiseSmoothing * noise + (1.0f - s.noiseSmoothing) * power;
  else
    noise *= s.noiseRise;
}

void BinTrust::weigh(const float *power, float *weight) {
  const TrustSettings &s = settings_;
  for (int k = 0; k < bins_; ++k) {
    const float p = power[lowBin_ + k];
    float &smoothed = smoothedPower_[k];
    float &noise = noise_[k];
    float &tail = tail_[k];
    if (!started_) {
      // The first frame is taken as steady background: nothing before it is known.
      smoothed = noise = tail = p;
    } else {
      smoothed = s.powerSmoothing * smoothed + (1.0f - s.powerSmoothing) * p;
      if (noise > 0.0f)
        updateNoise(p, smoothed, noise);
      else
        noise = smoothed;
    }
    if (p <= 0.0f) {
      weight[k] = 0.0f;
    } else {
      const float snr = std::max(0.0f, 1.0f - s.noiseOverestimate * noise / (s.snrOnSmoothed ? smoothed : std::max(smoothed, p)));
      // Energy beyond what the decaying tail of the earlier frames explains
      // is new, direct sound; reflections of it arrive later, in the tail.
      const float onset = std::max(0.0f, 1.0f - tail / p);
      weight[k] = snr * (s.onsetFloor + (1.0f - s.onsetFloor) * onset);
    }
    tail = s.tailDecay * std::max(tail, p);
  }
  started_ = true;
}

}  // namespace localization
