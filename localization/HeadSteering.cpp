#include "HeadSteering.h"

#include <algorithm>
#include <cmath>

#include "SteeringTables.h"

namespace localization {

namespace {

// Bins firstBin .. endBin-1 of the (cols-1)*2-point transform of an impulse
// response delayed by `delay` seconds (a fractional delay, applied as a
// phase), each taken at `scale` times its frequency; the other bins 0.
// Goertzel's recursion, s[n] = x[n] + 2 cos(w) s[n-1] - s[n-2], takes a
// third of the operations of turning a phasor per sample, and its rounding
// (growing as n / sin w in double precision) stays far below the float
// steering's for responses a few hundred samples long; the bins advance side
// by side, so that the loop vectorizes.
std::vector<std::complex<double>> transform(const std::vector<float> &impulse, double delay, int samplingRate,
                                            int cols, double scale, int firstBin, int endBin) {
  std::vector<std::complex<double>> H(static_cast<size_t>(cols));
  if (endBin <= firstBin || impulse.empty()) return H;
  const double points = 2.0 * (cols - 1) / scale;
  const size_t bins = static_cast<size_t>(endBin - firstBin);
  std::vector<double> coefficient(bins), last(bins, 0.0), beforeLast(bins, 0.0);
  for (size_t b = 0; b < bins; ++b) coefficient[b] = 2.0 * std::cos(2.0 * kPi * (firstBin + static_cast<int>(b)) / points);
  for (float sample : impulse) {
    const double x = sample;
    for (size_t b = 0; b < bins; ++b) {
      const double next = x + coefficient[b] * last[b] - beforeLast[b];
      beforeLast[b] = last[b];
      last[b] = next;
    }
  }
  const double lastSample = static_cast<double>(impulse.size() - 1);
  for (size_t b = 0; b < bins; ++b) {
    const int j = firstBin + static_cast<int>(b);
    const double w = 2.0 * kPi * j / points;
    // sum x[n] e^{-iwn} = e^{-iw(N-1)} (s[N-1] - e^{-iw} s[N-2])
    const std::complex<double> sum = std::polar(1.0, -w * lastSample) * (last[b] - std::polar(1.0, -w) * beforeLast[b]);
    H[static_cast<size_t>(j)] = sum * std::polar(1.0, -2.0 * kPi * j * delay * samplingRate / points);
  }
  return H;
}

}  // namespace

const HeadFilters &MeasuredHead::horizontalFilters(double azimuthDegrees) const {
  auto known = filtersByAzimuth_.find(azimuthDegrees);
  if (known == filtersByAzimuth_.end())
    known = filtersByAzimuth_.emplace(azimuthDegrees, set_.filters(azimuthDegrees, 0.0)).first;
  return known->second;
}

EarResponses MeasuredHead::responses(double azimuthDegrees, int cols, double scale, int firstBin, int endBin) const {
  const HeadFilters &ir = horizontalFilters(azimuthDegrees);
  const int first = std::max(0, firstBin), end = endBin < 0 ? cols : std::min(cols, endBin);
  return {transform(ir.left, ir.delayLeft, set_.samplingRate(), cols, scale, first, end),
          transform(ir.right, ir.delayRight, set_.samplingRate(), cols, scale, first, end)};
}

double MeasuredHead::interauralDelay(double azimuthDegrees) const {
  const HeadFilters &ir = horizontalFilters(azimuthDegrees);
  const int n = set_.filterLength();
  auto correlation = [&](int lag) {  // sum left[t] right[t - lag]
    double sum = 0.0;
    for (int t = 0; t < n; ++t)
      if (t - lag >= 0 && t - lag < n) sum += double(ir.left[t]) * ir.right[t - lag];
    return sum;
  };
  int best = 0;
  for (int lag = -n + 1; lag < n; ++lag)
    if (correlation(lag) > correlation(best)) best = lag;
  const double before = correlation(best - 1), at = correlation(best), after = correlation(best + 1);
  const double curvature = before - 2.0 * at + after;
  const double offset = curvature < 0.0 ? 0.5 * (before - after) / curvature : 0.0;
  // The left ear lags by `lag` samples when channel 1 leads.
  return (best + offset) / set_.samplingRate() + (ir.delayLeft - ir.delayRight);
}

void InterauralSteering::allocate(int lowBin, int highBin) {
  lowBin_ = lowBin;
  highBin_ = highBin < lowBin ? lowBin : highBin;
  const size_t size = static_cast<size_t>(highBin_ - lowBin_) * kPaddedDirections;
  real_.assign(size, 0.0f);
  imag_.assign(size, 0.0f);
  level_.assign(size, 0.0f);
}

std::vector<EarResponses> steeredResponses(const MeasuredHead &head, int cols, int lowBin, int highBin, double scale) {
  std::vector<EarResponses> responses;
  responses.reserve(kDirections);
  for (int n = 0; n < kDirections; ++n)
    responses.push_back(head.responses(azimuthOfDirection(n), cols, scale, lowBin, highBin));
  return responses;
}

InterauralSteering::InterauralSteering(const MeasuredHead &head, Cues cues, int cols, int lowBin, int highBin,
                                       double scale)
    : InterauralSteering(steeredResponses(head, cols, lowBin, highBin, scale), cues, lowBin, highBin) {}

InterauralSteering::InterauralSteering(const std::vector<EarResponses> &responses, Cues cues, int lowBin, int highBin)
    : usesLevel_(cues == Cues::PhaseAndLevel) {
  allocate(lowBin, highBin);
  for (int n = 0; n < kDirections; ++n) {
    const EarResponses &h = responses[static_cast<size_t>(n)];
    for (int j = lowBin_; j < highBin_; ++j) {
      const std::complex<double> l = h.left[static_cast<size_t>(j)], r = h.right[static_cast<size_t>(j)];
      const double power = std::norm(l) + std::norm(r);
      const std::complex<double> cross = l * std::conj(r);
      if (power == 0.0) continue;
      std::complex<double> s = 2.0 * cross / power;
      double d = (std::norm(l) - std::norm(r)) / power;
      if (!usesLevel_) {
        s = std::abs(cross) > 0.0 ? cross / std::abs(cross) : 1.0;
        d = 0.0;
      }
      real_[rowOffset(j) + n] = static_cast<float>(s.real());
      imag_[rowOffset(j) + n] = static_cast<float>(s.imag());
      level_[rowOffset(j) + n] = static_cast<float>(d);
    }
  }
}

InterauralSteering::InterauralSteering(float headDiameter, int samplingRate, int cols, int lowBin, int highBin) {
  allocate(lowBin, highBin);
  for (int n = 0; n < kDirections; ++n) {
    const double tau = localization::interauralDelay(DelayModel::SphericalHead, headDiameter, n);
    for (int j = lowBin_; j < highBin_; ++j) {
      // Channel 1 leads by tau: L conj(R) turns by -omega tau.
      const double phase = -tau * binAngularFrequency(j, samplingRate, cols);
      real_[rowOffset(j) + n] = static_cast<float>(std::cos(phase));
      imag_[rowOffset(j) + n] = static_cast<float>(std::sin(phase));
    }
  }
}

}  // namespace localization
