// Per-frame cost of localization and tracking at 16 kHz, 257 columns, band
// 500-2800 Hz, and a 2 s (200-frame) tracking window with two estimates per frame.
#include <benchmark/benchmark.h>

#include <complex>
#include <random>
#include <vector>

#include "BinauralMultisourceLocalization.h"
#include "BinauralMultisourceTracker.h"
#include "DirectionClustering.h"
#include "PeakPicking.h"
#include "SpatialSpectrum.h"
#include "TestNetwork.h"

using namespace localization;

namespace {

constexpr int kRate = 16000;
constexpr int kCols = 257;
constexpr int kLowBin = 16;
constexpr int kHighBin = 90;

// Delivers its frames over and over, however far the stream runs.
class CyclingSource : public KOLV::BufferedNode {
 public:
  explicit CyclingSource(std::vector<KOLV::ObjectRef> frames)
      : BufferedNode("cycle", KOLV::ParameterSet()), frames_(std::move(frames)) {
    addOutput("OUTPUT");
    processInOrder = true;
    setOutputCapacity(0, 512);
  }
  void calculate(int, int count, KOLV::Buffer &out) override {
    out[count] = frames_[static_cast<size_t>(count) % frames_.size()];
  }

 private:
  std::vector<KOLV::ObjectRef> frames_;
};

KOLV::RCPtr<kolvtest::ComplexMatrix> randomSpectrum(std::mt19937 &rng) {
  std::normal_distribution<float> gauss(0.0f, 100.0f);
  auto frame = kolvtest::complexMatrix(2, kCols);
  for (int r = 0; r < 2; ++r)
    for (int j = 0; j < kCols; ++j) (*frame)(r, j) = {gauss(rng), gauss(rng)};
  return frame;
}

void BM_SpatialSpectrumAndPeaks(benchmark::State &state) {
  std::mt19937 rng(1);
  auto frame = randomSpectrum(rng);
  std::vector<float> noise(kCols - 1, 50.0f);
  SteeringTables tables(DelayModel::SphericalHead, 18.7f, kRate, kCols, kLowBin, kHighBin);
  float P[kPaddedDirections];
  for (auto _ : state) {
    spatialSpectrum(frame->row(0), frame->row(1), noise.data(), tables, P);
    PeakList peaks = pickPeaks(P, 0.1f);
    benchmark::DoNotOptimize(peaks);
  }
}
BENCHMARK(BM_SpatialSpectrumAndPeaks);

void BM_LocalizationNode(benchmark::State &state) {
  std::mt19937 rng(2);
  std::vector<KOLV::ObjectRef> frames;
  for (int i = 0; i < 64; ++i) frames.push_back(randomSpectrum(rng));
  CyclingSource source(frames);
  BinauralMultisourceLocalization node(
      "loc", kolvtest::makeParams({{"MICS_DISTANCE", kolvtest::floatValue(18.7f)},
                                   {"GCCPHAT_THRESHOLD", kolvtest::floatValue(0.1f)},
                                   {"SOUND_DIFFRACTION_COMPENSATION", kolvtest::stringValue("SPHERICAL_HEAD")},
                                   {"ADVANCE", kolvtest::intValue(160)},
                                   {"SAMPLING_RATE", kolvtest::intValue(kRate)},
                                   {"FREQUENCY_HIGH", kolvtest::floatValue(2800.0f)},
                                   {"FREQUENCY_LOW", kolvtest::floatValue(500.0f)},
                                   {"NOISE_DURATION", kolvtest::floatValue(0.1f)}}));
  node.connectInput(0, &source, 0);
  int frame = 0;
  for (; frame < 20; ++frame) node.getOutput(0, frame);  // past the noise frames
  for (auto _ : state) benchmark::DoNotOptimize(node.getOutput(0, frame++));
}
BENCHMARK(BM_LocalizationNode);

std::vector<KOLV::ObjectRef> twoEstimatesPerFrame(int frames) {
  std::mt19937 rng(3);
  std::normal_distribution<double> scatter(0.0, 4.0);
  std::vector<KOLV::ObjectRef> stream;
  for (int f = 0; f < frames; ++f) {
    KOLV::RCPtr<kolvtest::SourceVector> v(new kolvtest::SourceVector);
    v->push_back(kolvtest::sourceAt(-35.0 + scatter(rng)));
    v->push_back(kolvtest::sourceAt(25.0 + scatter(rng)));
    stream.push_back(v);
  }
  return stream;
}

void BM_TrackerNode(benchmark::State &state) {
  CyclingSource source(twoEstimatesPerFrame(997));
  BinauralMultisourceTracker node(
      "track", kolvtest::makeParams({{"ADVANCE", kolvtest::intValue(160)},
                                     {"SAMPLING_RATE", kolvtest::intValue(kRate)},
                                     {"CLUSTERING_DURATION", kolvtest::floatValue(2.0f)}}));
  node.connectInput(0, &source, 0);
  int frame = 0;
  for (; frame < 300; ++frame) node.getOutput(0, frame);  // a full window
  for (auto _ : state) benchmark::DoNotOptimize(node.getOutput(0, frame++));
}
BENCHMARK(BM_TrackerNode);

}  // namespace

BENCHMARK_MAIN();
