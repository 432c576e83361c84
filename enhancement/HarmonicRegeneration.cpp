#include "HarmonicRegeneration.h"

#include <algorithm>
#include <cmath>

#include "GainRules.h"

namespace enhancement {

HarmonicRegeneration::HarmonicRegeneration(int bins)
    : transform_(bins), timeSignal_(2 * bins), harmonicSpectrum_(bins + 1), finalGain_(bins) {}

void HarmonicRegeneration::rectify(float *timeSignal, int length) {
  const float scale = 1.0f / static_cast<float>(length);
  // max(s, 0) is exactly 0 below zero, and keeps -0 and NaN as they are.
  for (int n = 0; n < length; ++n) timeSignal[n] = std::max(timeSignal[n], 0.0f) * scale;
}

void HarmonicRegeneration::finalGains(int bins, const Complex *__restrict harmonic,
                                      const float *__restrict binGain,
                                      const float *__restrict binAmplitude,
                                      const float *__restrict noisePower,
                                      float *__restrict gain) {
  for (int k = 0; k < bins; ++k) {
    const Complex h = harmonic[k];
    const float rho = binGain[k];
    const double a = binAmplitude[k];
    const float harmonicPower = h.imag() * h.imag() + h.real() * h.real();
    const float amplitudePower = static_cast<float>(a * a);
    gain[k] = wienerGain((harmonicPower * (1.0f - rho) + amplitudePower * rho) / noisePower[k]);
  }
}

void HarmonicRegeneration::regenerate(const RegenerationRow &row) {
  const int bins = transform_.halfLength();
  Complex *spectrum = harmonicSpectrum_.data();
  for (int k = 0; k < bins; ++k) spectrum[k] = row.enhanced[k];
  // The first stage never sets the Nyquist bin: it is zero, as in the row.
  spectrum[bins] = Complex(0.0f, 0.0f);

  transform_.inverse(spectrum, timeSignal_.data());
  rectify(timeSignal_.data(), transform_.length());
  transform_.forward(timeSignal_.data(), spectrum);

  finalGains(bins, spectrum, row.binGain, row.binAmplitude, row.noisePower, finalGain_.data());
  for (int k = 0; k < bins; ++k) {
    const float gain = finalGain_[k];
    if (std::isnan(gain)) {
      // An unbounded SNR (no noise learnt in this bin): the bin is signal.
      row.enhanced[k] = row.noisy[k];
      continue;
    }
    const float magnitude = gain * std::sqrt(row.noisyPower[k]);
    row.enhanced[k] = Complex(row.phaseCos[k] * magnitude, row.phaseSin[k] * magnitude);
  }
}

}  // namespace enhancement
