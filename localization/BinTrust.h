// How far each time-frequency bin of a two-channel spectrum can be trusted to
// carry the direct sound of one source: its rise above a running noise floor
// (SNR) and above the reverberant decay of what came before (onset, the
// precedence effect). Both are learnt from the stream itself, with no
// noise-only lead-in.
#ifndef KOLV_LOCALIZATION_BIN_TRUST_H
#define KOLV_LOCALIZATION_BIN_TRUST_H

#include <complex>
#include <vector>

namespace localization {

struct TrustSettings {
  // Per-frame factor by which the reverberant tail of earlier energy is
  // assumed to decay (10^(-dB per frame / 10)).
  float tailDecay = 0.794f;
  // Weight a bin keeps however little it rises above the tail (0..1).
  float onsetFloor = 0.0f;
  // Per-frame factor by which the noise level creeps up through frames that
  // do not look like noise (it falls at once).
  float noiseRise = 1.0115f;
  // A frame looks like noise in a bin when its power is below this many times
  // the noise level; the level then follows it with this smoothing.
  float noiseGate = 3.0f;
  float noiseSmoothing = 0.95f;
  // A bin's SNR weight is 1 - noiseOverestimate * noise / power.
  float noiseOverestimate = 2.0f;
  bool snrOnSmoothed = true;
  // Share of the previous smoothed power kept when smoothing a bin's power
  // for the noise floor.
  float powerSmoothing = 0.6f;
};

// Converts decay rates in dB/s into per-frame factors.
float perFrameFactor(float decibelsPerSecond, float frameSeconds);

class BinTrust {
 public:
  BinTrust() = default;
  BinTrust(const TrustSettings &settings, int lowBin, int highBin);

  // The weight (0..1) of bins lowBin <= j < highBin of this frame in
  // weight[j - lowBin], from the bins' powers |L|^2 + |R|^2; updates the
  // state. The powers must be finite.
  void weigh(const float *power, float *weight);

 private:
  void updateNoise(float power, float smoothed, float &noise) const;

  TrustSettings settings_;
  int lowBin_ = 0;
  int bins_ = 0;
  bool started_ = false;
  std::vector<float> smoothedPower_;  // per bin
  std::vector<float> noise_;          // per bin, the noise level (power)
  std::vector<float> tail_;           // per bin, the decaying envelope of the earlier frames
};

}  // namespace localization

#endif
