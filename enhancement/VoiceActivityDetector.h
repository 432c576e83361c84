// Frame-wise speech decision on a two-channel spectrum: learns the mean
// absolute deviation of the noise power in the telephone band over the first
// frames, then averages a log-likelihood term of each band bin's power
// against it and compares the result with a threshold.
#ifndef KOLV_ENHANCEMENT_VOICE_ACTIVITY_DETECTOR_H
#define KOLV_ENHANCEMENT_VOICE_ACTIVITY_DETECTOR_H

#include <complex>
#include <string>
#include <vector>

namespace enhancement {

// The telephone band, bins lowBin .. highBin - 1 of a spectrum.
struct SpeechBand {
  static constexpr int kLowHz = 300;
  static constexpr int kHighHz = 3400;

  int binSpacing = 0;  // whole Hz per bin
  int lowBin = 0;
  int highBin = 0;

  int width() const { return highBin - lowBin; }
  // The band of a spectrum of `cols` columns (bins 0 .. N/2) at
  // `samplingRate` Hz; integer arithmetic throughout. Needs cols >= 2 and
  // cols - 1 <= samplingRate / 2.
  static SpeechBand of(int samplingRate, int cols);
};

// "the speech band 300-3400 Hz", for messages.
std::string speechBandText();

// Why the speech band cannot be placed in a spectrum of `cols` columns at
// `samplingRate` Hz, for a refusal; empty when it can.
std::string speechBandMisfit(int samplingRate, int cols);

class VoiceActivityDetector {
 public:
  using Complex = std::complex<float>;

  VoiceActivityDetector(int noiseFrames, float threshold);

  // Begins a stream of spectra with `bins` + 1 columns: the statistics are
  // forgotten.
  void start(int bins);

  // Whether frame `frame` is speech; left and right are the two channels'
  // rows. Frames before noiseFrames() learn, frame noiseFrames() computes
  // the deviations, later frames are decided. A frame that is not finite
  // (finiteBand) is left out of the learning, and is not speech.
  bool decide(int frame, const SpeechBand &band, const Complex *left, const Complex *right);

  // The statistic of a detection frame: mean over the band of
  // gamma - ln gamma - 1, gamma the bin's power over the noise deviation.
  float likelihood(const SpeechBand &band, const Complex *left, const Complex *right) const;

  // Whether every band bin's power is a finite number: a non-finite input
  // bin, or one whose power overflows, carries no usable level.
  static bool finiteBand(const SpeechBand &band, const Complex *left, const Complex *right);

  // Band bins whose learnt deviation is zero (they make every statistic NaN).
  int zeroDeviationBins(const SpeechBand &band) const;

  const std::vector<float> &noiseMean() const { return noiseMean_; }
  const std::vector<float> &noiseDeviation() const { return noiseDeviation_; }

 private:
  void learn(int frame, const SpeechBand &band, const Complex *left, const Complex *right);
  void computeDeviation(const SpeechBand &band);

  int noiseFrames_;
  float threshold_;
  std::vector<float> noiseMean_;                 // per bin: mean band power of the noise
  std::vector<float> noiseDeviation_;            // per bin: its mean absolute deviation
  std::vector<std::vector<float>> powerHistory_; // per learning frame and bin: band power
  std::vector<bool> learnt_;                     // per learning frame: finite, so used
};

}  // namespace enhancement

#endif
