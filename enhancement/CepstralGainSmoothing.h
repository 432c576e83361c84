// Cepstral smoothing of a spectral gain, after Breithaupt, Gerkmann and
// Martin ("Cepstral smoothing of spectral filter gains for speech
// enhancement without musical noise", IEEE SPL 2007): the gain's logarithm
// is taken to the cepstrum, whose high quefrencies (the gain's fine
// structure across the band: isolated peaks, the stuff of musical noise)
// are averaged over time, while its low quefrencies (the gain's broad shape)
// follow at once; the result is taken back. A short-lived peak in one bin
// spreads over all quefrencies and loses most of its height; speech, whose
// shape lasts over frames, keeps it. (The published method also lets the
// quefrency of the voice's pitch follow at once; on our mixtures that made
// no measurable difference and is left out.)
#ifndef KOLV_ENHANCEMENT_CEPSTRAL_GAIN_SMOOTHING_H
#define KOLV_ENHANCEMENT_CEPSTRAL_GAIN_SMOOTHING_H

#include <fftw3.h>

#include <vector>

namespace enhancement {

struct CepstralSmoothingSettings {
  static constexpr double kReferenceFrameShift = 0.01;

  double fineStart = 0.0025;  // s: quefrencies from here on are averaged over time...
  float fineWeight = 0.5f;    // ...with this weight of the previous frame, per 10 ms
  // An average of logarithms falls short of the average: the smoothed gain
  // is raised by this many nepers (0.15: 1.3 dB) to make up for it.
  float logBias = 0.15f;
};

class CepstralGainSmoothing {
 public:
  explicit CepstralGainSmoothing(const CepstralSmoothingSettings &settings = CepstralSmoothingSettings())
      : settings_(settings) {}
  ~CepstralGainSmoothing();
  CepstralGainSmoothing(const CepstralGainSmoothing &) = delete;
  CepstralGainSmoothing &operator=(const CepstralGainSmoothing &) = delete;

  // Begins a stream of `cols` bins (0 .. N/2 of an N-point transform, at
  // least 2) at `samplingRate` Hz, with frames `frameShift` seconds apart:
  // all state forgotten.
  void start(int cols, double samplingRate, double frameShift);

  // Takes `gain` (cols values) from ln G to the smoothed G, in place. A
  // value below `logFloor` (or not a number) counts as `logFloor`, one above
  // 0 as 0; the result is kept within [e^logFloor, 1].
  void smooth(float logFloor, float *gain);

 private:
  void release();
  void averageFinePart();

  CepstralSmoothingSettings settings_;
  int cols_ = 0;
  int fineStart_ = 0;        // first quefrency averaged over time
  float fineWeight_ = 0.0f;  // its weight for this stream's frame shift
  bool first_ = true;        // the stream's first frame sets the average
  std::vector<float> smoothed_;       // per quefrency from fineStart_: the average over time
  // The log gain mirrored to a full period of N = 2 (cols - 1) samples (an
  // even sequence, whose transform is real: the cepstrum times N), and the
  // transforms between it and its half spectrum.
  float *period_ = nullptr;
  fftwf_complex *spectrum_ = nullptr;
  fftwf_plan forward_ = nullptr;
  fftwf_plan backward_ = nullptr;
};

}  // namespace enhancement

#endif
