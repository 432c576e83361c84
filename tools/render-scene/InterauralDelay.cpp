#include "InterauralDelay.h"

#include <cmath>
#include <complex>

namespace render {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kMaxDelay = 1.5e-3;    // s, beyond any human-sized head
constexpr double kDelayStep = 1e-6;     // s
constexpr double kFrequencyStep = 15.625;  // Hz, spacing of the cross-spectrum

std::complex<double> responseAt(const std::vector<float> &ir, double frequency, int samplingRate) {
  std::complex<double> sum = 0.0;
  for (size_t n = 0; n < ir.size(); ++n)
    sum += static_cast<double>(ir[n]) * std::polar(1.0, -2.0 * kPi * frequency * n / samplingRate);
  return sum;
}

}  // namespace

double interauralDelay(const HrirPair &responses, int samplingRate, Band band) {
  std::vector<double> frequencies;
  std::vector<std::complex<double>> cross;
  for (double f = band.low; f <= band.high && f <= samplingRate / 2.0; f += kFrequencyStep) {
    frequencies.push_back(f);
    cross.push_back(responseAt(responses.left, f, samplingRate) *
                    std::conj(responseAt(responses.right, f, samplingRate)));
  }
  double best = 0.0, bestValue = -HUGE_VAL;
  const int steps = static_cast<int>(std::lround(kMaxDelay / kDelayStep));
  for (int i = -steps; i <= steps; ++i) {
    double tau = i * kDelayStep, value = 0.0;
    for (size_t k = 0; k < frequencies.size(); ++k)
      value += std::real(cross[k] * std::polar(1.0, 2.0 * kPi * frequencies[k] * tau));
    if (value > bestValue) {
      bestValue = value;
      best = tau;
    }
  }
  return best;
}

HeadFit fitHeadModels(const std::vector<double> &azimuthsDeg, const std::vector<double> &delays) {
  double sphereNum = 0.0, sphereDen = 0.0, freeNum = 0.0, freeDen = 0.0;
  for (size_t i = 0; i < azimuthsDeg.size(); ++i) {
    double theta = azimuthsDeg[i] * kPi / 180.0;
    double sphere = (theta + std::sin(theta)) / kSpeedOfSound;
    double free = std::sin(theta) / kSpeedOfSound;
    sphereNum += sphere * delays[i];
    sphereDen += sphere * sphere;
    freeNum += free * delays[i];
    freeDen += free * free;
  }
  return {sphereNum / sphereDen, freeNum / freeDen};
}

}  // namespace render
