// One refresh of each live display with a full plot (3 s = 300 frames at
// 160 samples and 16 kHz), drawn in a real window. Run under an X server,
// e.g. xvfb-run -a -s "-screen 0 1280x1024x24" ./display_bench
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <random>

#include "SSLvisualization.h"
#include "SpectrumVisualization.h"
#include "TestNetwork.h"
#include "VADvisualization.h"
#include "WaveVisualization.h"

namespace {

constexpr int kFramesShown = 300;
constexpr int kLastFrame = kFramesShown - 1;

KOLV::ParameterSet params() {
  using namespace kolvtest;
  return makeParams({{"VISUALIZATION_TIME_LENGTH", floatValue(3.0f)},
                     {"WINDOW_NAME", stringValue("benchmark")},
                     {"ADVANCE", intValue(160)},
                     {"SAMPLING_RATE", intValue(16000)}});
}

std::vector<KOLV::ObjectRef> speechLikeAudio() {
  std::mt19937 random(1);
  std::normal_distribution<float> sample(0.0f, 3000.0f);
  std::vector<KOLV::ObjectRef> frames;
  for (int f = 0; f <= kLastFrame; ++f) {
    auto m = kolvtest::floatMatrix(2, 512);
    for (int c = 0; c < 2; ++c)
      for (int s = 0; s < 512; ++s) (*m)(c, s) = sample(random);
    frames.push_back(m);
  }
  return frames;
}

std::vector<KOLV::ObjectRef> spectra() {
  std::mt19937 random(2);
  std::exponential_distribution<float> magnitude(1.0f / 30000.0f);
  std::vector<KOLV::ObjectRef> frames;
  for (int f = 0; f <= kLastFrame; ++f) {
    auto m = kolvtest::complexMatrix(2, 257);
    for (int c = 0; c < 2; ++c)
      for (int j = 0; j < 257; ++j) (*m)(c, j) = {magnitude(random), 0.0f};
    frames.push_back(m);
  }
  return frames;
}

std::vector<KOLV::ObjectRef> sourceLists() {
  std::vector<KOLV::ObjectRef> frames;
  for (int f = 0; f <= kLastFrame; ++f) {
    auto v = KOLV::RCPtr<kolvtest::SourceVector>(new kolvtest::SourceVector);
    v->push_back(kolvtest::sourceAt(-40, 1, 0));
    if (f % 2) v->push_back(kolvtest::sourceAt(25, 1, 1));
    frames.push_back(v);
  }
  return frames;
}

template <class Node>
void refreshFullPlot(benchmark::State &state, const std::vector<const char *> &ports,
                     const std::vector<std::vector<KOLV::ObjectRef>> &inputs) {
  if (!std::getenv("DISPLAY") || !kolvdisplay::openDisplay()) {
    state.SkipWithError("needs an X display (xvfb-run)");
    return;
  }
  std::vector<std::unique_ptr<kolvtest::FrameFeeder>> feeders;
  Node node("bench", params());
  for (size_t k = 0; k < ports.size(); ++k) {
    feeders.push_back(std::make_unique<kolvtest::FrameFeeder>(inputs[k]));
    kolvtest::wire(node, ports[k], *feeders.back());
  }
  node.initialize();
  for (int f = 0; f <= kLastFrame; ++f) node.getOutput(0, f);
  for (auto _ : state) node.refresh(kLastFrame);
}

void BM_SpectrumRefresh(benchmark::State &state) {
  refreshFullPlot<SpectrumVisualization>(state, {"INPUT_AUDIO_SPECTRUM"}, {spectra()});
}
void BM_WaveRefresh(benchmark::State &state) {
  refreshFullPlot<WaveVisualization>(state, {"INPUT_AUDIO_SIGNAL"}, {speechLikeAudio()});
}
void BM_VADRefresh(benchmark::State &state) {
  refreshFullPlot<VADvisualization>(state, {"INPUT_AUDIO_SIGNAL", "INPUT_VAD_DECISION"},
                                    {speechLikeAudio(), sourceLists()});
}
void BM_SSLRefresh(benchmark::State &state) {
  refreshFullPlot<SSLvisualization>(state, {"INPUT_AUDIO_SIGNAL", "INPUT_TRACKED_DOA"},
                                    {speechLikeAudio(), sourceLists()});
}

}  // namespace

BENCHMARK(BM_SpectrumRefresh)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WaveRefresh)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VADRefresh)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SSLRefresh)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
