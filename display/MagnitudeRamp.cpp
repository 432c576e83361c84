#include "MagnitudeRamp.h"

#include <algorithm>
#include <cmath>

namespace kolvdisplay {

namespace {

constexpr uint64_t kChannelFull = 65535;
// Magnitude values are capped here, far above white, so that a wild input
// cannot overflow the conversion from float.
constexpr float kMagnitudeCap = 1e18f;

uint64_t truncToMagnitude(float value) {
  if (!(value > 0.0f)) return 0;  // also NaN
  if (value >= kMagnitudeCap) return static_cast<uint64_t>(kMagnitudeCap);
  return static_cast<uint64_t>(value);
}

uint16_t rampChannel(uint64_t magnitude, uint64_t start) {
  if (magnitude <= start) return 0;
  return static_cast<uint16_t>(std::min(magnitude - start, kChannelFull));
}

}  // namespace

int binGroupSize(int cols) {
  return static_cast<int>(
      static_cast<double>(static_cast<float>(cols - 1) * (1.0f / kSpectrogramRows)) + 0.5);
}

int binGroupCount(int cols, int groupSize) { return (cols - 1 + groupSize - 1) / groupSize; }

uint64_t groupMagnitude(const std::complex<float> *row, int cols, int first, int groupSize) {
  uint64_t value = 0;
  const int end = std::min(first + groupSize, cols);
  for (int j = first; j < end; ++j) {
    float re = row[j].real(), im = row[j].imag();
    float magnitude = std::sqrt(re * re + im * im);
    value = truncToMagnitude(static_cast<float>(value) + magnitude / static_cast<float>(groupSize));
  }
  return value;
}

RampColour rampColour(uint64_t magnitude) {
  return {rampChannel(magnitude, 0), rampChannel(magnitude, kChannelFull),
          rampChannel(magnitude, 2 * kChannelFull)};
}

void groupColours(const std::complex<float> *row, int cols, std::vector<RampColour> &colours) {
  const int g = binGroupSize(cols);
  colours.clear();
  for (int k = 0; k < cols - 1; k += g) colours.push_back(rampColour(groupMagnitude(row, cols, k, g)));
}

}  // namespace kolvdisplay
