// What kolv's example networks achieve on rendered binaural scenes: talkers
// around the KEMAR dummy head in diffuse noise at 20 and 5 dB SNR, each scene
// opening with noise alone for the learning periods. The thresholds sit a
// clear margin below the figures measured (docs/results.md) so that they hold
// on every machine but catch a real loss of quality.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include "SceneRuns.h"

namespace {

using quality::SceneLayout;

// Noise alone at the start, longer than the 1 s learning periods of the
// example networks.
constexpr double kLeadIn = 1.5;
// One talker reads two sentences with a pause between them, so that speech
// and pauses take similar shares of the frames.
constexpr double kSecondSentenceStart = 5.5;
constexpr double kOneTalkerDuration = 9.0;
// Two talkers speak at once from the end of the lead-in on.
constexpr double kTwoTalkerDuration = 7.5;

// The enhancement network's noise period (its output is silent there) and
// the overlap-add of the frames right after it stay out of the lead-in.
constexpr double kEnhancementSkip = 1.1;
// The separation network's block length.
constexpr double kSeparationBlock = 3.0;

constexpr double kDirectionTolerance = 5.0;     // degrees
constexpr double kFarSideBiasLimit = 10.0;      // degrees, outwards
constexpr double kMinLeadInReduction = 20.0;    // dB
constexpr double kMaxSpeechLevelChange = 4.0;   // dB either way
constexpr double kMinSirImprovement = 8.0;      // dB, mean over the blocks
constexpr double kMinTrackedShareOfEachTalker = 0.1;  // of its active frames
constexpr double kMinVadMarginOverMajority = 0.15;    // share of frames

struct Case {
  std::vector<int> azimuths;  // one talker, or two
  int snrDb;
};

std::string azimuthName(int azimuth) { return (azimuth < 0 ? "m" : "p") + std::to_string(std::abs(azimuth)); }

std::string caseName(const Case &c) {
  std::string name = c.azimuths.size() == 1 ? "one" : "two";
  for (int azimuth : c.azimuths) name += "_" + azimuthName(azimuth);
  return name + "_" + std::to_string(c.snrDb) + "dB";
}

SceneLayout sceneOf(const Case &c) {
  SceneLayout scene{caseName(c), static_cast<double>(c.snrDb), 0.0, {}};
  if (c.azimuths.size() == 1) {
    scene.duration = kOneTalkerDuration;
    scene.talkers = {{quality::readSpeech("0880"), static_cast<double>(c.azimuths[0]), kLeadIn},
                     {quality::readSpeech("0930"), static_cast<double>(c.azimuths[0]), kSecondSentenceStart}};
  } else {
    scene.duration = kTwoTalkerDuration;
    scene.talkers = {{quality::readSpeech("0870"), static_cast<double>(c.azimuths[0]), kLeadIn},
                     {quality::promptsVoice(), static_cast<double>(c.azimuths[1]), kLeadIn}};
  }
  return scene;
}

std::vector<Case> acrossSnrs(const std::vector<std::vector<int>> &layouts) {
  std::vector<Case> cases;
  for (int snr : {20, 5})
    for (const auto &azimuths : layouts) cases.push_back({azimuths, snr});
  return cases;
}

const std::vector<std::vector<int>> kOneTalker = {{-60}, {-35}, {-10}, {0}, {20}, {45}};
// Where the spherical-head model and the dummy head part (see FarSideDirections).
const std::vector<std::vector<int>> kFarSide = {{-70}, {70}};
const std::vector<std::vector<int>> kTrackedPairs = {{-60, 20}, {-35, 45}};
// Separation works on any pair; in this one the tracker keeps only the
// talker at -10 degrees almost throughout (docs/results.md).
const std::vector<std::vector<int>> kSeparatedPairs = {{-60, 20}, {-35, 45}, {-10, 60}};

std::string nameOf(const ::testing::TestParamInfo<Case> &info) { return caseName(info.param); }

// GoogleTest names a case by this in its listings (and so in ctest's names).
void PrintTo(const Case &c, std::ostream *out) { *out << caseName(c); }

class SceneTest : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override { scene_ = quality::renderedScene(sceneOf(GetParam())); }

  // A fresh folder for what this test's run writes, named after the scene
  // and the test: tests that run at once never share one.
  std::string outputs() {
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    folder_ = quality::outputFolder(caseName(GetParam()) + "-" + test.substr(0, test.find('/')));
    return folder_;
  }
  void run(const std::string &network, const std::vector<std::string> &sets) {
    std::vector<std::string> all = {"source.FILE=" + scene_ + "/scene.wav"};
    all.insert(all.end(), sets.begin(), sets.end());
    quality::runKolv(quality::exampleNetwork(network), all, folder_);
  }

  // Runs localize.yaml; the evaluator's reports on its tracked directions
  // and on the localizer's own per-frame estimates.
  void localize() {
    const std::string out = outputs();
    run("localize.yaml", {"directions.FILE=" + out + "/directions.csv", "tracked.FILE=" + out + "/tracked.csv"});
    tracked_ = evaluate({"--sources", out + "/tracked.csv"}, "tracked.json")["directions"];
    estimated_ = evaluate({"--sources", out + "/directions.csv"}, "estimated.json")["directions"];
  }
  YAML::Node evaluate(const std::vector<std::string> &options, const std::string &report = "evaluation.json") {
    return quality::evaluate(scene_, options, folder_, report);
  }

  std::string scene_;
  std::string folder_;
  YAML::Node tracked_, estimated_;
};

std::string talkerAt(const YAML::Node &source) {
  return "talker at " + source["azimuth"].as<std::string>() + " degrees";
}

bool isTracked(const YAML::Node &source) { return !source["tracked_azimuth"].IsNull(); }

class TrackedDirections : public SceneTest {};

TEST_P(TrackedDirections, LieWithinFiveDegreesOfTheTalker) {
  localize();
  for (const YAML::Node &source : tracked_) {
    SCOPED_TRACE(talkerAt(source));
    ASSERT_TRUE(isTracked(source)) << "no tracked direction while the talker speaks";
    EXPECT_LE(source["error"].as<double>(), kDirectionTolerance)
        << "tracked at " << source["tracked_azimuth"].as<double>();
  }
}

INSTANTIATE_TEST_SUITE_P(QualityOneTalker, TrackedDirections, ::testing::ValuesIn(acrossSnrs(kOneTalker)), nameOf);

// With two talkers the localizer finds both in its per-frame estimates, but
// the tracker keeps only clusters holding more than 30 % of the estimates in
// its window: the talker who speaks less, or whose estimates scatter more,
// often misses that share and is tracked in only part of the frames
// (docs/results.md). The tracker must still follow one talker closely and
// the other one some of the time.
class TwoTalkerDirections : public SceneTest {};

TEST_P(TwoTalkerDirections, EstimatesLieWithinFiveDegreesOfBothTalkers) {
  localize();
  for (const YAML::Node &source : estimated_) {
    SCOPED_TRACE(talkerAt(source));
    ASSERT_TRUE(isTracked(source)) << "no estimate while the talker speaks";
    EXPECT_LE(source["error"].as<double>(), kDirectionTolerance)
        << "estimated at " << source["tracked_azimuth"].as<double>();
  }
}

TEST_P(TwoTalkerDirections, TrackerFollowsOneTalkerAndAtTimesTheOther) {
  localize();
  double smallestError = 180.0;
  for (const YAML::Node &source : tracked_) {
    SCOPED_TRACE(talkerAt(source));
    EXPECT_GE(source["share_within_5"].as<double>(), kMinTrackedShareOfEachTalker);
    if (isTracked(source)) smallestError = std::min(smallestError, source["error"].as<double>());
  }
  EXPECT_LE(smallestError, kDirectionTolerance);
}

INSTANTIATE_TEST_SUITE_P(QualityTwoTalkers, TwoTalkerDirections, ::testing::ValuesIn(acrossSnrs(kTrackedPairs)),
                         nameOf);

// Between about 65 and 80 degrees the dummy head's interaural delays grow
// faster than the spherical-head model's (662 us at 75 degrees, the model
// 611 us), so the localizer places such talkers several degrees farther out.
// The bias is the model's; these tests keep it from growing or flipping side.
class FarSideDirections : public SceneTest {};

TEST_P(FarSideDirections, LieOutwardsByLessThanTenDegrees) {
  localize();
  for (const YAML::Node &source : tracked_) {
    const double truth = source["azimuth"].as<double>();
    SCOPED_TRACE(talkerAt(source));
    ASSERT_TRUE(isTracked(source)) << "no tracked direction while the talker speaks";
    const double outwards = (source["tracked_azimuth"].as<double>() - truth) * (truth < 0 ? -1.0 : 1.0);
    EXPECT_GE(outwards, 0.0);
    EXPECT_LE(outwards, kFarSideBiasLimit);
  }
}

INSTANTIATE_TEST_SUITE_P(QualityOneTalker, FarSideDirections, ::testing::ValuesIn(acrossSnrs(kFarSide)), nameOf);

class SpeechEnhancement : public SceneTest {};

TEST_P(SpeechEnhancement, QuietensTheNoiseAloneAndKeepsTheSpeechLevel) {
  const std::string out = outputs();
  run("enhance.yaml", {"output.FILE=" + out + "/enhanced.wav"});
  const YAML::Node figures =
      evaluate({"--enhanced", out + "/enhanced.wav", "--skip", std::to_string(kEnhancementSkip)})["noise_reduction"];
  EXPECT_GE(figures["reduction_db"].as<double>(), kMinLeadInReduction);
  EXPECT_LE(std::fabs(figures["speech_change_db"].as<double>()), kMaxSpeechLevelChange);
}

INSTANTIATE_TEST_SUITE_P(QualityOneTalker, SpeechEnhancement, ::testing::ValuesIn(acrossSnrs(kOneTalker)), nameOf);
INSTANTIATE_TEST_SUITE_P(QualityTwoTalkers, SpeechEnhancement, ::testing::ValuesIn(acrossSnrs(kSeparatedPairs)), nameOf);

class VoiceActivity : public SceneTest {};

// Deciding every frame alike scores the share of the commoner class; the
// detector must do clearly better than that.
TEST_P(VoiceActivity, BeatsDecidingEveryFrameAlike) {
  const std::string out = outputs();
  run("vad.yaml", {"decisions.FILE=" + out + "/speech.csv"});
  const YAML::Node figures = evaluate({"--speech", out + "/speech.csv"})["speech"];
  const double speechShare = figures["speech_frames"].as<double>() / figures["frames"].as<double>();
  const double majorityShare = std::max(speechShare, 1.0 - speechShare);
  EXPECT_GE(figures["accuracy"].as<double>(), majorityShare + kMinVadMarginOverMajority)
      << "speech in " << 100.0 * speechShare << " % of the frames";
}

// With two talkers speech fills most frames and the accuracy says little, so
// the detector is judged on the scenes with pauses.
INSTANTIATE_TEST_SUITE_P(QualityOneTalker, VoiceActivity, ::testing::ValuesIn(acrossSnrs(kOneTalker)), nameOf);

class SourceSeparation : public SceneTest {};

TEST_P(SourceSeparation, ImprovesTheSignalToInterferenceRatio) {
  const std::string out = outputs();
  run("separate.yaml",
      {"first.FILE=" + out + "/separated-1.wav", "second.FILE=" + out + "/separated-2.wav"});
  const YAML::Node figures =
      evaluate({"--separated", out + "/separated-1.wav," + out + "/separated-2.wav", "--block", std::to_string(kSeparationBlock)})["separation"];
  ASSERT_FALSE(figures["mean_improvement_db"].IsNull()) << "no block in which both talkers speak";
  EXPECT_GE(figures["mean_improvement_db"].as<double>(), kMinSirImprovement);
}

INSTANTIATE_TEST_SUITE_P(QualityTwoTalkers, SourceSeparation, ::testing::ValuesIn(acrossSnrs(kSeparatedPairs)), nameOf);

}  // namespace
