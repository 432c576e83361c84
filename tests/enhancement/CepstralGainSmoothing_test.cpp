// Cepstral smoothing of the adaptive enhancer's gain: what must pass
// unchanged (a flat gain, a steady harmonic comb) and what must not (a bin
// that rises for one frame, the stuff of musical noise), and damaged input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "CepstralGainSmoothing.h"

namespace {

constexpr int kCols = 257;
constexpr double kRate = 16000.0;
constexpr double kShift = 0.01;
constexpr float kFloor = 0.02f;  // -34 dB
constexpr int kCombSpacing = 8;  // bins: a 250 Hz voice at 512 points

const float kLogFloor = std::log(kFloor);
const float kBias = std::exp(enhancement::CepstralSmoothingSettings().logBias);

double db(double ratio) { return 20.0 * std::log10(ratio); }

// Smooths `frames` copies of the gain `gain` and returns the last result.
std::vector<float> smoothSteady(enhancement::CepstralGainSmoothing &s, const std::vector<float> &gain,
                                int frames) {
  std::vector<float> out;
  for (int t = 0; t < frames; ++t) {
    out.resize(gain.size());
    std::transform(gain.begin(), gain.end(), out.begin(), [](float g) { return std::log(g); });
    s.smooth(kLogFloor, out.data());
  }
  return out;
}

std::vector<float> comb(float peak, float valley) {
  std::vector<float> g(kCols, valley);
  for (int k = kCombSpacing; k < kCols; k += kCombSpacing) g[k] = peak;
  return g;
}

class Started : public enhancement::CepstralGainSmoothing {
 public:
  explicit Started(int cols = kCols) { start(cols, kRate, kShift); }
};

TEST(CepstralGainSmoothing, SteadyGainsPassRaisedOnlyByTheBias) {
  struct Case {
    const char *name;
    std::vector<float> gain;
  };
  const Case cases[] = {{"flat", std::vector<float>(kCols, 0.3f)},
                        {"harmonic comb", comb(0.6f, 0.05f)},
                        {"sloped", [] {
                           std::vector<float> g(kCols);
                           for (int k = 0; k < kCols; ++k) g[k] = 0.8f - 0.7f * k / (kCols - 1);
                           return g;
                         }()}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Started s;
    const std::vector<float> out = smoothSteady(s, c.gain, 30);
    for (int k = 0; k < kCols; ++k) ASSERT_NEAR(out[k], c.gain[k] * kBias, 2e-3f * c.gain[k]) << "bin " << k;
  }
}

TEST(CepstralGainSmoothing, HarmonicCombKeepsItsPeaksSoonAfterItsOnset) {
  Started s;
  smoothSteady(s, std::vector<float>(kCols, kFloor), 20);
  // Three frames (30 ms) into a voiced sound.
  const std::vector<float> voiced = comb(0.8f, 0.05f);
  const std::vector<float> out = smoothSteady(s, voiced, 3);
  for (int k = kCombSpacing; k < kCols - kCombSpacing; k += kCombSpacing) {
    EXPECT_GT(db(out[k] / voiced[k]), -3.0) << "peak at bin " << k;
    const int valley = k + kCombSpacing / 2;
    EXPECT_GT(db(out[k] / out[valley]), 10.0) << "peak at bin " << k << " over the valley after it";
  }
}

TEST(CepstralGainSmoothing, OneFrameRiseOfOneBinIsFlattened) {
  Started s;
  std::vector<float> background(kCols, kFloor);
  smoothSteady(s, background, 20);
  std::vector<float> spike = background;
  spike[100] = 0.5f;
  const std::vector<float> out = smoothSteady(s, spike, 1);
  EXPECT_LT(db(out[100] / spike[100]), -10.0);
  for (float g : out) EXPECT_LE(g, 0.5f);
  // Gone again in the next frames.
  const std::vector<float> after = smoothSteady(s, background, 3);
  EXPECT_LT(db(after[100] / kFloor), 3.0);
}

TEST(CepstralGainSmoothing, DamagedAndOutOfRangeValuesGiveGainsWithinFloorAndOne) {
  Started s;
  std::vector<float> log(kCols, -1.0f);
  log[3] = std::numeric_limits<float>::quiet_NaN();
  log[4] = -std::numeric_limits<float>::infinity();
  log[5] = std::numeric_limits<float>::infinity();
  log[6] = 5.0f;
  log[7] = -200.0f;
  for (int t = 0; t < 3; ++t) {
    std::vector<float> out = log;
    s.smooth(kLogFloor, out.data());
    for (int k = 0; k < kCols; ++k) {
      ASSERT_TRUE(std::isfinite(out[k])) << "bin " << k;
      ASSERT_GE(out[k], kFloor * 0.9999f);
      ASSERT_LE(out[k], 1.0f);
    }
  }
}

TEST(CepstralGainSmoothing, ShortSpectraAndRestarts) {
  for (int cols : {1, 2, 3, 17}) {
    SCOPED_TRACE(cols);
    Started s(cols);
    std::vector<float> out(cols, std::log(0.5f));
    s.smooth(kLogFloor, out.data());
    for (float g : out) EXPECT_NEAR(g, std::min(0.5f * (cols > 1 ? kBias : 1.0f), 1.0f), 1e-3f);
    s.start(kCols, kRate, kShift);
    const std::vector<float> flat = smoothSteady(s, std::vector<float>(kCols, 0.3f), 1);
    EXPECT_NEAR(flat[kCols / 2], 0.3f * kBias, 1e-3f);
  }
}

}  // namespace
