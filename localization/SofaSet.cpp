#include "SofaSet.h"

#include <mysofa.h>

#include <cmath>
#include <fstream>
#include <stdexcept>

namespace localization {

namespace {

constexpr double kDegreesPerRadian = 180.0 / 3.14159265358979323846;

double length(const float *p) { return std::sqrt(double(p[0]) * p[0] + double(p[1]) * p[1] + double(p[2]) * p[2]); }

}  // namespace

void sofaDirection(double azimuthDeg, double elevationDeg, float xyz[3]) {
  const double az = azimuthDeg / kDegreesPerRadian;
  const double el = elevationDeg / kDegreesPerRadian;
  xyz[0] = static_cast<float>(std::cos(el) * std::cos(az));
  xyz[1] = static_cast<float>(-std::cos(el) * std::sin(az));
  xyz[2] = static_cast<float>(std::sin(el));
}

SofaSet::SofaSet(const std::string &path, int samplingRate) : samplingRate_(samplingRate) {
  // libmysofa reports a missing file as a generic read error; say it plainly.
  if (!std::ifstream(path).good()) throw std::runtime_error("cannot open SOFA file " + path);
  int error = 0;
  easy_ = mysofa_open(path.c_str(), static_cast<float>(samplingRate), &filterLength_, &error);
  if (!easy_ || error != MYSOFA_OK)
    throw std::runtime_error("cannot use SOFA file " + path + " (libmysofa error " + std::to_string(error) + ")");
  const MYSOFA_HRTF *h = easy_->hrtf;
  if (h->R != 2) {
    mysofa_close(easy_);
    throw std::runtime_error("SOFA file " + path + " has " + std::to_string(h->R) + " receivers, not two ears");
  }
  // mysofa_open leaves the source positions in cartesian coordinates.
  double radiusSum = 0.0;
  for (unsigned i = 0; i < h->M; ++i) radiusSum += length(h->SourcePosition.values + 3 * i);
  radius_ = static_cast<float>(radiusSum / h->M);
}

SofaSet::~SofaSet() { mysofa_close(easy_); }

HeadFilters SofaSet::filters(double azimuthDeg, double elevationDeg) const {
  float xyz[3];
  sofaDirection(azimuthDeg, elevationDeg, xyz);
  for (float &c : xyz) c *= radius_;
  HeadFilters f;
  f.left.resize(static_cast<size_t>(filterLength_));
  f.right.resize(static_cast<size_t>(filterLength_));
  mysofa_getfilter_float(easy_, xyz[0], xyz[1], xyz[2], f.left.data(), f.right.data(), &f.delayLeft,
                         &f.delayRight);
  return f;
}

std::vector<std::vector<double>> SofaSet::measuredDirections() const {
  const MYSOFA_HRTF *h = easy_->hrtf;
  std::vector<std::vector<double>> directions;
  for (unsigned i = 0; i < h->M; ++i) {
    const float *p = h->SourcePosition.values + 3 * i;
    const double r = length(p);
    directions.push_back({p[0] / r, p[1] / r, p[2] / r});
  }
  return directions;
}

}  // namespace localization
