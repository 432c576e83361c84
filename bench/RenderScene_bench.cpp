// How long the scene renderer takes: the convolution kernel, the diffuse
// noise, which dominates a render (one response pair per noise direction),
// a room's responses and a whole scene in a room.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Convolution.h"
#include "DiffuseNoise.h"
#include "HrtfSet.h"
#include "RoomResponses.h"
#include "SceneRenderer.h"
#include "WavFile.h"

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

const render::Point kOfficeSize = {6.0, 5.0, 3.0};
constexpr double kOfficeRt60 = 0.6;  // s

render::Room office() {
  return {kOfficeSize, {3.0, 2.5, 1.2}, 0.0, render::eyringAbsorption(kOfficeSize, kOfficeRt60)};
}

// One source's whole response: the images up to the join and the tail.
void BM_RoomResponse(benchmark::State &state) {
  render::HrtfSet hrtf(render::kDefaultSofaFile, kRate);
  render::RoomResponses room(hrtf, office(), kOfficeRt60);
  for (auto _ : state) benchmark::DoNotOptimize(room.whole(30.0, 0.0, 1.5, 1));
}
BENCHMARK(BM_RoomResponse)->Unit(benchmark::kMillisecond);

// Ten seconds of broadband bursts as a talker's recording.
std::string talkerFile(const std::string &name) {
  const std::string path = (std::filesystem::temp_directory_path() / name).string();
  render::GaussianNoise noise(11);
  std::vector<double> x(10 * kRate);
  for (size_t n = 0; n < x.size(); ++n) x[n] = (n / kRate) % 3 == 2 ? 0.0 : 0.1 * noise.next();
  scenekit::Audio audio;
  audio.samplingRate = kRate;
  audio.channels = {x};
  scenekit::writeWav16(path, audio);
  return path;
}

// Two talkers for 10 s in the office at RT60 0.6 s, with diffuse noise:
// everything kolv-render-scene does but writing the files.
void BM_TwoTalkersInARoomTenSeconds(benchmark::State &state) {
  render::SceneLayout layout;
  layout.duration = 10.0;
  layout.room = render::RoomLayout{kOfficeSize, {3.0, 2.5, 1.2}, 0.0, kOfficeRt60};
  layout.sources = {{talkerFile("kolv-bench-a.wav"), -40.0, 0.0, 0.0, 0.0, 1.5, {}},
                    {talkerFile("kolv-bench-b.wav"), 30.0, 0.0, 0.0, 0.0, 2.0, {}}};
  for (auto _ : state) benchmark::DoNotOptimize(render::renderScene(layout));
  for (const auto &source : layout.sources) std::filesystem::remove(source.file);
}
BENCHMARK(BM_TwoTalkersInARoomTenSeconds)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
