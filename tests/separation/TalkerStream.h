// Talkers heard by two ears, in the frequency domain, frame by frame: each
// talker a speech-like source (loudness varying from frame to frame, shared
// by all its bins) from a direction that may change, for the tests that
// follow who ends up on which output.
#ifndef KOLV_TEST_TALKER_STREAM_H
#define KOLV_TEST_TALKER_STREAM_H

#include <cmath>
#include <complex>
#include <functional>
#include <random>
#include <vector>

namespace kolvtest {

using cfloat = std::complex<float>;
using FrameBins = std::vector<std::vector<cfloat>>;  // [frame][bin]

// Ears about 20 cm apart: per bin the steering vector [1, g exp(-j w tau)],
// with the delay tau and a level difference g growing with frequency (the
// head's shadow), from the direction in degrees.
constexpr double kDelayPerSine = 9.3;      // samples at 16 kHz: 0.58 ms towards the side
constexpr double kShadowPerSineDb = 15.0;  // level difference towards the side at the top bin

inline cfloat steering(int bin, int bins, double degrees) {
  const double sine = std::sin(degrees * M_PI / 180.0), cyclesPerSample = 0.5 * bin / bins;
  const double phase = -2.0 * M_PI * cyclesPerSample * kDelayPerSine * sine;
  const double gain = std::pow(10.0, -kShadowPerSineDb * bin / bins * sine / 20.0);
  return std::polar(static_cast<float>(gain), static_cast<float>(phase));
}

struct TalkerStream {
  FrameBins mic0, mic1;
  std::vector<FrameBins> images;  // per talker: its part of mic0
};

// activity(talker, frame) in [0, 1]; direction(talker, frame) in degrees.
// Noise 50 dB below the talkers keeps every bin's covariance regular.
inline TalkerStream makeTalkerStream(int talkers, int frames, int bins,
                                     const std::function<float(int, int)> &activity,
                                     const std::function<double(int, int)> &direction, unsigned seed) {
  std::mt19937 generator(seed);
  std::normal_distribution<float> gaussian(0.0f, 1.0f);
  std::exponential_distribution<float> loudness(1.0f);
  std::normal_distribution<float> noise(0.0f, 0.003f);
  TalkerStream s;
  s.images.resize(static_cast<size_t>(talkers));
  for (int t = 0; t < frames; ++t) {
    std::vector<cfloat> m0(bins), m1(bins);
    std::vector<float> envelope(static_cast<size_t>(talkers));
    for (int i = 0; i < talkers; ++i) envelope[i] = activity(i, t) * (0.2f + loudness(generator));
    for (int i = 0; i < talkers; ++i) s.images[i].emplace_back(bins);
    for (int k = 0; k < bins; ++k) {
      m0[k] = cfloat(noise(generator), noise(generator));
      m1[k] = cfloat(noise(generator), noise(generator));
      for (int i = 0; i < talkers; ++i) {
        const cfloat source = envelope[i] * cfloat(gaussian(generator), gaussian(generator));
        s.images[i][t][k] = source;
        m0[k] += source;
        m1[k] += source * steering(k, bins, direction(i, t));
      }
    }
    s.mic0.push_back(m0);
    s.mic1.push_back(m1);
  }
  return s;
}

// Energy of a talker in an output over frames [first, end): per bin the
// least-squares fit of the talker's image to the output.
inline double talkerEnergy(const FrameBins &image, const FrameBins &output, int first, int end) {
  double total = 0.0;
  const size_t bins = image.at(0).size();
  for (size_t k = 0; k < bins; ++k) {
    std::complex<double> cross = 0.0;
    double power = 0.0;
    for (int t = first; t < end; ++t) {
      cross += std::complex<double>(output[t][k]) * std::conj(std::complex<double>(image[t][k]));
      power += std::norm(image[t][k]);
    }
    if (power > 0.0) total += std::norm(cross) / power;
  }
  return total;
}

}  // namespace kolvtest

#endif
