// What kolv's example networks achieve in reverberant rooms: talkers at 1 m
// (direct sound about as strong as the reverberation) and at 2.5 m (direct
// sound 7 to 11 dB below it) in a 6 x 5 x 3 m room with an RT60 of 0.3 or
// 0.6 s, diffuse noise at 20 dB SNR. The nodes were designed for free field
// and do markedly worse here; the thresholds sit a clear margin below the
// figures measured (docs/results.md, "Rooms") so that these tests document
// the limits and catch a further loss.
//
// Each node's networks are listed in a table with what they must achieve;
// another network for the same task joins its table with one line (it writes
// the same files as the example network: see each table).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <ostream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "SceneRuns.h"

namespace {

using quality::SceneLayout;

const char *const kRoomSize = "6,5,3";
constexpr double kLeadIn = 1.5;  // s of noise alone, longer than the 1 s learning periods
constexpr double kSnrDb = 20.0;
// One talker: one sentence (3 s) and then the room's reverberation dying away.
constexpr double kOneTalkerDuration = 6.0;
constexpr double kTwoTalkerDuration = 7.0;
// The moving talker reads a 7.1 s passage while walking 40 degrees round the
// head in 8 s, from kMovingFrom on.
constexpr double kMovingDuration = 8.6;
constexpr double kMovingFrom = -20.0;
const char *const kMovingPath = "0.5:-20,8.5:20";

constexpr double kEnhancementSkip = 1.1;  // s, as in the anechoic suite
constexpr double kSeparationBlock = 3.0;  // s, the separation network's block

struct RoomCase {
  double rt60;                // s
  double distance;            // m, every talker
  std::vector<int> azimuths;  // one talker, or two; the moving talker's start
  bool moving = false;
};

std::string azimuthName(int azimuth) { return (azimuth < 0 ? "m" : "p") + std::to_string(std::abs(azimuth)); }

std::string caseName(const RoomCase &c) {
  std::ostringstream name;
  const long decimetres = std::lround(c.distance * 10);
  name << "rt" << std::lround(c.rt60 * 1000) << "ms_" << decimetres / 10 << "m";
  if (decimetres % 10) name << decimetres % 10;
  name << "_"
       << (c.moving ? "moving" : c.azimuths.size() == 1 ? "one" : "two");
  for (int azimuth : c.azimuths) name << "_" << azimuthName(azimuth);
  return name.str();
}

bool isNear(const RoomCase &c) { return c.distance < 2.0; }

SceneLayout sceneOf(const RoomCase &c) {
  SceneLayout scene{"room_" + caseName(c), kSnrDb, kOneTalkerDuration, {}, quality::Room{kRoomSize, c.rt60}};
  if (c.moving) {
    scene.duration = kMovingDuration;
    scene.talkers = {{quality::readSpeech("0870"), 0.0, kLeadIn, c.distance, kMovingPath}};
  } else if (c.azimuths.size() == 1) {
    scene.talkers = {{quality::readSpeech("0880"), static_cast<double>(c.azimuths[0]), kLeadIn, c.distance}};
  } else {
    scene.duration = kTwoTalkerDuration;
    scene.talkers = {{quality::readSpeech("0870"), static_cast<double>(c.azimuths[0]), kLeadIn, c.distance},
                     {quality::promptsVoice(), static_cast<double>(c.azimuths[1]), kLeadIn, c.distance}};
  }
  return scene;
}

// Every room case of one kind: both reverberation times, both distances.
std::vector<RoomCase> inEveryRoom(const std::vector<std::vector<int>> &layouts, bool moving = false) {
  std::vector<RoomCase> cases;
  for (double rt60 : {0.3, 0.6})
    for (double distance : {1.0, 2.5})
      for (const auto &azimuths : layouts) cases.push_back({rt60, distance, azimuths, moving});
  return cases;
}

const std::vector<RoomCase> kOneTalker = inEveryRoom({{-50}, {0}, {30}});
const std::vector<RoomCase> kTwoTalkers = inEveryRoom({{-35, 45}});
const std::vector<RoomCase> kMovingTalker = inEveryRoom({{static_cast<int>(kMovingFrom)}}, true);

std::vector<RoomCase> joined(std::vector<RoomCase> a, const std::vector<RoomCase> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// --- What each network must achieve in rooms ---------------------------------
// A limit given as {near, far} applies to talkers at 1 m and at 2.5 m;
// kNotAsked leaves a distance out where the node is known to fail.
constexpr double kNotAsked = std::numeric_limits<double>::quiet_NaN();

struct ByDistance {
  double near, far;
  double at(const RoomCase &c) const { return isNear(c) ? near : far; }
  bool asked(const RoomCase &c) const { return !std::isnan(at(c)); }
};

// Localization and tracking; the network writes directions.FILE (per-frame
// estimates) and tracked.FILE (tracked directions) as localize.yaml does.
struct Localizer {
  const char *network;
  ByDistance maxTrackedError;    // degrees, one talker: median of the tracked direction
  ByDistance maxEstimatedError;  // degrees, per-frame estimates: one talker, and the nearer of two
  ByDistance maxMovingError;     // degrees, the moving talker: median per-frame error of the track
  ByDistance minMovingShare;     // of the moving talker's active frames tracked within 5 degrees
};
const std::vector<Localizer> kLocalizers = {
    {"localize.yaml", {5, kNotAsked}, {6, 12}, {4, 6}, {0.15, kNotAsked}},
};

// Separation of two talkers; writes first.FILE and second.FILE as separate.yaml does.
struct Separator {
  const char *network;
  ByDistance minImprovement;       // dB, SIR against the full reverberant images, mean over 3 s blocks
  ByDistance minEarlyImprovement;  // dB, the same against the direct-plus-early images
};
const std::vector<Separator> kSeparators = {
    {"separate.yaml", {2.5, 0.5}, {3, 0.5}},
};

// Enhancement; writes output.FILE as enhance.yaml does.
struct Enhancer {
  const char *network;
  double minLeadInReduction;  // dB
  double maxSpeechChange;     // dB either way
  double minSdrGain;          // dB, signal-to-distortion ratio against the full images, output minus input
};
const std::vector<Enhancer> kEnhancers = {
    {"enhance.yaml", 20, 4, -0.5},
};

// Voice activity; writes decisions.FILE as vad.yaml does.
struct Detector {
  const char *network;
  double minAccuracy;     // share of frames decided right, one talker
  double maxFalseAlarms;  // share of the frames without speech decided as speech
};
const std::vector<Detector> kDetectors = {
    {"vad.yaml", 0.85, 0.2},
};

// GoogleTest shows a case by these in its listings (and so in ctest's names).
void PrintTo(const RoomCase &c, std::ostream *out) { *out << caseName(c); }
template <class Network, class = decltype(Network::network)>
std::ostream &operator<<(std::ostream &out, const Network &n) {
  return out << n.network;
}

std::string networkName(const char *network) {
  std::string name = network;
  return name.substr(0, name.find('.'));
}

template <class Network>
std::string nameOf(const ::testing::TestParamInfo<std::tuple<Network, RoomCase>> &info) {
  return networkName(std::get<0>(info.param).network) + "_" + caseName(std::get<1>(info.param));
}

template <class Network>
class RoomTest : public ::testing::TestWithParam<std::tuple<Network, RoomCase>> {
 protected:
  const Network &network() const { return std::get<0>(this->GetParam()); }
  const RoomCase &room() const { return std::get<1>(this->GetParam()); }

  // Renders (or reuses) the scene, runs the network on it with the given
  // output assignments (`{out}` stands for this test's folder) and returns
  // the folder.
  std::string run(const std::vector<std::string> &outputs) {
    scene_ = quality::renderedScene(sceneOf(room()));
    folder_ = quality::outputFolder(nameOf<Network>({this->GetParam(), 0}));
    std::vector<std::string> sets = {"source.FILE=" + scene_ + "/scene.wav"};
    for (const std::string &o : outputs) sets.push_back(o + "=" + folder_ + "/" + o.substr(0, o.find('.')) + fileType(o));
    quality::runKolv(quality::exampleNetwork(network().network), sets, folder_);
    return folder_;
  }
  YAML::Node evaluate(const std::vector<std::string> &options, const std::string &report) {
    return quality::evaluate(scene_, options, folder_, report);
  }

 private:
  static std::string fileType(const std::string &output) {
    return output == "directions.FILE" || output == "tracked.FILE" || output == "decisions.FILE" ? ".csv" : ".wav";
  }
  std::string scene_, folder_;
};

std::string talkerAt(const YAML::Node &source) {
  return "talker at " + source["azimuth"].as<std::string>() + " degrees";
}

bool isTracked(const YAML::Node &source) { return !source["tracked_azimuth"].IsNull(); }

// --- Localization and tracking ------------------------------------------------

class RoomLocalization : public RoomTest<Localizer> {
 protected:
  void localize() {
    const std::string out = run({"directions.FILE", "tracked.FILE"});
    tracked_ = evaluate({"--sources", out + "/tracked.csv"}, "tracked.json")["directions"];
    estimated_ = evaluate({"--sources", out + "/directions.csv"}, "estimated.json")["directions"];
  }
  YAML::Node tracked_, estimated_;
};

class RoomOneTalkerDirections : public RoomLocalization {};

TEST_P(RoomOneTalkerDirections, TrackedAndEstimatedNearTheTalker) {
  localize();
  const YAML::Node tracked = tracked_[0], estimated = estimated_[0];
  SCOPED_TRACE(talkerAt(tracked));
  if (network().maxTrackedError.asked(room())) {
    ASSERT_TRUE(isTracked(tracked)) << "no tracked direction while the talker speaks";
    EXPECT_LE(tracked["error"].as<double>(), network().maxTrackedError.at(room()))
        << "tracked at " << tracked["tracked_azimuth"].as<double>();
  }
  ASSERT_TRUE(isTracked(estimated)) << "no estimate while the talker speaks";
  EXPECT_LE(estimated["error"].as<double>(), network().maxEstimatedError.at(room()))
      << "estimated at " << estimated["tracked_azimuth"].as<double>();
}

INSTANTIATE_TEST_SUITE_P(QualityRooms, RoomOneTalkerDirections,
                         ::testing::Combine(::testing::ValuesIn(kLocalizers), ::testing::ValuesIn(kOneTalker)),
                         nameOf<Localizer>);

class RoomTwoTalkerDirections : public RoomLocalization {};

// The nearer of the two talkers' per-frame estimates: in rooms the
// reflections of both talkers blur the estimates, and the talker who speaks
// less is often lost among them.
TEST_P(RoomTwoTalkerDirections, EstimatesFindOneTalker) {
  localize();
  double smallestError = 180.0;
  for (const YAML::Node &source : estimated_)
    if (isTracked(source)) smallestError = std::min(smallestError, source["error"].as<double>());
  EXPECT_LE(smallestError, network().maxEstimatedError.at(room()));
}

INSTANTIATE_TEST_SUITE_P(QualityRooms, RoomTwoTalkerDirections,
                         ::testing::Combine(::testing::ValuesIn(kLocalizers), ::testing::ValuesIn(kTwoTalkers)),
                         nameOf<Localizer>);

class RoomMovingTalker : public RoomLocalization {};

TEST_P(RoomMovingTalker, TrackFollowsTheTalker) {
  localize();
  const YAML::Node tracked = tracked_[0];
  ASSERT_TRUE(tracked["moving"].as<bool>());
  ASSERT_TRUE(isTracked(tracked)) << "no tracked direction while the talker speaks";
  EXPECT_LE(tracked["error"].as<double>(), network().maxMovingError.at(room()));
  if (network().minMovingShare.asked(room())) {
    EXPECT_GE(tracked["share_within_5"].as<double>(), network().minMovingShare.at(room()));
  }
}

INSTANTIATE_TEST_SUITE_P(QualityRooms, RoomMovingTalker,
                         ::testing::Combine(::testing::ValuesIn(kLocalizers), ::testing::ValuesIn(kMovingTalker)),
                         nameOf<Localizer>);

// --- Separation ------------------------------------------------------------

class RoomSeparation : public RoomTest<Separator> {};

// A separation that undoes the room would be scored against the direct-plus-
// early images; one that only tells the talkers apart is scored against
// their full reverberant images. Both figures are kept.
TEST_P(RoomSeparation, ImprovesTheSignalToInterferenceRatio) {
  const std::string out = run({"first.FILE", "second.FILE"});
  const std::vector<std::string> options = {"--separated", out + "/first.wav," + out + "/second.wav", "--block",
                                            std::to_string(kSeparationBlock)};
  const YAML::Node full = evaluate(options, "full.json")["separation"];
  std::vector<std::string> early = options;
  early.insert(early.end(), {"--reference", "early"});
  const YAML::Node direct = evaluate(early, "early.json")["separation"];
  ASSERT_FALSE(full["mean_improvement_db"].IsNull()) << "no block in which both talkers speak";
  EXPECT_GE(full["mean_improvement_db"].as<double>(), network().minImprovement.at(room()));
  EXPECT_GE(direct["mean_improvement_db"].as<double>(), network().minEarlyImprovement.at(room()));
}

INSTANTIATE_TEST_SUITE_P(QualityRooms, RoomSeparation,
                         ::testing::Combine(::testing::ValuesIn(kSeparators), ::testing::ValuesIn(kTwoTalkers)),
                         nameOf<Separator>);

// --- Enhancement -------------------------------------------------------------

class RoomEnhancement : public RoomTest<Enhancer> {};

// The signal-to-distortion ratio against the direct-plus-early images is
// kept in early.json: it shows how much of the reverberation is left.
TEST_P(RoomEnhancement, QuietensTheNoiseAloneAndKeepsTheSpeech) {
  const std::string out = run({"output.FILE"});
  const std::vector<std::string> options = {"--enhanced", out + "/output.wav", "--skip",
                                            std::to_string(kEnhancementSkip)};
  const YAML::Node figures = evaluate(options, "full.json")["noise_reduction"];
  std::vector<std::string> early = options;
  early.insert(early.end(), {"--reference", "early"});
  evaluate(early, "early.json");
  EXPECT_GE(figures["reduction_db"].as<double>(), network().minLeadInReduction);
  EXPECT_LE(std::fabs(figures["speech_change_db"].as<double>()), network().maxSpeechChange);
  EXPECT_GE(figures["sdr_improvement_db"].as<double>(), network().minSdrGain);
}

INSTANTIATE_TEST_SUITE_P(QualityRooms, RoomEnhancement,
                         ::testing::Combine(::testing::ValuesIn(kEnhancers),
                                            ::testing::ValuesIn(joined(kOneTalker, kTwoTalkers))),
                         nameOf<Enhancer>);

// --- Voice activity ------------------------------------------------------------

class RoomVoiceActivity : public RoomTest<Detector> {};

// The truth counts only the talker's own active stretches as speech: the
// reverberation that carries on into the pauses is not speech.
TEST_P(RoomVoiceActivity, DecidesMostFramesRightAndTheReverberationMostlyNotSpeech) {
  const std::string out = run({"decisions.FILE"});
  const YAML::Node figures = evaluate({"--speech", out + "/decisions.csv"}, "speech.json")["speech"];
  EXPECT_GE(figures["accuracy"].as<double>(), network().minAccuracy) << "hit rate " << figures["hit_rate"].as<double>();
  EXPECT_LE(figures["false_alarm_rate"].as<double>(), network().maxFalseAlarms);
}

INSTANTIATE_TEST_SUITE_P(QualityRooms, RoomVoiceActivity,
                         ::testing::Combine(::testing::ValuesIn(kDetectors), ::testing::ValuesIn(kOneTalker)),
                         nameOf<Detector>);

}  // namespace
