// Voice activity from tracked noise: the likelihood-ratio test of Sohn, Kim
// and Sung ("A statistical model-based voice activity detector", IEEE SPL
// 1999) over the telephone band of the two channels' mean power, its
// two-state hidden-Markov smoothing, and a hangover in frames that holds a
// decision through short pauses.
#ifndef KOLV_ENHANCEMENT_ADAPTIVE_VOICE_ACTIVITY_DETECTOR_H
#define KOLV_ENHANCEMENT_ADAPTIVE_VOICE_ACTIVITY_DETECTOR_H

#include <complex>
#include <vector>

#include "NoiseTracker.h"
#include "VoiceActivityDetector.h"

namespace enhancement {

struct AdaptiveDetectorSettings {
  // The decision needs the a-priori SNR only: its speech estimate by the
  // Wiener gain gives the same decisions as by the log-spectral amplitude.
  AdaptiveDetectorSettings() { tracker.speechGainRule = SpeechGainRule::kWiener; }

  NoiseTrackerSettings tracker;
  float threshold = 1.7f;            // natural log of the smoothed likelihood ratio deciding speech
  float speechStartProbability = 0.2f;  // Markov chain: a pause turns to speech
  float speechEndProbability = 0.1f;    // Markov chain: speech turns to a pause
  int hangoverFrames = 15;           // frames a decision for speech is held
};

class AdaptiveVoiceActivityDetector {
 public:
  using Complex = std::complex<float>;

  explicit AdaptiveVoiceActivityDetector(const AdaptiveDetectorSettings &settings);

  // Begins a stream over `band`: all state forgotten.
  void start(const SpeechBand &band);

  // Whether this frame is speech; left and right are the two channels' rows.
  bool decide(const Complex *left, const Complex *right);

 private:
  float meanLogLikelihood();
  float markovSmoothed(float frameLogRatio) const;

  AdaptiveDetectorSettings settings_;
  SpeechBand band_;
  NoiseTracker tracker_;
  std::vector<float> power_;   // band bins: mean power of the two channels
  std::vector<float> logRatio_;  // band bins: this frame's log-likelihood ratio
  float smoothed_ = 0.0f;      // log of the smoothed ratio
  int held_ = 0;               // frames the last speech decision is still held
};

}  // namespace enhancement

#endif
