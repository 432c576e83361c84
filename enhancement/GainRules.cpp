#include "GainRules.h"

#include <cfloat>
#include <cmath>

namespace enhancement {

namespace {

// Below this argument the Bessel approximations are polynomials in
// (x / 3.75)^2; above it, in 3.75 / x times exp(x) / sqrt(x).
constexpr double kBesselBreak = 3.75;

// The amplitude squared in double, as the clean power the rules store.
float squaredInDouble(float amplitude) {
  double a = amplitude;
  return static_cast<float>(a * a);
}

BinGain withCleanPower(float amplitude, float gain) {
  BinGain result;
  result.amplitude = amplitude;
  result.gain = gain;
  result.storesPower = true;
  result.cleanPower = squaredInDouble(amplitude);
  return result;
}

// The large-argument factor exp(x) / sqrt(x) shared by both orders.
double besselAsymptoticScale(double ax) { return std::exp(ax) / std::sqrt(ax); }

}  // namespace

GainRule gainRuleNamed(const std::string &name) {
  if (name == "SPECTRAL_SUBTRACTION") return GainRule::SpectralSubtraction;
  if (name == "WIENER_FILTERING") return GainRule::WienerFiltering;
  if (name == "TWO_STEP_WIENER_FILTERING") return GainRule::TwoStepWienerFiltering;
  if (name == "MINIMUM_MEAN_SQUARE_ERROR") return GainRule::MinimumMeanSquareError;
  return GainRule::None;
}

float posteriorSnrMinusOne(float noisyPower, float noisePower) {
  float gamma = noisyPower / noisePower - 1.0f;
  // Not positive means the bin holds no more than noise; keep the ratio
  // strictly positive so that the rules' divisions stay defined.
  if (gamma <= 0.0f) gamma = kGainFloor;
  return gamma;
}

float priorSnr(float prevCleanPower, float noisePower, float posteriorMinusOne) {
  return (prevCleanPower / noisePower) * kPriorSnrSmoothing +
         posteriorMinusOne * kPriorSnrInstantWeight;
}

float wienerGain(float x) {
  if (x < 0.0f) return kGainFloor;
  float gain = x / (1.0f + x);
  return gain < 0.0f ? kGainFloor : gain;
}

double besselI0(double x) {
  double ax = std::fabs(x);
  if (ax < kBesselBreak) {
    double y = x / kBesselBreak;
    y *= y;
    return 1.0 + y * (3.5156229 + y * (3.0899424 + y * (1.2067492 + y * (0.2659732 +
                 y * (0.0360768 + y * 0.0045813)))));
  }
  double y = kBesselBreak / ax;
  return besselAsymptoticScale(ax) *
         (0.39894228 + y * (0.01328592 + y * (0.00225319 + y * (-0.00157565 + y * (0.00916281 +
          y * (-0.02057706 + y * (0.02635537 + y * (-0.01647633 + y * 0.00392377))))))));
}

double besselI1(double x) {
  double ax = std::fabs(x);
  double value;
  if (ax < kBesselBreak) {
    double y = x / kBesselBreak;
    y *= y;
    value = ax * (0.5 + y * (0.87890594 + y * (0.51498869 + y * (0.15084934 + y * (0.02658733 +
                 y * (0.00301532 + y * 0.00032411))))));
  } else {
    double y = kBesselBreak / ax;
    value = 0.02282967 + y * (-0.02895312 + y * (0.01787654 - y * 0.00420059));
    value = 0.39894228 + y * (-0.03988024 + y * (-0.00362018 + y * (0.00163801 +
            y * (-0.01031555 + y * value))));
    value *= besselAsymptoticScale(ax);
  }
  return x < 0.0 ? -value : value;
}

BinGain spectralSubtraction(float noisyPower, float noisePower) {
  BinGain result;
  float excess = noisyPower - noisePower;
  result.amplitude = excess >= 0.0f ? std::sqrt(excess) : kSubtractionAmplitudeFloor;
  result.gain = posteriorSnrMinusOne(noisyPower, noisePower);
  return result;
}

BinGain wienerFiltering(float noisyPower, float noisePower, float prevCleanPower) {
  float xi = priorSnr(prevCleanPower, noisePower, posteriorSnrMinusOne(noisyPower, noisePower));
  float gain = wienerGain(xi);
  return withCleanPower(std::sqrt(noisyPower) * gain, gain);
}

BinGain twoStepWienerFiltering(float noisyPower, float noisePower, float prevCleanPower) {
  float xi = priorSnr(prevCleanPower, noisePower, posteriorSnrMinusOne(noisyPower, noisePower));
  float firstAmplitude = std::sqrt(noisyPower) * wienerGain(xi);
  double a = firstAmplitude;
  float secondXi = static_cast<float>(a * a / static_cast<double>(noisePower));
  float gain = wienerGain(secondXi);
  return withCleanPower(std::sqrt(noisyPower) * gain, gain);
}

BinGain minimumMeanSquareError(float noisyPower, float noisePower, float prevCleanPower) {
  float xi = priorSnr(prevCleanPower, noisePower, posteriorSnrMinusOne(noisyPower, noisePower));
  float wiener = xi >= 0.0f ? xi / (1.0f + xi) : kGainFloor;
  // The estimator's own a-posteriori SNR: the floored ratio minus one would
  // make v / gamma explode for a bin below the noise.
  float posterior = noisyPower / noisePower;
  float v = posterior * wiener;
  float decay = std::exp(-v * 0.5f);
  float scale = (std::sqrt(v) * kHalfSqrtPi / posterior) * decay;
  double halfV = static_cast<double>(v * 0.5f);
  double i0 = besselI0(halfV);
  double i1 = besselI1(halfV);
  float onePlusV = 1.0f + v;
  double exact = ((i1 * static_cast<double>(v)) + static_cast<double>(onePlusV) * i0) *
                 static_cast<double>(scale);
  float estimate = static_cast<float>(exact);
  float gain = (std::isnan(estimate) || std::fabs(estimate) > FLT_MAX) ? wiener : estimate;
  if (gain < 0.0f) gain = kGainFloor;
  return withCleanPower(std::sqrt(noisyPower) * gain, gain);
}

BinGain applyGainRule(GainRule rule, float noisyPower, float noisePower, float prevCleanPower) {
  switch (rule) {
    case GainRule::SpectralSubtraction:
      return spectralSubtraction(noisyPower, noisePower);
    case GainRule::WienerFiltering:
      return wienerFiltering(noisyPower, noisePower, prevCleanPower);
    case GainRule::TwoStepWienerFiltering:
      return twoStepWienerFiltering(noisyPower, noisePower, prevCleanPower);
    case GainRule::MinimumMeanSquareError:
      return minimumMeanSquareError(noisyPower, noisePower, prevCleanPower);
    case GainRule::None:
      break;
  }
  return BinGain();
}

}  // namespace enhancement
