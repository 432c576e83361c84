// Noise tracking without a noise-only stretch: improved minima-controlled
// recursive averaging (Cohen, "Noise spectrum estimation in adverse
// environments", IEEE TSAP 2003). Two passes of minimum statistics over a
// smoothed periodogram give each bin a prior probability of speech absence;
// with the decision-directed a-priori SNR it becomes a speech-presence
// probability, which sets how fast the bin's noise power follows its power.
#ifndef KOLV_ENHANCEMENT_NOISE_TRACKER_H
#define KOLV_ENHANCEMENT_NOISE_TRACKER_H

#include <vector>

namespace enhancement {

struct NoiseTrackerSettings {
  int minimumWindowFrames = 64;    // frames of the minimum search (0.64 s at 10 ms)
  int subwindows = 8;              // the search window is kept as this many sub-minima
  float periodogramSmoothing = 0.9f;  // time smoothing of the periodogram, per frame
  float noiseSmoothing = 0.85f;       // noise smoothing where speech is surely absent
  float priorSnrSmoothing = 0.92f;    // decision-directed weight of the previous frame
  float priorSnrFloor = 0.0031623f;   // -25 dB
  float minimumBias = 1.66f;          // expected power over its minimum in noise
  float noiseBias = 1.47f;            // the recursive average's bias under speech
  float rawThreshold = 4.6f;          // first pass: power over minimum that is surely speech
  float smoothThreshold = 1.67f;      // smoothed power over minimum that is surely speech
  float absenceThreshold = 3.0f;      // second pass: power over minimum up to which speech may be absent
};

// What one frame gave a bin, read after NoiseTracker::update.
struct BinStatistics {
  const float *noisePower;      // noise power the frame was judged against
  const float *posteriorSnr;    // gamma = P / noise power
  const float *priorSnr;        // decision-directed xi
  const float *speechGain;      // log-spectral amplitude gain where speech is present
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
  // Minimum statistics of one smoothed periodogram: a running minimum within
  // the current sub-window and the sub-minima of the last few.
  struct MinimumSearch {
    std::vector<float> smoothed;   // smoothed periodogram per bin
    std::vector<float> minimum;    // minimum over the search window
    std::vector<float> current;    // minimum within the current sub-window
    std::vector<float> stored;     // sub-window minima, subwindows x bins
    void start(int bins, int subwindows);
    void startFrom(const float *initial, int bins, int subwindows);
    void track(int bins);
    void closeSubwindow(int bins, int subwindows, int slot);
  };

  void startStream(const float *power);
  void silentFrame();
  void trackFrame();
  void speechGainAndPrior();
  void firstPass();
  void secondPass();
  void speechPresence();
  void noiseUpdate();

  NoiseTrackerSettings settings_;
  int subwindowFrames_;
  int bins_ = 0;
  long frames_ = 0;          // frames seen since start
  int slot_ = 0;             // sub-window slot the next closed sub-window fills
  std::vector<float> power_;       // this frame's usable power per bin
  std::vector<float> rawSmoothed_; // frequency-smoothed power of this frame
  std::vector<float> indicator_;   // first pass: 1 where speech is surely absent
  std::vector<float> gatedPower_;  // power where the indicator is 1, else 0
  std::vector<float> gateWeight_;  // frequency-smoothed indicator
  std::vector<float> gatedSmoothed_;  // frequency-smoothed gated power
  MinimumSearch first_;
  MinimumSearch second_;
  std::vector<float> noiseAverage_;  // recursive average before the bias
  std::vector<float> noise_;         // noise power used for this frame
  std::vector<float> posterior_;
  std::vector<float> prior_;
  std::vector<float> speechGain_;
  std::vector<float> previousEstimate_;  // previous frame's G_H1^2 gamma
  std::vector<float> presence_;
};

}  // namespace enhancement

#endif
