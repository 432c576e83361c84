// Interaural delays of a measured head, and the sphere and free-field models
// that fit them best. Used to check a set of responses and to choose the
// localization node's microphone distance.
#ifndef KOLV_RENDER_INTERAURALDELAY_H
#define KOLV_RENDER_INTERAURALDELAY_H

#include <vector>

#include "HrtfSet.h"

namespace render {

constexpr double kSpeedOfSound = 343.0;  // m/s

struct Band {
  double low;   // Hz
  double high;  // Hz
};

// Arrival at channel 0 minus arrival at channel 1, in seconds: positive when
// channel 1 (the right ear) hears first. The lag that maximises the
// cross-correlation of the two responses over `band`, searched to 1 µs.
double interauralDelay(const HrirPair &responses, int samplingRate, Band band);

struct HeadFit {
  double sphereRadius;        // m: delay = r/c (θ + sin θ) (Woodworth's spherical head)
  double freeFieldDistance;   // m: delay = d/c sin θ (two microphones in free field)
};

// Least-squares fits to delays measured at azimuths between 0 and 90 degrees.
HeadFit fitHeadModels(const std::vector<double> &azimuthsDeg, const std::vector<double> &delays);

}  // namespace render

#endif
