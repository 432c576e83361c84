// What the second toolbox's localizer and tracker (the robust chain of
// localize.yaml) achieve on rendered scenes: talkers around the KEMAR head,
// anechoic and in a 6 x 5 x 3 m room, scored as the share of each talker's
// active frames with a track within 10 degrees, the mean error of those
// tracks and the share of track frames near no active talker. Thresholds sit
// a margin below the figures measured (docs/localization.md).
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "SceneRuns.h"

namespace {

using quality::SceneLayout;
using quality::Talker;

const std::string kReadSpeech = "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-";
constexpr double kLeadIn = 1.0;  // s of noise alone; the robust chain needs none, the scenes keep one
constexpr double kDuration = 8.0;
const std::string kRoomSize = "6,5,3";
constexpr double kMeasuredSideBias = 1.0;  // degrees either way
constexpr double kSphereSideBias = 1.0;    // degrees outwards, at least
constexpr double kLargerHead = 1.1;        // the head's size over KEMAR's
constexpr double kRaisedTalker = 15.0;     // degrees above the ears' plane
constexpr int kNetworkAdvance = 160;       // localize.yaml's frame shift

struct Goal {
  double minRecall;     // share of the talkers' active frames tracked within 10 degrees
  double maxError;      // degrees, mean over those frames
  double maxFalse;      // share of the track frames near no active talker
  int maxIdChanges;     // per talker
  double minTalkerRecall = 0.0;  // of each talker alone
  // Per talker, changes to an id that then stays theirs for 0.5 s (-1: as
  // maxIdChanges); brief flips where two talkers cross are left out.
  int maxLastingIdChanges = -1;
};

struct Case {
  std::string name;
  SceneLayout scene;
  Goal goal;
  std::vector<std::string> sets;  // --set assignments beyond the files
  int advance = kNetworkAdvance;  // the frame shift those assignments give the stream
};

void PrintTo(const Case &c, std::ostream *out) { *out << c.name; }
std::string nameOf(const ::testing::TestParamInfo<Case> &info) { return info.param.name; }

SceneLayout twoTalkers(const std::string &name, double a, double b, int snr,
                       std::optional<quality::Room> room = std::nullopt) {
  SceneLayout scene{name, static_cast<double>(snr), kDuration,
                    {{kReadSpeech + "0870.wav", a, kLeadIn}, {quality::promptsVoice(), b, kLeadIn}}};
  scene.room = room;
  return scene;
}

SceneLayout oneTalker(const std::string &name, double azimuth, int snr) {
  return {name, static_cast<double>(snr), kDuration, {{kReadSpeech + "0880.wav", azimuth, kLeadIn},
                                                       {kReadSpeech + "0930.wav", azimuth, 4.5}}};
}

// An office-like room: larger, the talkers at 1 m, the direct sound 4 dB
// above the reverberation.
SceneLayout office() {
  return {"robust_office_m30_p50", 20.0, kDuration,
          {{kReadSpeech + "0890.wav", -30.0, kLeadIn, 1.0}, {kReadSpeech + "0870.wav", 50.0, kLeadIn, 1.0}},
          quality::Room{"8,6,3", 0.3}};
}

// Runs localize.yaml on a scene (rendered on first use) with the given
// assignments; the evaluator's report on the robust chain's tracks.
YAML::Node robustTracks(const SceneLayout &layout, const std::string &run, const std::vector<std::string> &extraSets,
                       int advance = kNetworkAdvance) {
  const std::string scene = quality::renderedScene(layout);
  const std::string out = quality::outputFolder("robust-" + run);
  std::vector<std::string> sets = {"source.FILE=" + scene + "/scene.wav",
                                   "directions.FILE=" + out + "/directions.csv",
                                   "tracked.FILE=" + out + "/tracked.csv",
                                   "robust-directions.FILE=" + out + "/robust-directions.csv",
                                   "robust-tracked.FILE=" + out + "/robust-tracked.csv"};
  sets.insert(sets.end(), extraSets.begin(), extraSets.end());
  quality::runKolv(quality::exampleNetwork("localize.yaml"), sets, out);
  return quality::evaluate(scene, {"--sources", out + "/robust-tracked.csv", "--advance", std::to_string(advance)},
                           out);
}

class RobustTracking : public ::testing::TestWithParam<Case> {};

TEST_P(RobustTracking, TracksTheTalkersWithinTheGoals) {
  const Case &param = GetParam();
  const Goal &goal = param.goal;
  const YAML::Node c = robustTracks(param.scene, param.name, param.sets, param.advance)["coverage"];
  EXPECT_GE(c["recall"].as<double>(), goal.minRecall);
  EXPECT_LE(c["mean_error"].as<double>(), goal.maxError);
  EXPECT_LE(c["false_share"].as<double>(), goal.maxFalse);
  for (const YAML::Node &talker : c["talkers"]) {
    EXPECT_LE(talker["id_changes"].as<int>(), goal.maxIdChanges);
    EXPECT_LE(talker["lasting_id_changes"].as<int>(),
              goal.maxLastingIdChanges >= 0 ? goal.maxLastingIdChanges : goal.maxIdChanges);
    EXPECT_GE(talker["recall"].as<double>(), goal.minTalkerRecall);
  }
}

// Anechoic: two talkers at 20 dB; one talker at 20 and 5 dB, to the sides
// (whose false frames are their track held through pauses and past their
// last word: the quiet hold keeps that short).
INSTANTIATE_TEST_SUITE_P(
    QualityRobustAnechoic, RobustTracking,
    ::testing::Values(Case{"two_m60_p20", twoTalkers("robust_two_m60_p20", -60, 20, 20), {0.9, 0.8, 0.2, 0}, {}},
                      Case{"two_m35_p45", twoTalkers("robust_two_m35_p45", -35, 45, 20), {0.9, 0.8, 0.2, 0}, {}},
                      Case{"one_m80_20dB", oneTalker("robust_one_m80_20", -80, 20), {0.97, 1.0, 0.21, 0}, {}},
                      Case{"one_p45_5dB", oneTalker("robust_one_p45_5", 45, 5), {0.95, 1.5, 0.12, 0}, {}}),
    nameOf);

// A second talker who speaks a fifth of the time, 6 dB below the first (in
// bins both talkers fill, the level difference fits neither, so the quieter
// one is found in fewer frames than with the phase alone: 72 % against 82 %);
// a talker walking 40 degrees in 8 s; two talkers walking past each other,
// who keep their ids (the nearest id flips for a few frames where they meet).
INSTANTIATE_TEST_SUITE_P(
    QualityRobustHard, RobustTracking,
    ::testing::Values(
        Case{"quieter_second",
             {"robust_quieter", 20.0, kDuration,
              {{kReadSpeech + "0870.wav", -30.0, kLeadIn},
               {kReadSpeech + "0880.wav", 40.0, 6.4, 0.0, "", -6.0}}},
             {0.93, 1.0, 0.14, 0, 0.68},
             {}},
        Case{"walking",
             {"robust_walking", 20.0, 9.0, {{kReadSpeech + "0870.wav", 0.0, 1.0, 0.0, "1:-20,9:20"}}},
             {0.97, 1.0, 0.15, 0},
             {}},
        Case{"crossing",
             {"robust_crossing", 20.0, kDuration,
              {{kReadSpeech + "0870.wav", 0.0, kLeadIn, 0.0, "1:-40,8:30"},
               {quality::promptsVoice(), 0.0, kLeadIn, 0.0, "1:40,8:-30"}}},
             {0.88, 2.0, 0.17, 2, 0.0, 0},
             {}}),
    nameOf);

// In the room, talkers 1.5 m from the head. There the localizer reports a
// peak after the frame's highest only near the recent highest ones, which
// keeps most reflections' ghosts out but also the quieter second talker, who
// seldom leads; with that off (ROOM_LEVEL 0) the tracker must still keep
// them, not taking them for a ghost. Their track here is confirmed 0.45 s
// into their first stretch, and the reverberation draws it 14 degrees off
// before their second, which therefore starts under a new id. Here the
// learnt head size wanders to 0.915 and back to 1 (the reverberation favours
// smaller heads), which moves the tracks and adds 4.5 points of false frames.
INSTANTIATE_TEST_SUITE_P(
    QualityRobustRooms, RobustTracking,
    ::testing::Values(Case{"room03_m60_p20", twoTalkers("robust_room03_m60_p20", -60, 20, 20, quality::Room{kRoomSize, 0.3}),
                           {0.82, 2.0, 0.16, 1}, {}},
                      Case{"quieter_second_room03",
                           {"robust_quieter_room03", 20.0, kDuration,
                            {{kReadSpeech + "0870.wav", -30.0, kLeadIn},
                             {kReadSpeech + "0880.wav", 40.0, 6.4, 0.0, "", -6.0}},
                            quality::Room{kRoomSize, 0.3}},
                           {0.90, 2.0, 0.33, 1, 0.40}, {"robust-localization.ROOM_LEVEL=0.0"}},
                      Case{"crossing_room03",
                           {"robust_crossing_room03", 20.0, kDuration,
                            {{kReadSpeech + "0870.wav", 0.0, kLeadIn, 0.0, "1:-40,8:30"},
                             {quality::promptsVoice(), 0.0, kLeadIn, 0.0, "1:40,8:-30"}},
                            quality::Room{kRoomSize, 0.3}},
                           {0.84, 2.0, 0.14, 3, 0.0, 0}, {}},
                      Case{"room06_m35_p45", twoTalkers("robust_room06_m35_p45", -35, 45, 20, quality::Room{kRoomSize, 0.6}),
                           {0.79, 3.0, 0.16, 1}, {}},
                      Case{"office_m30_p50", office(), {0.93, 2.0, 0.14, 0}, {}}),
    nameOf);

// The same rooms at a room separation's frames (2048 / 512, which a network
// that also separates gives its localizer): 88 and 80 % of the talkers'
// frames, 2.0 and 2.6 degrees, 10 and 9 % false (counting the tracker's
// support in frames of the stream, 86 and 78 %).
const std::vector<std::string> kSeparationRoomFrames = {"source.LENGTH=2048", "source.ADVANCE=512"};
constexpr int kSeparationRoomAdvance = 512;

INSTANTIATE_TEST_SUITE_P(
    QualityRobustRoomFrames, RobustTracking,
    ::testing::Values(Case{"room03_m60_p20_128ms", twoTalkers("robust_room03_m60_p20", -60, 20, 20,
                                                              quality::Room{kRoomSize, 0.3}),
                           {0.85, 2.3, 0.13, 1}, kSeparationRoomFrames, kSeparationRoomAdvance},
                      Case{"room06_m35_p45_128ms", twoTalkers("robust_room06_m35_p45", -35, 45, 20,
                                                              quality::Room{kRoomSize, 0.6}),
                           {0.77, 3.0, 0.12, 1}, kSeparationRoomFrames, kSeparationRoomAdvance}),
    nameOf);

// Heard by a head a tenth larger than the KEMAR the steering is measured on
// (every interaural delay 10 % longer): the localizer learns the head's
// size from the stream.
SceneLayout withLargerHead(SceneLayout scene) {
  scene.name += "_head1.1";
  scene.headScale = kLargerHead;
  return scene;
}

INSTANTIATE_TEST_SUITE_P(
    QualityRobustHeads, RobustTracking,
    ::testing::Values(Case{"larger_head_m60_p20", withLargerHead(twoTalkers("robust_two_m60_p20", -60, 20, 20)),
                           {0.9, 1.6, 0.2, 0}, {}},
                      Case{"larger_head_office", withLargerHead(office()), {0.93, 2.3, 0.14, 0}, {}}),
    nameOf);

// Heard by another head than the KEMAR the steering is measured on: the
// FABIAN head-and-torso simulator. Its interaural delays are up to 20 %
// shorter over the front and 13 % shorter to the left than to the right (at
// 60 degrees), and at 0 degrees the right ear leads by 40 microseconds while
// the left is 1.7 dB louder: its talkers on the left are placed 5 to 6
// degrees towards the front, those on the right 1 to 2 degrees outwards,
// and no head size mends that. The office goal (a mean error of at
// most 4 degrees) holds by a small margin.
SceneLayout withOtherHead(SceneLayout scene) {
  scene.name += "_fabian";
  scene.otherHead = quality::kFabianHead;
  return scene;
}

INSTANTIATE_TEST_SUITE_P(
    QualityRobustOtherHead, RobustTracking,
    ::testing::Values(Case{"other_head_m60_p20", withOtherHead(twoTalkers("robust_two_m60_p20", -60, 20, 20)),
                           {0.88, 5.2, 0.18, 0}, {}},
                      Case{"other_head_office", withOtherHead(office()), {0.9, 3.6, 0.13, 0}, {}},
                      Case{"other_head_room06_m35_p45",
                           withOtherHead(twoTalkers("robust_room06_m35_p45", -35, 45, 20, quality::Room{kRoomSize, 0.6})),
                           {0.76, 4.8, 0.21, 1}, {}}),
    nameOf);

// Steering kept at KEMAR's size places the larger head's talkers several
// degrees too far out (4.8 degrees on average in the office); learnt, the
// size reaches 1.094 within 3 s and the error falls to under 2 degrees.
TEST(RobustHeads, LearningTheHeadSizeMendsTheDirectionsOfALargerHead) {
  const SceneLayout scene = withLargerHead(office());
  const YAML::Node learnt = robustTracks(scene, "head-learnt", {})["coverage"];
  const YAML::Node fixed = robustTracks(scene, "head-fixed", {"robust-localization.HEAD_SCALE=1.0"})["coverage"];
  EXPECT_LE(learnt["mean_error"].as<double>(), 0.5 * fixed["mean_error"].as<double>());
  EXPECT_GE(learnt["recall"].as<double>(), fixed["recall"].as<double>() - 0.01);
}

// A talker 15 degrees above the ears' plane has a smaller interaural delay,
// as if heard by a smaller head: steering for the head's own size places them
// 3.9 degrees off on average, and the learnt size takes that up too (1.1).
TEST(RobustHeads, LearntSizeMendsTheDirectionOfATalkerAboveTheEars) {
  SceneLayout scene = oneTalker("robust_one_m60_el15", -60, 20);
  for (quality::Talker &talker : scene.talkers) talker.elevation = kRaisedTalker;
  const YAML::Node learnt = robustTracks(scene, "raised-learnt", {})["coverage"];
  const YAML::Node fixed = robustTracks(scene, "raised-fixed", {"robust-localization.HEAD_SCALE=1.0"})["coverage"];
  EXPECT_LE(learnt["mean_error"].as<double>(), 0.5 * fixed["mean_error"].as<double>());
  EXPECT_GE(learnt["recall"].as<double>(), fixed["recall"].as<double>() - 0.01);
}

// In the room at RT60 0.6 s, reflections outweigh the direct sound
// (direct-to-reverberant ratio about -5 dB). Weighting bins by onset, where
// the direct sound leads, finds the talkers far more often than letting every
// bin vote alike.
TEST(RobustRoom, OnsetWeightingFindsTheTalkersWhereEveryBinAlikeDoesNot) {
  const SceneLayout room = twoTalkers("robust_room06_m35_p45", -35, 45, 20, quality::Room{kRoomSize, 0.6});
  const double withOnsets = robustTracks(room, "onsets", {})["coverage"]["recall"].as<double>();
  const double everyBin =
      robustTracks(room, "every-bin", {"robust-localization.ONSET_FLOOR=1.0"})["coverage"]["recall"].as<double>();
  EXPECT_GE(withOnsets, everyBin + 0.2) << "every bin alike: " << everyBin;
}

// In the room at RT60 0.6 s some reflections lead their frames. Compared
// there with the level difference too (the default), their ghosts take a
// third fewer track frames than with the phase alone, and the talkers are
// found as often.
TEST(RobustRoom, LevelCuesInTheRoomKeepReflectionsFromBecomingTracks) {
  const SceneLayout room = twoTalkers("robust_room06_m35_p45", -35, 45, 20, quality::Room{kRoomSize, 0.6});
  const YAML::Node level = robustTracks(room, "room-level", {})["coverage"];
  const YAML::Node phase = robustTracks(room, "room-phase", {"robust-localization.ROOM_CUES=PHASE"})["coverage"];
  EXPECT_LE(level["false_share"].as<double>(), 0.8 * phase["false_share"].as<double>());
  EXPECT_GE(level["recall"].as<double>(), phase["recall"].as<double>() - 0.02);
}

// In the room at RT60 0.6 s some reflections lead frames of their own, in
// the reverberation after their talker's last word, where nothing grows: a
// highest peak away from the recent ones is reported only where the
// spectrum grew (with talkers at -70 and +40 degrees ghost frames are 10 %
// of the track frames without that, 4 % with it; at -35 and +45 the
// steering leaves no ghosts either way).
TEST(RobustRoom, AHighestPeakAwayFromTheRecentOnesIsReportedOnlyWhereItGrew) {
  const SceneLayout room = twoTalkers("robust_room06_m70_p40", -70, 40, 20, quality::Room{kRoomSize, 0.6});
  const YAML::Node grown = robustTracks(room, "lead-grown", {})["coverage"];
  const YAML::Node any = robustTracks(room, "lead-any", {"robust-localization.ROOM_LEAD_RISE=0.0"})["coverage"];
  EXPECT_LE(grown["ghost_share"].as<double>(), 0.5 * any["ghost_share"].as<double>());
  EXPECT_LE(grown["false_share"].as<double>(), any["false_share"].as<double>() - 0.01);
  EXPECT_GE(grown["recall"].as<double>(), any["recall"].as<double>() - 0.01);
}

// A talker who starts while another speaks grows out of the spatial
// spectrum where nothing else does, and is reported before they have led a
// tenth of the frames (here their track comes 0.5 s after their first word
// instead of 1.1 s).
TEST(RobustRoom, ATalkerStartingWhileAnotherSpeaksIsReportedWhereTheyGrowAlone) {
  const SceneLayout room{"robust_late_p50_m20_room03", 20.0, kDuration,
                         {{kReadSpeech + "0870.wav", 50.0, kLeadIn}, {kReadSpeech + "0880.wav", -20.0, 1.8}},
                         quality::Room{kRoomSize, 0.3}};
  const YAML::Node grown = robustTracks(room, "late-grown", {})["coverage"]["talkers"][1];
  const YAML::Node led =
      robustTracks(room, "late-led", {"robust-localization.ROOM_RISE=0.0"})["coverage"]["talkers"][1];
  EXPECT_GE(grown["recall"].as<double>(), led["recall"].as<double>() + 0.05);
}

// At 5 dB often only a fricative's bins near 3.5 kHz rise above the noise,
// and there the interaural phase of a talker at +15 degrees repeats at -16.
// The level difference (the right ear louder, not the left) tells the two
// apart: compared with the phase too (the default), the mirror image makes
// no track, where with the phase alone it takes a tenth of the track frames.
TEST(RobustSides, LevelCuesKeepThePhasesMirrorImageFromBecomingATrack) {
  const SceneLayout scene{"robust_one_p15_5_fricatives", 5.0, kDuration, {{kReadSpeech + "0920.wav", 15.0, kLeadIn}}};
  const YAML::Node level = robustTracks(scene, "mirror-level", {})["coverage"];
  const YAML::Node phase = robustTracks(scene, "mirror-phase", {"robust-localization.CUES=PHASE"})["coverage"];
  EXPECT_LE(level["false_share"].as<double>(), 0.6 * phase["false_share"].as<double>());
  EXPECT_GE(level["recall"].as<double>(), phase["recall"].as<double>() - 0.01);
}

// The spherical-head model places talkers near 70 degrees several degrees
// too far out on the KEMAR head; steering by the measured head does not.
TEST(RobustSides, MeasuredHeadSteeringHasNoSideBiasWhereTheSphereHasOne) {
  for (double azimuth : {-70.0, 70.0}) {
    SCOPED_TRACE(azimuth);
    const SceneLayout scene = oneTalker(azimuth < 0 ? "robust_one_m70_20" : "robust_one_p70_20", azimuth, 20);
    const std::string side = azimuth < 0 ? "m70" : "p70";
    auto outwards = [&](const YAML::Node &report) {
      const YAML::Node talker = report["directions"][0];
      return (talker["tracked_azimuth"].as<double>() - azimuth) * (azimuth < 0 ? -1.0 : 1.0);
    };
    const double measured = outwards(robustTracks(scene, "measured-" + side, {}));
    const double sphere =
        outwards(robustTracks(scene, "sphere-" + side, {"robust-localization.STEERING=SPHERICAL_HEAD"}));
    EXPECT_LE(std::fabs(measured), kMeasuredSideBias);
    EXPECT_GE(sphere, kSphereSideBias);
  }
}

}  // namespace
