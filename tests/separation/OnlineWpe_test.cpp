// The recursive dereverberation: each bin's update against the recursion
// written out with Armadillo, a late tail it can predict removed while the
// early part stays, and silence that neither changes nor upsets it.
#include <gtest/gtest.h>

#include <armadillo>
#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "OnlineWpe.h"

namespace {

using KOLV::separation::OnlineWpe;
using KOLV::separation::OnlineWpeSettings;
using cfloat = std::complex<float>;
using Frames = std::vector<std::vector<cfloat>>;  // [frame][bin]

// Speech-like sources: complex Gaussian, the variance changing every 10 frames.
std::vector<std::vector<std::complex<double>>> talkers(int frames, int bins, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> gauss;
  std::uniform_real_distribution<double> level(0.05, 1.0);
  std::vector<std::vector<std::complex<double>>> s(static_cast<size_t>(frames),
                                                   std::vector<std::complex<double>>(static_cast<size_t>(bins)));
  double scale = 1.0;
  for (int t = 0; t < frames; ++t) {
    if (t % 10 == 0) scale = level(random);
    for (auto &v : s[static_cast<size_t>(t)]) v = scale * std::complex<double>(gauss(random), gauss(random));
  }
  return s;
}

struct Stream {
  Frames mic[2];
  Frames kept[2];  // what dereverberation should leave: the direct sound and the early reflection
};

// Each microphone hears the source directly, one frame later once more (an
// early reflection) and then a tail from `delay` to `delay + taps - 1`
// frames back, with gains of its own per bin.
Stream reverberant(int frames, int bins, int delay, int taps, double tailGain, unsigned seed) {
  const auto s = talkers(frames, bins, seed);
  std::mt19937 random(seed + 1);
  std::normal_distribution<double> gauss;
  Stream out;
  for (int m = 0; m < 2; ++m) {
    std::vector<std::vector<std::complex<double>>> h(static_cast<size_t>(bins));
    for (auto &bin : h) {
      bin.resize(static_cast<size_t>(delay + taps));
      for (int j = 0; j < delay + taps; ++j) {
        const double gain = j == 0 ? 1.0 : j < delay ? 0.5 : tailGain * std::exp(-0.3 * (j - delay));
        bin[static_cast<size_t>(j)] = gain * std::polar(1.0, 6.283 * std::abs(gauss(random)));
      }
    }
    out.mic[m].assign(static_cast<size_t>(frames), std::vector<cfloat>(static_cast<size_t>(bins)));
    out.kept[m] = out.mic[m];
    for (int t = 0; t < frames; ++t)
      for (int k = 0; k < bins; ++k) {
        std::complex<double> sum = 0.0, early = 0.0;
        for (int j = 0; j < delay + taps && j <= t; ++j) {
          const std::complex<double> part = h[static_cast<size_t>(k)][static_cast<size_t>(j)] *
                                            s[static_cast<size_t>(t - j)][static_cast<size_t>(k)];
          sum += part;
          if (j < delay) early += part;
        }
        out.mic[m][static_cast<size_t>(t)][static_cast<size_t>(k)] = cfloat(sum);
        out.kept[m][static_cast<size_t>(t)][static_cast<size_t>(k)] = cfloat(early);
      }
  }
  return out;
}

OnlineWpeSettings settingsOf(int bins, int delay, int taps, double forgetting) {
  OnlineWpeSettings settings;
  settings.bins = bins;
  settings.delay = delay;
  settings.taps = taps;
  settings.forgetting = forgetting;
  return settings;
}

// A long memory: the filter's estimation error falls with the frames it rests
// on (with a short one it is what limits the suppression).
constexpr double kLongMemory = 0.999;

void run(OnlineWpe &wpe, const Frames mic[2], Frames out[2]) {
  const int bins = static_cast<int>(mic[0][0].size());
  for (int m = 0; m < 2; ++m) out[m].assign(mic[0].size(), std::vector<cfloat>(static_cast<size_t>(bins)));
  for (size_t t = 0; t < mic[0].size(); ++t)
    wpe.process(mic[0][t].data(), mic[1][t].data(), out[0][t].data(), out[1][t].data());
}

// 10 log10 of the power of a - b over that of b, frames [from, to).
double errorDb(const Frames &a, const Frames &b, size_t from, size_t to) {
  double error = 0.0, power = 0.0;
  for (size_t t = from; t < to; ++t)
    for (size_t k = 0; k < a[t].size(); ++k) {
      error += std::norm(a[t][k] - b[t][k]);
      power += std::norm(b[t][k]);
    }
  return 10.0 * std::log10(error / power);
}

TEST(OnlineWpe, AgreesWithTheRecursionWrittenOut) {
  constexpr int kBins = 3, kFrames = 300, kDelay = 2, kTaps = 3;
  constexpr double kForgetting = 0.97;
  const Stream s = reverberant(kFrames, kBins, kDelay, kTaps, 0.6, 3);
  OnlineWpe wpe(settingsOf(kBins, kDelay, kTaps, kForgetting));
  Frames out[2];
  run(wpe, s.mic, out);

  // Per bin: x~ the frames delay .. delay + taps - 1 back, newest first;
  // w the frame's mean power over the microphones, at least 1e-3 of its
  // running mean; k = P x~ / (alpha w + x~^H P x~), e = x - G^H x~,
  // G += k e^H, P = (P - k x~^H P) / alpha.
  for (int k = 0; k < kBins; ++k) {
    SCOPED_TRACE("bin " + std::to_string(k));
    arma::cx_mat p = 1e4 * arma::eye<arma::cx_mat>(2 * kTaps, 2 * kTaps);
    arma::cx_mat g(2 * kTaps, 2, arma::fill::zeros);
    double worst = 0.0, meanPower = 0.0;
    for (int t = 0; t < kFrames; ++t) {
      arma::cx_vec past(2 * kTaps, arma::fill::zeros), x(2);
      for (int i = 0; i < kTaps; ++i)
        for (int m = 0; m < 2; ++m)
          if (t - kDelay - i >= 0) past(2 * i + m) = s.mic[m][static_cast<size_t>(t - kDelay - i)][k];
      for (int m = 0; m < 2; ++m) x(m) = s.mic[m][static_cast<size_t>(t)][k];
      const arma::cx_vec e = x - g.t() * past;
      const double power = 0.5 * arma::accu(arma::square(arma::abs(x)));
      meanPower = kForgetting * meanPower + (1.0 - kForgetting) * power;
      if (arma::norm(past) > 0.0) {
        const double weight = std::max(power, 1e-3 * meanPower);
        const arma::cx_vec gain = p * past;
        const arma::cx_vec kalman = gain / (kForgetting * weight + std::real(arma::cdot(past, gain)));
        g += kalman * e.t();
        p = (p - kalman * past.t() * p) / kForgetting;
      }
      for (int m = 0; m < 2; ++m)
        worst = std::max(worst, std::abs(std::complex<double>(out[m][static_cast<size_t>(t)][k]) - e(m)) /
                                    std::max(1e-3, std::abs(e(m))));
    }
    EXPECT_LT(worst, 1e-3);
  }
}

TEST(OnlineWpe, RemovesALateTailItCanPredictAndKeepsTheEarlyPart) {
  // Two microphones hear one talker through responses without common zeros:
  // a prediction a few frames longer than the tail inverts them.
  constexpr int kBins = 8, kFrames = 3000, kDelay = 2, kTail = 3, kTaps = 8;
  const Stream s = reverberant(kFrames, kBins, kDelay, kTail, 0.8, 4);
  OnlineWpe wpe(settingsOf(kBins, kDelay, kTaps, kLongMemory));
  Frames out[2];
  run(wpe, s.mic, out);
  for (int m = 0; m < 2; ++m) {
    SCOPED_TRACE("microphone " + std::to_string(m));
    const double before = errorDb(s.mic[m], s.kept[m], 2000, kFrames);
    const double after = errorDb(out[m], s.kept[m], 2000, kFrames);
    EXPECT_GT(before, -6.0);  // the tail is a large part of what is heard
    // Weighing each frame by its own observed power biases the filter a
    // little (frames the tail dominates count less): about 10 dB, not all.
    EXPECT_LT(after, before - 8.0);
  }
}

// Long digital silence (which teaches the recursion nothing) and then the
// talker: the output is the input throughout the silence, and the tail is
// removed afterwards as well as without the silence.
TEST(OnlineWpe, LongSilenceNeitherChangesNorUpsetsIt) {
  constexpr int kBins = 4, kFrames = 1200, kSilence = 40000, kDelay = 2, kTail = 3, kTaps = 8;
  const Stream s = reverberant(kFrames, kBins, kDelay, kTail, 0.8, 5);
  OnlineWpe wpe(settingsOf(kBins, kDelay, kTaps, kLongMemory));
  const std::vector<cfloat> zeros(kBins);
  std::vector<cfloat> out0(kBins), out1(kBins);
  Frames warm[2];
  run(wpe, s.mic, warm);
  for (int t = 0; t < kSilence; ++t) {
    if (t % 2 == 0) {
      wpe.skip();
      continue;
    }
    wpe.process(zeros.data(), zeros.data(), out0.data(), out1.data());
    // Until the talker's frames have left the predicting ones, their tail is
    // predicted (and taken from the silence).
    if (t < 2 * (kDelay + kTaps)) continue;
    for (int k = 0; k < kBins; ++k) ASSERT_EQ(out0[k], cfloat()) << "silent frame " << t;
  }
  Frames out[2];
  run(wpe, s.mic, out);
  for (int m = 0; m < 2; ++m)
    EXPECT_LT(errorDb(out[m], s.kept[m], 600, kFrames), errorDb(s.mic[m], s.kept[m], 600, kFrames) - 8.0);
}

}  // namespace
