// The OnlineSourceSeparation node in a small network: what a frame may read
// (live and with a look-ahead), the refused settings, and damaged input:
// frames of another shape, non-finite and huge values, silence, one talker
// and three, after which the talkers still present keep their outputs.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <iostream>
#include <limits>
#include <sstream>

#include "OnlineSourceSeparation.h"
#include "TalkerStream.h"
#include "TestNetwork.h"

namespace {

using KOLV::ObjectRef;
using KOLV::RCPtr;
using kolvtest::ComplexMatrix;
using kolvtest::FrameBins;
using kolvtest::TalkerStream;

constexpr int kColumns = 65;  // 64 bins and the ignored last column
constexpr int kBins = kColumns - 1;
constexpr int kFramesPerSecond = 100;  // ADVANCE 160 at 16 kHz

KOLV::ParameterSet paramsWith(const std::vector<std::pair<std::string, ObjectRef>> &given) {
  return kolvtest::makeParams(given);
}

RCPtr<ComplexMatrix> frameOf(const TalkerStream &s, int t, int rows = 2) {
  auto frame = kolvtest::complexMatrix(rows, kColumns);
  for (int k = 0; k < kBins; ++k) {
    (*frame)(0, k) = s.mic0[t][k];
    (*frame)(1, k) = s.mic1[t][k];
  }
  return frame;
}

std::vector<ObjectRef> framesOf(const TalkerStream &s) {
  std::vector<ObjectRef> frames;
  for (size_t t = 0; t < s.mic0.size(); ++t) frames.push_back(ObjectRef(frameOf(s, static_cast<int>(t))));
  return frames;
}

// Standard error into a string for as long as it lives, also when the
// node throws.
class CapturedStderr {
 public:
  explicit CapturedStderr(std::ostringstream &into) : saved_(std::cerr.rdbuf(into.rdbuf())) {}
  ~CapturedStderr() { std::cerr.rdbuf(saved_); }
  CapturedStderr(const CapturedStderr &) = delete;
  CapturedStderr &operator=(const CapturedStderr &) = delete;

 private:
  std::streambuf *saved_;
};

// The node fed with `frames` (an empty matrix past their end, as the host's
// sources deliver); its outputs as two talkers' bins, and what it warned.
struct NodeRun {
  FrameBins out[2];
  std::string warnings;
  int highestRead = -1;
};

NodeRun runNode(const std::vector<ObjectRef> &frames, const KOLV::ParameterSet &params, int outputs = -1) {
  kolvtest::FrameFeeder feeder(frames, ObjectRef(new ComplexMatrix()));
  OnlineSourceSeparation node("online", params);
  kolvtest::wire(node, "INPUT_AUDIO_SPECTRUM", feeder);
  NodeRun run;
  std::ostringstream warnings;
  const CapturedStderr captured(warnings);
  const int count = outputs < 0 ? static_cast<int>(frames.size()) : outputs;
  for (int t = 0; t < count; ++t) {
    RCPtr<ComplexMatrix> out = node.getOutput(0, t);
    for (int o = 0; o < 2; ++o) run.out[o].emplace_back(out->row(o), out->row(o) + kBins);
    EXPECT_EQ(out->nrows(), 2);
    EXPECT_EQ(out->ncols(), kColumns);
    EXPECT_EQ((*out)(0, kColumns - 1), std::complex<float>());
  }
  run.warnings = warnings.str();
  run.highestRead = feeder.highestRequested;
  return run;
}

bool allFinite(const NodeRun &run) {
  for (const auto &output : run.out)
    for (const auto &frame : output)
      for (const auto &value : frame)
        if (!std::isfinite(value.real()) || !std::isfinite(value.imag())) return false;
  return true;
}

double degrees(int talker) { return talker == 0 ? -40.0 : 30.0; }

// Which output holds the talker over [first, end), and its SIR there
// against the other of the two first talkers.
struct Holding {
  int output;
  double sirDb;
};

Holding holding(const TalkerStream &s, const NodeRun &run, int talker, int first, int end) {
  double mine[2], theirs[2];
  for (int o = 0; o < 2; ++o) {
    mine[o] = kolvtest::talkerEnergy(s.images[talker], run.out[o], first, end);
    theirs[o] = kolvtest::talkerEnergy(s.images[1 - talker], run.out[o], first, end);
  }
  const int o = mine[1] > mine[0] ? 1 : 0;
  return {o, 10.0 * std::log10(mine[o] / theirs[o])};
}

TEST(OnlineSourceSeparation, AFrameReadsNoFurtherThanItsLookAhead) {
  constexpr int kFrames = 400, kChangeFrom = 250;
  const auto speaking = [](int, int) { return 1.0f; };
  const TalkerStream s = kolvtest::makeTalkerStream(2, kFrames, kBins, speaking, [](int i, int) { return degrees(i); }, 1);
  // The same stream with other talkers from kChangeFrom on.
  TalkerStream changed = kolvtest::makeTalkerStream(2, kFrames, kBins, speaking, [](int i, int) { return degrees(i); }, 2);
  for (int t = 0; t < kChangeFrom; ++t) {
    changed.mic0[t] = s.mic0[t];
    changed.mic1[t] = s.mic1[t];
  }
  struct Case {
    float lookAhead;  // s
    int frames;       // what that is in frames
  };
  for (const Case &c : {Case{0.0f, 0}, Case{0.1f, 10}, Case{1.0f, 100}}) {
    SCOPED_TRACE("LOOK_AHEAD " + std::to_string(c.lookAhead));
    const auto params = paramsWith({{"LOOK_AHEAD", kolvtest::floatValue(c.lookAhead)}});
    const NodeRun first = runNode(framesOf(s), params, kChangeFrom - c.frames);
    EXPECT_EQ(first.highestRead, kChangeFrom - 1);
    const NodeRun second = runNode(framesOf(changed), params, kChangeFrom - c.frames);
    for (int o = 0; o < 2; ++o) EXPECT_EQ(first.out[o], second.out[o]);
  }
}

TEST(OnlineSourceSeparation, CapsAHugeLookAhead) {
  OnlineSourceSeparation node("online", paramsWith({{"LOOK_AHEAD", kolvtest::floatValue(1e6f)}}));
  EXPECT_EQ(node.lookAheadFrames(), 15 * kFramesPerSecond);
  EXPECT_EQ(node.windowFrames(), 2 * 15 * kFramesPerSecond + 1);
}

TEST(OnlineSourceSeparation, RefusesWhatItCannotDoNamingTheNodeAndValue) {
  struct Case {
    const char *name;
    std::vector<std::pair<std::string, ObjectRef>> params;
    std::string message;
  };
  const Case cases[] = {
      {"three talkers", {{"NUMBER_OF_SOURCES_TO_BE_SEPARATED", kolvtest::intValue(3)}}, "NUMBER_OF_SOURCES_TO_BE_SEPARATED"},
      {"negative look-ahead", {{"LOOK_AHEAD", kolvtest::floatValue(-1.0f)}}, "LOOK_AHEAD"},
      {"unknown model", {{"SOURCE_MODEL", kolvtest::stringValue("CAUCHY")}}, "CAUCHY"},
      {"a post-filter that raises", {{"POST_FILTER_FLOOR", kolvtest::floatValue(6.0f)}}, "POST_FILTER_FLOOR is 6 dB"},
      {"restarts for longer than the frames kept", {{"RESTART", kolvtest::floatValue(20.0f)}}, "RESTART is 20 s"},
      {"statistics averaged over bins on a negative side", {{"ONSET_SMOOTHING", kolvtest::intValue(-1)}},
       "ONSET_SMOOTHING is -1"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string text = kolvtest::thrownText([&] { OnlineSourceSeparation node("online", paramsWith(c.params)); });
    EXPECT_NE(text.find("OnlineSourceSeparation 'online'"), std::string::npos) << text;
    EXPECT_NE(text.find(c.message), std::string::npos) << text;
  }
  const std::string reach = kolvtest::thrownText(
      [&] { OnlineSourceSeparation node("online", paramsWith({{"DEREVERBERATION", kolvtest::floatValue(1.0f)}})); });
  EXPECT_NE(reach.find("'online'"), std::string::npos) << reach;
  EXPECT_NE(reach.find("DEREVERBERATION 1 s is " + std::to_string(kFramesPerSecond) + " frames"), std::string::npos)
      << reach;
  const std::vector<ObjectRef> oneMicrophone = {ObjectRef(new ComplexMatrix(1, kColumns))};
  const std::string text = kolvtest::thrownText([&] { runNode(oneMicrophone, paramsWith({})); });
  EXPECT_NE(text.find("frame 0"), std::string::npos) << text;
  EXPECT_NE(text.find("1 x 65"), std::string::npos) << text;
}

// 4 s of two talkers, 1 s of damage, then 5 s of the same two talkers: the
// output is finite throughout, and within a second of the damage each
// talker is back on the output it held before, well separated.
TEST(OnlineSourceSeparation, RecoversFromDamagedInputKeepingTheTalkersOrder) {
  constexpr int kDamageFrom = 400, kDamageTo = 500, kFrames = 1000;
  struct Case {
    const char *name;
    std::function<ObjectRef(const TalkerStream &, int)> damaged;  // frame t of the damage
    int talkers;       // in the stream during the damage (the third comes from +70 degrees)
    bool warns;
  };
  const auto withValue = [](float value) {
    return [value](const TalkerStream &s, int t) {
      RCPtr<ComplexMatrix> frame = frameOf(s, t);
      (*frame)(t % 2, (t * 7) % kBins) = {value, 0.0f};
      return ObjectRef(frame);
    };
  };
  const auto unchanged = [](const TalkerStream &s, int t) { return ObjectRef(frameOf(s, t)); };
  const Case cases[] = {
      {"frames of another shape", [](const TalkerStream &s, int t) { return ObjectRef(frameOf(s, t, 3)); }, 2, true},
      {"NaN values", withValue(std::numeric_limits<float>::quiet_NaN()), 2, true},
      {"infinite values", withValue(std::numeric_limits<float>::infinity()), 2, true},
      {"values that overflow the covariances", withValue(1e30f), 2, true},
      {"digital silence", [](const TalkerStream &, int) { return ObjectRef(kolvtest::complexMatrix(2, kColumns)); }, 2,
       false},
      {"one talker alone", unchanged, 1, false},
      {"three talkers", unchanged, 3, false},
  };
  for (const Case &c : cases) {
    for (float dereverberation : {0.0f, 0.05f}) {
      SCOPED_TRACE(std::string(c.name) + (dereverberation > 0.0f ? ", dereverberated" : ""));
      const auto active = [&](int talker, int t) {
        const bool damage = t >= kDamageFrom && t < kDamageTo;
        if (talker == 2) return damage && c.talkers == 3 ? 1.0f : 0.0f;
        return !damage || talker < c.talkers ? 1.0f : 0.0f;
      };
      const auto direction = [](int talker, int) { return talker == 2 ? 70.0 : degrees(talker); };
      const TalkerStream s = kolvtest::makeTalkerStream(3, kFrames, kBins, active, direction, 5);
      std::vector<ObjectRef> frames = framesOf(s);
      for (int t = kDamageFrom; t < kDamageTo; ++t) frames[t] = c.damaged(s, t);
      const NodeRun run = runNode(frames, paramsWith({{"DEREVERBERATION", kolvtest::floatValue(dereverberation)}}));
      EXPECT_TRUE(allFinite(run));
      EXPECT_EQ(!run.warnings.empty(), c.warns) << run.warnings;
      // One warning for the whole damaged stretch.
      EXPECT_LE(std::count(run.warnings.begin(), run.warnings.end(), '\n'), 1);
      for (int talker = 0; talker < 2; ++talker) {
        SCOPED_TRACE("talker " + std::to_string(talker));
        const Holding before = holding(s, run, talker, 300, kDamageFrom);
        const Holding after = holding(s, run, talker, kDamageTo + kFramesPerSecond, kFrames);
        EXPECT_EQ(after.output, before.output);
        EXPECT_GE(after.sirDb, 10.0);
      }
    }
  }
}

}  // namespace
