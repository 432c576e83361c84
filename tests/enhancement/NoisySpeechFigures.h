// Figures of an enhancement or a speech decision on a scene with known
// parts (NoisySpeechScenes.h). The enhancement's effect on each bin is a
// real gain (the noisy phase is kept), which is applied to the speech and
// the noise apart: SNR improvement, segmental SNR improvement, speech level
// and noise attenuation all come from those filtered parts.
#ifndef KOLV_TEST_NOISY_SPEECH_FIGURES_H
#define KOLV_TEST_NOISY_SPEECH_FIGURES_H

#include <algorithm>
#include <cmath>
#include <vector>

#include "NoisySpeechScenes.h"

namespace noisyspeech {

// Segmental SNR: per-frame values are clamped to this range.
constexpr double kSegmentFloorDb = -10.0;
constexpr double kSegmentCeilingDb = 35.0;
// Frames whose speech is within this of the loudest are scored by segmental SNR.
constexpr double kSegmentRangeDb = 40.0;

inline double db(double ratio) { return 10.0 * std::log10(std::max(ratio, 1e-30)); }

inline double frameEnergy(const std::vector<Complex> &frame) {
  double e = 0;
  for (const Complex &x : frame) e += std::norm(std::complex<double>(x));
  return e;
}

// Speech frames by the clean speech's energy, as the scene renderer marks
// activity: within 30 dB of the loudest frame and 10 dB above the
// recording's background (the 10th percentile of the frames that are not
// silent, at most 15 dB below the loudest), pauses under 150 ms bridged,
// blips under 60 ms dropped.
constexpr double kActivityRangeDb = 30.0;
constexpr double kAboveBackgroundDb = 10.0;
constexpr double kBackgroundCapDb = 15.0;
constexpr double kBackgroundPercentile = 0.1;
constexpr int kBridgedPauseFrames = 15;
constexpr int kDroppedBlipFrames = 6;

// Runs of `value` shorter than `frames` between two runs of the other value
// take the other value.
inline void fillShortRuns(std::vector<bool> &marks, bool value, int frames) {
  const int n = static_cast<int>(marks.size());
  for (int t = 0; t < n;) {
    int end = t;
    while (end < n && marks[end] == marks[t]) ++end;
    if (marks[t] == value && t > 0 && end < n && end - t < frames)
      for (int i = t; i < end; ++i) marks[i] = !value;
    t = end;
  }
}

inline std::vector<bool> speechFrames(const Scene &scene) {
  std::vector<double> e, sounding;
  for (const auto &f : scene.cleanFrames) {
    e.push_back(frameEnergy(f));
    if (e.back() > 0) sounding.push_back(e.back());
  }
  const double loudest = *std::max_element(e.begin(), e.end());
  std::sort(sounding.begin(), sounding.end());
  const double background = std::min(sounding[static_cast<size_t>(kBackgroundPercentile * sounding.size())],
                                     loudest * std::pow(10.0, -(kBackgroundCapDb + kAboveBackgroundDb) / 10.0));
  const double threshold = std::max(loudest * std::pow(10.0, -kActivityRangeDb / 10.0),
                                    background * std::pow(10.0, kAboveBackgroundDb / 10.0));
  std::vector<bool> speech;
  for (double x : e) speech.push_back(x > threshold);
  fillShortRuns(speech, false, kBridgedPauseFrames);
  fillShortRuns(speech, true, kDroppedBlipFrames);
  return speech;
}

// The real gain out / in of every bin (0 where the input is 0).
inline std::vector<float> binGains(const std::vector<Complex> &in, const std::vector<Complex> &out) {
  std::vector<float> g(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    const double p = std::norm(std::complex<double>(in[i]));
    g[i] = p > 0 ? static_cast<float>((std::complex<double>(out[i]) * std::conj(std::complex<double>(in[i]))).real() / p)
                 : 0.0f;
  }
  return g;
}

struct EnhancementFigures {
  double snrImprovementDb = 0;     // output SNR minus input SNR over the scored frames
  double segSnrImprovementDb = 0;  // mean segmental SNR, output minus input
  double speechLevelDb = 0;        // filtered speech over the input speech, speech frames
  double outputLevelDb = 0;        // the output (filtered speech and noise) over the input speech, speech frames
  double noiseAttenuationDb = 0;   // filtered noise over the input noise, frames without speech
};

// Figures over frames from .. to - 1 of the enhancement `out` of the scene.
inline EnhancementFigures measureEnhancement(const Scene &scene, const Frames &out, int from, int to) {
  const std::vector<bool> speech = speechFrames(scene);
  std::vector<double> cleanEnergy;
  for (const auto &f : scene.cleanFrames) cleanEnergy.push_back(frameEnergy(f));
  const double loudest = *std::max_element(cleanEnergy.begin(), cleanEnergy.end());
  double s = 0, n = 0, gs = 0, gn = 0, speechIn = 0, speechOut = 0, outputOnSpeech = 0, pauseIn = 0, pauseOut = 0;
  double segIn = 0, segOut = 0;
  int segments = 0;
  for (int t = from; t < to; ++t) {
    const std::vector<float> g = binGains(scene.noisyFrames[t], out[t]);
    double fs = 0, fn = 0, fgs = 0, fgn = 0, ferr = 0;
    for (size_t i = 0; i < g.size(); ++i) {
      const std::complex<double> c = scene.cleanFrames[t][i], v = scene.noiseFrames[t][i];
      fs += std::norm(c);
      fn += std::norm(v);
      fgs += std::norm(c * double(g[i]));
      fgn += std::norm(v * double(g[i]));
      ferr += std::norm((c + v) * double(g[i]) - c);
    }
    s += fs; n += fn; gs += fgs; gn += fgn;
    if (speech[t]) { speechIn += fs; speechOut += fgs; outputOnSpeech += fgs + fgn; }
    else { pauseIn += fn; pauseOut += fgn; }
    if (fs > loudest * std::pow(10.0, -kSegmentRangeDb / 10.0)) {
      auto clamp = [](double x) { return std::min(std::max(x, kSegmentFloorDb), kSegmentCeilingDb); };
      segIn += clamp(db(fs / fn));
      segOut += clamp(db(fs / ferr));
      ++segments;
    }
  }
  EnhancementFigures f;
  f.snrImprovementDb = db(gs / gn) - db(s / n);
  f.segSnrImprovementDb = segments ? (segOut - segIn) / segments : 0.0;
  f.speechLevelDb = db(speechOut / speechIn);
  f.outputLevelDb = db(outputOnSpeech / speechIn);
  f.noiseAttenuationDb = db(pauseOut / pauseIn);
  return f;
}

struct DetectionFigures {
  double accuracy = 0;     // share of frames decided right
  double falseAlarms = 0;  // share of the frames without speech called speech
};

inline DetectionFigures measureDetection(const std::vector<bool> &truth, const std::vector<bool> &decided,
                                         int from, int to) {
  int right = 0, pauses = 0, alarms = 0;
  for (int t = from; t < to; ++t) {
    right += truth[t] == decided[t];
    if (!truth[t]) {
      ++pauses;
      alarms += decided[t];
    }
  }
  DetectionFigures f;
  f.accuracy = to > from ? static_cast<double>(right) / (to - from) : 0.0;
  f.falseAlarms = pauses ? static_cast<double>(alarms) / pauses : 0.0;
  return f;
}

// First frame whose window starts at or after `seconds`.
inline int frameAt(double seconds) { return static_cast<int>(std::ceil(seconds * kRate / kAdvance)); }

}  // namespace noisyspeech

#endif
