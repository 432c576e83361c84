#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <deque>
#include <random>
#include <vector>

#include "DirectionClustering.h"

using namespace localization;

namespace {

// The clustering written out on the whole replicated pool, as a check of the
// weighted computation: every angle of the window appears `passes` times.
// Its iterations run until the centres settle, without a bound.
std::vector<int> replicatedDominantDirections(const std::vector<int> &window, int passes) {
  std::vector<int> pool;
  for (int pass = 0; pass < passes; ++pass) pool.insert(pool.end(), window.begin(), window.end());
  const int n = static_cast<int>(pool.size());
  if (n <= 2 * passes) return {};
  auto draw = [&] {
    int i = static_cast<int>(static_cast<float>(std::rand()) * static_cast<float>(n) * 4.656612873077393e-10f);
    return pool[i < n ? i : n - 1];
  };
  int centres[kMaxCentres];
  std::vector<int> cluster(n), smallest(n);
  int K = 1;
  centres[0] = draw();
  for (;;) {
    int meanDistance = 0;
    for (;;) {
      for (int p = 0; p < n; ++p) {
        cluster[p] = 0;
        smallest[p] = std::abs(pool[p] - centres[0]);
        for (int k = 1; k < K; ++k) {
          int d = std::abs(pool[p] - centres[k]);
          if (d < smallest[p]) {
            smallest[p] = d;
            cluster[p] = k;
          }
        }
      }
      int previous[kMaxCentres];
      std::copy(centres, centres + K, previous);
      for (int k = 0; k < K; ++k) {
        long long sum = 0;
        int members = 0;
        for (int p = 0; p < n; ++p)
          if (cluster[p] == k) {
            sum += pool[p];
            ++members;
          }
        centres[k] = members > 0 ? static_cast<int>(sum / members) : draw();
      }
      long long distanceSum = 0;
      for (int p = 0; p < n; ++p) distanceSum += smallest[p];
      meanDistance = static_cast<int>(distanceSum / n);
      if (std::equal(centres, centres + K, previous)) break;
    }
    if (meanDistance <= kTightMeanDistance || K == kMaxCentres) break;
    centres[K++] = draw();
  }
  std::vector<int> kept;
  for (int k = 0; k < K; ++k) {
    int members = 0;
    for (int p = 0; p < n; ++p) members += cluster[p] == k;
    if (static_cast<float>(members) > 0.3f * static_cast<float>(n)) kept.push_back(centres[k]);
  }
  return kept;
}

// A window of estimates scattered around a few random directions, some
// frames silent, a few stray estimates anywhere.
std::vector<std::vector<int>> randomStream(std::mt19937 &rng, int frames) {
  std::uniform_int_distribution<int> anywhere(-90, 90), perFrame(0, 3), groups(1, 4);
  std::normal_distribution<double> scatter(0.0, 6.0);
  std::vector<int> centres(groups(rng));
  for (int &c : centres) c = anywhere(rng);
  std::vector<std::vector<int>> stream(frames);
  for (auto &frame : stream) {
    int count = perFrame(rng);
    for (int i = 0; i < count; ++i) {
      if (rng() % 10 == 0) {
        frame.push_back(anywhere(rng));
      } else {
        int a = centres[rng() % centres.size()] + static_cast<int>(scatter(rng));
        frame.push_back(std::max(-180, std::min(180, a)));
      }
    }
  }
  return stream;
}

}  // namespace

TEST(DirectionClustering, WeightedPoolMatchesTheReplicatedPoolFrameForFrame) {
  std::mt19937 rng(2024);
  int framesCompared = 0, framesWithSources = 0;
  for (int W : {1, 3, 8, 25, 60}) {
    for (int trial = 0; trial < 4; ++trial) {
      auto stream = randomStream(rng, 80);
      std::deque<std::vector<int>> history;
      std::vector<std::vector<int>> windows;
      for (const auto &frame : stream) {
        history.push_back(frame);
        if (static_cast<int>(history.size()) > W) history.pop_front();
        std::vector<int> window;
        for (const auto &h : history) window.insert(window.end(), h.begin(), h.end());
        windows.push_back(window);
      }
      const unsigned seed = rng();
      std::srand(seed);
      std::vector<std::vector<int>> fast;
      for (const auto &window : windows) fast.push_back(dominantDirections(window, W));
      const int afterFast = std::rand();
      std::srand(seed);
      for (size_t f = 0; f < windows.size(); ++f) {
        ASSERT_EQ(fast[f], replicatedDominantDirections(windows[f], W))
            << "W " << W << " trial " << trial << " frame " << f;
        framesWithSources += !fast[f].empty();
        ++framesCompared;
      }
      // Both consumed the same draws.
      EXPECT_EQ(std::rand(), afterFast);
    }
  }
  EXPECT_GT(framesWithSources, framesCompared / 2);
}

TEST(DirectionClustering, GroupsAndShares) {
  auto repeat = [](std::initializer_list<std::pair<int, int>> groups) {
    std::vector<int> window;
    for (auto g : groups) window.insert(window.end(), g.second, g.first);
    return window;
  };
  struct Case {
    const char *name;
    std::vector<int> window;
    int passes;
    std::vector<std::vector<int>> acceptable;  // either cluster order
  };
  const std::vector<Case> cases = {
      {"two estimates are too few", repeat({{10, 2}}), 5, {{}}},
      {"three estimates cluster", repeat({{10, 3}}), 5, {{10}}},
      {"one direction", repeat({{-17, 40}}), 200, {{-17}}},
      {"two well separated halves", repeat({{-40, 20}, {30, 20}}), 10, {{-40, 30}, {30, -40}}},
      {"a 30 % group is dropped", repeat({{-40, 3}, {30, 7}}), 1, {{30}}},
      {"a 40 % group is kept", repeat({{-40, 4}, {30, 6}}), 1, {{-40, 30}, {30, -40}}},
      {"mean of -3 and -4 truncates to -3", repeat({{-3, 5}, {-4, 5}}), 4, {{-3}}},
      {"mean of 3 and 4 truncates to 3", repeat({{3, 5}, {4, 5}}), 4, {{3}}},
      {"nothing in the window", {}, 200, {{}}},
      {"no passes", repeat({{10, 5}}), 0, {{}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    for (unsigned seed : {1u, 2u, 3u, 4u}) {
      std::srand(seed);
      std::vector<int> got = dominantDirections(c.window, c.passes);
      EXPECT_NE(std::find(c.acceptable.begin(), c.acceptable.end(), got), c.acceptable.end())
          << "seed " << seed << " gave " << ::testing::PrintToString(got);
    }
  }
}

TEST(DirectionClustering, WidelySpreadEstimatesStopAtTheCentreBound) {
  std::vector<int> window;
  for (int rep = 0; rep < 3; ++rep)
    for (int a = -180; a <= 180; a += 1) window.push_back(a);
  std::srand(5);
  // Every degree once per group: no cluster can hold 30 %, and the growth of
  // the centres ends.
  EXPECT_TRUE(dominantDirections(window, 1).empty());
}

TEST(DirectionClustering, IndexNearTheTopOfRandStaysInsideThePool) {
  // (float)RAND_MAX rounds up to 2^31, which would select index n itself.
  for (long long n : {1LL, 3LL, 400LL, 200LL * 362LL}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(poolIndex(RAND_MAX, n), n - 1);
    EXPECT_EQ(poolIndex(0, n), 0);
  }
  EXPECT_EQ(poolIndex(1 << 30, 400), 200);
}
