#include "HrtfSet.h"

#include <mysofa.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <stdexcept>

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

void sofaDirection(double azimuthDeg, double elevationDeg, float xyz[3]) {
  double az = azimuthDeg / kDegPerRad;
  double el = elevationDeg / kDegPerRad;
  xyz[0] = static_cast<float>(std::cos(el) * std::cos(az));
  xyz[1] = static_cast<float>(-std::cos(el) * std::sin(az));
  xyz[2] = static_cast<float>(std::sin(el));
}

HrtfSet::HrtfSet(const std::string &path, int samplingRate) : samplingRate_(samplingRate) {
  // libmysofa reports a missing file as a generic read error; say it plainly.
  if (!std::ifstream(path).good()) throw std::runtime_error("cannot open SOFA file " + path);
  int err = 0;
  easy_ = mysofa_open(path.c_str(), static_cast<float>(samplingRate), &filterLength_, &err);
  if (!easy_ || err != MYSOFA_OK)
    throw std::runtime_error("cannot use SOFA file " + path + " (libmysofa error " + std::to_string(err) + ")");

  const MYSOFA_HRTF *h = easy_->hrtf;
  if (h->R != 2) {
    mysofa_close(easy_);
    throw std::runtime_error("SOFA file " + path + " has " + std::to_string(h->R) + " receivers, not two ears");
  }
  // mysofa_open leaves the source positions in cartesian coordinates.
  double radiusSum = 0.0;
  for (unsigned i = 0; i < h->M; ++i) {
    const float *p = h->SourcePosition.values + 3 * i;
    double r = std::sqrt(double(p[0]) * p[0] + double(p[1]) * p[1] + double(p[2]) * p[2]);
    radiusSum += r;
    measured_.push_back({p[0] / r, p[1] / r, p[2] / r});
  }
  radius_ = static_cast<float>(radiusSum / h->M);
  for (size_t i = 0; i < measured_.size(); ++i) {
    double nearest = 180.0;
    for (size_t j = 0; j < measured_.size(); ++j)
      if (j != i) nearest = std::min(nearest, angleBetween(measured_[i], measured_[j]));
    coarsestSpacing_ = std::max(coarsestSpacing_, nearest);
  }
}

HrtfSet::~HrtfSet() { mysofa_close(easy_); }

double HrtfSet::distanceToMeasured(double azimuthDeg, double elevationDeg) const {
  std::vector<double> u = unitVector(azimuthDeg, elevationDeg);
  double nearest = 180.0;
  for (const auto &m : measured_) nearest = std::min(nearest, angleBetween(u, m));
  return nearest;
}

HrirPair HrtfSet::responses(double azimuthDeg, double elevationDeg) const {
  float xyz[3];
  sofaDirection(azimuthDeg, elevationDeg, xyz);
  for (float &c : xyz) c *= radius_;
  std::vector<float> left(filterLength_), right(filterLength_);
  float delayLeft = 0.0f, delayRight = 0.0f;  // s
  mysofa_getfilter_float(easy_, xyz[0], xyz[1], xyz[2], left.data(), right.data(), &delayLeft, &delayRight);
  auto delayed = [this](std::vector<float> ir, float delaySeconds) {
    long shift = std::lround(delaySeconds * samplingRate_);
    if (shift > 0) ir.insert(ir.begin(), static_cast<size_t>(shift), 0.0f);
    return ir;
  };
  return {delayed(std::move(left), delayLeft), delayed(std::move(right), delayRight)};
}

}  // namespace render
