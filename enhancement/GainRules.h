// The per-bin noise-reduction rules of the speech enhancer: spectral
// subtraction, Wiener filtering, two-step Wiener filtering and the minimum
// mean-square-error short-time spectral amplitude estimator of Ephraim and
// Malah. Each turns the power of one noisy bin into an enhanced amplitude.
#ifndef KOLV_ENHANCEMENT_GAIN_RULES_H
#define KOLV_ENHANCEMENT_GAIN_RULES_H

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

// The rule a NOISE_REDUCTION_METHOD value names (exact, case-sensitive);
// GainRule::None for any other text.
GainRule gainRuleNamed(const std::string &name);

// What a rule gives for one bin.
struct BinGain {
  float amplitude = 0.0f;   // enhanced amplitude
  float gain = 0.0f;        // gain recorded for harmonic regeneration
  bool storesPower = false; // whether cleanPower replaces the bin's previous clean power
  float cleanPower = 0.0f;  // amplitude squared (in double, rounded)
};

// A-posteriori SNR minus one, P / N - 1, floored when not positive.
float posteriorSnrMinusOne(float noisyPower, float noisePower);

// Decision-directed a-priori SNR from the previous clean power.
float priorSnr(float prevCleanPower, float noisePower, float posteriorMinusOne);

// x / (1 + x), floored when x or the result is negative.
float wienerGain(float x);

// Modified Bessel functions of the first kind, orders 0 and 1, by the
// polynomial approximations of Abramowitz and Stegun (9.8.1 to 9.8.4).
double besselI0(double x);
double besselI1(double x);

BinGain spectralSubtraction(float noisyPower, float noisePower);
BinGain wienerFiltering(float noisyPower, float noisePower, float prevCleanPower);
BinGain twoStepWienerFiltering(float noisyPower, float noisePower, float prevCleanPower);
BinGain minimumMeanSquareError(float noisyPower, float noisePower, float prevCleanPower);

// Applies `rule` to one bin; GainRule::None gives amplitude and gain 0.
BinGain applyGainRule(GainRule rule, float noisyPower, float noisePower, float prevCleanPower);

}  // namespace enhancement

#endif
