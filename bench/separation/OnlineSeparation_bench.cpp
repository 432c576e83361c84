// Speed of the sliding-window separation kernel on one core: two channels,
// 257 columns (256 bins), 10 ms frames. Live: frame by frame with the node's
// defaults (4 s history, 1 s memory, estimates every 0.1 s or when a talker
// starts, estimates from scratch in the first second after the talkers
// start); argument 1 adds the post-filter (floor -20 dB). Argument 2: talkers
// who start out of quiet every 5 s (4 s at -40 dB, 1 s at full level, over
// and over), each start followed by a second of estimates from scratch: far
// more starts than speech brings. Whole file: a
// 6.5 s recording separated at once (look-ahead past its end).
// Dereverberation: the room setting, 1024 bins of 128 ms frames shifted by
// 32 ms, a prediction over 5 frames. Real-time factor = seconds of audio /
// seconds of CPU.
#include <benchmark/benchmark.h>

#include <complex>
#include <vector>

#include "OnlineWpe.h"
#include "SyntheticMixture.h"
#include "WindowedIva.h"

namespace {

using KOLV::separation::OnlineWpe;
using KOLV::separation::OnlineWpeSettings;
using KOLV::separation::WindowedIva;
using KOLV::separation::WindowedIvaSettings;

constexpr int kBins = 256;
constexpr double kFrameSeconds = 0.01;
constexpr int kHistoryFrames = 400;
constexpr int kRecordingFrames = 650;
constexpr double kMemoryFrames = 100.0;  // the node's 1 s
constexpr int kRestartFrames = 100, kRestartLeadFrames = 30;  // the node's 1 s and 0.3 s
constexpr float kQuietGain = 0.01f;

// Frames of the mixture, microphone-major: frame t's microphone m at
// frames[t][m * kBins].
std::vector<std::vector<std::complex<float>>> mixtureFrames(int frames) {
  const kolvtest::SyntheticMixture mix = kolvtest::makeMixture(frames, kBins, 21);
  std::vector<std::vector<std::complex<float>>> out(frames, std::vector<std::complex<float>>(2 * kBins));
  for (int t = 0; t < frames; ++t)
    for (int m = 0; m < 2; ++m)
      for (int k = 0; k < kBins; ++k) out[t][m * kBins + k] = mix.observed(m, t, k);
  return out;
}

void reportRealTime(benchmark::State &state, double frames, double frameSeconds = kFrameSeconds) {
  state.counters["realtime_x"] = benchmark::Counter(frames * frameSeconds, benchmark::Counter::kIsRate);
}

void BM_OnlineLive(benchmark::State &state) {
  auto frames = mixtureFrames(2 * (kHistoryFrames + kRestartFrames));
  WindowedIvaSettings settings;
  settings.bins = kBins;
  settings.capacity = kHistoryFrames + 1;
  settings.memory = kMemoryFrames;
  settings.restartSpan = kRestartFrames;
  settings.restartLead = kRestartLeadFrames;
  if (state.range(0) == 1) settings.postFilterFloor = 0.1f;
  if (state.range(0) == 2)
    for (size_t t = 0; t < frames.size(); ++t)
      if (t % (kHistoryFrames + kRestartFrames) < kHistoryFrames)
        for (auto &value : frames[t]) value *= kQuietGain;
  WindowedIva iva(settings);
  std::vector<std::complex<float>> out0(kBins), out1(kBins);
  long long t = 0;
  for (auto _ : state) {
    const auto &frame = frames[static_cast<size_t>(t % static_cast<long long>(frames.size()))];
    iva.append(frame.data(), frame.data() + kBins);
    const long long end = iva.framesAppended(), first = std::max(0LL, end - settings.capacity);
    if (iva.estimateDue(first, end)) iva.estimate(first, end, end - 1);
    iva.separate(end - 1, out0.data(), out1.data());
    benchmark::DoNotOptimize(out0.data());
    ++t;
  }
  reportRealTime(state, static_cast<double>(state.iterations()));
}
// Past the first pass over the history, so that the window is full.
BENCHMARK(BM_OnlineLive)->Arg(0)->Arg(1)->Arg(2)->Iterations(4000);

void BM_OnlineWholeFile(benchmark::State &state) {
  const auto frames = mixtureFrames(kRecordingFrames);
  std::vector<std::complex<float>> out0(kBins), out1(kBins);
  WindowedIvaSettings settings;
  settings.bins = kBins;
  settings.capacity = 2 * kRecordingFrames;
  for (auto _ : state) {
    WindowedIva iva(settings);
    for (const auto &frame : frames) iva.append(frame.data(), frame.data() + kBins);
    for (long long t = 0; t < kRecordingFrames; ++t) {
      const long long end = iva.framesAppended();
      if (iva.estimateDue(0, end)) iva.estimate(0, end, end - 1);
      iva.separate(t, out0.data(), out1.data());
      benchmark::DoNotOptimize(out0.data());
    }
  }
  reportRealTime(state, static_cast<double>(state.iterations()) * kRecordingFrames);
}
BENCHMARK(BM_OnlineWholeFile)->Unit(benchmark::kMillisecond);

void BM_Dereverberation(benchmark::State &state) {
  constexpr int kRoomBins = 1024;
  constexpr double kRoomFrameSeconds = 0.032;
  const kolvtest::SyntheticMixture mix = kolvtest::makeMixture(64, kRoomBins, 22);
  std::vector<std::vector<std::complex<float>>> frames(64, std::vector<std::complex<float>>(2 * kRoomBins));
  for (int t = 0; t < 64; ++t)
    for (int m = 0; m < 2; ++m)
      for (int k = 0; k < kRoomBins; ++k) frames[t][m * kRoomBins + k] = mix.observed(m, t, k);
  OnlineWpeSettings settings;
  settings.bins = kRoomBins;
  settings.taps = 5;
  OnlineWpe wpe(settings);
  std::vector<std::complex<float>> out0(kRoomBins), out1(kRoomBins);
  size_t t = 0;
  for (auto _ : state) {
    const auto &frame = frames[t++ % frames.size()];
    wpe.process(frame.data(), frame.data() + kRoomBins, out0.data(), out1.data());
    benchmark::DoNotOptimize(out0.data());
  }
  reportRealTime(state, static_cast<double>(state.iterations()), kRoomFrameSeconds);
}
BENCHMARK(BM_Dereverberation);

}  // namespace
