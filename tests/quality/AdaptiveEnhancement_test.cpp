// What the adaptive enhancement and voice activity nodes achieve on noisy
// two-channel speech. Two kinds of cases: the kernels on read speech mixed
// at test time with generated noise whose parts are known (SNR and segmental
// SNR improvement, speech level, suppression after a noise step, detection
// accuracy), and kolv's example networks on rendered binaural scenes with
// and without a noise-only lead-in. Thresholds sit a margin below the figures
// measured (docs/enhancement.md).
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "AdaptiveSpeechEnhancer.h"
#include "AdaptiveVoiceActivityDetector.h"
#include "NoisySpeechFigures.h"
#include "SceneRuns.h"

namespace {

using namespace noisyspeech;

// Conditions of the mixed scenes.
constexpr double kLeadIn = 1.0;       // s of noise alone, where there is a lead-in
constexpr double kStepAt = 8.6;       // s: the noise grows by 6 dB, in a pause
constexpr double kRecovery = 2.0;     // s after the step from which suppression is judged
constexpr double kLevelFrom = 1.0;    // s: the speech level is judged from here on

// Measured means over the cases below (white and diffuse noise at 0 and
// 10 dB), less a margin.
constexpr double kMinSnrImprovement = 7.0;       // dB, with or without a lead-in
constexpr double kMinSegSnrImprovement = 2.0;    // dB
constexpr double kMaxSpeechLevelLoss = 2.0;      // dB
constexpr double kMaxLeadInDifference = 0.5;     // dB between the runs with and without lead-in
constexpr double kMaxSuppressionLossAfterStep = 2.0;  // dB
constexpr double kMinAccuracy = 0.80;
constexpr double kMaxFalseAlarms = 0.15;

struct Mix {
  Noise noise;
  double snrDb;
};

std::string mixName(const ::testing::TestParamInfo<Mix> &info) {
  return noiseName(info.param.noise) + "_" + std::to_string(static_cast<int>(info.param.snrDb)) + "dB";
}

Scene scene(const Mix &mix, double leadIn, double stepAt = -1.0) {
  SceneRecipe recipe;
  recipe.noise = mix.noise;
  recipe.snrDb = mix.snrDb;
  recipe.leadIn = leadIn;
  recipe.stepAt = stepAt;
  recipe.recordings = readSpeech(3);
  recipe.seed = 11 + static_cast<unsigned>(mix.snrDb);
  return makeScene(recipe);
}

Frames enhanced(const Scene &s) {
  enhancement::AdaptiveSpeechEnhancer enhancer{enhancement::AdaptiveEnhancerSettings()};
  enhancer.start(kRows, kCols - 1);
  Frames out;
  for (const auto &frame : s.noisyFrames) {
    out.emplace_back(frame.size());
    enhancer.process(frame.data(), out.back().data());
  }
  return out;
}

std::vector<bool> detected(const Scene &s) {
  enhancement::AdaptiveVoiceActivityDetector detector{enhancement::AdaptiveDetectorSettings()};
  detector.start(enhancement::SpeechBand::of(kRate, kCols));
  std::vector<bool> speech;
  for (const auto &frame : s.noisyFrames) speech.push_back(detector.decide(frame.data(), frame.data() + kCols));
  return speech;
}

int frames(const Scene &s) { return static_cast<int>(s.noisyFrames.size()); }

class MixedSpeech : public ::testing::TestWithParam<Mix> {};

TEST_P(MixedSpeech, EnhancementWithAndWithoutLeadIn) {
  const Scene withLeadIn = scene(GetParam(), kLeadIn);
  const Scene without = scene(GetParam(), 0.0);
  const EnhancementFigures lead = measureEnhancement(withLeadIn, enhanced(withLeadIn), frameAt(kLeadIn), frames(withLeadIn));
  const Frames out = enhanced(without);
  const EnhancementFigures none = measureEnhancement(without, out, 0, frames(without));
  const double level = measureEnhancement(without, out, frameAt(kLevelFrom), frames(without)).speechLevelDb;
  RecordProperty("snr_improvement_lead_in", std::to_string(lead.snrImprovementDb));
  RecordProperty("snr_improvement_no_lead_in", std::to_string(none.snrImprovementDb));
  EXPECT_GE(lead.snrImprovementDb, kMinSnrImprovement);
  EXPECT_GE(none.snrImprovementDb, kMinSnrImprovement);
  EXPECT_NEAR(none.snrImprovementDb, lead.snrImprovementDb, kMaxLeadInDifference);
  EXPECT_GE(lead.segSnrImprovementDb, kMinSegSnrImprovement);
  EXPECT_GE(none.segSnrImprovementDb, kMinSegSnrImprovement);
  EXPECT_GE(level, -kMaxSpeechLevelLoss);
}

TEST_P(MixedSpeech, SuppressesAgainAfterANoiseStep) {
  const Scene s = scene(GetParam(), kLeadIn, kStepAt);
  const Frames out = enhanced(s);
  const double before = measureEnhancement(s, out, frameAt(kLeadIn), frameAt(kStepAt)).noiseAttenuationDb;
  const double after = measureEnhancement(s, out, frameAt(kStepAt + kRecovery), frames(s)).noiseAttenuationDb;
  EXPECT_LE(after, before + kMaxSuppressionLossAfterStep);
  const DetectionFigures f = measureDetection(speechFrames(s), detected(s), frameAt(kStepAt + kRecovery), frames(s));
  EXPECT_LE(f.falseAlarms, kMaxFalseAlarms);
}

TEST_P(MixedSpeech, DetectionWithAndWithoutLeadIn) {
  for (double leadIn : {kLeadIn, 0.0}) {
    SCOPED_TRACE("lead-in " + std::to_string(leadIn) + " s");
    const Scene s = scene(GetParam(), leadIn);
    const DetectionFigures f = measureDetection(speechFrames(s), detected(s), frameAt(leadIn), frames(s));
    EXPECT_GE(f.accuracy, kMinAccuracy);
    EXPECT_LE(f.falseAlarms, kMaxFalseAlarms);
  }
}

INSTANTIATE_TEST_SUITE_P(QualityAdaptive, MixedSpeech,
                         ::testing::Values(Mix{Noise::White, 0}, Mix{Noise::White, 10}, Mix{Noise::Diffuse, 0},
                                           Mix{Noise::Diffuse, 10}),
                         mixName);

// The example networks on a rendered scene: the adaptive nodes beside the
// specified ones, one talker reading two sentences in diffuse noise.
const std::string kReadSpeech = "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-";
constexpr double kSceneSnrDb = 5.0;
constexpr double kSceneDuration = 9.0;
constexpr double kSecondSentenceOffset = 4.0;   // s after the first
// The adaptive node's first frames still settle on the noise.
constexpr double kAdaptiveSkip = 0.3;
constexpr double kMinLeadInReduction = 15.0;    // dB
constexpr double kMaxSpeechChange = 2.0;        // dB either way
constexpr double kMinSceneAccuracy = 0.80;

quality::SceneLayout renderedLayout(double firstSentence) {
  return {"adaptive_" + std::to_string(static_cast<int>(10 * firstSentence)), kSceneSnrDb, kSceneDuration,
          {{kReadSpeech + "0880.wav", -35.0, firstSentence},
           {kReadSpeech + "0930.wav", -35.0, firstSentence + kSecondSentenceOffset}}};
}

TEST(AdaptiveSceneRuns, EnhanceNetworkQuietensTheLeadIn) {
  const std::string sceneFolder = quality::renderedScene(renderedLayout(1.5));
  const std::string out = quality::outputFolder("adaptive-enhance");
  quality::runKolv(quality::exampleNetwork("enhance.yaml"),
                   {"source.FILE=" + sceneFolder + "/scene.wav", "output.FILE=" + out + "/enhanced.wav",
                    "adaptiveOutput.FILE=" + out + "/enhanced-adaptive.wav"},
                   out);
  const YAML::Node figures = quality::evaluate(
      sceneFolder, {"--enhanced", out + "/enhanced-adaptive.wav", "--skip", std::to_string(kAdaptiveSkip)},
      out)["noise_reduction"];
  EXPECT_GE(figures["reduction_db"].as<double>(), kMinLeadInReduction);
  EXPECT_LE(std::fabs(figures["speech_change_db"].as<double>()), kMaxSpeechChange);
}

TEST(AdaptiveSceneRuns, VadNetworkWithAndWithoutLeadIn) {
  for (double firstSentence : {1.5, 0.0}) {
    SCOPED_TRACE("first sentence at " + std::to_string(firstSentence) + " s");
    const std::string sceneFolder = quality::renderedScene(renderedLayout(firstSentence));
    const std::string out = quality::outputFolder("adaptive-vad-" + std::to_string(static_cast<int>(10 * firstSentence)));
    quality::runKolv(quality::exampleNetwork("vad.yaml"),
                     {"source.FILE=" + sceneFolder + "/scene.wav", "decisions.FILE=" + out + "/speech.csv",
                      "adaptiveDecisions.FILE=" + out + "/speech-adaptive.csv"},
                     out);
    const YAML::Node figures = quality::evaluate(sceneFolder, {"--speech", out + "/speech-adaptive.csv"}, out)["speech"];
    EXPECT_GE(figures["accuracy"].as<double>(), kMinSceneAccuracy);
  }
}

}  // namespace
