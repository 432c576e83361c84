#include "RoomResponses.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "Convolution.h"
#include "DiffuseNoise.h"
#include "InterauralDelay.h"

namespace render {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Fractional delays by a Hann-windowed sinc of this many taps on each side:
// at 16 kHz it keeps the images' timing to a fraction of a microsecond and
// passes the band up to about 7 kHz flat.
constexpr int kSincHalfWidth = 8;
// The tail's level is set from the images' energy over this stretch before the join.
constexpr double kMatchWindow = 0.02;  // s
// Schroeder's curve is fitted between these levels (T30).
constexpr double kFitStartDb = -5.0;
constexpr double kFitEndDb = -35.0;

// out[delay + k] += gain * h[k], with `delay` in samples, fractional.
void addDelayed(const std::vector<float> &h, double delay, double gain, std::vector<double> &out) {
  const long whole = static_cast<long>(std::floor(delay));
  const double fraction = delay - static_cast<double>(whole);
  double taps[2 * kSincHalfWidth];
  for (int j = -kSincHalfWidth + 1; j <= kSincHalfWidth; ++j) {
    const double t = j - fraction;
    const double sinc = t == 0.0 ? 1.0 : std::sin(kPi * t) / (kPi * t);
    taps[j + kSincHalfWidth - 1] = gain * sinc * 0.5 * (1.0 + std::cos(kPi * t / kSincHalfWidth));
  }
  const long last = whole + kSincHalfWidth + static_cast<long>(h.size());
  if (last >= static_cast<long>(out.size())) out.resize(static_cast<size_t>(last) + 1, 0.0);
  for (int j = -kSincHalfWidth + 1; j <= kSincHalfWidth; ++j) {
    const double tap = taps[j + kSincHalfWidth - 1];
    const long first = whole + j;
    for (size_t k = 0; k < h.size(); ++k)
      if (first + static_cast<long>(k) >= 0) out[static_cast<size_t>(first + static_cast<long>(k))] += tap * h[k];
  }
}

double peakPosition(const std::vector<float> &h) {
  size_t peak = 0;
  for (size_t n = 1; n < h.size(); ++n)
    if (std::fabs(h[n]) > std::fabs(h[peak])) peak = n;
  if (peak == 0 || peak + 1 >= h.size()) return static_cast<double>(peak);
  const double a = std::fabs(h[peak - 1]), b = std::fabs(h[peak]), c = std::fabs(h[peak + 1]);
  return static_cast<double>(peak) + 0.5 * (a - c) / (a - 2.0 * b + c);
}

double energyOf(const std::vector<float> &h) {
  double sum = 0.0;
  for (float x : h) sum += static_cast<double>(x) * x;
  return sum;
}

}  // namespace

double measuredArrival(const HrtfSet &hrtf) {
  const HrirPair front = hrtf.responses(0.0, 0.0);
  return 0.5 * (peakPosition(front.left) + peakPosition(front.right));
}

RoomResponses::RoomResponses(const HrtfSet &hrtf, const Room &room, double rt60)
    : hrtf_(hrtf), room_(room), rt60_(rt60), arrival_(measuredArrival(hrtf)) {
  const std::vector<Direction> directions = diffuseDirections();
  for (const Direction &d : directions) {
    const HrirPair h = hrtf_.responses(d.azimuth, d.elevation);
    diffuseEnergy_ += energyOf(h.left) + energyOf(h.right);
  }
  diffuseEnergy_ /= static_cast<double>(directions.size());
}

double RoomResponses::joinAfterDirect() const { return std::min(kLatestJoin, kJoinDecayDb / 60.0 * rt60_); }

size_t RoomResponses::joinSample(double distance) const {
  return static_cast<size_t>(std::lround((distance / kSpeedOfSound + joinAfterDirect()) * hrtf_.samplingRate()));
}

size_t RoomResponses::length(double distance) const {
  const double tail = kTailDecayDb / 60.0 * rt60_ * hrtf_.samplingRate();
  return joinSample(distance) + static_cast<size_t>(std::ceil(tail)) + static_cast<size_t>(hrtf_.filterLength());
}

Channels RoomResponses::images(double azimuthDeg, double elevationDeg, double distance, double window) const {
  const int rate = hrtf_.samplingRate();
  const Point source = sourcePosition(room_, azimuthDeg, elevationDeg, distance);
  Channels out(2);
  // A hair beyond the window, so the direct path is never lost to rounding.
  const double reach = distance + window * kSpeedOfSound + 1e-9;
  for (const ImageSource &image : imageSources(room_, source, reach)) {
    const HrirPair h = hrtf_.responses(image.azimuth, image.elevation);
    const double delay = image.distance / kSpeedOfSound * rate - arrival_;
    const double gain = image.gain * distance / image.distance;
    addDelayed(h.left, delay, gain, out[0]);
    addDelayed(h.right, delay, gain, out[1]);
  }
  const size_t longer = std::max(out[0].size(), out[1].size());
  for (auto &ear : out) ear.resize(longer, 0.0);
  return out;
}

Channels RoomResponses::tail(const Channels &toJoin, double distance, uint64_t seed) const {
  const int rate = hrtf_.samplingRate();
  const size_t join = joinSample(distance), total = length(distance);
  const double decay = rt60_ * rate / (3.0 * std::log(10.0));  // samples for the amplitude to fall by e

  // Match the tail's expected power to the images' just before the join.
  const size_t window = static_cast<size_t>(std::lround(kMatchWindow * rate));
  double power = 0.0, envelope = 0.0;
  for (size_t n = join - window; n < join; ++n) {
    for (const auto &ear : toJoin)
      if (n < ear.size()) power += ear[n] * ear[n];
    envelope += std::exp(-2.0 * (static_cast<double>(n) - static_cast<double>(join)) / decay);
  }
  const std::vector<Direction> directions = diffuseDirections();
  const double perDirection =
      std::sqrt(power / (diffuseEnergy_ * envelope)) / std::sqrt(static_cast<double>(directions.size()));

  // The excitation starts early by the responses' own lead, so the tail arrives at the join.
  const size_t start = join - static_cast<size_t>(std::lround(arrival_));
  RealFft fft(fftSizeFor(total + static_cast<size_t>(hrtf_.filterLength())));
  Spectrum left(fft.size() / 2 + 1), right(fft.size() / 2 + 1);
  GaussianNoise noise(seed);
  std::vector<double> excitation(total, 0.0);
  for (const Direction &d : directions) {
    for (size_t n = start; n < total; ++n)
      excitation[n] = perDirection * noise.next() * std::exp(-static_cast<double>(n - start) / decay);
    const HrirPair h = hrtf_.responses(d.azimuth, d.elevation);
    const Spectrum x = fft.forward(excitation);
    const Spectrum hl = fft.forward(std::vector<double>(h.left.begin(), h.left.end()));
    const Spectrum hr = fft.forward(std::vector<double>(h.right.begin(), h.right.end()));
    for (size_t k = 0; k < x.size(); ++k) {
      left[k] += x[k] * hl[k];
      right[k] += x[k] * hr[k];
    }
  }
  Channels out = {fft.inverse(left), fft.inverse(right)};
  for (auto &ear : out) ear.resize(total);
  return out;
}

Channels RoomResponses::toJoin(double azimuthDeg, double elevationDeg, double distance) const {
  return images(azimuthDeg, elevationDeg, distance, joinAfterDirect());
}

Channels RoomResponses::whole(double azimuthDeg, double elevationDeg, double distance, uint64_t seed) const {
  const Channels early = toJoin(azimuthDeg, elevationDeg, distance);
  return sumOfResponses(early, tail(early, distance, seed));
}

Channels RoomResponses::tailWithin(const Channels &tail, double distance, double window) const {
  const size_t end = static_cast<size_t>(std::lround((distance / kSpeedOfSound + window) * hrtf_.samplingRate()));
  Channels part = tail;
  for (auto &ear : part) ear.resize(std::min(ear.size(), end));
  return part;
}

Channels sumOfResponses(const Channels &a, const Channels &b) {
  Channels sum(2);
  for (size_t c = 0; c < 2; ++c) {
    sum[c].assign(std::max(a[c].size(), b[c].size()), 0.0);
    for (size_t n = 0; n < a[c].size(); ++n) sum[c][n] += a[c][n];
    for (size_t n = 0; n < b[c].size(); ++n) sum[c][n] += b[c][n];
  }
  return sum;
}

double schroederRt60(const Channels &response, int samplingRate) {
  const size_t length = response.at(0).size();
  std::vector<double> remaining(length + 1, 0.0);
  for (size_t n = length; n-- > 0;) {
    double energy = 0.0;
    for (const auto &ear : response) energy += ear[n] * ear[n];
    remaining[n] = remaining[n + 1] + energy;
  }
  if (!(remaining[0] > 0.0)) throw std::runtime_error("a silent response has no reverberation time");
  double sn = 0.0, sy = 0.0, snn = 0.0, sny = 0.0, count = 0.0;
  for (size_t n = 0; n < length; ++n) {
    const double db = 10.0 * std::log10(remaining[n] / remaining[0]);
    if (db > kFitStartDb) continue;
    if (db < kFitEndDb) break;
    const double t = static_cast<double>(n);
    sn += t;
    sy += db;
    snn += t * t;
    sny += t * db;
    count += 1.0;
  }
  const double slope = (count * sny - sn * sy) / (count * snn - sn * sn);  // dB per sample
  if (count < 2.0 || !(slope < 0.0))
    throw std::runtime_error("the response does not decay by 35 dB: no reverberation time can be measured");
  return -60.0 / slope / samplingRate;
}

double directToReverberantDb(const Channels &whole, const Channels &direct) {
  double directEnergy = 0.0, rest = 0.0;
  for (size_t c = 0; c < whole.size(); ++c)
    for (size_t n = 0; n < whole[c].size(); ++n) {
      const double d = n < direct[c].size() ? direct[c][n] : 0.0;
      directEnergy += d * d;
      rest += (whole[c][n] - d) * (whole[c][n] - d);
    }
  return 10.0 * std::log10(directEnergy / rest);
}

}  // namespace render
