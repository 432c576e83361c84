#include "PeakPicking.h"

namespace localization {

namespace {

// A flat step counts as falling, so of a flat top the leftmost index is the peak.
constexpr float kFlatSlope = -1e-22f;
// Below any spatial-spectrum value: the running best of the walk starts here.
constexpr double kNoBest = -1000000.0;

// Indices k where the slope changes sign, slopes D[0] = 1 and D[kDirections] =
// -1 framing the spectrum so that the list starts and ends with a peak.
// Returns their number.
int turningPoints(const float *P, int turning[kDirections + 1]) {
  float D[kDirections + 1];
  D[0] = 1.0f;
  for (int k = 1; k < kDirections; ++k) {
    const float slope = P[k] - P[k - 1];
    D[k] = slope == 0.0f ? kFlatSlope : slope;
  }
  D[kDirections] = -1.0f;
  int m = 0;
  for (int k = 0; k < kDirections; ++k)
    if (D[k] * D[k + 1] < 0.0f) turning[m++] = k;
  return m;
}

}  // namespace

PeakList pickPeaks(const float *P, float threshold) {
  int e[kDirections + 1];
  const int m = turningPoints(P, e);
  bool selected[kDirections + 1] = {};
  if (m == 0) return PeakList();
  if (m <= 2) {
    selected[0] = true;
  } else {
    // Walk the peaks (even positions) with the lowest valley to the left (M)
    // and the valley to the right (Rv). A peak is selected once it stands
    // above both; a peak that does not rise above the valley after it is
    // carried on and merged with the following ones.
    double best = kNoBest, M = 0.0, Rv = 0.0;
    int K = -1;
    for (int p = 0; p < m; p += 2) {
      if (p == 0) {
        M = P[e[1]];
      } else if (P[e[p - 1]] < M) {
        M = P[e[p - 1]];
      }
      if (p != m - 1) Rv = P[e[p + 1]];
      if (P[e[p]] > best) {
        best = P[e[p]];
        K = p;
      }
      if (best - M > 0.0 && best - Rv > 0.0) {
        if (K >= 0) selected[K] = true;
        best = kNoBest;
        K = -1;
        M = Rv;
      }
    }
  }
  PeakList list;
  for (int p = 0; p < m; ++p) {
    const float value = P[e[p]];
    if (selected[p] && value > threshold) list.peaks[list.count++] = Peak{e[p], value};
  }
  return list;
}

}  // namespace localization
