// Per-frame cost of the localizer for rooms (257 columns, the default band
// 300-4000 Hz, 181 directions steered by the KEMAR head, the default 0.2 s
// integration, sharpening and sidelobe test) and of the talker tracker with
// four estimates per frame feeding six live tracks.
#include <benchmark/benchmark.h>

#include <complex>
#include <random>
#include <vector>

#include "DirectSoundLocalizer.h"
#include "HeadSteering.h"
#include "TalkerTracks.h"

using namespace localization;

namespace {

constexpr int kRate = 16000;
constexpr int kCols = 257;
constexpr int kLowBin = 10;    // 312 Hz
constexpr int kHighBin = 129;  // 4000 Hz
constexpr int kCycle = 64;     // frames of random spectra, delivered over and over

// Random spectra whose bins rise and fall from frame to frame, so that the
// bin trust passes many of them on as onsets, as in speech.
std::vector<std::vector<std::complex<float>>> randomFrames(std::mt19937 &rng) {
  std::normal_distribution<float> gauss(0.0f, 1.0f);
  std::uniform_real_distribution<float> level(0.1f, 10.0f);
  std::vector<std::vector<std::complex<float>>> frames(2 * kCycle, std::vector<std::complex<float>>(kCols));
  for (auto &frame : frames)
    for (auto &bin : frame) bin = level(rng) * std::complex<float>(gauss(rng), gauss(rng));
  return frames;
}

// The same with a source 300 us nearer the right ear in every bin, so that
// every frame has a peak.
std::vector<std::vector<std::complex<float>>> sourceFrames(std::mt19937 &rng) {
  auto frames = randomFrames(rng);
  for (size_t f = 0; f < frames.size(); f += 2)
    for (int j = 0; j < kCols; ++j) {
      const float phase = static_cast<float>(-2.0 * M_PI * j * kRate / (2.0 * (kCols - 1)) * 300e-6);
      frames[f + 1][static_cast<size_t>(j)] = frames[f][static_cast<size_t>(j)] * std::polar(1.0f, phase);
    }
  return frames;
}

// A source in every frame, anechoic (argument 0) or taken for a reverberant
// room from the first frame on (1), where a peak after the highest is checked
// against the recent leaders; both compare the level difference with the
// phase, as the node does by default.
void BM_RobustLocalizationPerFrame(benchmark::State &state) {
  static const MeasuredHead head(kDefaultSofaFile, kRate);
  static const InterauralSteering steering(head, Cues::PhaseAndLevel, kCols, kLowBin, kHighBin);
  std::mt19937 rng(1);
  const auto frames = sourceFrames(rng);
  LocalizerSettings settings;
  if (state.range(0) != 0) settings.room.level = 1.0f;
  DirectSoundLocalizer localizer(settings, {steering}, {1.0f}, 0, HeadScaleLearning{}, {});
  PeakList peaks;
  size_t f = 0;
  double withPeaks = 0.0;
  for (auto _ : state) {
    localizer.locate(frames[2 * f].data(), frames[2 * f + 1].data(), peaks);
    benchmark::DoNotOptimize(peaks);
    withPeaks += peaks.count > 0 ? 1.0 : 0.0;
    f = (f + 1) % kCycle;
  }
  state.counters["frames_with_peaks"] = benchmark::Counter(withPeaks, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_RobustLocalizationPerFrame)->Arg(0)->Arg(1);

// A source in every frame, the head's size learnt (argument 1) or not (0):
// learning, every other frame with a peak also scores the sizes either side
// of the one in use.
void BM_RobustLocalizationLearningHeadScale(benchmark::State &state) {
  static const MeasuredHead head(kDefaultSofaFile, kRate);
  static const std::vector<float> scales = {0.956f, 1.0f, 1.046f};
  static const std::vector<InterauralSteering> steerings = [] {
    std::vector<InterauralSteering> tables;
    for (float scale : scales) tables.emplace_back(head, Cues::PhaseAndLevel, kCols, kLowBin, kHighBin, scale);
    return tables;
  }();
  HeadScaleLearning learning;
  learning.enabled = state.range(0) != 0;
  learning.minPeak = 0.0f;
  learning.evidenceFrames = 1 << 30;  // scoring without end, the size kept
  std::mt19937 rng(1);
  const auto frames = sourceFrames(rng);
  DirectSoundLocalizer localizer(LocalizerSettings{}, steerings, scales, 1, learning);
  PeakList peaks;
  size_t f = 0;
  double withPeaks = 0.0;
  for (auto _ : state) {
    localizer.locate(frames[2 * f].data(), frames[2 * f + 1].data(), peaks);
    benchmark::DoNotOptimize(peaks);
    withPeaks += peaks.count > 0 ? 1.0 : 0.0;
    f = (f + 1) % kCycle;
  }
  state.counters["frames_with_peaks"] = benchmark::Counter(withPeaks, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_RobustLocalizationLearningHeadScale)->Arg(0)->Arg(1);

// Six talkers held steady, four of them estimated in each frame (in turn).
void BM_TalkerTracksPerFrame(benchmark::State &state) {
  const float talkers[6] = {-70.0f, -40.0f, -10.0f, 20.0f, 50.0f, 80.0f};
  std::mt19937 rng(2);
  std::normal_distribution<float> scatter(0.0f, 1.0f);
  std::vector<std::vector<Estimate>> frames(kCycle);
  for (int f = 0; f < kCycle; ++f)
    for (int k = 0; k < 4; ++k) frames[f].push_back({talkers[(f + k) % 6] + scatter(rng), 0.5f});
  TalkerTracks tracks{TrackSettings{}};
  for (int f = 0; f < 2 * kCycle; ++f) tracks.update(frames[f % kCycle]);
  size_t f = 0;
  for (auto _ : state) {
    tracks.update(frames[f]);
    benchmark::DoNotOptimize(tracks.reported());
    f = (f + 1) % kCycle;
  }
  state.counters["live_tracks"] = tracks.liveTracks();
}
BENCHMARK(BM_TalkerTracksPerFrame);

}  // namespace

BENCHMARK_MAIN();
