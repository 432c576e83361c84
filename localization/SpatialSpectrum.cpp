#include "SpatialSpectrum.h"

#include <cmath>

namespace localization {

namespace {

struct CrossBin {
  float re;
  float im;
  float magnitude;
};

// X = L conj(R), in single precision.
inline CrossBin crossBin(Complex left, Complex right) {
  CrossBin x;
  x.re = left.real() * right.real() + left.imag() * right.imag();
  x.im = left.imag() * right.real() - left.real() * right.imag();
  x.magnitude = std::sqrt(x.re * x.re + x.im * x.im);
  return x;
}

// Adds one bin's term to every direction. Kept as a plain loop over the
// padded rows so that the compiler vectorises it; each direction's
// arithmetic stays in the order ((c cr - s ci) w) / B.
inline void addBin(const float *__restrict cosRow, const float *__restrict sinRow, float cr,
                   float ci, float weight, float bins, float *__restrict P) {
  for (int n = 0; n < kPaddedDirections; ++n)
    P[n] += ((cosRow[n] * cr - sinRow[n] * ci) * weight) / bins;
}

}  // namespace

bool finiteCrossSpectrum(const Complex *left, const Complex *right, int lowBin, int highBin) {
  for (int j = lowBin; j < highBin; ++j)
    if (!std::isfinite(crossBin(left[j], right[j]).magnitude)) return false;
  return true;
}

void accumulateNoise(const Complex *left, const Complex *right, int lowBin, int highBin,
                     float *noiseSum) {
  for (int j = lowBin; j < highBin; ++j) noiseSum[j] += crossBin(left[j], right[j]).magnitude;
}

void averageNoise(int frames, int lowBin, int highBin, float *noiseLevel) {
  const float count = static_cast<float>(frames);
  for (int j = lowBin; j < highBin; ++j) noiseLevel[j] /= count;
}

float snrWeight(float magnitude, float noise) {
  const float r1 = magnitude / noise - 1.0f;
  const float q = r1 / (r1 + 1.0f);
  // A q that is not a number passes through unchanged.
  return q < kWeightFloor ? kWeightFloor : q;
}

void spatialSpectrum(const Complex *left, const Complex *right, const float *noiseLevel,
                     const SteeringTables &tables, float P[kPaddedDirections]) {
  for (int n = 0; n < kPaddedDirections; ++n) P[n] = 0.0f;
  const int lowBin = tables.lowBin(), highBin = tables.highBin();
  const float bins = static_cast<float>(highBin - lowBin);
  for (int j = lowBin; j < highBin; ++j) {
    const CrossBin x = crossBin(left[j], right[j]);
    // A silent bin has no phase to compare: it adds nothing rather than
    // turning the whole frame into not-a-number.
    if (x.magnitude == 0.0f) continue;
    const float cr = x.re / x.magnitude;
    const float ci = x.im / x.magnitude;
    // Over a noise level of exactly 0 the weight tends to 1.
    const float weight = noiseLevel[j] == 0.0f ? 1.0f : snrWeight(x.magnitude, noiseLevel[j]);
    addBin(tables.steeringCos(j), tables.steeringSin(j), cr, ci, weight, bins, P);
  }
}

}  // namespace localization
