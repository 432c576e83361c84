#include "OnlineWpe.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace KOLV {
namespace separation {

namespace {

// The inverse correlation starts as this times the identity: the weighted
// statistics are dimensionless (each frame counts by x~ x~^H / power), so a
// large start lets the first second of speech set the filter.
constexpr double kInitialInverse = 1e4;
// A frame's weight is capped where its power falls below this share of the
// bin's mean power: near-silent frames would otherwise dominate.
constexpr double kRelativePowerFloor = 1e-3;
// A bin whose inverse correlation grows past this has lost its numbers
// (long stretches with nothing to learn from): it starts again.
constexpr double kLargestInverse = 1e12;

// Complex products written out: the library's operator* checks for infinite
// and NaN parts in every product, which takes most of the time here.
inline std::complex<double> times(std::complex<double> a, std::complex<double> b) {
  return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}
// conj(a) b
inline std::complex<double> conjTimes(std::complex<double> a, std::complex<double> b) {
  return {a.real() * b.real() + a.imag() * b.imag(), a.real() * b.imag() - a.imag() * b.real()};
}

}  // namespace

OnlineWpe::OnlineWpe(const OnlineWpeSettings &settings)
    : settings_(settings), length_(settings.delay + settings.taps - 1) {
  if (settings.bins < 1 || settings.delay < 1 || settings.taps < 1 || !(settings.forgetting > 0.0) ||
      !(settings.forgetting <= 1.0))
    throw std::invalid_argument("OnlineWpe: bins, delay and taps must be positive, the forgetting in (0, 1]");
  const size_t bins = static_cast<size_t>(settings.bins), n = static_cast<size_t>(order());
  past_.assign(bins * static_cast<size_t>(length_) * 2, {});
  inverse_.assign(bins * n * n, {});
  filter_.assign(bins * n * 2, {});
  meanPower_.assign(bins, 0.0);
  stacked_.assign(n, {});
  tapSlots_.assign(static_cast<size_t>(settings.taps), 0);
  gain_.assign(n, {});
  for (int k = 0; k < settings.bins; ++k) resetBin(k);
}

void OnlineWpe::resetBin(int k) {
  const size_t n = static_cast<size_t>(order());
  cdouble *p = inverse_.data() + static_cast<size_t>(k) * n * n;
  std::fill(p, p + n * n, cdouble());
  for (size_t i = 0; i < n; ++i) p[i * n + i] = kInitialInverse;
  std::fill(filter_.begin() + static_cast<std::ptrdiff_t>(k * n * 2),
            filter_.begin() + static_cast<std::ptrdiff_t>((k + 1) * n * 2), cdouble());
}

// Frame t - j (j >= 1) sits in slot newest_ - (j - 1) of the ring; the
// same slots for every bin of a frame.
void OnlineWpe::findTapSlots() {
  for (int i = 0; i < settings_.taps; ++i) {
    const int back = settings_.delay + i - 1;
    tapSlots_[static_cast<size_t>(i)] = ((newest_ - back) % length_ + length_) % length_;
  }
}

void OnlineWpe::gatherPast(int k) {
  const std::complex<float> *ring = past_.data() + static_cast<size_t>(k) * length_ * 2;
  for (int i = 0; i < settings_.taps; ++i) {
    const int slot = tapSlots_[static_cast<size_t>(i)];
    stacked_[2 * i] = cdouble(ring[2 * slot]);
    stacked_[2 * i + 1] = cdouble(ring[2 * slot + 1]);
  }
}

void OnlineWpe::processBin(int k, std::complex<float> &x0, std::complex<float> &x1) {
  const int n = order();
  const double alpha = settings_.forgetting;
  cdouble *p = inverse_.data() + static_cast<size_t>(k) * n * n;
  cdouble *g = filter_.data() + static_cast<size_t>(k) * n * 2;
  gatherPast(k);

  const cdouble in0(x0), in1(x1);
  cdouble e0 = in0, e1 = in1;
  double pastEnergy = 0.0;
  for (int l = 0; l < n; ++l) {
    e0 -= conjTimes(g[2 * l], stacked_[l]);
    e1 -= conjTimes(g[2 * l + 1], stacked_[l]);
    pastEnergy += std::norm(stacked_[l]);
  }

  const double power = 0.5 * (std::norm(in0) + std::norm(in1));
  meanPower_[k] = alpha * meanPower_[k] + (1.0 - alpha) * power;
  if (pastEnergy > 0.0) {
    const double weight =
        std::max({power, kRelativePowerFloor * meanPower_[k], std::numeric_limits<double>::min()});
    double quadratic = 0.0;
    for (int a = 0; a < n; ++a) {
      cdouble sum = 0.0;
      for (int b = 0; b < n; ++b) sum += times(p[a * n + b], stacked_[b]);
      gain_[a] = sum;
      quadratic += conjTimes(stacked_[a], sum).real();
    }
    const double denominator = alpha * weight + quadratic;
    if (denominator > 0.0) {
      // k = P x~ / d; G += k e^H; P = (P - k (P x~)^H) / alpha.
      const double shrink = 1.0 / alpha;
      for (int a = 0; a < n; ++a) {
        const cdouble kA = gain_[a] / denominator;
        g[2 * a] += conjTimes(e0, kA);
        g[2 * a + 1] += conjTimes(e1, kA);
        for (int b = 0; b < n; ++b) p[a * n + b] = (p[a * n + b] - conjTimes(gain_[b], kA)) * shrink;
      }
    }
  }

  if (!std::isfinite(e0.real()) || !std::isfinite(e0.imag()) || !std::isfinite(e1.real()) ||
      !std::isfinite(e1.imag()) || !(std::abs(p[0]) < kLargestInverse)) {
    resetBin(k);
    return;
  }
  x0 = std::complex<float>(e0);
  x1 = std::complex<float>(e1);
}

void OnlineWpe::process(const std::complex<float> *mic0, const std::complex<float> *mic1,
                        std::complex<float> *out0, std::complex<float> *out1) {
  const int slot = (newest_ + 1) % length_;
  findTapSlots();
  for (int k = 0; k < settings_.bins; ++k) {
    out0[k] = mic0[k];
    out1[k] = mic1[k];
    processBin(k, out0[k], out1[k]);
    std::complex<float> *ring = past_.data() + (static_cast<size_t>(k) * length_ + slot) * 2;
    ring[0] = mic0[k];
    ring[1] = mic1[k];
  }
  newest_ = slot;
}

void OnlineWpe::skip() {
  const int slot = (newest_ + 1) % length_;
  for (int k = 0; k < settings_.bins; ++k) {
    std::complex<float> *ring = past_.data() + (static_cast<size_t>(k) * length_ + slot) * 2;
    ring[0] = ring[1] = {};
  }
  newest_ = slot;
}

}  // namespace separation
}  // namespace KOLV
