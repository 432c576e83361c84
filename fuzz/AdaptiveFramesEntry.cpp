// Arbitrary bytes as spectra through the adaptive enhancer and voice activity
// detector, whose noise estimates carry state from frame to frame: every
// enhanced bin must be a finite number whatever came before it.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <iterator>
#include <stdexcept>
#include <vector>

#include "AdaptiveSpeechEnhancer.h"
#include "AdaptiveVoiceActivityDetector.h"
#include "EntryPoints.h"

namespace kolvfuzz {

namespace {

using Complex = std::complex<float>;

// Spectrum widths the first byte picks from: bins a power of two, so that
// harmonic regeneration can run on each.
constexpr int kColumnChoices[] = {257, 129, 33, 9, 5, 3};
constexpr int kRowChoices = 4;           // 1 to 4 rows
constexpr unsigned kSharedBit = 1u << 2;
constexpr unsigned kRegenerationBit = 1u << 3;
constexpr int kMaxFrames = 2048;
constexpr int kSampleRate = 16000;

bool finite(Complex x) { return std::isfinite(x.real()) && std::isfinite(x.imag()); }

}  // namespace

void enhanceFrames(const uint8_t *data, size_t size) {
  if (size < 2) return;
  const unsigned mode = data[0];
  const int rows = 1 + static_cast<int>(mode % kRowChoices);
  const int cols = kColumnChoices[data[1] % std::size(kColumnChoices)];
  data += 2;
  size -= 2;

  enhancement::AdaptiveEnhancerSettings settings;
  settings.sharedGain = (mode & kSharedBit) != 0;
  settings.regenerateHarmonics = (mode & kRegenerationBit) != 0;
  enhancement::AdaptiveSpeechEnhancer enhancer(settings);
  enhancer.start(rows, cols - 1);
  enhancement::AdaptiveVoiceActivityDetector detector{enhancement::AdaptiveDetectorSettings()};
  const enhancement::SpeechBand band = enhancement::SpeechBand::of(kSampleRate, cols);
  const bool detecting = rows >= 2 && band.width() > 0 && band.highBin <= cols - 1;
  if (detecting) detector.start(band);

  const size_t frameBytes = static_cast<size_t>(rows) * cols * sizeof(Complex);
  std::vector<Complex> in(static_cast<size_t>(rows) * cols), out(in.size());
  for (int t = 0; t < kMaxFrames && size > 0; ++t) {
    // The last frame takes what is left, zeros after it.
    const size_t taken = std::min(size, frameBytes);
    std::fill(in.begin(), in.end(), Complex());
    std::memcpy(in.data(), data, taken);
    data += taken;
    size -= taken;
    enhancer.process(in.data(), out.data());
    for (const Complex &x : out)
      if (!finite(x)) throw std::logic_error("the adaptive enhancer gave a value that is not finite");
    if (detecting) detector.decide(in.data(), in.data() + cols);
  }
}

}  // namespace kolvfuzz
