// Spatially diffuse noise: independent Gaussian noises from directions spread
// evenly over the sphere around the head, each through its own responses.
#ifndef KOLV_RENDER_DIFFUSENOISE_H
#define KOLV_RENDER_DIFFUSENOISE_H

#include <cstdint>
#include <random>
#include <vector>

#include "HrtfSet.h"

namespace render {

struct Direction {
  double azimuth;    // degrees, positive towards channel 1
  double elevation;  // degrees
};

// Rings of directions at several elevations; each ring holds a number of
// directions proportional to its circumference, 36 on the horizontal plane.
std::vector<Direction> diffuseDirections();

// Standard normal deviates from a 64-bit Mersenne twister by the Box-Muller
// transform: the same seed gives the same noise with every C++ library
// (std::normal_distribution's algorithm is left to each library).
class GaussianNoise {
 public:
  explicit GaussianNoise(uint64_t seed) : engine_(seed) {}
  double next();

 private:
  double uniform();  // in [0, 1)
  std::mt19937_64 engine_;
  bool haveSpare_ = false;
  double spare_ = 0.0;
};

// Two channels of `length` samples: the sum over the diffuse directions of
// unit-variance white noise, scaled by 1/sqrt(directions), through each
// direction's responses.
std::vector<std::vector<double>> renderDiffuseNoise(const HrtfSet &hrtf, size_t length, uint64_t seed);

}  // namespace render

#endif
