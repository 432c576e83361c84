// Per-frame azimuths of several sound sources from a two-channel spectrum, by
// noise-weighted GCC-PHAT over 181 directions (-90 to +90 degrees).
#ifndef KOLV_BINAURAL_MULTISOURCE_LOCALIZATION_H
#define KOLV_BINAURAL_MULTISOURCE_LOCALIZATION_H

#include <string>
#include <vector>

#include "Matrix.h"
#include "Node.h"
#include "SteeringTables.h"

namespace localization {

// Analysed bins lowBin <= j < highBin of a spectrum, from the band edges in Hz
// and the bin spacing, which is the integer (rate / 2) / (cols - 1). The edges
// are the truncated single-precision quotients, still as floats, so that the
// caller can check them before turning them into indices. Needs cols >= 2.
struct BandEdges {
  float binSpacing;
  float lowBin;
  float highBin;
};
BandEdges bandEdges(float frequencyLow, float frequencyHigh, int samplingRate, int cols);

// Frames of noise learning: trunc(duration / advance * rate) in single
// precision, at least 1.
float noiseFrameQuotient(float noiseDuration, int advance, int samplingRate);

}  // namespace localization

class BinauralMultisourceLocalization : public KOLV::BufferedNode {
 public:
  BinauralMultisourceLocalization(std::string nodeName, KOLV::ParameterSet params);
  ~BinauralMultisourceLocalization() override;

  static const KOLV::NodeDescription &description();

  void calculate(int output_id, int count, KOLV::Buffer &out) override;

  int noiseFrames() const { return noiseFrames_; }

 private:
  using Spectrum = KOLV::Matrix<std::complex<float>>;

  void setUpBand(const Spectrum &spectrum, int count);
  void checkShape(const Spectrum &spectrum, int count) const;
  [[noreturn]] void fail(int count, const std::string &what) const;
  void warnOfUnusableFrame(int count, bool learning);

  int spectrumID;
  int doaID;

  float micsDistance;           // cm
  float gccphatThreshold;       // a peak must exceed this
  localization::DelayModel delayModel;
  int advance;                  // samples
  int samplingRate;             // Hz
  float frequencyHigh;          // Hz
  float frequencyLow;           // Hz
  float noiseDuration;          // s
  int noiseFrames_;             // frames 0 .. noiseFrames_ - 1 learn the noise

  int cols = 0;                 // column count of every input frame, from frame 0
  int lowBin = 0;               // analysed bins lowBin <= j < highBin
  int highBin = 0;
  std::vector<float> noiseLevel;  // mean |L conj(R)| per bin over the noise frames
  int learntFrames = 0;           // noise frames with a finite cross-spectrum
  bool warnedWhileLearning = false;
  bool warnedWhileLocalizing = false;
  localization::SteeringTables steering;  // built at frame noiseFrames_ + 1
};

#endif
