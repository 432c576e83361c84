#include "HrtfSet.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "WavFile.h"

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

HrtfSet::HrtfSet(const std::string &path, int samplingRate, double headScale, HeadFormat format)
    : samplingRate_(samplingRate) {
  const int resampledRate = static_cast<int>(std::lround(samplingRate * headScale));
  if (format == HeadFormat::Sofa) {
    sofa_ = std::make_unique<localization::SofaSet>(path, resampledRate);
    filterLength_ = sofa_->filterLength();
    measured_ = sofa_->measuredDirections();
  } else {
    readHorizontalSet(path, resampledRate);
  }
  for (size_t i = 0; i < measured_.size(); ++i) {
    double nearest = 180.0;
    for (size_t j = 0; j < measured_.size(); ++j)
      if (j != i) nearest = std::min(nearest, angleBetween(measured_[i], measured_[j]));
    coarsestSpacing_ = std::max(coarsestSpacing_, nearest);
  }
}

HrtfSet::~HrtfSet() = default;

void HrtfSet::readHorizontalSet(const std::string &path, int resampledRate) {
  const scenekit::Audio set = scenekit::readWav(path);
  const size_t channels = set.channels.size();
  if (channels < 4 || channels % 2 != 0)
    throw std::runtime_error("head response file " + path + " has " + std::to_string(channels) +
                             " channel(s), not a left and a right ear for each of at least two directions");
  const size_t directions = channels / 2;
  for (size_t k = 0; k < directions; ++k) {
    HrirPair pair{localization::resampledResponse(set.channels[2 * k], set.samplingRate, resampledRate),
                  localization::resampledResponse(set.channels[2 * k + 1], set.samplingRate, resampledRate)};
    filterLength_ = std::max(filterLength_, static_cast<int>(std::max(pair.left.size(), pair.right.size())));
    horizontal_.push_back(std::move(pair));
    measured_.push_back(unitVector(-360.0 * k / directions, 0.0));
  }
}

// Linear between the two measured azimuths around the direction.
HrirPair HrtfSet::horizontalResponses(double azimuthDeg) const {
  const size_t n = horizontal_.size();
  const double counterclockwise = std::fmod(std::fmod(-azimuthDeg, 360.0) + 360.0, 360.0);
  const double position = counterclockwise * n / 360.0;
  const size_t below = static_cast<size_t>(position) % n;
  const size_t above = (below + 1) % n;
  const float share = static_cast<float>(position - std::floor(position));
  auto mix = [share](const std::vector<float> &a, const std::vector<float> &b) {
    std::vector<float> out(std::max(a.size(), b.size()), 0.0f);
    for (size_t i = 0; i < a.size(); ++i) out[i] += (1.0f - share) * a[i];
    for (size_t i = 0; i < b.size(); ++i) out[i] += share * b[i];
    return out;
  };
  return {mix(horizontal_[below].left, horizontal_[above].left), mix(horizontal_[below].right, horizontal_[above].right)};
}

double HrtfSet::distanceToMeasured(double azimuthDeg, double elevationDeg) const {
  std::vector<double> u = unitVector(azimuthDeg, elevationDeg);
  double nearest = 180.0;
  for (const auto &m : measured_) nearest = std::min(nearest, angleBetween(u, m));
  return nearest;
}

HrirPair HrtfSet::responses(double azimuthDeg, double elevationDeg) const {
  if (!sofa_) return horizontalResponses(azimuthDeg);
  localization::HeadFilters f = sofa_->filters(azimuthDeg, elevationDeg);
  auto delayed = [this](std::vector<float> ir, float delaySeconds) {
    long shift = std::lround(delaySeconds * sofa_->samplingRate());
    if (shift > 0) ir.insert(ir.begin(), static_cast<size_t>(shift), 0.0f);
    return ir;
  };
  return {delayed(std::move(f.left), f.delayLeft), delayed(std::move(f.right), f.delayRight)};
}

}  // namespace render
