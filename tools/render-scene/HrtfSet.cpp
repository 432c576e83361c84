#include "HrtfSet.h"

#include <algorithm>
#include <cmath>

namespace render {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegPerRad = 180.0 / kPi;

double angleBetween(const std::vector<double> &a, const std::vector<double> &b) {
  double dot = a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
  return std::acos(std::clamp(dot, -1.0, 1.0)) * kDegPerRad;
}

std::vector<double> unitVector(double azimuthDeg, double elevationDeg) {
  float xyz[3];
  sofaDirection(azimuthDeg, elevationDeg, xyz);
  return {xyz[0], xyz[1], xyz[2]};
}

}  // namespace

HrtfSet::HrtfSet(const std::string &path, int samplingRate, double headScale)
    : set_(path, static_cast<int>(std::lround(samplingRate * headScale))),
      samplingRate_(samplingRate),
      measured_(set_.measuredDirections()) {
  for (size_t i = 0; i < measured_.size(); ++i) {
    double nearest = 180.0;
    for (size_t j = 0; j < measured_.size(); ++j)
      if (j != i) nearest = std::min(nearest, angleBetween(measured_[i], measured_[j]));
    coarsestSpacing_ = std::max(coarsestSpacing_, nearest);
  }
}

double HrtfSet::distanceToMeasured(double azimuthDeg, double elevationDeg) const {
  std::vector<double> u = unitVector(azimuthDeg, elevationDeg);
  double nearest = 180.0;
  for (const auto &m : measured_) nearest = std::min(nearest, angleBetween(u, m));
  return nearest;
}

HrirPair HrtfSet::responses(double azimuthDeg, double elevationDeg) const {
  localization::HeadFilters f = set_.filters(azimuthDeg, elevationDeg);
  auto delayed = [this](std::vector<float> ir, float delaySeconds) {
    long shift = std::lround(delaySeconds * set_.samplingRate());
    if (shift > 0) ir.insert(ir.begin(), static_cast<size_t>(shift), 0.0f);
    return ir;
  };
  return {delayed(std::move(f.left), f.delayLeft), delayed(std::move(f.right), f.delayRight)};
}

}  // namespace render
