// What OnlineSourceSeparation achieves in the example separation network,
// judged over whole files: two talkers around the KEMAR dummy head at 20 dB
// SNR after 1 s of noise alone, anechoic and in a room, standing or one of
// them walking. Each output must keep its talker throughout (kolv-evaluate's
// talkers check) and the SIR and SDR improvements over the whole file, with
// one permutation, must stay a margin below those measured
// (docs/separation.md), scored against both ears' images and, for the SDR,
// against the left ear's alone; the separated files, and the same cleaned
// of the noise by the network's AdaptiveSpeechEnhancement.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "SceneRuns.h"

namespace {

const std::string kReader = "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0870.wav";
constexpr double kLeadIn = 1.0;  // s of noise alone
constexpr double kSnrDb = 20.0;

struct Case {
  std::string name;
  // Made when the test runs: the second voice is rendered on first use.
  std::function<quality::SceneLayout()> scene;
  std::vector<std::string> settings;  // --set assignments beyond the file names
  double minSirDb, minSdrDb;          // whole-file improvements asked for
  double minLeftEarSdrDb;             // the same against the images at the left ear
  std::string outputs = "online";     // the files scored: online-N.wav or online-cleaned-N.wav
};

// The long frames a room asks for, live without the onset smoothing
// (docs/separation.md).
const std::vector<std::string> kRoomFrames = {"source.LENGTH=2048", "source.ADVANCE=512", "online.ONSET_SMOOTHING=0"};

std::vector<std::string> roomFramesAnd(std::initializer_list<std::string> more) {
  std::vector<std::string> settings = kRoomFrames;
  settings.insert(settings.end(), more);
  return settings;
}
const std::vector<std::string> kRoomDereverberated = roomFramesAnd({"online.DEREVERBERATION=0.16"});
const std::vector<std::string> kRoomPostFiltered =
    roomFramesAnd({"online.DEREVERBERATION=0.16", "online.POST_FILTER_FLOOR=-20.0"});
const std::vector<std::string> kRoomWholeFile = {"source.LENGTH=4096", "source.ADVANCE=512", "online.LOOK_AHEAD=20.0",
                                                  "online.MEMORY=0.0"};
const std::vector<std::string> kWholeFile = {"online.LOOK_AHEAD=20.0"};

quality::SceneLayout standing() {
  return {"online_m35_p45_20dB", kSnrDb, 6.5, {{kReader, -35, kLeadIn}, {quality::promptsVoice(), 45, kLeadIn}}};
}

// The reader walks from -30 to +10 degrees between 2 s and 10 s.
quality::SceneLayout walking() {
  return {"online_walk_m30_p10_20dB", kSnrDb, 10.0,
          {{kReader, 0, kLeadIn, 0.0, "2:-30,10:10"}, {quality::promptsVoice(), 60, kLeadIn}}};
}

// A 6 x 5 x 3 m room, both talkers 1.5 m away.
quality::SceneLayout room(const std::string &name, double rt60) {
  quality::SceneLayout scene{name, kSnrDb, 6.5,
                             {{kReader, -35, kLeadIn, 1.5}, {quality::promptsVoice(), 45, kLeadIn, 1.5}}};
  scene.room = quality::Room{"6,5,3", rt60};
  return scene;
}
quality::SceneLayout room03() { return room("online_room_rt03_20dB", 0.3); }
// Here the talkers check is hard: the reverberation is 5 dB above the
// direct sound and both talkers start together, so the first second, which
// the check keys every later one to, is separated least.
quality::SceneLayout room06() { return room("online_room_rt06_20dB", 0.6); }

// An office (8 x 6 x 3 m, RT60 0.3 s, the talkers 1 m away) heard by
// another head than KEMAR, the FABIAN head-and-torso simulator: the
// separation asks nothing of the head, and keeps the office's figures.
quality::SceneLayout officeOtherHead() {
  quality::SceneLayout scene{"online_office_fabian_20dB", kSnrDb, 6.5,
                             {{kReader, -30, kLeadIn, 1.0}, {quality::promptsVoice(), 50, kLeadIn, 1.0}}};
  scene.room = quality::Room{"8,6,3", 0.3};
  scene.otherHead = quality::kFabianHead;
  return scene;
}

std::vector<Case> cases() {
  return {{"anechoic_live", standing, {}, 41.0, 9.0, 15.5},
          {"anechoic_whole_file", standing, kWholeFile, 52.0, 12.0, 18.0},
          {"walking_live", walking, {}, 30.0, 6.5, 12.0},
          {"walking_whole_file", walking, kWholeFile, 40.0, 11.5, 17.0},
          {"room_rt03_live", room03, kRoomFrames, 8.5, 0.5, 3.0},
          {"room_rt03_live_dereverberated", room03, kRoomDereverberated, 10.5, 0.0, 2.5},
          {"room_rt03_live_post_filtered", room03, kRoomPostFiltered, 14.0, 1.0, 3.5},
          {"room_rt06_live_post_filtered", room06, kRoomPostFiltered, 8.5, -1.5, -0.5},
          {"room_rt03_whole_file", room03, kRoomWholeFile, 16.0, 5.0, 8.0},
          {"room_rt06_whole_file", room06, kRoomWholeFile, 9.5, 2.0, 3.5},
          {"office_other_head_live_post_filtered", officeOtherHead, kRoomPostFiltered, 19.0, 4.5, 5.5},
          {"office_other_head_whole_file", officeOtherHead, kRoomWholeFile, 18.0, 7.0, 8.5},
          // The noise each separated talker keeps, taken out after the
          // separation: the SDR rises above the separation's own.
          {"anechoic_live_cleaned", standing, {}, 45.0, 9.5, 16.0, "online-cleaned"},
          {"anechoic_whole_file_cleaned", standing, kWholeFile, 47.0, 15.0, 21.0, "online-cleaned"},
          {"room_rt03_whole_file_cleaned", room03, kRoomWholeFile, 16.5, 5.5, 8.5, "online-cleaned"}};
}

void PrintTo(const Case &c, std::ostream *out) { *out << c.name; }

// Runs the example separation network on a scene, its files in `out`, and
// scores the files `outputs`-1.wav and -2.wav.
YAML::Node separated(const std::string &scene, const std::string &out, const std::vector<std::string> &settings,
                     const std::string &outputs) {
  std::vector<std::string> sets = {"source.FILE=" + scene + "/scene.wav",
                                   "first.FILE=" + out + "/separated-1.wav",
                                   "second.FILE=" + out + "/separated-2.wav",
                                   "online-first.FILE=" + out + "/online-1.wav",
                                   "online-second.FILE=" + out + "/online-2.wav",
                                   "online-cleaned-first.FILE=" + out + "/online-cleaned-1.wav",
                                   "online-cleaned-second.FILE=" + out + "/online-cleaned-2.wav"};
  sets.insert(sets.end(), settings.begin(), settings.end());
  quality::runKolv(quality::exampleNetwork("separate.yaml"), sets, out);
  // ISTFT adds no delay: the cross-correlation's estimate would only blur
  // the SDR.
  return quality::evaluate(
      scene, {"--separated", out + "/" + outputs + "-1.wav," + out + "/" + outputs + "-2.wav", "--delay", "0"},
      out)["separation"];
}

class OnlineSeparation : public ::testing::TestWithParam<Case> {};

TEST_P(OnlineSeparation, KeepsEachTalkerOnItsOutputAndSeparatesTheWholeFile) {
  const Case &c = GetParam();
  const std::string scene = quality::renderedScene(c.scene());
  const std::string out = quality::outputFolder(c.name);
  const YAML::Node figures = separated(scene, out, c.settings, c.outputs);
  EXPECT_TRUE(figures["talkers_kept"].as<bool>()) << figures["talkers"];
  ASSERT_TRUE(figures["whole_file"].IsMap()) << "no stretch in which both talkers speak";
  EXPECT_GE(figures["whole_file"]["improvement_db"].as<double>(), c.minSirDb);
  EXPECT_GE(figures["whole_file"]["sdr_improvement_db"].as<double>(), c.minSdrDb);
  EXPECT_GE(figures["whole_file_left_ear"]["sdr_improvement_db"].as<double>(), c.minLeftEarSdrDb);
}

INSTANTIATE_TEST_SUITE_P(QualityTwoTalkers, OnlineSeparation, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case> &info) { return info.param.name; });

// Live, the first half second after two talkers start together is
// separated least; the statistics averaged over neighbouring bins
// (ONSET_SMOOTHING) give those first estimates more data. The SDR
// improvement at the left ear with and without, on four layouts: it rises
// by 0.4 dB on the first, by less on others (docs/separation.md), and on
// none does it fall by much.
TEST(OnlineSeparationOnset, SmoothingOverBinsRaisesTheSdrOfTalkersWhoStartTogether) {
  const auto together = [](const std::string &name, double reader, double prompts) {
    return quality::SceneLayout{name, kSnrDb, 6.5, {{kReader, reader, kLeadIn}, {quality::promptsVoice(), prompts, kLeadIn}}};
  };
  const quality::SceneLayout layouts[] = {standing(), together("online_p20_m60_20dB", 20, -60),
                                          together("online_m10_p60_20dB", -10, 60),
                                          together("online_p50_m15_20dB", 50, -15)};
  double gain = 0.0;
  for (const quality::SceneLayout &layout : layouts) {
    const std::string scene = quality::renderedScene(layout);
    double sdr[2];  // without, with
    for (int with = 0; with < 2; ++with) {
      const std::string smoothing = with ? "2" : "0";
      const YAML::Node figures =
          separated(scene, quality::outputFolder(layout.name + "_onset_smoothing_" + smoothing),
                    {"online.ONSET_SMOOTHING=" + smoothing}, "online");
      EXPECT_TRUE(figures["talkers_kept"].as<bool>()) << layout.name << ", ONSET_SMOOTHING " << smoothing;
      sdr[with] = figures["whole_file_left_ear"]["sdr_improvement_db"].as<double>();
    }
    std::printf("%s: SDR improvement at the left ear %.2f dB without, %.2f dB with\n", layout.name.c_str(), sdr[0],
                sdr[1]);
    EXPECT_GE(sdr[1], sdr[0] - 0.3) << layout.name;
    gain += (sdr[1] - sdr[0]) / std::size(layouts);
  }
  EXPECT_GE(gain, 0.15) << "mean gain in dB";
}

}  // namespace
