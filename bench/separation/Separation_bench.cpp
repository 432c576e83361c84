// Speed of the separation of one 3 s block (2 channels, 257 columns, T = 300,
// 100 passes), per update rule, for the block kernel and for the whole node.
// Real-time factor = seconds of audio per block / seconds per block.
#include <benchmark/benchmark.h>

#include <sstream>

#include "BlockSeparator.h"
#include "SourceSeparation.h"
#include "SyntheticMixture.h"
#include "TestNetwork.h"

namespace {

using KOLV::separation::BlockSeparator;
using KOLV::separation::UpdateRule;

constexpr int kFrames = 300;
constexpr int kColumns = 257;
constexpr int kBins = kColumns - 1;
constexpr int kPasses = 100;
constexpr double kBlockSeconds = kFrames * 160.0 / 16000.0;

void reportRealTime(benchmark::State &state, double blocks) {
  state.counters["realtime_x"] = benchmark::Counter(
      blocks * kBlockSeconds, benchmark::Counter::kIsRate);
}

void separateBlock(benchmark::State &state, UpdateRule rule) {
  const kolvtest::SyntheticMixture mix = kolvtest::makeMixture(kFrames, kBins, 11, false);
  std::ostringstream progress;
  BlockSeparator separator(rule, 2, kPasses, progress);
  int passes = 0;
  for (auto _ : state) {
    separator.beginBlock(2, kFrames, kBins);
    separator.observed() = mix.observed;
    separator.separate();
    passes = separator.passesRun();
    benchmark::DoNotOptimize(separator.separated().memptr());
  }
  state.counters["passes"] = passes;
  reportRealTime(state, static_cast<double>(state.iterations()));
}

void BM_BlockNaturalGradient(benchmark::State &state) {
  separateBlock(state, UpdateRule::NaturalGradient);
}
void BM_BlockFixedPoint(benchmark::State &state) { separateBlock(state, UpdateRule::FixedPoint); }

// Three blocks through the node, from spectra in matrices to spectra in
// matrices.
void wholeNode(benchmark::State &state, const char *method) {
  constexpr int kBlocks = 3;
  std::vector<KOLV::ObjectRef> frames;
  for (int b = 0; b < kBlocks; ++b) {
    const kolvtest::SyntheticMixture mix = kolvtest::makeMixture(kFrames, kBins, 20 + b, false);
    for (int t = 0; t < kFrames; ++t) {
      auto frame = kolvtest::complexMatrix(2, kColumns);
      for (int c = 0; c < 2; ++c)
        for (int k = 0; k < kBins; ++k) (*frame)(c, k) = mix.observed(c, t, k);
      frames.push_back(frame);
    }
  }
  std::ostringstream progress;
  std::streambuf *saved = std::cout.rdbuf(progress.rdbuf());
  for (auto _ : state) {
    kolvtest::FrameFeeder feeder(frames, kolvtest::complexMatrix(2, kColumns));
    KOLV::SourceSeparation node(
        "sep", kolvtest::makeParams({{"ITERATION_METHOD", kolvtest::stringValue(method)},
                                     {"NUMBER_OF_SOURCES_TO_BE_SEPARATED", kolvtest::intValue(2)},
                                     {"MAX_ITERATION", kolvtest::intValue(kPasses)},
                                     {"SEPARATION_TIME_LENGTH", kolvtest::floatValue(3.0f)},
                                     {"ADVANCE", kolvtest::intValue(160)},
                                     {"SAMPLING_RATE", kolvtest::intValue(16000)}}));
    kolvtest::wire(node, "INPUT_AUDIO_SPECTRUM", feeder);
    for (int f = 0; f < kBlocks * kFrames; ++f) benchmark::DoNotOptimize(node.getOutput(0, f));
  }
  std::cout.rdbuf(saved);
  reportRealTime(state, static_cast<double>(state.iterations()) * kBlocks);
}

void BM_NodeNaturalGradient(benchmark::State &state) {
  wholeNode(state, KOLV::separation::kNaturalGradientMethod);
}
void BM_NodeFixedPoint(benchmark::State &state) {
  wholeNode(state, KOLV::separation::kFixedPointMethod);
}

BENCHMARK(BM_BlockNaturalGradient)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlockFixedPoint)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NodeNaturalGradient)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NodeFixedPoint)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
