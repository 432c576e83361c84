#include "DirectionClustering.h"

#include <array>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace localization {

namespace {

constexpr float kRandScale = 4.656612873077393e-10f;  // 2^-31
constexpr int kAzimuthSpan = kMaxPooledAzimuth - kMinPooledAzimuth + 1;

// The window's angles as distinct values with their counts, and the
// replicated pool they stand for.
struct WeightedPool {
  const std::vector<int> &window;  // angles in pool order (one pass)
  long long replication;           // passes
  long long size;                  // replication x window size
  std::vector<int> values;         // distinct angles, increasing
  std::vector<long long> counts;   // occurrences of each in one pass

  WeightedPool(const std::vector<int> &angles, int passes)
      : window(angles), replication(passes),
        size(static_cast<long long>(passes) * static_cast<long long>(angles.size())) {
    std::array<int, kAzimuthSpan> histogram{};
    for (int a : angles) {
      if (a < kMinPooledAzimuth || a > kMaxPooledAzimuth)
        throw std::out_of_range("pooled azimuth " + std::to_string(a) + " is outside -180..180");
      ++histogram[a - kMinPooledAzimuth];
    }
    for (int i = 0; i < kAzimuthSpan; ++i) {
      if (histogram[i] == 0) continue;
      values.push_back(i + kMinPooledAzimuth);
      counts.push_back(histogram[i]);
    }
  }

  // The angle at a random index of the replicated pool: index i holds
  // window[i mod window size].
  int drawAngle() const {
    return window[static_cast<size_t>(drawPoolIndex(size) % static_cast<long long>(window.size()))];
  }
};

struct Assignment {
  std::array<long long, kMaxCentres> members{};  // angles per cluster, one pass
  std::array<long long, kMaxCentres> sums{};     // sum of their angles, one pass
  long long distanceSum = 0;                     // distances to nearest centre, one pass
};

int distance(int a, int b) { return a > b ? a - b : b - a; }

// Each angle joins its nearest centre; on equal distances the lower one.
Assignment assign(const WeightedPool &pool, const std::array<int, kMaxCentres> &centres, int K) {
  Assignment result;
  for (size_t v = 0; v < pool.values.size(); ++v) {
    const int angle = pool.values[v];
    int nearest = 0;
    int nearestDistance = distance(angle, centres[0]);
    for (int k = 1; k < K; ++k) {
      const int d = distance(angle, centres[k]);
      if (d < nearestDistance) {
        nearest = k;
        nearestDistance = d;
      }
    }
    result.members[nearest] += pool.counts[v];
    result.sums[nearest] += pool.counts[v] * angle;
    result.distanceSum += pool.counts[v] * nearestDistance;
  }
  return result;
}

// Moves each centre to the truncated mean of its members (the replication
// cancels in the quotient); an empty cluster gets a fresh random centre.
// Returns whether any centre moved.
bool updateCentres(const WeightedPool &pool, const Assignment &assignment,
                   std::array<int, kMaxCentres> &centres, int K) {
  bool moved = false;
  for (int k = 0; k < K; ++k) {
    const int previous = centres[k];
    centres[k] = assignment.members[k] > 0
                     ? static_cast<int>(assignment.sums[k] / assignment.members[k])
                     : pool.drawAngle();
    moved = moved || centres[k] != previous;
  }
  return moved;
}

}  // namespace

long long poolIndex(int r, long long poolSize) {
  const float scaled = static_cast<float>(r) * static_cast<float>(poolSize) * kRandScale;
  const long long index = static_cast<long long>(scaled);
  return index < poolSize ? index : poolSize - 1;
}

long long drawPoolIndex(long long poolSize) { return poolIndex(std::rand(), poolSize); }

std::vector<int> dominantDirections(const std::vector<int> &windowAngles, int replication) {
  const WeightedPool pool(windowAngles, replication);
  if (pool.size <= 2 * pool.replication) return {};

  std::array<int, kMaxCentres> centres{};
  Assignment assignment;
  int K = 1;
  centres[0] = pool.drawAngle();
  for (;;) {
    for (int iteration = 0; iteration < kMaxIterations; ++iteration) {
      assignment = assign(pool, centres, K);
      if (!updateCentres(pool, assignment, centres, K)) break;
    }
    const long long meanDistance = assignment.distanceSum / static_cast<long long>(windowAngles.size());
    if (meanDistance <= kTightMeanDistance || K == kMaxCentres) break;
    centres[K++] = pool.drawAngle();
  }

  std::vector<int> dominant;
  const float poolShare = kDominantShare * static_cast<float>(pool.size);
  for (int k = 0; k < K; ++k) {
    const float members = static_cast<float>(assignment.members[k] * pool.replication);
    if (members > poolShare) dominant.push_back(centres[k]);
  }
  return dominant;
}

}  // namespace localization
