// Speed of the host: the spectral round trip of a two-channel file at the
// network's 16 kHz and at 48 kHz (resampled as it is read), and the
// scheduling cost of a chain of trivial nodes.
#include <benchmark/benchmark.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Matrix.h"
#include "Network.h"
#include "Node.h"
#include "RunOptions.h"
#include "Runner.h"
#include "nodes/FrameworkNodes.h"

namespace {

namespace fs = std::filesystem;
using KOLV::host::Network;
using KOLV::host::Runner;
using KOLV::host::RunSettings;

constexpr int kRate = 16000;
constexpr int kSeconds = 60;

fs::path scratchFolder() {
  static fs::path folder = [] {
    std::string pattern = (fs::temp_directory_path() / "kolv-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    return fs::path(pattern);
  }();
  return folder;
}

// Two tones of kSeconds at `rate`.
void writeTestRecording(const std::string &path, int rate) {
  SF_INFO info{};
  info.channels = 2;
  info.samplerate = rate;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE *f = sf_open(path.c_str(), SFM_WRITE, &info);
  std::vector<short> block(2 * static_cast<size_t>(rate));
  const double step = static_cast<double>(kRate) / rate;
  for (int s = 0; s < kSeconds; ++s) {
    for (int n = 0; n < rate; ++n) {
      double t = (static_cast<double>(s) * rate + n) * step;
      block[2 * n] = static_cast<short>(8000.0 * std::sin(0.05 * t));
      block[2 * n + 1] = static_cast<short>(8000.0 * std::sin(0.031 * t + 1.0));
    }
    sf_writef_short(f, block.data(), rate);
  }
  sf_close(f);
}

int runQuietly(Network &network, long long maxFrames = -1) {
  std::ostringstream messages;
  RunSettings settings;
  settings.maxFrames = maxFrames;
  Runner runner(network, settings, messages);
  if (runner.run() != 0) std::abort();
  return static_cast<int>(runner.framesRun());
}

// The argument is the recording's rate; the network runs at 16 kHz.
void BM_SpectralRoundTrip(benchmark::State &state) {
  KOLV::host::registerFrameworkNodes();
  KOLV::runOptions().quiet = true;
  const int rate = static_cast<int>(state.range(0));
  fs::path folder = scratchFolder();
  std::string input = (folder / ("in-" + std::to_string(rate) + ".wav")).string();
  if (!fs::exists(input)) writeTestRecording(input, rate);
  std::ofstream(folder / "net.yaml")
      << "nodes:\n"
         "  source: {type: WaveSource, params: {FILE: '"
      << input
      << "', SAMPLING_RATE: 16000, LENGTH: 512, ADVANCE: 160}}\n"
         "  spectrum: {type: STFT, params: {LENGTH: 512, WINDOW: HANN}, inputs: {AUDIO: "
         "source.AUDIO}}\n"
         "  back: {type: ISTFT, params: {LENGTH: 512, ADVANCE: 160, WINDOW: HANN},\n"
         "         inputs: {SPECTRUM: spectrum.SPECTRUM}}\n"
         "  sink: {type: WaveSink, params: {FILE: '"
      << (folder / "out.wav").string()
      << "', SAMPLING_RATE: 16000}, inputs: {AUDIO: back.AUDIO}}\n";
  long long frames = 0;
  for (auto _ : state) {
    auto network = Network::load((folder / "net.yaml").string());
    frames += runQuietly(*network);
  }
  state.SetItemsProcessed(frames);
  // Seconds of audio per second of run: the multiple of real time.
  state.counters["x_realtime"] =
      benchmark::Counter(frames * 160.0 / kRate, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SpectralRoundTrip)->Arg(16000)->Arg(48000)->Unit(benchmark::kMillisecond)->Iterations(3);

// A source that hands out the same 1 x 1 frame for ever, and a node that
// passes its input on: the chain measures the framework alone.
class ConstantSource : public KOLV::BufferedNode {
 public:
  ConstantSource(std::string name, KOLV::ParameterSet params) : BufferedNode(name, params) {
    addOutput("OUTPUT");
    processInOrder = true;
    frame_ = KOLV::ObjectRef(new KOLV::Matrix<float>(1, 1));
  }
  static const KOLV::NodeDescription &description() {
    static const KOLV::NodeDescription d{
        "constant frames", {}, {{"OUTPUT", "Matrix<float>", ""}}, {}};
    return d;
  }
  void calculate(int, int count, KOLV::Buffer &out) override { out[count] = frame_; }

 private:
  KOLV::ObjectRef frame_;
};

class PassOn : public KOLV::BufferedNode {
 public:
  PassOn(std::string name, KOLV::ParameterSet params) : BufferedNode(name, params) {
    input_ = addInput("INPUT");
    addOutput("OUTPUT");
    processInOrder = true;
  }
  static const KOLV::NodeDescription &description() {
    static const KOLV::NodeDescription d{
        "passes on", {{"INPUT", "any", ""}}, {{"OUTPUT", "any", ""}}, {}};
    return d;
  }
  void calculate(int, int count, KOLV::Buffer &out) override {
    out[count] = getInput(input_, count);
  }

 private:
  int input_;
};

void BM_SchedulingChainOf10(benchmark::State &state) {
  constexpr int kChain = 10;
  constexpr long long kFrames = 200000;
  KOLV::Node::addFactory("ConstantSource", new KOLV::NodeFactory<ConstantSource>("ConstantSource"));
  KOLV::Node::addFactory("PassOn", new KOLV::NodeFactory<PassOn>("PassOn"));
  std::ostringstream yaml;
  yaml << "nodes:\n  n0: {type: ConstantSource}\n";
  for (int i = 1; i <= kChain; ++i)
    yaml << "  n" << i << ": {type: PassOn, inputs: {INPUT: n" << i - 1 << ".OUTPUT}}\n";
  fs::path file = scratchFolder() / "chain.yaml";
  std::ofstream(file) << yaml.str();
  long long nodeFrames = 0;
  for (auto _ : state) {
    auto network = Network::load(file.string());
    nodeFrames += static_cast<long long>(runQuietly(*network, kFrames)) * kChain;
  }
  state.SetItemsProcessed(nodeFrames);
  // Time per node per frame.
  state.counters["ns_per_node_frame"] =
      benchmark::Counter(static_cast<double>(nodeFrames) * 1e-9,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_SchedulingChainOf10)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
