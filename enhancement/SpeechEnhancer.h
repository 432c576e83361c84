// The speech enhancer's per-frame work: learns the noise power of every
// channel and bin over the first frames, then replaces each bin by the
// amplitude a gain rule gives, with the noisy phase, and optionally runs
// harmonic regeneration on each row.
#ifndef KOLV_ENHANCEMENT_SPEECH_ENHANCER_H
#define KOLV_ENHANCEMENT_SPEECH_ENHANCER_H

#include <complex>
#include <memory>
#include <vector>

#include "GainRules.h"
#include "HarmonicRegeneration.h"

namespace enhancement {

class SpeechEnhancer {
 public:
  SpeechEnhancer(GainRule rule, bool regenerateHarmonics, int noiseFrames);

  // Begins a stream of rows x (bins + 1) spectra: all state back to zero.
  // With harmonic regeneration, `bins` must be a power of two (at least 2).
  void start(int rows, int bins);

  // Frame `frame` of the stream, rows x (bins + 1) row-major. `out` must be
  // zero on entry; the Nyquist column is left alone, and stays zero during
  // the noise-learning frames.
  void process(int frame, const Complex *in, Complex *out);

 private:
  void learnNoise(int row, const Complex *in);
  void enhanceRow(int row, const Complex *in, Complex *out);
  // Sets every bin of the row that is not a finite number to 0.
  void silenceNonFinite(Complex *out) const;

  GainRule rule_;
  bool regenerate_;
  int noiseFrames_;
  int rows_ = 0;
  int bins_ = 0;
  std::vector<std::vector<float>> noisePower_;  // per row and bin: mean noise power
  std::vector<float> prevCleanPower_;  // per bin: enhanced power at its last update, all rows
  std::vector<float> binGain_;         // per bin of the current row: the rule's recorded gain
  std::vector<float> binAmplitude_;    // per bin of the current row: the rule's amplitude
  std::vector<float> phaseCos_;        // per bin of the current row: cos, sin of the noisy phase
  std::vector<float> phaseSin_;
  std::vector<float> noisyPower_;           // per bin of the current row: P
  std::vector<float> cleanPower_;           // per bin of the current row: the rule's clean power
  std::vector<unsigned char> unbounded_;    // per bin of the current row: passes unchanged
  std::unique_ptr<HarmonicRegeneration> regeneration_;
};

}  // namespace enhancement

#endif
