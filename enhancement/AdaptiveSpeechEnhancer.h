// The adaptive speech enhancer's per-frame work: noise tracked in every
// frame (NoiseTracker), and the gain of the optimally modified log-spectral
// amplitude estimator (Cohen and Berdugo 2001): a gain under speech
// presence and a floor under absence, weighted by the speech-presence
// probability, whose prior comes from the a-priori SNR smoothed over time,
// over neighbouring bins, over a wider band and over the frame. The gain
// under speech presence is the MAP amplitude estimator for super-Gaussian
// speech (Lotter and Vary 2005), and the gain is then smoothed in the
// cepstral domain (CepstralGainSmoothing). Optionally harmonic regeneration
// after it.
#ifndef KOLV_ENHANCEMENT_ADAPTIVE_SPEECH_ENHANCER_H
#define KOLV_ENHANCEMENT_ADAPTIVE_SPEECH_ENHANCER_H

#include <complex>
#include <memory>
#include <vector>

#include "CepstralGainSmoothing.h"
#include "HarmonicRegeneration.h"
#include "NoiseTracker.h"

namespace enhancement {

struct AdaptiveEnhancerSettings {
  // The gain's a-priori SNR weighs the previous frame less than the
  // detector's (0.92): it follows speech onsets sooner, which keeps more of
  // the speech's level and intelligibility for a little less noise removed.
  static constexpr float kPriorSnrSmoothing = 0.84f;

  AdaptiveEnhancerSettings() { tracker.priorSnrSmoothing = kPriorSnrSmoothing; }

  NoiseTrackerSettings tracker;
  float gainFloor = 0.019953f;   // gain where speech is absent (-34 dB)
  bool sharedGain = true;        // one noise track and gain for all channels
  bool regenerateHarmonics = false;
  bool cepstralSmoothing = true;  // of the gain (off only to measure what it brings)
  CepstralSmoothingSettings cepstral;
  double samplingRate = 16000.0;  // Hz: sets the smoothing's quefrencies
  double frameShift = 0.01;       // s: sets its weights
};

// The MAP spectral amplitude estimator of Lotter and Vary (2005) for speech
// amplitudes of a super-Gaussian prior, the gain where speech is present:
// G = u + sqrt(u^2 + nu / (2 gamma)), u = 1/2 - mu / (4 sqrt(gamma xi)),
// per bin of a-priori SNR xi (`prior`) and a-posteriori SNR gamma
// (`posterior`), kept within [1e-6, 1]. Against the log-spectral amplitude
// gain it passes more of a bin that stands well above the noise and removes
// more of one that does not.
void superGaussianGainOverBins(int bins, const float *prior, const float *posterior, float *gain);

class AdaptiveSpeechEnhancer {
 public:
  explicit AdaptiveSpeechEnhancer(const AdaptiveEnhancerSettings &settings);

  // Begins a stream of rows x (bins + 1) spectra: all state forgotten. With
  // harmonic regeneration, `bins` must be a power of two (at least 2).
  void start(int rows, int bins);

  // One frame, rows x (bins + 1) row-major, into `out` of the same size. A
  // bin that is not finite, or whose power is beyond audio, comes out as 0.
  void process(const Complex *in, Complex *out);

  // The tracker of row `row` (of all rows when the gain is shared).
  const NoiseTracker &tracker(int row) const;

 private:
  void measureRow(int row, const Complex *in);
  void gainsFrom(const NoiseTracker &tracker, int row);
  void absenceFromPriors(const BinStatistics &s);
  void applyRow(int row, const Complex *in, Complex *out, const NoiseTracker &tracker);

  AdaptiveEnhancerSettings settings_;
  int rows_ = 0;
  int cols_ = 0;
  float logFloor_;
  std::vector<NoiseTracker> trackers_;   // one, or one per row
  std::vector<std::unique_ptr<CepstralGainSmoothing>> smoothers_;  // as many, or none
  std::vector<float> power_;             // per row and column: |Y|^2
  std::vector<float> pooled_;            // per column: mean power over the rows
  std::vector<float> speechGain_;        // per column: the gain under speech presence
  std::vector<float> gain_;              // per column: the gain of the current track
  std::vector<float> smoothedPrior_;     // per column: recursively smoothed a-priori SNR
  std::vector<float> localPrior_;        // per column: that, averaged over neighbouring bins
  std::vector<float> globalPrior_;
  std::vector<float> absence_;           // per column: prior probability of speech absence
  float previousFramePrior_ = 0.0f;
  std::vector<float> amplitude_;         // per column of the current row: G |Y|
  std::vector<float> phaseCos_;          // per column of the current row: Y / |Y|
  std::vector<float> phaseSin_;
  std::unique_ptr<HarmonicRegeneration> regeneration_;
};

}  // namespace enhancement

#endif
