// Test signals for the enhancement nodes: a noisy two-channel recording
// (noise-only lead-in, then a voiced harmonic tone in the same noise) cut
// into Hann-windowed spectra as an STFT node delivers them.
#ifndef KOLV_TEST_ENHANCEMENT_SIGNALS_H
#define KOLV_TEST_ENHANCEMENT_SIGNALS_H

#include <cmath>
#include <random>
#include <vector>

#include "RealTransform.h"
#include "TestNetwork.h"

namespace enhancementtest {

constexpr int kRate = 16000;
constexpr int kLength = 512;
constexpr int kAdvance = 160;
constexpr int kCols = kLength / 2 + 1;
constexpr double kToneHz = 200.0;  // fundamental of the test tone; five harmonics

struct NoisyRecording {
  std::vector<std::vector<float>> channels;  // samples on the 16-bit scale
  int speechStartFrame = 0;                  // first frame whose window reaches the tone
};

// Gaussian noise of `noiseRms` on both channels (independent), and from
// `leadInSeconds` on a 200 Hz tone with five harmonics added to both.
inline NoisyRecording noisyTone(double seconds, double leadInSeconds, float noiseRms,
                                float toneAmplitude, unsigned seed = 7) {
  const double pi = 3.141592653589793;
  const int samples = static_cast<int>(seconds * kRate);
  const int leadIn = static_cast<int>(leadInSeconds * kRate);
  std::mt19937 gen(seed);
  std::normal_distribution<float> noise(0.0f, noiseRms);
  NoisyRecording rec;
  rec.channels.assign(2, std::vector<float>(samples));
  for (int n = 0; n < samples; ++n) {
    double tone = 0.0;
    if (n >= leadIn)
      for (int h = 1; h <= 5; ++h)
        tone += toneAmplitude / h * std::sin(2 * pi * kToneHz * h * n / kRate);
    for (auto &channel : rec.channels) channel[n] = static_cast<float>(tone) + noise(gen);
  }
  rec.speechStartFrame = (leadIn - kLength) / kAdvance + 1;
  return rec;
}

// Hann-windowed spectra, frame t covering samples t*ADVANCE .. + LENGTH - 1.
inline std::vector<KOLV::ObjectRef> spectra(const std::vector<std::vector<float>> &channels) {
  const double pi = 3.141592653589793;
  const int rows = static_cast<int>(channels.size());
  const int samples = static_cast<int>(channels[0].size());
  std::vector<float> window(kLength);
  for (int n = 0; n < kLength; ++n)
    window[n] = static_cast<float>(0.5 - 0.5 * std::cos(2 * pi * n / kLength));
  enhancement::RealTransform transform(kLength / 2);
  std::vector<KOLV::ObjectRef> frames;
  std::vector<float> frame(kLength);
  for (int start = 0; start + kLength <= samples; start += kAdvance) {
    auto spectrum = kolvtest::complexMatrix(rows, kCols);
    for (int r = 0; r < rows; ++r) {
      for (int n = 0; n < kLength; ++n) frame[n] = channels[r][start + n] * window[n];
      transform.forward(frame.data(), spectrum->row(r));
    }
    frames.push_back(spectrum);
  }
  return frames;
}

}  // namespace enhancementtest

#endif
