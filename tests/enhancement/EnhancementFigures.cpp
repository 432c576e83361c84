// Measures the enhancement nodes' kernels on noisy two-channel speech
// (NoisySpeechScenes.h): white, pink, diffuse and modulated noise at -5 to
// 20 dB SNR, with a 1 s noise-only lead-in, without one, and with a 6 dB
// noise step. Prints the figures docs/enhancement.md quotes, with STOI
// computed on the 16 kHz spectra (ShortTimeIntelligibility.h).
//
//   build/enhancement_figures [--detail] [name=value ...]
//
// name=value sets a setting of the adaptive kernels, for measuring
// candidates: floor (dB), shared (0/1), regenerate (0/1), alpha
// (decision-directed weight), speechsnr (dB), noisealpha, steady (steady
// estimate's weight), drift (dB), cepstral (0/1: the gain's cepstral
// smoothing), fineweight, finestart (ms), logbias (its settings), hangover
// (frames), threshold, vadalpha;
// files (recordings joined, 1 to 5), vadonly (1: detectors only), adaptive
// (1: only the adaptive enhancer without regeneration). Means are printed
// over all mixtures and per noise.
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "AdaptiveSpeechEnhancer.h"
#include "AdaptiveVoiceActivityDetector.h"
#include "GainRules.h"
#include "NoisySpeechFigures.h"
#include "ShortTimeIntelligibility.h"
#include "SpeechEnhancer.h"
#include "VoiceActivityDetector.h"

using namespace noisyspeech;

namespace {

constexpr int kLearningFrames = 100;  // the first toolbox's nodes' 1 s noise period
constexpr float kFirstToolboxThreshold = 2.0f;
constexpr double kStepAt = 8.6;            // s, in a pause
constexpr double kRecoveryTime = 2.0;      // s after the step from which suppression is judged
constexpr double kBeforeStepWindow = 7.6;  // s before the step compared with (after the first second)

enum class Condition { LeadIn, NoLeadIn, Step };
const char *conditionName(Condition c) {
  return c == Condition::LeadIn ? "lead-in" : c == Condition::NoLeadIn ? "no lead-in" : "6 dB step";
}

std::map<std::string, double> options;
double option(const std::string &name, double fallback) {
  auto it = options.find(name);
  return it == options.end() ? fallback : it->second;
}

void trackerOptions(enhancement::NoiseTrackerSettings &t) {
  t.speechSnr = static_cast<float>(std::pow(10.0, option("speechsnr", 10 * std::log10(t.speechSnr)) / 10.0));
  t.noiseSmoothing = static_cast<float>(option("noisealpha", t.noiseSmoothing));
  t.steadySmoothing = static_cast<float>(option("steady", t.steadySmoothing));
  t.driftLimitDb = static_cast<float>(option("drift", t.driftLimitDb));
  t.stuckPresence = static_cast<float>(option("stuck", t.stuckPresence));
  t.presenceSmoothing = static_cast<float>(option("psmooth", t.presenceSmoothing));
  t.healLimitDb = static_cast<float>(option("heal", t.healLimitDb));
}

enhancement::AdaptiveEnhancerSettings enhancerSettings(bool regenerate) {
  enhancement::AdaptiveEnhancerSettings s;
  trackerOptions(s.tracker);
  s.gainFloor = static_cast<float>(std::pow(10.0, option("floor", 20 * std::log10(s.gainFloor)) / 20.0));
  s.sharedGain = option("shared", s.sharedGain) != 0;
  s.tracker.priorSnrSmoothing = static_cast<float>(option("alpha", s.tracker.priorSnrSmoothing));
  s.regenerateHarmonics = option("regenerate", regenerate) != 0;
  s.cepstralSmoothing = option("cepstral", s.cepstralSmoothing) != 0;
  s.cepstral.fineWeight = static_cast<float>(option("fineweight", s.cepstral.fineWeight));
  s.cepstral.fineStart = option("finestart", s.cepstral.fineStart * 1000) / 1000;
  s.cepstral.logBias = static_cast<float>(option("logbias", s.cepstral.logBias));
  return s;
}

enhancement::AdaptiveDetectorSettings detectorSettings() {
  enhancement::AdaptiveDetectorSettings s;
  trackerOptions(s.tracker);
  s.hangoverFrames = static_cast<int>(option("hangover", s.hangoverFrames));
  s.tracker.priorSnrSmoothing = static_cast<float>(option("vadalpha", s.tracker.priorSnrSmoothing));
  s.threshold = static_cast<float>(option("threshold", s.threshold));
  return s;
}

Frames runFirstToolbox(const Scene &scene) {
  enhancement::SpeechEnhancer e(enhancement::GainRule::MinimumMeanSquareError, true, kLearningFrames);
  e.start(kRows, kCols - 1);
  Frames out;
  for (size_t t = 0; t < scene.noisyFrames.size(); ++t) {
    std::vector<Complex> o(kRows * kCols);
    e.process(static_cast<int>(t), scene.noisyFrames[t].data(), o.data());
    out.push_back(std::move(o));
  }
  return out;
}

Frames runAdaptive(const Scene &scene, bool regenerate) {
  enhancement::AdaptiveSpeechEnhancer e(enhancerSettings(regenerate));
  e.start(kRows, kCols - 1);
  Frames out;
  for (const auto &frame : scene.noisyFrames) {
    std::vector<Complex> o(kRows * kCols);
    e.process(frame.data(), o.data());
    out.push_back(std::move(o));
  }
  return out;
}

std::vector<bool> decideFirstToolbox(const Scene &scene) {
  const auto band = enhancement::SpeechBand::of(kRate, kCols);
  enhancement::VoiceActivityDetector d(kLearningFrames, kFirstToolboxThreshold);
  d.start(kCols - 1);
  std::vector<bool> out;
  for (size_t t = 0; t < scene.noisyFrames.size(); ++t)
    out.push_back(d.decide(static_cast<int>(t), band, scene.noisyFrames[t].data(), scene.noisyFrames[t].data() + kCols));
  return out;
}

std::vector<bool> decideAdaptive(const Scene &scene) {
  enhancement::AdaptiveVoiceActivityDetector d(detectorSettings());
  d.start(enhancement::SpeechBand::of(kRate, kCols));
  std::vector<bool> out;
  for (const auto &frame : scene.noisyFrames) out.push_back(d.decide(frame.data(), frame.data() + kCols));
  return out;
}

struct Sums {
  double snr = 0, seg = 0, level = 0, output = 0, before = 0, after = 0, accuracy = 0, alarms = 0, stoiIn = 0, stoiOut = 0;
  int count = 0;
  void add(const EnhancementFigures &f, double attBefore, double attAfter, double stoiNoisy, double stoiEnhanced) {
    snr += f.snrImprovementDb; seg += f.segSnrImprovementDb; level += f.speechLevelDb; output += f.outputLevelDb;
    before += attBefore; after += attAfter; stoiIn += stoiNoisy; stoiOut += stoiEnhanced; ++count;
  }
  void addDetection(const DetectionFigures &f) {
    accuracy += f.accuracy; alarms += f.falseAlarms; ++count;
  }
};

}  // namespace

int main(int argc, char **argv) {
  bool detail = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--detail") { detail = true; continue; }
    const auto eq = a.find('=');
    if (eq == std::string::npos) { std::fprintf(stderr, "unknown argument %s\n", a.c_str()); return 2; }
    options[a.substr(0, eq)] = std::atof(a.c_str() + eq + 1);
  }
  const std::vector<std::string> speech = readSpeech(static_cast<int>(option("files", 3)));
  const std::vector<Noise> noises = {Noise::White, Noise::Pink, Noise::Diffuse, Noise::Modulated};
  const std::vector<double> snrs = {-5, 0, 5, 10, 15, 20};
  const char *enhancers[] = {"SpeechEnhancement MMSE+HR", "Adaptive", "Adaptive+HR"};
  const char *detectors[] = {"VoiceActivityDetection", "AdaptiveVAD"};
  const bool vadOnly = option("vadonly", 0) != 0;
  const bool adaptiveOnly = option("adaptive", 0) != 0;
  auto wanted = [&](int e) { return !vadOnly && (!adaptiveOnly || e == 1); };
  for (Condition c : {Condition::LeadIn, Condition::NoLeadIn, Condition::Step}) {
    // Index 0: all noises; 1 + n: noise n alone.
    std::vector<std::array<Sums, 3>> enh(noises.size() + 1);
    std::vector<std::array<Sums, 2>> vad(noises.size() + 1);
    for (size_t n = 0; n < noises.size(); ++n) {
      const Noise noise = noises[n];
      for (double snr : snrs) {
        SceneRecipe recipe;
        recipe.noise = noise;
        recipe.snrDb = snr;
        recipe.leadIn = c == Condition::NoLeadIn ? 0.0 : 1.0;
        recipe.stepAt = c == Condition::Step ? kStepAt : -1.0;
        recipe.recordings = speech;
        recipe.seed = 100 + static_cast<unsigned>(noise) * 10 + static_cast<unsigned>(snr + 5);
        const Scene scene = makeScene(recipe);
        const int frames = static_cast<int>(scene.noisyFrames.size());
        const int from = c == Condition::NoLeadIn ? 0 : frameAt(1.0);
        const Frames outs[3] = {wanted(0) ? runFirstToolbox(scene) : Frames(),
                                wanted(1) ? runAdaptive(scene, false) : Frames(),
                                wanted(2) ? runAdaptive(scene, true) : Frames()};
        const double stoiIn = vadOnly ? 0.0 : shortTimeIntelligibility(scene.cleanFrames, scene.noisyFrames, from, frames);
        for (int e = 0; e < 3; ++e) {
          if (!wanted(e)) continue;
          const double stoi = shortTimeIntelligibility(scene.cleanFrames, outs[e], from, frames);
          EnhancementFigures f = measureEnhancement(scene, outs[e], from, frames);
          // Speech level from the first second on.
          const EnhancementFigures fromFirstSecond = measureEnhancement(scene, outs[e], frameAt(1.0), frames);
          f.speechLevelDb = fromFirstSecond.speechLevelDb;
          f.outputLevelDb = fromFirstSecond.outputLevelDb;
          double before = 0, after = 0;
          if (c == Condition::Step) {
            before = measureEnhancement(scene, outs[e], frameAt(kStepAt - kBeforeStepWindow), frameAt(kStepAt)).noiseAttenuationDb;
            after = measureEnhancement(scene, outs[e], frameAt(kStepAt + kRecoveryTime), frames).noiseAttenuationDb;
          }
          enh[0][e].add(f, before, after, stoiIn, stoi);
          enh[1 + n][e].add(f, before, after, stoiIn, stoi);
          if (detail)
            std::printf("  %-10s %-9s %5.0f dB %-26s snr %+6.2f seg %+6.2f level %+6.2f stoi %.3f->%.3f att %6.1f/%6.1f\n",
                        conditionName(c), noiseName(noise).c_str(), snr, enhancers[e], f.snrImprovementDb,
                        f.segSnrImprovementDb, f.speechLevelDb, stoiIn, stoi, before, after);
        }
        const std::vector<bool> truth = speechFrames(scene);
        const std::vector<bool> decisions[2] = {decideFirstToolbox(scene), decideAdaptive(scene)};
        const int vadFrom = c == Condition::Step ? frameAt(kStepAt + kRecoveryTime) : from;
        for (int d = 0; d < 2; ++d) {
          const DetectionFigures f = measureDetection(truth, decisions[d], vadFrom, frames);
          for (Sums *sums : {&vad[0][d], &vad[1 + n][d]}) sums->addDetection(f);
          if (detail)
            std::printf("  %-10s %-9s %5.0f dB %-26s accuracy %.3f false alarms %.3f\n", conditionName(c),
                        noiseName(noise).c_str(), snr, detectors[d], f.accuracy, f.falseAlarms);
        }
      }
    }
    for (size_t i = 0; i < enh.size(); ++i) {
      if (i == 0)
        std::printf("%s (mean over %zu noises x %zu SNRs)\n", conditionName(c), noises.size(), snrs.size());
      else
        std::printf("%s, %s noise (mean over %zu SNRs)\n", conditionName(c), noiseName(noises[i - 1]).c_str(),
                    snrs.size());
      for (int e = 0; e < 3; ++e) {
        const Sums &s = enh[i][e];
        if (!s.count) continue;
        std::printf("  %-26s SNR impr %6.2f dB  segSNR impr %6.2f dB  speech level %+6.2f dB (output %+6.2f)  STOI %.3f -> %.3f",
                    enhancers[e], s.snr / s.count, s.seg / s.count, s.level / s.count, s.output / s.count, s.stoiIn / s.count,
                    s.stoiOut / s.count);
        if (c == Condition::Step)
          std::printf("  noise att. before step %6.1f dB, from 2 s after %6.1f dB", s.before / s.count, s.after / s.count);
        std::printf("\n");
      }
      for (int d = 0; d < 2; ++d)
        std::printf("  %-26s accuracy %.3f  false alarms %.3f%s\n", detectors[d], vad[i][d].accuracy / vad[i][d].count,
                    vad[i][d].alarms / vad[i][d].count, c == Condition::Step ? " (from 2 s after the step)" : "");
    }
  }
  return 0;
}
