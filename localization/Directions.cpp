#include "Directions.h"

#include <cmath>

namespace localization {

void directionVector(double azimuthDegrees, float x[3]) {
  double theta = azimuthDegrees * kPi / 180.0;
  x[0] = static_cast<float>(std::cos(theta));
  x[1] = static_cast<float>(std::sin(theta));
  x[2] = 0.0f;
}

int truncatedAzimuth(float x0, float x1) {
  return static_cast<int>(static_cast<double>(std::atan2(x1, x0)) * kDegreesPerRadian);
}

}  // namespace localization
