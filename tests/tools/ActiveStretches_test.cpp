#include "ActiveStretches.h"

#include <gtest/gtest.h>

#include "ToolTesting.h"

namespace {

using tooltest::bursts;
using tooltest::kRate;

struct StretchCase {
  const char *name;
  std::vector<std::pair<double, double>> on;        // bursts in the recording, s
  std::vector<std::pair<double, double>> expected;  // stretches found, s
};

TEST(ActiveStretches, FollowsTheBurstsBridgingShortPausesAndDroppingBlips) {
  const std::vector<StretchCase> cases = {
      {"one burst", {{0.5, 1.5}}, {{0.5, 1.5}}},
      {"pause of 100 ms is bridged", {{0.5, 1.0}, {1.1, 1.6}}, {{0.5, 1.6}}},
      {"pause of 400 ms is kept", {{0.5, 1.0}, {1.4, 1.9}}, {{0.5, 1.0}, {1.4, 1.9}}},
      {"blip of 40 ms is dropped", {{0.5, 1.0}, {1.5, 1.54}}, {{0.5, 1.0}}},
      {"burst to the end", {{1.0, 2.0}}, {{1.0, 2.0}}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    auto found = render::findActiveStretches(bursts(2.0, c.on), kRate);
    ASSERT_EQ(found.size(), c.expected.size());
    for (size_t i = 0; i < found.size(); ++i) {
      EXPECT_NEAR(found[i].start, c.expected[i].first, render::kActivityFrameSeconds);
      EXPECT_NEAR(found[i].end, c.expected[i].second, render::kActivityFrameSeconds);
    }
  }
}

TEST(ActiveStretches, IgnoresARecordingsSteadyBackground) {
  // Speech-level bursts over a background 25 dB down: within 30 dB of the
  // peak, but the background must not count as speech.
  auto loud = bursts(3.0, {{1.0, 2.0}});
  auto floor = bursts(3.0, {{0.0, 3.0}}, 0.3 * std::pow(10.0, -25.0 / 20.0));
  for (size_t n = 0; n < loud.size(); ++n) loud[n] += floor[n];
  // Digital silence after the recording (padding) leaves the background as it is.
  loud.resize(loud.size() + 3 * kRate, 0.0);
  auto found = render::findActiveStretches(loud, kRate);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_NEAR(found[0].start, 1.0, render::kActivityFrameSeconds);
  EXPECT_NEAR(found[0].end, 2.0, render::kActivityFrameSeconds);
}

TEST(ActiveStretches, SilenceHasNone) {
  EXPECT_TRUE(render::findActiveStretches(std::vector<double>(kRate, 0.0), kRate).empty());
  EXPECT_TRUE(render::findActiveStretches({}, kRate).empty());
}

}  // namespace
