// Peaks of a spatial spectrum: the turning points of its slopes, with flat
// shoulders merged into the peaks that follow them, above a threshold.
#ifndef KOLV_LOCALIZATION_PEAK_PICKING_H
#define KOLV_LOCALIZATION_PEAK_PICKING_H

#include <array>

#include "Directions.h"

namespace localization {

struct Peak {
  int direction;  // index n, azimuth n - 90 degrees
  float value;    // P[n]
};

// At most every other direction can be a peak.
constexpr int kMaxPeaks = (kDirections + 1) / 2;

struct PeakList {
  int count = 0;
  std::array<Peak, kMaxPeaks> peaks;
};

// The selected peaks of P[0..kDirections-1] whose value is strictly greater
// than `threshold`, in increasing direction.
PeakList pickPeaks(const float *P, float threshold);

}  // namespace localization

#endif
