// How long the scene renderer takes: the convolution kernel and the diffuse
// noise, which dominates a render (one response pair per noise direction).
#include <benchmark/benchmark.h>

#include <vector>

#include "Convolution.h"
#include "DiffuseNoise.h"
#include "HrtfSet.h"

namespace {

constexpr int kRate = 16000;

void BM_ConvolveOneSecond(benchmark::State &state) {
  render::HrtfSet hrtf(render::kDefaultSofaFile, kRate);
  const render::HrirPair h = hrtf.responses(30.0, 0.0);
  std::vector<double> signal(kRate, 0.25), out(kRate + h.left.size());
  for (auto _ : state) {
    render::addConvolved(signal, h.left, out, 0);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kRate);
}
BENCHMARK(BM_ConvolveOneSecond)->Unit(benchmark::kMillisecond);

void BM_DiffuseNoiseOneSecond(benchmark::State &state) {
  render::HrtfSet hrtf(render::kDefaultSofaFile, kRate);
  for (auto _ : state) benchmark::DoNotOptimize(render::renderDiffuseNoise(hrtf, kRate, 1));
}
BENCHMARK(BM_DiffuseNoiseOneSecond)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
