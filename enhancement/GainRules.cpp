#include "GainRules.h"

#include <algorithm>
#include <cmath>

namespace enhancement {

namespace {

// Below this argument the Bessel approximations are polynomials in
// (x / 3.75)^2; above it, in 3.75 / x times exp(x) / sqrt(x).
constexpr double kBesselBreak = 3.75;

// Bins the MMSE rule takes at a time: the block's intermediate values stay
// in the first-level cache.
constexpr int kBlock = 64;

// 9.8.1: I0(x) for |x| < 3.75, with y = (x / 3.75)^2.
double i0Small(double y) {
  return 1.0 + y * (3.5156229 + y * (3.0899424 + y * (1.2067492 + y * (0.2659732 +
               y * (0.0360768 + y * 0.0045813)))));
}

// 9.8.3: I1(x) / x for |x| < 3.75, with y = (x / 3.75)^2.
double i1OverXSmall(double y) {
  return 0.5 + y * (0.87890594 + y * (0.51498869 + y * (0.15084934 + y * (0.02658733 +
               y * (0.00301532 + y * 0.00032411)))));
}

// 9.8.2: sqrt(x) exp(-x) I0(x) for x >= 3.75, with y = 3.75 / x.
double i0ScaledLarge(double y) {
  return 0.39894228 + y * (0.01328592 + y * (0.00225319 + y * (-0.00157565 + y * (0.00916281 +
         y * (-0.02057706 + y * (0.02635537 + y * (-0.01647633 + y * 0.00392377)))))));
}

// 9.8.4: sqrt(x) exp(-x) I1(x) for x >= 3.75, with y = 3.75 / x.
double i1ScaledLarge(double y) {
  double tail = 0.02282967 + y * (-0.02895312 + y * (0.01787654 - y * 0.00420059));
  return 0.39894228 + y * (-0.03988024 + y * (-0.00362018 + y * (0.00163801 +
         y * (-0.01031555 + y * tail))));
}

// The rule alone over a row: a loop without branches, which the compiler
// runs several bins at a time (the arrays never overlap).
template <class Rule>
void ruleOverBins(Rule rule, int bins, const float *__restrict noisyPower,
                  const float *__restrict noisePower, const float *__restrict prevCleanPower,
                  float *__restrict amplitude, float *__restrict gain,
                  float *__restrict cleanPower) {
  for (int k = 0; k < bins; ++k) {
    const BinGain bin = rule(noisyPower[k], noisePower[k], prevCleanPower[k]);
    amplitude[k] = bin.amplitude;
    gain[k] = bin.gain;
    cleanPower[k] = bin.cleanPower;
  }
}

// mmseBessel over n bins: both polynomials of every bin first, in loops that
// run several bins at once and take no branch that the data decides, then
// the exponential scale where the large-argument forms hold. Each bin's result
// is that of besselI0I1, operation for operation.
void mmseBesselOverBins(int n, const float *__restrict v, double *__restrict i0,
                        double *__restrict i1) {
  double x[kBlock], small0[kBlock], small1[kBlock], large0[kBlock], large1[kBlock];
  for (int j = 0; j < n; ++j) {
    x[j] = std::fabs(static_cast<double>(v[j] * 0.5f));
    double y = x[j] / kBesselBreak;
    y *= y;
    small0[j] = i0Small(y);
    small1[j] = x[j] * i1OverXSmall(y);
    const double inverse = kBesselBreak / x[j];
    large0[j] = i0ScaledLarge(inverse);
    large1[j] = i1ScaledLarge(inverse);
  }
  for (int j = 0; j < n; ++j) {
    if (x[j] < kBesselBreak) {
      i0[j] = small0[j];
      i1[j] = small1[j];
    } else {
      const double scale = std::exp(x[j]) / std::sqrt(x[j]);
      i0[j] = scale * large0[j];
      i1[j] = large1[j] * scale;
    }
    if (v[j] < 0.0f) i1[j] = -i1[j];
  }
}

// The MMSE rule over a row, a block of bins at a time: its first and last
// steps run several bins at once, the exponentials between them one by one.
void mmseOverBins(int bins, const float *__restrict noisyPower,
                  const float *__restrict noisePower, const float *__restrict prevCleanPower,
                  float *__restrict amplitude, float *__restrict gain,
                  float *__restrict cleanPower) {
  float wiener[kBlock], v[kBlock], scale[kBlock], decay[kBlock];
  double i0[kBlock], i1[kBlock];
  for (int start = 0; start < bins; start += kBlock) {
    const int n = std::min(kBlock, bins - start);
    const float *p = noisyPower + start;
    for (int j = 0; j < n; ++j) {
      const MmsePrepared m = mmsePrepare(p[j], noisePower[start + j], prevCleanPower[start + j]);
      wiener[j] = m.wiener;
      v[j] = m.v;
      scale[j] = m.scale;
    }
    for (int j = 0; j < n; ++j) decay[j] = mmseDecay(v[j]);
    mmseBesselOverBins(n, v, i0, i1);
    for (int j = 0; j < n; ++j) {
      const BinGain bin = mmseFinish(p[j], {wiener[j], v[j], scale[j]}, decay[j], {i0[j], i1[j]});
      amplitude[start + j] = bin.amplitude;
      gain[start + j] = bin.gain;
      cleanPower[start + j] = bin.cleanPower;
    }
  }
}

// After the rule: the bins without learnt noise, or whose amplitude
// overflowed, are set to pass unchanged, and the other bins' clean powers are
// committed.
void settleBins(bool storesPower, int bins, const float *__restrict noisyPower,
                const float *__restrict noisePower, float *__restrict prevCleanPower,
                float *__restrict amplitude, float *__restrict gain,
                const float *__restrict cleanPower, unsigned char *__restrict unbounded) {
  for (int k = 0; k < bins; ++k) {
    unbounded[k] = noisePower[k] == 0.0f || !std::isfinite(amplitude[k]);
    if (unbounded[k]) {
      amplitude[k] = std::sqrt(noisyPower[k]);
      gain[k] = 1.0f;
    } else if (storesPower) {
      prevCleanPower[k] = cleanPower[k];
    }
  }
}

template <class Rule>
void ruleOverRow(Rule rule, const RowGains &row) {
  ruleOverBins(rule, row.bins, row.noisyPower, row.noisePower, row.prevCleanPower,
               row.amplitude, row.gain, row.cleanPower);
}

}  // namespace

GainRule gainRuleNamed(const std::string &name) {
  if (name == kSpectralSubtractionName) return GainRule::SpectralSubtraction;
  if (name == kWienerFilteringName) return GainRule::WienerFiltering;
  if (name == kTwoStepWienerFilteringName) return GainRule::TwoStepWienerFiltering;
  if (name == kMinimumMeanSquareErrorName) return GainRule::MinimumMeanSquareError;
  return GainRule::None;
}

BesselPair besselI0I1(double x) {
  const double ax = std::fabs(x);
  BesselPair result;
  if (ax < kBesselBreak) {
    double y = x / kBesselBreak;
    y *= y;
    result.i0 = i0Small(y);
    result.i1 = ax * i1OverXSmall(y);
  } else {
    // exp(x) / sqrt(x), shared by both orders.
    const double scale = std::exp(ax) / std::sqrt(ax);
    const double y = kBesselBreak / ax;
    result.i0 = scale * i0ScaledLarge(y);
    result.i1 = i1ScaledLarge(y) * scale;
  }
  if (x < 0.0) result.i1 = -result.i1;
  return result;
}

double besselI0(double x) { return besselI0I1(x).i0; }
double besselI1(double x) { return besselI0I1(x).i1; }

void applyGainRuleToRow(GainRule rule, const RowGains &row) {
  // Each rule gets its own loop, so that the per-bin function is inlined.
  switch (rule) {
    case GainRule::SpectralSubtraction:
      ruleOverRow([](float p, float n, float) { return spectralSubtraction(p, n); }, row);
      break;
    case GainRule::WienerFiltering:
      ruleOverRow([](float p, float n, float c) { return wienerFiltering(p, n, c); }, row);
      break;
    case GainRule::TwoStepWienerFiltering:
      ruleOverRow([](float p, float n, float c) { return twoStepWienerFiltering(p, n, c); }, row);
      break;
    case GainRule::MinimumMeanSquareError:
      mmseOverBins(row.bins, row.noisyPower, row.noisePower, row.prevCleanPower, row.amplitude,
                   row.gain, row.cleanPower);
      break;
    case GainRule::None:
      for (int k = 0; k < row.bins; ++k) {
        row.amplitude[k] = 0.0f;
        row.gain[k] = 0.0f;
        row.unbounded[k] = 0;
      }
      return;
  }
  settleBins(storesCleanPower(rule), row.bins, row.noisyPower, row.noisePower,
             row.prevCleanPower, row.amplitude, row.gain, row.cleanPower, row.unbounded);
}

}  // namespace enhancement
