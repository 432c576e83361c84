#include "HarmonicRegeneration.h"

#include <algorithm>
#include <cmath>

#include "GainRules.h"

namespace enhancement {

HarmonicRegeneration::HarmonicRegeneration(int bins)
    : transform_(bins), timeSignal_(2 * bins), harmonicSpectrum_(bins + 1) {}

void HarmonicRegeneration::rectify(float *timeSignal, int length) {
  const float scale = 1.0f / static_cast<float>(length);
  // max(s, 0) is exactly 0 below zero, and keeps -0 and NaN as they are.
  for (int n = 0; n < length; ++n) timeSignal[n] = std::max(timeSignal[n], 0.0f) * scale;
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

  for (int k = 0; k < bins; ++k) {
    const Complex h = spectrum[k];
    const float rho = row.binGain[k];
    const double a = row.binAmplitude[k];
    const float harmonicPower = h.imag() * h.imag() + h.real() * h.real();
    const float amplitudePower = static_cast<float>(a * a);
    const float xi = (harmonicPower * (1.0f - rho) + amplitudePower * rho) / row.noisePower[k];
    const float gain = wienerGain(xi);
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
