// Harmonic regeneration: the first-stage row is taken to the time domain,
// half-wave rectified, which re-creates the harmonics of voiced speech that
// the gain rule removed, and transformed back; a final Wiener gain per bin
// mixes that regenerated spectrum with the first-stage amplitude.
#ifndef KOLV_ENHANCEMENT_HARMONIC_REGENERATION_H
#define KOLV_ENHANCEMENT_HARMONIC_REGENERATION_H

#include <complex>
#include <vector>

#include "RealTransform.h"

namespace enhancement {

// One row's inputs, each `bins` (K) entries long.
struct RegenerationRow {
  Complex *enhanced;          // first-stage row; overwritten with the final row
  const float *binGain;       // gain each bin's rule recorded
  const float *binAmplitude;  // amplitude each bin's rule gave
  const Complex *noisy;       // the noisy input row
  const float *noisyPower;    // its power per bin, re^2 + im^2
  const float *phaseCos;      // cos and sin of the noisy bins' phase
  const float *phaseSin;
  const float *noisePower;    // the row's learnt noise power
};

class HarmonicRegeneration {
 public:
  // `bins` = K, a power of two, at least 2.
  explicit HarmonicRegeneration(int bins);

  int bins() const { return transform_.halfLength(); }

  void regenerate(const RegenerationRow &row);

  // The spectrum of the rectified signal of the last row (K + 1 entries).
  const std::vector<Complex> &harmonicSpectrum() const { return harmonicSpectrum_; }
  // Replaces every sample below zero by zero and scales the others by 1/N.
  static void rectify(float *timeSignal, int length);
  // The Wiener gain of each bin's mix of regenerated power |H|^2 and
  // first-stage power A^2, weighted by the first-stage gain rho, over the
  // noise: (|H|^2 (1 - rho) + A^2 rho) / N. NaN where the noise is 0.
  static void finalGains(int bins, const Complex *harmonic, const float *binGain,
                         const float *binAmplitude, const float *noisePower, float *gain);

 private:
  RealTransform transform_;
  std::vector<float> timeSignal_;         // N samples
  std::vector<Complex> harmonicSpectrum_; // K + 1 bins
  std::vector<float> finalGain_;          // K gains of the last row
};

}  // namespace enhancement

#endif
