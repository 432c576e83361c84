// Sources that move: a path of azimuths over time, and rendering through
// responses that follow it without clicks (overlap-added blocks, each through
// the responses of its own direction, crossfading into the next).
#ifndef KOLV_RENDER_MOVINGSOURCE_H
#define KOLV_RENDER_MOVINGSOURCE_H

#include <cstddef>
#include <functional>
#include <vector>

namespace render {

using Channels = std::vector<std::vector<double>>;  // [channel][sample]

struct PathPoint {
  double time;     // s from the start of the scene
  double azimuth;  // degrees
};

// Blocks advance by this; each is windowed over twice it, so neighbours crossfade over 20 ms.
constexpr double kBlockSeconds = 0.01;
// Responses are computed once per azimuth rounded to this step.
constexpr double kAzimuthStepDeg = 0.5;

// The azimuth at `time`: linear between the points, the first's before them
// and the last's after them. Azimuths interpolate as plain numbers: a path
// from 170 to -170 degrees turns through the front, not behind the head.
double azimuthAlong(const std::vector<PathPoint> &path, double time);

// The two ears' responses for an azimuth.
using ResponsesAt = std::function<Channels(double azimuthDeg)>;

// out[c][offset + m] += the image of `signal` at ear c, with block k (centred
// on signal sample k * hop) heard from the path's azimuth at the time of
// scene sample offset + k * hop. Terms beyond `out` are dropped.
void addMoving(const std::vector<double> &signal, size_t offset, int samplingRate,
               const std::vector<PathPoint> &path, const ResponsesAt &responsesAt, Channels &out);

}  // namespace render

#endif
