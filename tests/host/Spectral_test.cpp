#include "nodes/Spectral.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <stdexcept>
#include <vector>

using KOLV::host::makeWindow;
using KOLV::host::OverlapAdder;
using KOLV::host::SpectrumAnalyzer;

namespace {

struct Framing {
  const char *window;
  int length;
  int advance;
};

std::vector<float> randomSignal(size_t n, unsigned seed) {
  std::mt19937 generator(seed);
  std::uniform_real_distribution<float> sample(-20000.0f, 20000.0f);
  std::vector<float> x(n);
  for (float &v : x) v = sample(generator);
  return x;
}

// Frames `x` the way WaveSource does (frame t starts at t * advance, zero
// past the end), analyses and resynthesises every frame.
std::vector<float> roundTrip(const std::vector<float> &x, const Framing &f) {
  SpectrumAnalyzer analyzer(makeWindow(f.window, f.length));
  OverlapAdder adder(makeWindow(f.window, f.length), f.advance);
  size_t frames = (x.size() + f.advance - 1) / f.advance;
  std::vector<float> frame(f.length), y(frames * f.advance);
  std::vector<std::complex<float>> spectrum(analyzer.bins());
  for (size_t t = 0; t < frames; ++t) {
    for (int n = 0; n < f.length; ++n) {
      size_t at = t * f.advance + n;
      frame[n] = at < x.size() ? x[at] : 0.0f;
    }
    analyzer.analyze(frame.data(), spectrum.data());
    adder.synthesize(spectrum.data(), y.data() + t * f.advance);
  }
  return y;
}

}  // namespace

TEST(SpectralTest, AnalysisThenSynthesisGivesTheSignalBackWithoutDelay) {
  const Framing framings[] = {
      {"HANN", 512, 160},      {"HANN", 512, 256},      {"HANN", 256, 64},
      {"HANN", 400, 100},      {"HAMMING", 512, 160},   {"HAMMING", 512, 256},
      {"RECTANGLE", 512, 160}, {"RECTANGLE", 512, 512}, {"RECTANGLE", 100, 30}};
  for (const Framing &f : framings) {
    SCOPED_TRACE(std::string(f.window) + " " + std::to_string(f.length) + "/" +
                 std::to_string(f.advance));
    std::vector<float> x = randomSignal(8000, 7);
    std::vector<float> y = roundTrip(x, f);
    ASSERT_GE(y.size(), x.size());
    // Under a tapering window the samples that only the edges of the first
    // frames cover fade in and are not compared.
    size_t from = std::string(f.window) == "RECTANGLE" ? 0 : static_cast<size_t>(0.3 * f.length);
    double worst = 0.0;
    for (size_t n = from; n < x.size(); ++n)
      worst = std::max(worst, std::fabs(double(y[n]) - x[n]));
    EXPECT_LT(worst, 0.25) << "largest error in 16-bit units";
  }
}

// Frames a node has changed (here each one's spectrum drawn afresh, as no
// signal's STFT would be) come out at the start of the stream no louder than
// later on: dividing by the small sum of squared windows there raised them
// by up to 1/w, a click far above the signal.
TEST(SpectralTest, ChangedFramesDoNotClickAtTheStartOfTheStream) {
  for (const Framing f : {Framing{"HANN", 512, 160}, Framing{"HANN", 2048, 512}, Framing{"HAMMING", 512, 160}}) {
    SCOPED_TRACE(std::string(f.window) + " " + std::to_string(f.length) + "/" +
                 std::to_string(f.advance));
    OverlapAdder adder(makeWindow(f.window, f.length), f.advance);
    std::mt19937 generator(11);
    std::normal_distribution<float> part(0.0f, 1000.0f);
    const int frames = 40;
    std::vector<float> y(static_cast<size_t>(frames) * f.advance);
    std::vector<std::complex<float>> spectrum(adder.bins());
    for (int t = 0; t < frames; ++t) {
      for (auto &value : spectrum) value = {part(generator), part(generator)};
      adder.synthesize(spectrum.data(), y.data() + static_cast<size_t>(t) * f.advance);
    }
    auto loudest = [&](size_t from, size_t to) {
      float peak = 0.0f;
      for (size_t n = from; n < to; ++n) peak = std::max(peak, std::fabs(y[n]));
      return peak;
    };
    const size_t start = static_cast<size_t>(f.length);
    EXPECT_LT(loudest(0, start), 2.0f * loudest(start, y.size()));
  }
}

TEST(SpectralTest, AnalysisMatchesTheDefiningSumWithAPeriodicWindow) {
  constexpr int kLength = 64;
  const double pi = 3.14159265358979323846;
  std::vector<float> x = randomSignal(kLength, 3);
  for (const char *name : {"HANN", "HAMMING", "RECTANGLE"}) {
    SCOPED_TRACE(name);
    std::vector<float> w = makeWindow(name, kLength);
    double a = std::string(name) == "HANN" ? 0.5 : 0.54;
    for (int n = 0; n < kLength && std::string(name) != "RECTANGLE"; ++n)
      EXPECT_NEAR(w[n], a - (1.0 - a) * std::cos(2.0 * pi * n / kLength), 1e-7);
    SpectrumAnalyzer analyzer(w);
    std::vector<std::complex<float>> X(analyzer.bins());
    analyzer.analyze(x.data(), X.data());
    ASSERT_EQ(analyzer.bins(), kLength / 2 + 1);
    for (int k = 0; k < analyzer.bins(); ++k) {
      std::complex<double> sum = 0.0;
      for (int n = 0; n < kLength; ++n)
        sum += double(w[n]) * x[n] * std::polar(1.0, -2.0 * pi * k * n / kLength);
      EXPECT_NEAR(X[k].real(), sum.real(), 0.5) << "bin " << k;
      EXPECT_NEAR(X[k].imag(), sum.imag(), 0.5) << "bin " << k;
    }
  }
}

TEST(SpectralTest, UnknownWindowNamesTheAcceptedOnes) {
  try {
    makeWindow("hann", 16);
    FAIL() << "a lower-case window name was accepted";
  } catch (std::invalid_argument &e) {
    EXPECT_NE(std::string(e.what()).find("HANN, HAMMING or RECTANGLE"), std::string::npos);
  }
}

// A damaged spectrum frame spoils only the samples its window covers: once
// the overlap-add has moved past it, the output is finite again.
TEST(SpectralTest, NonFiniteFrameSpoilsOnlyTheSamplesItCovers) {
  constexpr int kLength = 64, kAdvance = 16, kBins = kLength / 2 + 1;
  OverlapAdder adder(makeWindow("HANN", kLength), kAdvance);
  std::vector<std::complex<float>> spectrum(kBins, {1.0f, 0.5f});
  std::vector<float> out(kAdvance);
  for (int frame = 0; frame < 20; ++frame) {
    std::vector<std::complex<float>> input = spectrum;
    if (frame == 5) input[3] = {NAN, 0.0f};
    if (frame == 6) input[4] = {0.0f, INFINITY};
    adder.synthesize(input.data(), out.data());
    // Frames 5 and 6 reach the output of frames 5 to 6 + LENGTH/ADVANCE - 1.
    const bool covered = frame >= 5 && frame < 6 + kLength / kAdvance;
    if (!covered) {
      for (float s : out) EXPECT_TRUE(std::isfinite(s)) << "frame " << frame;
    }
  }
}
