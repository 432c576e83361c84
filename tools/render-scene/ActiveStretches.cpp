#include "ActiveStretches.h"

#include <algorithm>
#include <cmath>

namespace render {

namespace {

std::vector<double> framePowers(const std::vector<double> &signal, size_t frameLength) {
  std::vector<double> powers;
  for (size_t begin = 0; begin < signal.size(); begin += frameLength) {
    size_t end = std::min(signal.size(), begin + frameLength);
    double sum = 0.0;
    for (size_t n = begin; n < end; ++n) sum += signal[n] * signal[n];
    powers.push_back(sum / static_cast<double>(end - begin));
  }
  return powers;
}

// Frames of digital silence (padding between sentences) are no background.
double backgroundPower(const std::vector<double> &allPowers) {
  std::vector<double> powers;
  for (double p : allPowers)
    if (p > 0.0) powers.push_back(p);
  size_t index = static_cast<size_t>(kBackgroundPercentile * static_cast<double>(powers.size() - 1));
  std::nth_element(powers.begin(), powers.begin() + static_cast<std::ptrdiff_t>(index), powers.end());
  return powers[index];
}

std::vector<scenekit::Stretch> bridged(const std::vector<scenekit::Stretch> &stretches) {
  std::vector<scenekit::Stretch> out;
  for (const auto &s : stretches) {
    if (!out.empty() && s.start - out.back().end < kActivityBridgeSeconds)
      out.back().end = s.end;
    else
      out.push_back(s);
  }
  return out;
}

}  // namespace

std::vector<scenekit::Stretch> findActiveStretches(const std::vector<double> &signal, int samplingRate) {
  const size_t frameLength = static_cast<size_t>(std::lround(kActivityFrameSeconds * samplingRate));
  const std::vector<double> powers = framePowers(signal, frameLength);
  const double loudest = powers.empty() ? 0.0 : *std::max_element(powers.begin(), powers.end());
  if (loudest <= 0.0) return {};
  const double aboveBackground = std::min(backgroundPower(powers) * std::pow(10.0, kActivityAboveBackgroundDb / 10.0),
                                         loudest * std::pow(10.0, -kActivityBackgroundCapDb / 10.0));
  const double threshold = std::max(loudest * std::pow(10.0, -kActivityThresholdDb / 10.0), aboveBackground);
  const double seconds = static_cast<double>(signal.size()) / samplingRate;

  std::vector<scenekit::Stretch> raw;
  for (size_t f = 0; f < powers.size(); ++f) {
    if (powers[f] < threshold) continue;
    double start = static_cast<double>(f * frameLength) / samplingRate;
    double end = std::min(seconds, static_cast<double>((f + 1) * frameLength) / samplingRate);
    if (!raw.empty() && raw.back().end == start)
      raw.back().end = end;
    else
      raw.push_back({start, end});
  }
  std::vector<scenekit::Stretch> out;
  for (const auto &s : bridged(raw))
    if (s.end - s.start >= kActivityShortestSeconds) out.push_back(s);
  return out;
}

}  // namespace render
