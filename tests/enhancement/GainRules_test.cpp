#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <random>
#include <vector>

#include "GainRules.h"

using namespace enhancement;

namespace {

uint32_t bitsOf(float x) {
  uint32_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return bits;
}

using Rule = BinGain (*)(float, float, float);

struct NamedRule {
  const char *name;
  Rule apply;
};

const NamedRule kWienerTypeRules[] = {
    {"WIENER_FILTERING", wienerFiltering},
    {"TWO_STEP_WIENER_FILTERING", twoStepWienerFiltering},
    {"MINIMUM_MEAN_SQUARE_ERROR", minimumMeanSquareError},
};

// The Ephraim-Malah gain in double precision with the library's Bessel
// functions, for a-priori SNR xi and a-posteriori SNR post.
double referenceMmseGain(double xi, double post) {
  double v = xi / (1.0 + xi) * post;
  return std::sqrt(M_PI) / 2.0 * std::sqrt(v) / post * std::exp(-v / 2.0) *
         ((1.0 + v) * std::cyl_bessel_i(0.0, v / 2.0) + v * std::cyl_bessel_i(1.0, v / 2.0));
}

}  // namespace

TEST(GainRules, ConstantsHaveTheirSinglePrecisionBitPatterns) {
  EXPECT_EQ(bitsOf(kGainFloor), 0x000AE398u);
  EXPECT_EQ(bitsOf(kSubtractionAmplitudeFloor), 0x1F155598u);
  EXPECT_EQ(bitsOf(kPriorSnrSmoothing), 0x3F7AE148u);
  EXPECT_EQ(bitsOf(kPriorSnrInstantWeight), 0x3CA3D700u);
  EXPECT_EQ(bitsOf(kHalfSqrtPi), 0x3F62DE01u);
}

TEST(GainRules, SpectralSubtraction) {
  // P = N: nothing left, and the recorded gain is the floor.
  BinGain equal = spectralSubtraction(4.0f, 4.0f);
  EXPECT_EQ(equal.amplitude, 0.0f);
  EXPECT_EQ(bitsOf(equal.gain), bitsOf(kGainFloor));
  // Below the noise: the amplitude floor, not zero.
  BinGain below = spectralSubtraction(1.0f, 4.0f);
  EXPECT_EQ(bitsOf(below.amplitude), bitsOf(kSubtractionAmplitudeFloor));
  EXPECT_EQ(bitsOf(below.gain), bitsOf(kGainFloor));
  // Above: the square root of the excess power; the gain is P/N - 1.
  BinGain above = spectralSubtraction(13.0f, 4.0f);
  EXPECT_EQ(above.amplitude, 3.0f);
  EXPECT_EQ(above.gain, 2.25f);
  EXPECT_FALSE(storesCleanPower(GainRule::SpectralSubtraction));
}

TEST(GainRules, WienerTypeRulesSilenceABinWithoutPower) {
  for (const NamedRule &rule : kWienerTypeRules) {
    for (float prev : {0.0f, 7.0f, 1e6f}) {
      SCOPED_TRACE(std::string(rule.name) + " prev " + std::to_string(prev));
      EXPECT_TRUE(storesCleanPower(gainRuleNamed(rule.name)));
      BinGain g = rule.apply(0.0f, 2.0f, prev);
      EXPECT_EQ(g.amplitude, 0.0f);
      EXPECT_EQ(g.cleanPower, 0.0f);
    }
  }
}

TEST(GainRules, FirstEnhancedFrameUsesOnlyTheInstantaneousEstimate) {
  // P = 3N: gamma = 2, and with no clean power yet xi = 0.01999998 * 2.
  const float xi = 2.0f * 0.01999998f;
  const float wiener = xi / (1.0f + xi);
  BinGain w = wienerFiltering(3.0f, 1.0f, 0.0f);
  EXPECT_EQ(bitsOf(w.gain), bitsOf(wiener));
  EXPECT_EQ(bitsOf(w.amplitude), bitsOf(std::sqrt(3.0f) * wiener));
  EXPECT_EQ(bitsOf(w.cleanPower),
            bitsOf(static_cast<float>(double(w.amplitude) * double(w.amplitude))));

  const float a1 = std::sqrt(3.0f) * wiener;
  const float xi2 = static_cast<float>(double(a1) * double(a1) / 1.0);
  BinGain two = twoStepWienerFiltering(3.0f, 1.0f, 0.0f);
  EXPECT_EQ(bitsOf(two.gain), bitsOf(xi2 / (1.0f + xi2)));
}

TEST(GainRules, ConsecutiveFramesCarryTheCleanPower) {
  for (const NamedRule &rule : kWienerTypeRules) {
    SCOPED_TRACE(rule.name);
    BinGain first = rule.apply(50.0f, 2.0f, 0.0f);
    EXPECT_EQ(bitsOf(first.cleanPower),
              bitsOf(static_cast<float>(double(first.amplitude) * double(first.amplitude))));
    BinGain second = rule.apply(50.0f, 2.0f, first.cleanPower);
    // The same bin again: the prior SNR now includes the first frame's power.
    EXPECT_GT(second.gain, first.gain);
  }
  BinGain first = wienerFiltering(50.0f, 2.0f, 0.0f);
  const float xi = (first.cleanPower / 2.0f) * 0.98f + 24.0f * 0.01999998f;
  EXPECT_EQ(bitsOf(wienerFiltering(50.0f, 2.0f, first.cleanPower).gain),
            bitsOf(xi / (1.0f + xi)));
}

TEST(GainRules, BesselApproximationsFollowTheLibraryFunctions) {
  // The approximations' stated error: 1.9e-7 of the scaled value, which is
  // about 0.4, for large arguments.
  for (double x : {0.0, 0.01, 0.5, 1.0, 2.5, 3.7499, 3.75, 5.0, 20.0, 100.0, 600.0}) {
    SCOPED_TRACE(x);
    double i0 = std::cyl_bessel_i(0.0, x), i1 = std::cyl_bessel_i(1.0, x);
    EXPECT_NEAR(besselI0(x) / i0, 1.0, 5e-7);
    if (x > 0) {
      EXPECT_NEAR(besselI1(x) / i1, 1.0, 6e-7);
    }
    EXPECT_EQ(besselI0(-x), besselI0(x));
    EXPECT_EQ(besselI1(-x), -besselI1(x));
  }
  EXPECT_EQ(besselI0(0.0), 1.0);
  EXPECT_EQ(besselI1(0.0), 0.0);
}

TEST(GainRules, MmseGainMatchesTheEphraimMalahFormula) {
  // Up to some 20 dB above the noise; further up the single-precision decay
  // exp(-v/2) becomes subnormal and then zero, where the fallback takes over.
  struct Case {
    float p, n, prev;
  } cases[] = {{3.0f, 1.0f, 0.0f}, {40.0f, 2.0f, 30.0f}, {10.0f, 1.0f, 0.5f},
               {0.5f, 1.0f, 4.0f}, {100.0f, 1.0f, 80.0f}};
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.p) + "/" + std::to_string(c.n));
    float gamma = posteriorSnrMinusOne(c.p, c.n);
    double xi = priorSnr(c.prev, c.n, gamma);
    double expected = referenceMmseGain(xi, double(c.p) / c.n);
    BinGain g = minimumMeanSquareError(c.p, c.n, c.prev);
    EXPECT_NEAR(g.gain / expected, 1.0, 1e-4);
    EXPECT_EQ(g.amplitude, std::sqrt(c.p) * g.gain);
  }
}

TEST(GainRules, MmseFallsBackToTheWienerGainWhenTheEstimateIsNotFinite) {
  // Far above the noise exp(-v/2) underflows to 0 while I0(v/2) overflows:
  // the product is NaN and the Wiener gain of the prior SNR stands in.
  const float p = 4000.0f, n = 1.0f;
  float xi = priorSnr(0.0f, n, posteriorSnrMinusOne(p, n));
  BinGain g = minimumMeanSquareError(p, n, 0.0f);
  EXPECT_EQ(bitsOf(g.gain), bitsOf(xi / (1.0f + xi)));
  EXPECT_EQ(bitsOf(g.amplitude), bitsOf(std::sqrt(p) * g.gain));
}

TEST(GainRules, MmseGainStaysRightFarAboveTheNoise) {
  // From about 22 dB above the noise exp(-v/2) leaves the normal range of a
  // float and, from about 23 dB, is 0: the gain must not drop with it.
  for (float prev : {0.0f, 1e6f}) {
    for (float ratio : {150.0f, 190.0f, 200.0f, 205.0f, 300.0f, 1000.0f, 1400.0f}) {
      SCOPED_TRACE(std::to_string(ratio) + ", previous clean power " + std::to_string(prev));
      double xi = priorSnr(prev, 1.0f, posteriorSnrMinusOne(ratio, 1.0f));
      BinGain g = minimumMeanSquareError(ratio, 1.0f, prev);
      EXPECT_NEAR(g.gain / referenceMmseGain(xi, ratio), 1.0, 2e-3);
    }
  }
}

TEST(GainRules, MmseBinBelowTheNoiseAfterSpeechStaysBelowTheNoise) {
  // A loud frame leaves a large clean power; the next frame of the bin falls
  // far below the noise. The gain must stay finite and the amplitude below
  // the noise amplitude, frame after frame.
  const float n = 100.0f;
  float prev = minimumMeanSquareError(1e6f, n, 0.0f).cleanPower;
  for (float p : {1.0f, 1e-3f, 50.0f, 1e-8f, 0.0f, 30.0f}) {
    SCOPED_TRACE(p);
    BinGain g = minimumMeanSquareError(p, n, prev);
    ASSERT_TRUE(std::isfinite(g.gain));
    ASSERT_TRUE(std::isfinite(g.cleanPower));
    EXPECT_LT(g.amplitude, std::sqrt(n));
    prev = g.cleanPower;
  }
}

// A row runs its bins several at a time; each bin must still get exactly what
// the rule gives it alone: powers from far below to far above the noise (both
// forms of the Bessel functions, the Wiener fallback), bins without noise and
// damaged ones.
TEST(GainRules, RowGivesEveryBinWhatTheRuleGivesItAlone) {
  constexpr int kBins = 257;  // more than one block of bins, and a partial one
  std::mt19937 gen(7);
  std::uniform_real_distribution<float> decibels(-40.0f, 60.0f);
  std::vector<float> noisy(kBins), noise(kBins), prev(kBins);
  for (int k = 0; k < kBins; ++k) {
    noise[k] = std::pow(10.0f, decibels(gen) / 10.0f);
    noisy[k] = noise[k] * std::pow(10.0f, decibels(gen) / 10.0f);
    prev[k] = noise[k] * std::pow(10.0f, decibels(gen) / 10.0f);
  }
  noise[3] = 0.0f;
  noisy[5] = NAN;
  noisy[6] = 0.0f;
  const GainRule rules[] = {GainRule::WienerFiltering, GainRule::TwoStepWienerFiltering,
                            GainRule::MinimumMeanSquareError};
  for (size_t i = 0; i < std::size(rules); ++i) {
    const NamedRule &r = kWienerTypeRules[i];
    std::vector<float> prevRow = prev, amplitude(kBins), gain(kBins), clean(kBins);
    std::vector<unsigned char> unbounded(kBins);
    applyGainRuleToRow(rules[i], {kBins, noisy.data(), noise.data(), prevRow.data(), amplitude.data(),
                                gain.data(), clean.data(), unbounded.data()});
    for (int k = 0; k < kBins; ++k) {
      if (unbounded[k]) continue;
      const BinGain alone = r.apply(noisy[k], noise[k], prev[k]);
      EXPECT_EQ(bitsOf(amplitude[k]), bitsOf(alone.amplitude)) << r.name << " bin " << k;
      EXPECT_EQ(bitsOf(gain[k]), bitsOf(alone.gain)) << r.name << " bin " << k;
      EXPECT_EQ(bitsOf(prevRow[k]), bitsOf(alone.cleanPower)) << r.name << " bin " << k;
    }
  }
}
