// The per-bin noise-reduction rules of the speech enhancer: spectral
// subtraction, Wiener filtering, two-step Wiener filtering and the minimum
// mean-square-error short-time spectral amplitude estimator of Ephraim and
// Malah. Each turns the power of one noisy bin into an enhanced amplitude.
// The per-bin rules are inline so that the row loops can interleave bins.
#ifndef KOLV_ENHANCEMENT_GAIN_RULES_H
#define KOLV_ENHANCEMENT_GAIN_RULES_H

#include <cfloat>
#include <cmath>
#include <string>

namespace enhancement {

// Smallest gain and SNR a rule hands on: a subnormal that keeps ratios
// strictly positive without ever being audible.
constexpr float kGainFloor = 1.0e-39f;
// Amplitude that spectral subtraction gives a bin weaker than the noise: the
// square root of the gain floor.
constexpr float kSubtractionAmplitudeFloor = 3.1622779e-20f;
// Decision-directed a-priori SNR: weight of the previous clean power...
constexpr float kPriorSnrSmoothing = 0.98f;
// ...and of the instantaneous estimate, 1 - 0.98 as single precision has it.
constexpr float kPriorSnrInstantWeight = 1.0f - kPriorSnrSmoothing;
// sqrt(pi) / 2 of the MMSE gain, to the four digits the estimator uses.
constexpr float kHalfSqrtPi = 0.8862f;

enum class GainRule {
  SpectralSubtraction,
  WienerFiltering,
  TwoStepWienerFiltering,
  MinimumMeanSquareError,
  None,  // an unrecognised method name: every bin is silenced
};

// The names of the rules, as NOISE_REDUCTION_METHOD gives them.
constexpr const char *kSpectralSubtractionName = "SPECTRAL_SUBTRACTION";
constexpr const char *kWienerFilteringName = "WIENER_FILTERING";
constexpr const char *kTwoStepWienerFilteringName = "TWO_STEP_WIENER_FILTERING";
constexpr const char *kMinimumMeanSquareErrorName = "MINIMUM_MEAN_SQUARE_ERROR";

// The rule a NOISE_REDUCTION_METHOD value names (exact, case-sensitive);
// GainRule::None for any other text.
GainRule gainRuleNamed(const std::string &name);

// What a rule gives for one bin.
struct BinGain {
  float amplitude = 0.0f;   // enhanced amplitude
  float gain = 0.0f;        // gain recorded for harmonic regeneration
  float cleanPower = 0.0f;  // amplitude squared (in double, rounded), for the rules that store it
};

// Whether `rule` replaces a bin's previous clean power by the cleanPower of
// its result (every rule but spectral subtraction).
constexpr bool storesCleanPower(GainRule rule) {
  return rule != GainRule::SpectralSubtraction && rule != GainRule::None;
}

// Modified Bessel functions of the first kind, orders 0 and 1, by the
// polynomial approximations of Abramowitz and Stegun (9.8.1 to 9.8.4).
struct BesselPair {
  double i0 = 0.0;
  double i1 = 0.0;
};
BesselPair besselI0I1(double x);
double besselI0(double x);
double besselI1(double x);

// A-posteriori SNR minus one, P / N - 1, floored when not positive.
inline float posteriorSnrMinusOne(float noisyPower, float noisePower) {
  float gamma = noisyPower / noisePower - 1.0f;
  // Not positive means the bin holds no more than noise; keep the ratio
  // strictly positive so that the rules' divisions stay defined.
  return gamma <= 0.0f ? kGainFloor : gamma;
}

// Decision-directed a-priori SNR from the previous clean power.
inline float priorSnr(float prevCleanPower, float noisePower, float posteriorMinusOne) {
  return (prevCleanPower / noisePower) * kPriorSnrSmoothing +
         posteriorMinusOne * kPriorSnrInstantWeight;
}

// x / (1 + x), floored when x or the result is negative.
inline float wienerGain(float x) {
  const float gain = x / (1.0f + x);
  return (x < 0.0f || gain < 0.0f) ? kGainFloor : gain;
}

// A bin result whose clean power is stored: the amplitude squared in double.
inline BinGain withCleanPower(float amplitude, float gain) {
  const double a = amplitude;
  BinGain result;
  result.amplitude = amplitude;
  result.gain = gain;
  result.cleanPower = static_cast<float>(a * a);
  return result;
}

inline BinGain spectralSubtraction(float noisyPower, float noisePower) {
  BinGain result;
  const float excess = noisyPower - noisePower;
  result.amplitude = excess >= 0.0f ? std::sqrt(excess) : kSubtractionAmplitudeFloor;
  result.gain = posteriorSnrMinusOne(noisyPower, noisePower);
  return result;
}

inline BinGain wienerFiltering(float noisyPower, float noisePower, float prevCleanPower) {
  const float xi =
      priorSnr(prevCleanPower, noisePower, posteriorSnrMinusOne(noisyPower, noisePower));
  const float gain = wienerGain(xi);
  return withCleanPower(std::sqrt(noisyPower) * gain, gain);
}

inline BinGain twoStepWienerFiltering(float noisyPower, float noisePower, float prevCleanPower) {
  const float xi =
      priorSnr(prevCleanPower, noisePower, posteriorSnrMinusOne(noisyPower, noisePower));
  const double firstAmplitude = std::sqrt(noisyPower) * wienerGain(xi);
  const float secondXi =
      static_cast<float>(firstAmplitude * firstAmplitude / static_cast<double>(noisePower));
  const float gain = wienerGain(secondXi);
  return withCleanPower(std::sqrt(noisyPower) * gain, gain);
}

// The MMSE rule in three steps, so that a row can run the first and the last
// over several bins at a time around the exponentials of the middle one.

// Step 1, from the bin's powers: the Wiener gain of the a-priori SNR, v, and
// sqrt(v) sqrt(pi)/2 / gammaPost, the factor that the decay exp(-v/2) scales.
struct MmsePrepared {
  float wiener = 0.0f;
  float v = 0.0f;
  float scale = 0.0f;
};

inline MmsePrepared mmsePrepare(float noisyPower, float noisePower, float prevCleanPower) {
  const float xi =
      priorSnr(prevCleanPower, noisePower, posteriorSnrMinusOne(noisyPower, noisePower));
  MmsePrepared m;
  m.wiener = xi >= 0.0f ? xi / (1.0f + xi) : kGainFloor;
  // The estimator's own a-posteriori SNR: the floored ratio minus one would
  // make v / gamma explode for a bin below the noise.
  const float posterior = noisyPower / noisePower;
  m.v = posterior * m.wiener;
  m.scale = std::sqrt(m.v) * kHalfSqrtPi / posterior;
  return m;
}

// Step 2: exp(-v/2) in single precision.
inline float mmseDecay(float v) { return std::exp(-v * 0.5f); }

// ... and I0(v/2), I1(v/2) in double.
inline BesselPair mmseBessel(float v) { return besselI0I1(static_cast<double>(v * 0.5f)); }

// Step 3: the gain. It falls back to the Wiener gain, which the estimator
// approaches far above the noise, where its evaluation breaks down: where the
// result is not finite, and where the single-precision decay has sunk below
// the normal range (from about 22 dB above the noise), as it then loses its
// digits and, from about 23 dB, becomes 0 and would silence the bin.
inline BinGain mmseFinish(float noisyPower, const MmsePrepared &m, float decay,
                          const BesselPair &bessel) {
  const float c = m.scale * decay;
  const float onePlusV = 1.0f + m.v;
  const double exact = ((bessel.i1 * static_cast<double>(m.v)) +
                        static_cast<double>(onePlusV) * bessel.i0) *
                       static_cast<double>(c);
  const float estimate = static_cast<float>(exact);
  const bool breaksDown =
      std::isnan(estimate) || std::fabs(estimate) > FLT_MAX || decay < FLT_MIN;
  float gain = breaksDown ? m.wiener : estimate;
  if (gain < 0.0f) gain = kGainFloor;
  return withCleanPower(std::sqrt(noisyPower) * gain, gain);
}

inline BinGain minimumMeanSquareError(float noisyPower, float noisePower, float prevCleanPower) {
  const MmsePrepared m = mmsePrepare(noisyPower, noisePower, prevCleanPower);
  return mmseFinish(noisyPower, m, mmseDecay(m.v), mmseBessel(m.v));
}

// One row of bins for applyGainRuleToRow: inputs and per-bin results.
struct RowGains {
  int bins = 0;
  const float *noisyPower = nullptr;  // P of each bin
  const float *noisePower = nullptr;  // the row's learnt noise power
  float *prevCleanPower = nullptr;    // read, and updated where the rule stores it
  float *amplitude = nullptr;         // out: enhanced amplitude
  float *gain = nullptr;              // out: recorded gain
  float *cleanPower = nullptr;        // out: the clean power each bin's rule computed
  unsigned char *unbounded = nullptr; // out: 1 where the bin is to pass unchanged
};

// Applies `rule` to every bin of a row, in increasing bin order. A bin with
// no learnt noise (N = 0), or whose amplitude overflows, has an unbounded
// SNR: it is marked to pass unchanged, with amplitude sqrt(P) and gain 1,
// and its clean power is kept.
void applyGainRuleToRow(GainRule rule, const RowGains &row);

}  // namespace enhancement

#endif
