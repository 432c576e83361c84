#include "SteeringTables.h"

#include <cmath>

namespace localization {

namespace {

constexpr double kSpeedOfSound = 34050.0;  // cm/s
// theta + sin(theta) at -90 degrees, -(pi/2 + 1), used exactly there.
constexpr double kSphereSumAtLeftEnd = -2.5707963267948966;
// The single-precision 0.1 of the diffraction correction, widened.
constexpr double kDiffractionFactor = 0.10000000149011612;

double radiansOfDirection(int n) { return azimuthOfDirection(n) * kPi / 180.0; }

float freeSpaceDelay(float micsDistance, int n) {
  double sinTheta = n == 0 ? -1.0 : std::sin(radiansOfDirection(n));
  return static_cast<float>(static_cast<double>(micsDistance) * sinTheta / kSpeedOfSound);
}

// Delay around a rigid sphere of radius a = d/2: the path a (theta + sin theta)
// less a diffraction term that vanishes at 0 and +-90 degrees.
float sphericalHeadDelay(float micsDistance, int n) {
  const int thetaDegrees = azimuthOfDirection(n);
  const double theta = radiansOfDirection(n);
  const double radius = static_cast<double>(0.5f * micsDistance);
  const double sinTheta = std::sin(theta);
  const double pathSum = n == 0 ? kSphereSumAtLeftEnd : theta + sinTheta;
  const float baseDelay = static_cast<float>(radius * pathSum / kSpeedOfSound);
  float diffraction = 0.0f;
  if (n != 0) {
    const double side = thetaDegrees < 0 ? -1.0 : 1.0;
    const double twoTheta = thetaDegrees * (2.0 * kPi) / 180.0;
    diffraction = static_cast<float>((side * kPi - twoTheta) * radius *
                                     std::fabs(kDiffractionFactor * sinTheta) / kSpeedOfSound);
  }
  return baseDelay - diffraction;
}

}  // namespace

bool parseDelayModel(const std::string &name, DelayModel &model) {
  if (name == kFreeSpaceName) {
    model = DelayModel::FreeSpace;
    return true;
  }
  if (name == kSphericalHeadName) {
    model = DelayModel::SphericalHead;
    return true;
  }
  return false;
}

float interauralDelay(DelayModel model, float micsDistance, int n) {
  return model == DelayModel::FreeSpace ? freeSpaceDelay(micsDistance, n)
                                        : sphericalHeadDelay(micsDistance, n);
}

double binAngularFrequency(int j, int samplingRate, int cols) {
  const double fullTurnsPerSecond = static_cast<double>(static_cast<float>(samplingRate)) * (2.0 * kPi);
  return static_cast<double>(static_cast<float>(j)) * fullTurnsPerSecond /
         (2.0 * static_cast<double>(static_cast<float>(cols - 1)));
}

SteeringTables::SteeringTables(DelayModel model, float micsDistance, int samplingRate, int cols,
                               int lowBin, int highBin)
    : lowBin_(lowBin), highBin_(highBin < lowBin ? lowBin : highBin) {
  const size_t size = static_cast<size_t>(highBin_ - lowBin_) * kPaddedDirections;
  cosines_.assign(size, 0.0f);
  sines_.assign(size, 0.0f);
  float delays[kDirections];
  for (int n = 0; n < kDirections; ++n) delays[n] = interauralDelay(model, micsDistance, n);
  for (int j = lowBin_; j < highBin_; ++j) {
    const double omega = binAngularFrequency(j, samplingRate, cols);
    float *cosRow = &cosines_[rowOffset(j)];
    float *sinRow = &sines_[rowOffset(j)];
    for (int n = 0; n < kDirections; ++n) {
      const double phase = static_cast<double>(delays[n]) * omega;
      cosRow[n] = static_cast<float>(std::cos(phase));
      sinRow[n] = static_cast<float>(std::sin(phase));
    }
  }
}

}  // namespace localization
