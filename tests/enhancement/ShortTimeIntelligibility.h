// Short-time objective intelligibility (STOI; Taal, Hendriks, Heusdens and
// Jensen, IEEE TASLP 2011), computed on the 16 kHz spectra the enhancement
// nodes see rather than on 10 kHz frames as the published measure does:
// one-third-octave bands from 150 Hz (15 bands, the last ending near 4.3
// kHz), envelopes over 384 ms segments (38 frames of 10 ms instead of 30 of
// 12.8 ms), the processed envelope scaled to the clean one's norm and clipped
// at 15 dB above it (a signal-to-distortion floor of -15 dB), frames more
// than 40 dB below the loudest clean frame left out. An approximation: its
// values are close to, not equal to, the published measure's.
#ifndef KOLV_TEST_SHORT_TIME_INTELLIGIBILITY_H
#define KOLV_TEST_SHORT_TIME_INTELLIGIBILITY_H

#include <algorithm>
#include <cmath>
#include <vector>

#include "NoisySpeechScenes.h"

namespace noisyspeech {

constexpr int kStoiBands = 15;
constexpr double kStoiLowestCentreHz = 150.0;
constexpr int kStoiSegmentFrames = 38;      // 384 ms at 10 ms frames
constexpr double kStoiClipDb = 15.0;        // processed envelope at most this far above the clean one
constexpr double kStoiSilenceRangeDb = 40.0;

// Band envelopes (per frame, per band: root of the band's power) of one channel.
inline std::vector<std::vector<double>> bandEnvelopes(const Frames &frames, int row) {
  const double binHz = static_cast<double>(kRate) / kLength;
  std::vector<std::vector<double>> env(frames.size(), std::vector<double>(kStoiBands));
  for (int b = 0; b < kStoiBands; ++b) {
    const double centre = kStoiLowestCentreHz * std::pow(2.0, b / 3.0);
    const int lo = static_cast<int>(std::lround(centre * std::pow(2.0, -1.0 / 6.0) / binHz));
    const int hi = static_cast<int>(std::lround(centre * std::pow(2.0, 1.0 / 6.0) / binHz));
    for (size_t t = 0; t < frames.size(); ++t) {
      double p = 0;
      for (int k = lo; k < hi && k < kCols; ++k) p += std::norm(std::complex<double>(frames[t][row * kCols + k]));
      env[t][b] = std::sqrt(p);
    }
  }
  return env;
}

inline double correlation(const std::vector<double> &x, const std::vector<double> &y) {
  const double n = static_cast<double>(x.size());
  double mx = 0, my = 0;
  for (size_t i = 0; i < x.size(); ++i) { mx += x[i] / n; my += y[i] / n; }
  double sxy = 0, sxx = 0, syy = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    sxy += (x[i] - mx) * (y[i] - my);
    sxx += (x[i] - mx) * (x[i] - mx);
    syy += (y[i] - my) * (y[i] - my);
  }
  return sxx > 0 && syy > 0 ? sxy / std::sqrt(sxx * syy) : 0.0;
}

// STOI of `processed` against `clean` over frames from .. to - 1, the mean of
// the two channels.
inline double shortTimeIntelligibility(const Frames &clean, const Frames &processed, int from, int to) {
  const double clip = std::pow(10.0, kStoiClipDb / 20.0);
  double total = 0;
  for (int row = 0; row < kRows; ++row) {
    // Frames within 40 dB of the loudest clean frame of the span.
    std::vector<double> energy;
    for (int t = from; t < to; ++t) {
      double e = 0;
      for (int k = 0; k < kCols; ++k) e += std::norm(std::complex<double>(clean[t][row * kCols + k]));
      energy.push_back(e);
    }
    const double loudest = *std::max_element(energy.begin(), energy.end());
    Frames keptClean, keptProcessed;
    for (int t = from; t < to; ++t)
      if (energy[t - from] > loudest * std::pow(10.0, -kStoiSilenceRangeDb / 10.0)) {
        keptClean.push_back(clean[t]);
        keptProcessed.push_back(processed[t]);
      }
    const auto x = bandEnvelopes(keptClean, row), y = bandEnvelopes(keptProcessed, row);
    double sum = 0;
    int count = 0;
    for (size_t end = kStoiSegmentFrames; end <= x.size(); ++end)
      for (int b = 0; b < kStoiBands; ++b) {
        std::vector<double> xs(kStoiSegmentFrames), ys(kStoiSegmentFrames);
        double nx = 0, ny = 0;
        for (int i = 0; i < kStoiSegmentFrames; ++i) {
          xs[i] = x[end - kStoiSegmentFrames + i][b];
          ys[i] = y[end - kStoiSegmentFrames + i][b];
          nx += xs[i] * xs[i];
          ny += ys[i] * ys[i];
        }
        const double scale = ny > 0 ? std::sqrt(nx / ny) : 0.0;
        for (int i = 0; i < kStoiSegmentFrames; ++i) ys[i] = std::min(ys[i] * scale, xs[i] * clip);
        sum += correlation(xs, ys);
        ++count;
      }
    total += count ? sum / count : 0.0;
  }
  return total / kRows;
}

}  // namespace noisyspeech

#endif
