// Noise tracking without a noise-only stretch: the noise power estimator of
// Gerkmann and Hendriks ("Unbiased MMSE-based noise power estimation with
// low complexity and low tracking delay", IEEE TASLP 2012). Each bin's
// speech-presence probability, from a fixed prior and a fixed SNR of speech,
// weighs the bin's power against the previous estimate; the result is
// averaged over time. No minimum search: rising noise is followed within a
// few hundred milliseconds. Two such estimates run side by side, a fast one
// and a steady one averaged over about a second; the steady one serves, and
// is moved by the band's mean log ratio of the two whenever that exceeds a
// limit, so that steady noise is judged against a steady estimate, free of
// the speech the fast one takes up, and changing noise is still followed
// at once. A bin where the steady estimate stays far above the fast one
// (it started on speech or on damage) takes the fast one's value.
#ifndef KOLV_ENHANCEMENT_NOISE_TRACKER_H
#define KOLV_ENHANCEMENT_NOISE_TRACKER_H

#include <vector>

namespace enhancement {

// The gain under speech presence, whose estimate of each frame's speech
// power also feeds the next frame's decision-directed a-priori SNR.
enum class SpeechGainRule {
  kLogSpectralAmplitude,  // Ephraim and Malah 1985: what the enhancer applies
  kWiener,                // xi / (1 + xi): enough for a detector, at a third of the cost
};

// Smoothing constants are per frame of kReferenceFrameShift seconds.
struct NoiseTrackerSettings {
  static constexpr double kReferenceFrameShift = 0.01;

  // The same time constants for frames `seconds` apart.
  NoiseTrackerSettings forFrameShift(double seconds) const;

  float speechSnr = 31.623f;         // SNR of a bin that holds speech (15 dB), for its presence
  float noiseSmoothing = 0.8f;       // time smoothing of the fast estimate, per frame
  float presenceSmoothing = 0.9f;    // time smoothing of the presence probability...
  float stuckPresence = 0.99f;       // ...above which the presence is capped, so the noise cannot freeze
  float steadySmoothing = 0.99f;     // time smoothing of the steady estimate, per frame
  float driftLimitDb = 0.5f;         // band mean of fast over steady (either way) that moves the steady one
  float healSmoothing = 0.9f;        // time smoothing of each bin's fast over steady, per frame...
  float healLimitDb = 10.0f;         // ...below which the bin takes the fast estimate
  float priorSnrSmoothing = 0.92f;   // decision-directed weight of the previous frame
  float priorSnrFloor = 0.0031623f;  // -25 dB
  SpeechGainRule speechGainRule = SpeechGainRule::kLogSpectralAmplitude;
};

// What one frame gave a bin, read after NoiseTracker::update.
struct BinStatistics {
  const float *noisePower;      // noise power the frame was judged against
  const float *posteriorSnr;    // gamma = P / noise power
  const float *priorSnr;        // decision-directed xi
  const float *speechGain;      // gain where speech is present (by the settings' rule)
  const float *presence;        // speech-presence probability, 0 .. 1
};

class NoiseTracker {
 public:
  explicit NoiseTracker(const NoiseTrackerSettings &settings = NoiseTrackerSettings());

  // Begins a stream of `bins` bins: all state forgotten.
  void start(int bins);

  // One frame's power per bin. A power outside [kPowerFloor, kPowerCeiling]
  // (digital silence, damage) leaves the bin's noise as it was; a frame
  // without any other counts as free of speech and changes nothing. Never
  // gives a non-finite statistic.
  void update(const float *power);

  BinStatistics statistics() const;
  int bins() const { return bins_; }

  // Smallest and largest power taken as audio.
  static constexpr float kPowerFloor = 1.0e-20f;
  static constexpr float kPowerCeiling = 1.0e20f;

 private:
  void silentFrame();
  void startStream();
  void trackNoise();
  void speechGainAndPrior();

  NoiseTrackerSettings settings_;
  int bins_ = 0;
  bool started_ = false;             // an audible frame has set the estimates
  std::vector<float> power_;         // this frame's usable power per bin
  std::vector<float> fast_;          // fast estimate of the noise power
  std::vector<float> fastPresence_;  // its presence averaged over time, to spot a frozen bin
  std::vector<float> noise_;         // steady estimate, used for this frame
  std::vector<float> steadyPresence_;  // its presence averaged over time
  std::vector<float> steadyScratch_;   // per bin: its presence (not used), then ln(fast / steady)
  std::vector<float> binDrift_;        // per bin: ln(fast / steady) beyond the band's, smoothed
  std::vector<float> posterior_;
  std::vector<float> prior_;
  std::vector<float> speechGain_;
  std::vector<float> previousEstimate_;  // previous frame's G_H1^2 gamma
  std::vector<float> presence_;
};

}  // namespace enhancement

#endif
