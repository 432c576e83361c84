#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "AudioMetrics.h"
#include "SpeechMetrics.h"
#include "Tables.h"
#include "ToolTesting.h"
#include "TrackingMetrics.h"
#include "Truth.h"

namespace {

using tooltest::kRate;
using tooltest::runTool;
using tooltest::ScratchDir;

constexpr int kAdvance = 160;  // 100 frames per second at 16 kHz

void writeText(const std::string &path, const std::string &text) { std::ofstream(path) << text; }

TEST(Tables, ReadTheTablesKolvWrites) {
  ScratchDir dir;
  writeText(dir / "sources.csv", "frame,time,id,azimuth,power\n0,0,0,-40,1.5\n0,0,1,30,0.2\n3,0.03,0,-39.5,1\n");
  writeText(dir / "speech.csv", "frame,time,speech\r\n0,0,0\r\n1,0.01,1\r\n");
  auto sources = evaluate::readSourceTable(dir / "sources.csv");
  ASSERT_EQ(sources.size(), 3u);
  EXPECT_EQ(sources[1].id, 1);
  EXPECT_EQ(sources[2].frame, 3);
  EXPECT_EQ(sources[2].azimuth, -39.5);
  auto speech = evaluate::readSpeechTable(dir / "speech.csv");
  ASSERT_EQ(speech.size(), 2u);
  EXPECT_FALSE(speech[0].speech);
  EXPECT_TRUE(speech[1].speech);
}

TEST(Tables, RefuseWhatIsNotATableWithTheLineAtFault) {
  ScratchDir dir;
  struct Case {
    const char *name;
    std::string text;
    std::string message;
  };
  const Case cases[] = {
      {"other header", "frame,azimuth\n0,1\n", "header frame,time,speech"},
      {"missing field", "frame,time,speech\n0,0,1\n1,0.01\n", "line 3: 2 fields"},
      {"not a number", "frame,time,speech\n0,0,yes\n", "line 2: 'yes' is not a number"},
      {"not a decision", "frame,time,speech\n0,0,2\n", "speech must be 0 or 1"},
      {"not finite", "frame,time,speech\n0,0,nan\n", "'nan' is not a number"},
      {"empty file", "", "header"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    writeText(dir / "speech.csv", c.text);
    try {
      evaluate::readSpeechTable(dir / "speech.csv");
      ADD_FAILURE() << "accepted";
    } catch (const std::runtime_error &e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(evaluate::readSourceTable(dir / "absent.csv"), std::runtime_error);
}

TEST(TrackingMetrics, NearestTrackPerFrameDuringTheActiveStretches) {
  scenekit::TruthSource truth;
  truth.azimuth = -40.0;
  truth.active = {{0.5, 1.0}};  // frames 50 to 99
  const evaluate::FrameClock clock{kAdvance, kRate, 200};

  std::vector<evaluate::TrackedSource> rows;
  for (int f = 0; f < 200; ++f) {
    rows.push_back({f, 0, 30.0});                              // the other talker
    if (f >= 50 && f < 100) rows.push_back({f, 1, f < 80 ? -38.0 : -30.0});  // 30 frames near, 20 off by 10
    if (f < 50) rows.push_back({f, 1, -40.0});                 // outside the stretch: not counted
  }
  evaluate::DirectionScore s = evaluate::scoreDirection(rows, truth, clock);
  EXPECT_EQ(s.activeFrames, 50);
  EXPECT_EQ(s.trackedFrames, 50);
  EXPECT_TRUE(s.tracked);
  EXPECT_DOUBLE_EQ(s.medianAzimuth, -38.0);
  EXPECT_DOUBLE_EQ(s.error, 2.0);
  EXPECT_DOUBLE_EQ(s.shareWithin, 30.0 / 50.0);

  evaluate::DirectionScore none = evaluate::scoreDirection({}, truth, clock);
  EXPECT_FALSE(none.tracked);
  EXPECT_EQ(none.activeFrames, 50);
  EXPECT_EQ(none.shareWithin, 0.0);
}

// Coverage within 10 degrees: talker A (fixed at -40, frames 0-99) and
// talker B (walking from 0 to +20 over frames 100-199, truth per 10 ms).
TEST(TrackingMetrics, CoverageFalseShareAndIdChanges) {
  scenekit::TruthSource a, b;
  a.azimuth = -40.0;
  a.active = {{0.0, 1.0}};
  b.azimuth = 0.0;
  b.active = {{1.0, 2.0}};
  b.frame = 0.01;
  for (int f = 0; f < 200; ++f) b.azimuths.push_back(f < 100 ? 0.0 : 0.2 * (f - 100));
  const evaluate::FrameClock clock{kAdvance, kRate, 200};

  std::vector<evaluate::TrackedSource> rows;
  for (int f = 0; f < 200; ++f) {
    if (f < 60) rows.push_back({f, f < 30 ? 0 : 3, -36.0});        // A covered 60 frames, error 4, one id change
    if (f >= 60 && f < 100) rows.push_back({f, 0, -55.0});          // 40 frames off by 15: false
    if (f >= 100) rows.push_back({f, 1, 0.2 * (f - 100) + 1.0});    // B followed with error 1
    if (f >= 150) rows.push_back({f, 2, -40.0});                    // A silent: 50 false frames
  }
  evaluate::CoverageScore c = evaluate::scoreCoverage(rows, {a, b}, clock);
  ASSERT_EQ(c.talkers.size(), 2u);
  EXPECT_EQ(c.talkers[0].activeFrames, 100);
  EXPECT_EQ(c.talkers[0].coveredFrames, 60);
  EXPECT_DOUBLE_EQ(c.talkers[0].meanError, 4.0);
  EXPECT_EQ(c.talkers[0].idChanges, 1);
  EXPECT_EQ(c.talkers[1].coveredFrames, 100);
  EXPECT_NEAR(c.talkers[1].meanError, 1.0, 1e-9);
  EXPECT_EQ(c.talkers[1].idChanges, 0);
  EXPECT_DOUBLE_EQ(c.recall, 160.0 / 200.0);
  EXPECT_NEAR(c.meanError, (60 * 4.0 + 100 * 1.0) / 160.0, 1e-9);
  EXPECT_EQ(c.trackFrames, 250);
  EXPECT_DOUBLE_EQ(c.falseShare, 90.0 / 250.0);
  EXPECT_DOUBLE_EQ(evaluate::azimuthAt(b, 1.505), 0.2 * 50);
  EXPECT_DOUBLE_EQ(evaluate::azimuthAt(a, 1.5), -40.0);
}

TEST(TrackingMetrics, FramesOfARun) {
  EXPECT_EQ(evaluate::framesIn(10.0, kAdvance, kRate), 1000);
  EXPECT_EQ(evaluate::framesIn(10.0001, kAdvance, kRate), 1001);  // a partial frame counts
  EXPECT_DOUBLE_EQ(evaluate::frameTime(150, kAdvance, kRate), 1.5);
}

TEST(SpeechMetrics, CountsHitsAndFalseAlarmsAgainstTheStretches) {
  // Truth: speech in frames 3 to 6 (0.03 to 0.07 s) of 10.
  std::vector<evaluate::SpeechDecision> decisions;
  const bool decided[10] = {false, true, false, true, true, false, false, false, true, false};
  for (int f = 0; f < 10; ++f) decisions.push_back({f, decided[f]});
  evaluate::SpeechScore s = evaluate::scoreSpeech(decisions, {{0.03, 0.07}}, kAdvance, kRate);
  EXPECT_EQ(s.frames, 10);
  EXPECT_EQ(s.speechFrames, 4);
  EXPECT_EQ(s.hits, 2);
  EXPECT_EQ(s.falseAlarms, 2);
  EXPECT_DOUBLE_EQ(s.accuracy, 0.6);
  EXPECT_DOUBLE_EQ(s.hitRate, 0.5);
  EXPECT_DOUBLE_EQ(s.falseAlarmRate, 2.0 / 6.0);
}

std::vector<double> noise(size_t length, unsigned seed, double amplitude) {
  std::vector<double> x(length);
  for (double &v : x) {
    seed = seed * 1664525u + 1013904223u;
    v = amplitude * (static_cast<double>(seed >> 8) / 8388608.0 - 1.0);
  }
  return x;
}

TEST(AudioMetrics, DelayAndNoiseReductionOfAKnownOutput) {
  const size_t length = 2 * kRate;
  const int delay = 37;
  evaluate::Channels input = {noise(length, 1, 0.1), noise(length, 2, 0.1)};
  evaluate::Channels output(2, std::vector<double>(length + delay, 0.0));
  for (int c = 0; c < 2; ++c)
    for (size_t n = 0; n < length; ++n)
      output[c][n + delay] = input[c][n] * (n < kRate ? 0.1 : 0.5);  // -20 dB lead-in, -6 dB speech

  ASSERT_EQ(evaluate::estimateDelay(output, input, 100), delay);
  const std::vector<scenekit::Stretch> speech = {{1.0, 2.0}};
  auto r = evaluate::measureNoiseReduction(input, evaluate::aligned(output, delay, length), speech, kRate, 0.25, 1.5);
  EXPECT_DOUBLE_EQ(r.leadIn.start, 0.25);
  EXPECT_DOUBLE_EQ(r.leadIn.end, 1.0);
  EXPECT_NEAR(r.reductionDb, 20.0, 1e-9);
  EXPECT_NEAR(r.speechChangeDb, 20.0 * std::log10(0.5), 1e-9);

  // A recording that begins before its first active stretch ends the lead-in
  // there: its breaths and background are not the scene's noise.
  auto early = evaluate::measureNoiseReduction(input, evaluate::aligned(output, delay, length), speech, kRate, 0.25,
                                               0.75);
  EXPECT_DOUBLE_EQ(early.leadIn.end, 0.75);
  EXPECT_NEAR(early.reductionDb, 20.0, 1e-9);

  EXPECT_THROW(evaluate::measureNoiseReduction(input, input, {{0.0, 1.0}}, kRate, 0.0, 2.0), std::runtime_error);
  EXPECT_THROW(evaluate::measureNoiseReduction(input, input, {{1.0, 2.0}}, kRate, 0.5, 0.5), std::runtime_error);
  EXPECT_EQ(evaluate::levelDb({std::vector<double>(100, 0.0)}, {{0.0, 1.0}}, kRate), evaluate::kSilenceDb);
}

TEST(AudioMetrics, SirOfAKnownSeparationFindsThePermutation) {
  const size_t length = kRate;
  std::vector<evaluate::Channels> images = {{noise(length, 1, 0.1), noise(length, 2, 0.1)},
                                            {noise(length, 3, 0.1), noise(length, 4, 0.1)}};
  evaluate::Channels mixture(2, std::vector<double>(length));
  for (int c = 0; c < 2; ++c)
    for (size_t n = 0; n < length; ++n) mixture[c][n] = images[0][c][n] + images[1][c][n];
  // Output 1 carries source 2 with source 1 at -20 dB, output 2 source 1 with source 2 at -40 dB.
  evaluate::Channels separated(2, std::vector<double>(length));
  for (size_t n = 0; n < length; ++n) {
    separated[0][n] = images[1][1][n] + 0.1 * images[0][0][n];
    separated[1][n] = images[0][0][n] + 0.01 * images[1][0][n];
  }
  auto blocks = evaluate::measureSeparation(separated, mixture, images, 0, kRate);
  ASSERT_EQ(blocks.size(), 1u);
  const auto &b = blocks[0];
  EXPECT_EQ(b.sourceOfOutput, (std::vector<int>{1, 0}));
  auto energy = [](const std::vector<double> &x) {
    double e = 0.0;
    for (double v : x) e += v * v;
    return e;
  };
  EXPECT_NEAR(b.outputSir[0], 10.0 * std::log10(energy(images[1][1]) / (0.01 * energy(images[0][0]))), 1e-6);
  EXPECT_NEAR(b.outputSir[1], 10.0 * std::log10(energy(images[0][0]) / (1e-4 * energy(images[1][0]))), 1e-6);
  // Equal-level independent images: about 0 dB at either ear.
  EXPECT_NEAR(b.mixtureSir[0], 0.0, 0.3);
  EXPECT_NEAR(b.improvement, 0.5 * (b.outputSir[0] - b.mixtureSir[0] + b.outputSir[1] - b.mixtureSir[1]), 1e-9);

  // The mixture separates nothing.
  auto unchanged = evaluate::measureSeparation(mixture, mixture, images, 0, kRate);
  EXPECT_NEAR(unchanged[0].improvement, 0.0, 1e-6);
}

TEST(AudioMetrics, BlocksWithoutEverySourceAreNotScored) {
  const size_t length = kRate;
  std::vector<evaluate::Channels> images = {{noise(length, 1, 0.1), noise(length, 2, 0.1)},
                                            {noise(length, 3, 0.1), noise(length, 4, 0.1)}};
  for (auto &channel : images[1])
    for (size_t n = length / 2; n < length; ++n) channel[n] = 0.0;  // source 2 stops half-way
  evaluate::Channels mixture(2, std::vector<double>(length));
  for (int c = 0; c < 2; ++c)
    for (size_t n = 0; n < length; ++n) mixture[c][n] = images[0][c][n] + images[1][c][n];
  auto blocks = evaluate::measureSeparation(mixture, mixture, images, length / 4, kRate);
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_DOUBLE_EQ(blocks[1].end, 0.5);
  EXPECT_THROW(evaluate::measureSeparation(mixture, mixture, {images[0]}, 0, kRate), std::runtime_error);
}

TEST(EvaluateProgram, SummarisesAndRefusesBadInput) {
  ScratchDir dir;
  scenekit::Truth truth;
  truth.samplingRate = kRate;
  truth.duration = 1.0;
  truth.mixture = "scene.wav";
  scenekit::TruthSource source;
  source.azimuth = 20.0;
  source.image = "source1.wav";
  source.active = {{0.5, 1.0}};
  truth.sources = {source};
  writeText(dir / "truth.json", scenekit::truthToJson(truth));
  writeText(dir / "sources.csv", "frame,time,id,azimuth,power\n60,0.6,0,21,1\n");
  writeText(dir / "speech.csv", "frame,time,speech\n0,0,0\n60,0.6,1\n");

  auto run = runTool("kolv-evaluate",
                     "--truth " + (dir / "truth.json") + " --sources " + (dir / "sources.csv") + " --speech " +
                         (dir / "speech.csv") + " --json",
                     dir);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("\"tracked_azimuth\": 21"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("\"accuracy\": 1"), std::string::npos) << run.output;

  struct Case {
    const char *name;
    std::string arguments;
    std::string message;
  };
  const Case cases[] = {
      {"no truth", "--sources " + (dir / "sources.csv"), "missing --truth"},
      {"absent truth", "--truth " + (dir / "none.json"), "cannot read truth file"},
      {"table of the wrong kind", "--truth " + (dir / "truth.json") + " --speech " + (dir / "sources.csv"),
       "header frame,time,speech"},
      {"absent audio", "--truth " + (dir / "truth.json") + " --enhanced " + (dir / "none.wav"), "cannot read audio"},
      {"negative advance", "--truth " + (dir / "truth.json") + " --advance -160", "expects a number"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    auto bad = runTool("kolv-evaluate", c.arguments, dir);
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.output.find(c.message), std::string::npos) << bad.output;
  }
}

}  // namespace
