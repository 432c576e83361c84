#include "MovingSource.h"

#include <cmath>
#include <map>

#include "Convolution.h"

namespace render {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Sine-squared over two hops: shifted by one hop, neighbours sum to one.
std::vector<double> crossfadeWindow(size_t hop) {
  std::vector<double> w(2 * hop);
  for (size_t m = 0; m < w.size(); ++m) {
    const double s = std::sin(kPi * (static_cast<double>(m) + 0.5) / static_cast<double>(2 * hop));
    w[m] = s * s;
  }
  return w;
}

// The responses' spectra per rounded azimuth, computed when first asked.
class SpectraCache {
 public:
  SpectraCache(const ResponsesAt &responsesAt, const RealFft &fft, size_t maxLength)
      : responsesAt_(responsesAt), fft_(fft), maxLength_(maxLength) {}

  const std::vector<Spectrum> &at(double azimuthDeg) {
    const long key = std::lround(azimuthDeg / kAzimuthStepDeg);
    auto found = cache_.find(key);
    if (found != cache_.end()) return found->second;
    std::vector<Spectrum> spectra;
    for (const auto &ear : responsesAt_(static_cast<double>(key) * kAzimuthStepDeg))
      spectra.push_back(fft_.forward(ear.data(), std::min(ear.size(), maxLength_)));
    return cache_.emplace(key, std::move(spectra)).first->second;
  }

 private:
  const ResponsesAt &responsesAt_;
  const RealFft &fft_;
  size_t maxLength_;
  std::map<long, std::vector<Spectrum>> cache_;
};

}  // namespace

double azimuthAlong(const std::vector<PathPoint> &path, double time) {
  if (time <= path.front().time) return path.front().azimuth;
  for (size_t i = 1; i < path.size(); ++i)
    if (time < path[i].time) {
      const PathPoint &a = path[i - 1], &b = path[i];
      return a.azimuth + (b.azimuth - a.azimuth) * (time - a.time) / (b.time - a.time);
    }
  return path.back().azimuth;
}

void addMoving(const std::vector<double> &signal, size_t offset, int samplingRate,
               const std::vector<PathPoint> &path, const ResponsesAt &responsesAt, Channels &out) {
  if (signal.empty()) return;
  const size_t hop = static_cast<size_t>(std::lround(kBlockSeconds * samplingRate));
  const std::vector<double> window = crossfadeWindow(hop);
  const size_t responseLength = responsesAt(azimuthAlong(path, static_cast<double>(offset) / samplingRate))[0].size();
  const RealFft fft(fftSizeFor(window.size() + responseLength - 1));
  SpectraCache spectra(responsesAt, fft, fft.size() - window.size() + 1);

  std::vector<double> block(window.size());
  const size_t blocks = (signal.size() - 1) / hop + 2;
  for (size_t k = 0; k < blocks; ++k) {
    // Block k covers signal samples k * hop - hop up to k * hop + hop.
    bool silent = true;
    for (size_t m = 0; m < window.size(); ++m) {
      const size_t n = k * hop + m;  // signal sample n - hop
      block[m] = n >= hop && n - hop < signal.size() ? signal[n - hop] * window[m] : 0.0;
      silent = silent && block[m] == 0.0;
    }
    if (silent) continue;
    const double time = static_cast<double>(offset + k * hop) / samplingRate;
    const std::vector<Spectrum> &h = spectra.at(azimuthAlong(path, time));
    const Spectrum x = fft.forward(block);
    for (size_t c = 0; c < out.size(); ++c) {
      Spectrum product(x.size());
      for (size_t b = 0; b < x.size(); ++b) product[b] = x[b] * h[c][b];
      const std::vector<double> y = fft.inverse(product);
      for (size_t m = 0; m < y.size(); ++m) {
        const size_t index = offset + k * hop + m;  // output sample index - hop
        if (index >= hop && index - hop < out[c].size()) out[c][index - hop] += y[m];
      }
    }
  }
}

}  // namespace render
