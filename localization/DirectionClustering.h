// One-dimensional k-means on whole degrees, with the number of clusters
// growing until the clusters are tight; used to find the dominant directions
// among the estimates of a window of frames.
#ifndef KOLV_LOCALIZATION_DIRECTION_CLUSTERING_H
#define KOLV_LOCALIZATION_DIRECTION_CLUSTERING_H

#include <vector>

namespace localization {

// The clustering never grows beyond this many centres.
constexpr int kMaxCentres = 60;
// Bound on the assign/update iterations for one number of centres; the loop
// normally settles within a handful.
constexpr int kMaxIterations = 1000;
// The clusters are tight when the mean distance of the pool to its nearest
// centre is at most this many degrees.
constexpr int kTightMeanDistance = 3;
// A cluster is reported when it holds more than this share of the pool.
constexpr float kDominantShare = 0.3f;
// The range of the pooled azimuths.
constexpr int kMinPooledAzimuth = -180;
constexpr int kMaxPooledAzimuth = 180;

// The index into a pool of `poolSize` entries that the random value `r`
// (0 <= r <= RAND_MAX) selects: trunc((float)r * (float)poolSize * 2^-31),
// kept below poolSize (single-precision rounding can otherwise reach
// poolSize itself when r is near RAND_MAX).
long long poolIndex(int r, long long poolSize);

// A uniform index into a pool of `poolSize` entries, drawn from the
// process's rand().
long long drawPoolIndex(long long poolSize);

// The centres (degrees) of the dominant clusters, in cluster order, of the
// pool that holds every angle of `windowAngles` `replication` times, the whole
// window repeated pass after pass. The angles must lie in [kMinPooledAzimuth,
// kMaxPooledAzimuth] (std::out_of_range otherwise). Empty when the pool holds
// at most 2 x `replication` angles. Clustering works on each distinct angle
// once, weighted by its count in the pool, and draws random centres by index
// into the replicated pool, so it yields what clustering the full pool would.
std::vector<int> dominantDirections(const std::vector<int> &windowAngles, int replication);

}  // namespace localization

#endif
