// The candidate directions of the localizer and the conversions between an
// azimuth in degrees and the unit vector a source record carries.
#ifndef KOLV_LOCALIZATION_DIRECTIONS_H
#define KOLV_LOCALIZATION_DIRECTIONS_H

namespace localization {

// Azimuths -90 to +90 degrees in 1-degree steps; direction n is n - 90 degrees.
constexpr int kDirections = 181;
constexpr int kLowestAzimuth = -90;
// Per-direction arrays are padded to a multiple of 8 floats so that the
// per-bin loop over the directions runs in whole vector registers.
constexpr int kPaddedDirections = 184;

constexpr double kPi = 3.141592653589793;
constexpr double kDegreesPerRadian = 57.29577951308232;

constexpr int azimuthOfDirection(int n) { return n + kLowestAzimuth; }

// Unit vector (cos, sin, 0) of an azimuth, as the localizer reports it: the
// angle in radians is formed in double precision, the vector stored as floats.
void directionVector(double azimuthDegrees, float x[3]);

// Whole degrees of the direction (x0, x1): the single-precision arc tangent,
// widened and scaled, truncated towards zero.
int truncatedAzimuth(float x0, float x1);

}  // namespace localization

#endif
