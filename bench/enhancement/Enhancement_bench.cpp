// Per-frame cost of the speech enhancer (each gain rule, with and without
// harmonic regeneration) and of the voice activity detector, on two channels
// of 257 bins: a 512-point transform, one frame per 10 ms at 16 kHz.
#include <benchmark/benchmark.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "AdaptiveSpeechEnhancer.h"
#include "AdaptiveVoiceActivityDetector.h"
#include "GainRules.h"
#include "SpeechEnhancement.h"
#include "SpeechEnhancer.h"
#include "TestNetwork.h"
#include "VoiceActivityDetector.h"

namespace {

constexpr int kRows = 2;
constexpr int kCols = 257;
constexpr int kLearningFrames = 20;
constexpr int kDistinctFrames = 64;

using Complex = std::complex<float>;

// Frames of complex Gaussian noise with a louder stretch of bins, so that
// the rules see bins both below and above the noise.
std::vector<std::vector<Complex>> noisyFrames(int count) {
  std::mt19937 gen(11);
  std::normal_distribution<float> noise(0.0f, 1000.0f);
  std::vector<std::vector<Complex>> frames(count, std::vector<Complex>(kRows * kCols));
  for (int f = 0; f < count; ++f)
    for (int i = 0; i < kRows * kCols; ++i) {
      float boost = (f >= kLearningFrames && i % kCols > 20 && i % kCols < 60) ? 8.0f : 1.0f;
      frames[f][i] = Complex(noise(gen) * boost, noise(gen) * boost);
    }
  return frames;
}

void enhancerFrames(benchmark::State &state, enhancement::GainRule rule, bool regenerate) {
  const auto frames = noisyFrames(kLearningFrames + kDistinctFrames);
  enhancement::SpeechEnhancer enhancer(rule, regenerate, kLearningFrames);
  enhancer.start(kRows, kCols - 1);
  std::vector<Complex> out(kRows * kCols);
  int frame = 0;
  for (; frame < kLearningFrames; ++frame)
    enhancer.process(frame, frames[frame].data(), out.data());
  for (auto _ : state) {
    const auto &in = frames[kLearningFrames + frame % kDistinctFrames];
    enhancer.process(frame++, in.data(), out.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_SpectralSubtraction(benchmark::State &s) {
  enhancerFrames(s, enhancement::GainRule::SpectralSubtraction, false);
}
void BM_WienerFiltering(benchmark::State &s) {
  enhancerFrames(s, enhancement::GainRule::WienerFiltering, false);
}
void BM_TwoStepWienerFiltering(benchmark::State &s) {
  enhancerFrames(s, enhancement::GainRule::TwoStepWienerFiltering, false);
}
void BM_MinimumMeanSquareError(benchmark::State &s) {
  enhancerFrames(s, enhancement::GainRule::MinimumMeanSquareError, false);
}
void BM_MinimumMeanSquareErrorWithRegeneration(benchmark::State &s) {
  enhancerFrames(s, enhancement::GainRule::MinimumMeanSquareError, true);
}

// The whole node: input from upstream, a new output matrix every frame.
void BM_SpeechEnhancementNode(benchmark::State &state) {
  const auto frames = noisyFrames(kLearningFrames + 1);
  auto input = kolvtest::complexMatrix(kRows, kCols);
  std::copy(frames.back().begin(), frames.back().end(), input->data());
  kolvtest::FrameFeeder feeder({}, input);
  using namespace kolvtest;
  SpeechEnhancement node(
      "enhancer", makeParams({{"NOISE_REDUCTION_METHOD", stringValue("MINIMUM_MEAN_SQUARE_ERROR")},
                              {"HARMONIC_REGENERATION", stringValue("USE")},
                              {"NOISE_PERIOD", floatValue(0.2f)},
                              {"ADVANCE", intValue(160)},
                              {"SAMPLING_RATE", intValue(16000)}}));
  node.connectInput(0, &feeder, 0);
  int frame = 0;
  for (; frame < node.learningFrames(); ++frame) node.getOutput(0, frame);
  for (auto _ : state) benchmark::DoNotOptimize(node.getOutput(0, frame++).get());
  state.SetItemsProcessed(state.iterations());
}

// What every enhanced frame costs at least: the noisy phase of each bin, as
// atan2f, and its cosine and sine, as one sincosf.
void BM_NoisyPhaseOnly(benchmark::State &state) {
  const auto frames = noisyFrames(kDistinctFrames);
  std::vector<float> cosines(kRows * kCols), sines(kRows * kCols);
  int frame = 0;
  for (auto _ : state) {
    const auto &in = frames[frame++ % kDistinctFrames];
    for (int i = 0; i < kRows * (kCols - 1); ++i)
      sincosf(std::atan2(in[i].imag(), in[i].real()), &sines[i], &cosines[i]);
    benchmark::DoNotOptimize(cosines.data());
    benchmark::DoNotOptimize(sines.data());
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_VoiceActivityDetector(benchmark::State &state) {
  const auto frames = noisyFrames(kLearningFrames + kDistinctFrames);
  const enhancement::SpeechBand band = enhancement::SpeechBand::of(16000, kCols);
  enhancement::VoiceActivityDetector detector(kLearningFrames, 2.0f);
  detector.start(kCols - 1);
  int frame = 0;
  auto decide = [&](const std::vector<Complex> &in) {
    return detector.decide(frame++, band, in.data(), in.data() + kCols);
  };
  while (frame <= kLearningFrames) decide(frames[frame]);
  for (auto _ : state)
    benchmark::DoNotOptimize(decide(frames[kLearningFrames + frame % kDistinctFrames]));
  state.SetItemsProcessed(state.iterations());
}

// The adaptive enhancer: noise tracked and gains computed in every frame.
void adaptiveFrames(benchmark::State &state, bool sharedGain, bool regenerate) {
  const auto frames = noisyFrames(kLearningFrames + kDistinctFrames);
  enhancement::AdaptiveEnhancerSettings settings;
  settings.sharedGain = sharedGain;
  settings.regenerateHarmonics = regenerate;
  enhancement::AdaptiveSpeechEnhancer enhancer(settings);
  enhancer.start(kRows, kCols - 1);
  std::vector<Complex> out(kRows * kCols);
  int frame = 0;
  for (auto _ : state) {
    enhancer.process(frames[frame++ % frames.size()].data(), out.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_AdaptiveSpeechEnhancer(benchmark::State &s) { adaptiveFrames(s, true, false); }
void BM_AdaptiveSpeechEnhancerPerChannel(benchmark::State &s) { adaptiveFrames(s, false, false); }
void BM_AdaptiveSpeechEnhancerWithRegeneration(benchmark::State &s) { adaptiveFrames(s, true, true); }

void BM_AdaptiveVoiceActivityDetector(benchmark::State &state) {
  const auto frames = noisyFrames(kLearningFrames + kDistinctFrames);
  enhancement::AdaptiveVoiceActivityDetector detector{enhancement::AdaptiveDetectorSettings()};
  detector.start(enhancement::SpeechBand::of(16000, kCols));
  int frame = 0;
  for (auto _ : state) {
    const auto &in = frames[frame++ % frames.size()];
    benchmark::DoNotOptimize(detector.decide(in.data(), in.data() + kCols));
  }
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_AdaptiveSpeechEnhancer);
BENCHMARK(BM_AdaptiveSpeechEnhancerPerChannel);
BENCHMARK(BM_AdaptiveSpeechEnhancerWithRegeneration);
BENCHMARK(BM_AdaptiveVoiceActivityDetector);
BENCHMARK(BM_SpectralSubtraction);
BENCHMARK(BM_WienerFiltering);
BENCHMARK(BM_TwoStepWienerFiltering);
BENCHMARK(BM_MinimumMeanSquareError);
BENCHMARK(BM_MinimumMeanSquareErrorWithRegeneration);
BENCHMARK(BM_SpeechEnhancementNode);
BENCHMARK(BM_NoisyPhaseOnly);
BENCHMARK(BM_VoiceActivityDetector);

BENCHMARK_MAIN();
