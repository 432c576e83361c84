#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "PeakPicking.h"

using namespace localization;

namespace {

using Spectrum = std::vector<float>;

// A spectrum of `base` everywhere with the given (direction, value) points set.
Spectrum spectrumWith(float base, const std::vector<std::pair<int, float>> &points) {
  Spectrum P(kPaddedDirections, base);
  for (const auto &p : points) P[p.first] = p.second;
  return P;
}

// A triangle of height `height` centred on `centre`, `halfWidth` wide, on zero.
void addTriangle(Spectrum &P, int centre, int halfWidth, float height) {
  for (int n = centre - halfWidth; n <= centre + halfWidth; ++n) {
    if (n < 0 || n >= kDirections) continue;
    float v = height * (1.0f - static_cast<float>(std::abs(n - centre)) / (halfWidth + 1));
    if (v > P[n]) P[n] = v;
  }
}

std::vector<int> directions(const PeakList &list) {
  std::vector<int> out;
  for (int i = 0; i < list.count; ++i) out.push_back(list.peaks[i].direction);
  return out;
}

Spectrum ramp(float slope) {
  Spectrum P(kPaddedDirections, 0.0f);
  for (int n = 0; n < kDirections; ++n) P[n] = 0.5f + slope * static_cast<float>(n);
  return P;
}

}  // namespace

TEST(PeakPicking, CraftedSpectra) {
  Spectrum twoPeaks(kPaddedDirections, 0.0f);
  addTriangle(twoPeaks, 40, 10, 0.6f);
  addTriangle(twoPeaks, 120, 10, 0.8f);

  Spectrum flatTop = spectrumWith(0.1f, {{70, 0.5f}, {71, 0.5f}, {72, 0.5f}});

  // A rise, a flat step (a shoulder) at 60-61, a further rise to a peak at 100.
  Spectrum shoulder(kPaddedDirections, 0.0f);
  for (int n = 0; n <= 60; ++n) shoulder[n] = 0.01f * n;
  shoulder[61] = shoulder[60];
  for (int n = 62; n <= 100; ++n) shoulder[n] = shoulder[61] + 0.001f * (n - 61);
  for (int n = 101; n < kDirections; ++n) shoulder[n] = shoulder[100] - 0.01f * (n - 100);

  // A small ripple left of a big peak, separated by a real valley: both count.
  Spectrum ripple(kPaddedDirections, 0.0f);
  addTriangle(ripple, 30, 3, 0.2f);
  addTriangle(ripple, 90, 20, 0.9f);

  struct Case {
    const char *name;
    Spectrum P;
    float threshold;
    std::vector<int> expected;
  };
  const std::vector<Case> cases = {
      {"all zero, negative threshold: the left edge", Spectrum(kPaddedDirections, 0.0f), -0.5f, {0}},
      {"all zero, zero threshold: nothing", Spectrum(kPaddedDirections, 0.0f), 0.0f, {}},
      {"rising to the right edge", ramp(0.001f), 0.0f, {180}},
      {"falling from the left edge", ramp(-0.001f), 0.0f, {0}},
      {"two separated peaks", twoPeaks, 0.1f, {40, 120}},
      {"threshold removes the lower peak", twoPeaks, 0.6f, {120}},
      {"flat top: leftmost index", flatTop, 0.2f, {70}},
      {"shoulder merged into the following peak", shoulder, 0.0f, {100}},
      {"small ripple with a valley is its own peak", ripple, 0.0f, {30, 90}},
      {"single interior spike", spectrumWith(0.0f, {{93, 0.7f}}), 0.5f, {93}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(directions(pickPeaks(c.P.data(), c.threshold)), c.expected);
  }
}

TEST(PeakPicking, PeakEqualToTheThresholdIsNotReported) {
  Spectrum P = spectrumWith(0.0f, {{93, 0.7f}});
  EXPECT_EQ(pickPeaks(P.data(), 0.7f).count, 0);
  EXPECT_EQ(pickPeaks(P.data(), std::nextafter(0.7f, 0.0f)).count, 1);
}

TEST(PeakPicking, ReportsTheValueAtThePeak) {
  Spectrum P(kPaddedDirections, 0.0f);
  addTriangle(P, 150, 5, 0.75f);
  PeakList list = pickPeaks(P.data(), 0.0f);
  ASSERT_EQ(list.count, 1);
  EXPECT_EQ(list.peaks[0].direction, 150);
  EXPECT_EQ(list.peaks[0].value, 0.75f);
}

TEST(PeakPicking, NotANumberSpectrumGivesNoPeak) {
  Spectrum P(kPaddedDirections, std::nanf(""));
  EXPECT_EQ(pickPeaks(P.data(), -1.0f).count, 0);
}
