#include "DiffuseNoise.h"

#include <cmath>

#include "Convolution.h"

namespace render {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRingElevations[] = {-30.0, 0.0, 30.0, 60.0};  // degrees, within the measured set
constexpr int kHorizontalDirections = 36;                        // one every 10 degrees

}  // namespace

std::vector<Direction> diffuseDirections() {
  std::vector<Direction> directions;
  for (double elevation : kRingElevations) {
    int count = static_cast<int>(std::lround(kHorizontalDirections * std::cos(elevation * kPi / 180.0)));
    for (int i = 0; i < count; ++i) directions.push_back({-180.0 + 360.0 * i / count, elevation});
  }
  return directions;
}

double GaussianNoise::uniform() {
  constexpr double kTwoToMinus53 = 1.0 / 9007199254740992.0;
  return static_cast<double>(engine_() >> 11) * kTwoToMinus53;
}

double GaussianNoise::next() {
  if (haveSpare_) {
    haveSpare_ = false;
    return spare_;
  }
  double radius = std::sqrt(-2.0 * std::log(1.0 - uniform()));  // 1 - u lies in (0, 1]
  double angle = 2.0 * kPi * uniform();
  spare_ = radius * std::sin(angle);
  haveSpare_ = true;
  return radius * std::cos(angle);
}

std::vector<std::vector<double>> renderDiffuseNoise(const HrtfSet &hrtf, size_t length, uint64_t seed) {
  // The noise starts before the scene by one response length, so the first
  // samples are as steady as the rest.
  const size_t runIn = static_cast<size_t>(hrtf.filterLength());
  std::vector<std::vector<double>> ears(2, std::vector<double>(runIn + length, 0.0));
  const std::vector<Direction> directions = diffuseDirections();
  const double perDirection = 1.0 / std::sqrt(static_cast<double>(directions.size()));
  GaussianNoise noise(seed);
  std::vector<double> excitation(runIn + length);
  for (const Direction &d : directions) {
    for (double &x : excitation) x = perDirection * noise.next();
    HrirPair h = hrtf.responses(d.azimuth, d.elevation);
    addConvolved(excitation, h.left, ears[0], 0);
    addConvolved(excitation, h.right, ears[1], 0);
  }
  for (auto &ear : ears) ear.erase(ear.begin(), ear.begin() + static_cast<std::ptrdiff_t>(runIn));
  return ears;
}

}  // namespace render
