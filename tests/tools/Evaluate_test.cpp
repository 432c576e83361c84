#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

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

TEST(TrackingMetrics, AMovingSourceIsJudgedFrameByFrame) {
  scenekit::TruthSource truth;
  truth.azimuth = -20.0;
  truth.frame = 0.01;
  for (int f = 0; f < 200; ++f) truth.azimuths.push_back(-20.0 + 0.2 * f);  // -20 to +19.8 degrees
  truth.active = {{0.5, 1.5}};  // frames 50 to 149: -10 to +9.8 degrees
  const evaluate::FrameClock clock{kAdvance, kRate, 200};

  // A track 2 degrees behind the talker, and a still direction where it started.
  std::vector<evaluate::TrackedSource> rows;
  for (int f = 0; f < 200; ++f) {
    rows.push_back({f, 0, truth.azimuths[f] - 2.0});
    rows.push_back({f, 1, -20.0});
  }
  evaluate::DirectionScore s = evaluate::scoreDirection(rows, truth, clock);
  EXPECT_TRUE(s.moving);
  EXPECT_DOUBLE_EQ(s.truthAzimuth, -20.0);
  EXPECT_EQ(s.activeFrames, 100);
  EXPECT_NEAR(s.error, 2.0, 1e-9);
  EXPECT_DOUBLE_EQ(s.shareWithin, 1.0);
  EXPECT_NEAR(s.medianAzimuth, -2.1, 1e-9);  // the median of the track: the middle of the stretch

  // The still direction alone: near the talker only while it is within 5 degrees of -20.
  rows.clear();
  for (int f = 0; f < 200; ++f) rows.push_back({f, 1, -20.0});
  evaluate::DirectionScore still = evaluate::scoreDirection(rows, truth, clock);
  EXPECT_DOUBLE_EQ(still.shareWithin, 0.0);
  EXPECT_NEAR(still.error, 19.9, 1e-9);

  // Beyond the per-frame azimuths the last one holds.
  EXPECT_DOUBLE_EQ(evaluate::truthAzimuthAt(truth, 5.0), truth.azimuths.back());
  EXPECT_DOUBLE_EQ(evaluate::truthAzimuthAt(truth, 0.505), truth.azimuths[50]);
}

// Where two talkers cross, the nearest id may flip for a few frames: only an
// id that then stays nearest for half a second counts as a lasting change.
TEST(TrackingMetrics, LastingIdChangesLeaveOutBriefFlips) {
  scenekit::TruthSource a;
  a.azimuth = 10.0;
  a.active = {{0.0, 3.0}};
  const evaluate::FrameClock clock{kAdvance, kRate, 300};
  std::vector<evaluate::TrackedSource> rows;
  for (int f = 0; f < 300; ++f) {
    const int id = f < 100 ? 0 : f < 105 ? 1 : f < 200 ? 0 : 1;  // a 5-frame flip, then a lasting change
    rows.push_back({f, id, 11.0});
  }
  const evaluate::CoverageScore c = evaluate::scoreCoverage(rows, {a}, clock);
  ASSERT_EQ(c.talkers.size(), 1u);
  EXPECT_EQ(c.talkers[0].idChanges, 3);
  EXPECT_EQ(c.talkers[0].lastingIdChanges, 1);
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
  EXPECT_DOUBLE_EQ(c.ghostShare, 40.0 / 250.0);  // at -55; the 50 on A while A is silent are false, no ghosts
  EXPECT_DOUBLE_EQ(evaluate::truthAzimuthAt(b, 1.505), 0.2 * 50);
  EXPECT_DOUBLE_EQ(evaluate::truthAzimuthAt(a, 1.5), -40.0);
}

// Four seconds, scored by the second. Talker A at -40 degrees speaks through
// seconds 0 and 1, then 0.2 s of second 2 (less than a quarter: not active
// there) and exactly a quarter of second 3; talker B at +30 from 1.5 s on.
struct SecondsScene {
  std::vector<scenekit::TruthSource> truth;
  std::vector<evaluate::TrackedSource> rows;
};

SecondsScene secondsScene() {
  scenekit::TruthSource a, b;
  a.azimuth = -40.0;
  a.active = {{0.0, 2.0}, {2.0, 2.2}, {3.0, 3.25}};
  b.azimuth = 30.0;
  b.active = {{1.5, 4.0}};
  SecondsScene scene{{a, b}, {}};
  auto track = [&](int from, int to, int id, double azimuth) {
    for (int f = from; f < to; ++f) scene.rows.push_back({f, id, azimuth});
  };
  track(0, 60, 0, -38.0);     // second 0: A in 60 of 100 frames, 2 degrees off: covered
  track(100, 140, 0, -38.0);  // second 1: A in 40 of 100: not covered
  track(300, 313, 0, -37.0);  // second 3: A in 13 of their 25 active frames, 3 off: covered
  track(150, 400, 1, 31.0);   // B covered in seconds 1 to 3, 1 degree off
  track(200, 300, 2, -40.0);  // on A, who speaks 0.2 s of second 2: not false
  track(0, 50, 4, 30.0);      // on B, who has not started yet: false
  track(300, 341, 3, 0.0);    // near nobody in 41 frames of second 3,
  track(341, 400, 3, 35.0);   // near B in 59: not false
  track(0, 30, 5, -80.0);     // near nobody at all: false, a ghost
  return scene;
}

TEST(TrackingMetrics, CoverageBySecond) {
  const SecondsScene scene = secondsScene();
  const evaluate::SecondCoverageScore c =
      evaluate::scoreCoverageBySecond(scene.rows, scene.truth, evaluate::FrameClock{kAdvance, kRate, 400});
  ASSERT_EQ(c.talkers.size(), 2u);
  EXPECT_EQ(c.talkers[0].activeWindows, 3);
  EXPECT_EQ(c.talkers[0].coveredWindows, 2);
  EXPECT_EQ(c.talkers[1].activeWindows, 3);
  EXPECT_EQ(c.talkers[1].coveredWindows, 3);
  EXPECT_DOUBLE_EQ(c.recall, 5.0 / 6.0);
  EXPECT_DOUBLE_EQ(c.meanError, (2.0 + 3.0 + 1.0 + 1.0 + 1.0) / 5.0);
  EXPECT_EQ(c.trackWindows, 10);  // ids 0 and 1 in three seconds each, 2, 3, 4 and 5 in one
  EXPECT_DOUBLE_EQ(c.falseShare, 2.0 / 10.0);
  EXPECT_DOUBLE_EQ(c.ghostShare, 1.0 / 10.0);  // id 5; id 4, false, points at B, who speaks later

  const evaluate::SecondCoverageScore none =
      evaluate::scoreCoverageBySecond({}, scene.truth, evaluate::FrameClock{kAdvance, kRate, 400});
  EXPECT_DOUBLE_EQ(none.recall, 0.0);
  EXPECT_EQ(none.trackWindows, 0);
  EXPECT_DOUBLE_EQ(none.falseShare, 0.0);
  EXPECT_DOUBLE_EQ(none.ghostShare, 0.0);
}

TEST(EvaluateProgram, ReportsCoverageBySecond) {
  ScratchDir dir;
  const SecondsScene scene = secondsScene();
  scenekit::Truth truth;
  truth.samplingRate = kRate;
  truth.duration = 4.0;
  truth.mixture = "scene.wav";
  truth.sources = scene.truth;
  truth.sources[0].image = "source1.wav";
  truth.sources[1].image = "source2.wav";
  writeText(dir / "truth.json", scenekit::truthToJson(truth));
  std::ostringstream table;
  table << "frame,time,id,azimuth,power\n";
  for (const evaluate::TrackedSource &row : scene.rows)
    table << row.frame << "," << row.frame / 100.0 << "," << row.id << "," << row.azimuth << ",1\n";
  writeText(dir / "sources.csv", table.str());

  const std::string arguments = "--truth " + (dir / "truth.json") + " --sources " + (dir / "sources.csv");
  auto json = runTool("kolv-evaluate", arguments + " --json", dir);
  ASSERT_EQ(json.status, 0) << json.output;
  EXPECT_NE(json.output.find("\"coverage_by_second\": {\"recall\": 0.833333, \"mean_error\": 1.6, "
                             "\"false_share\": 0.2, \"ghost_share\": 0.1, \"track_seconds\": 10"),
            std::string::npos)
      << json.output;
  auto summary = runTool("kolv-evaluate", arguments, dir);
  ASSERT_EQ(summary.status, 0) << summary.output;
  EXPECT_NE(summary.output.find("by the second: 83.3% of the talkers' active seconds, mean error 1.60 deg, 20.0% "
                                "of 10 track seconds false, 10.0% near no talker"),
            std::string::npos)
      << summary.output;
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

TEST(AudioMetrics, SignalToDistortionRatioIgnoresScaleAndCountsWhatTheReferenceLacks) {
  const size_t length = kRate;
  const evaluate::Channels reference = {noise(length, 1, 0.1), noise(length, 2, 0.1)};
  const std::vector<scenekit::Stretch> all = {{0.0, 1.0}};
  evaluate::Channels scaled = reference;
  for (auto &channel : scaled)
    for (double &v : channel) v *= 3.0;
  EXPECT_DOUBLE_EQ(evaluate::scaleInvariantSdr(scaled, reference, all, kRate), evaluate::kSirLimitDb);

  // Independent noise 20 dB below the reference: about 20 dB, whatever the signal's scale.
  evaluate::Channels noisy = scaled;
  for (size_t c = 0; c < 2; ++c) {
    const std::vector<double> added = noise(length, 5 + c, 0.03);
    for (size_t n = 0; n < length; ++n) noisy[c][n] += added[n];
  }
  EXPECT_NEAR(evaluate::scaleInvariantSdr(noisy, reference, all, kRate), 20.0, 0.3);

  // Only the stretches count: noise outside them changes nothing.
  evaluate::Channels late = scaled;
  for (size_t n = length / 2; n < length; ++n) late[0][n] += 1.0;
  EXPECT_DOUBLE_EQ(evaluate::scaleInvariantSdr(late, reference, {{0.0, 0.5}}, kRate), evaluate::kSirLimitDb);
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

// A separation that keeps the early images but not the room's later
// reverberation: perfect against the direct-plus-early images, not against
// the full images.
TEST(EvaluateProgram, ScoresSeparationAgainstTheDirectPlusEarlyImagesOnRequest) {
  ScratchDir dir;
  const size_t length = kRate;
  scenekit::Truth truth;
  truth.samplingRate = kRate;
  truth.duration = 1.0;
  truth.mixture = "scene.wav";
  truth.inRoom = true;
  scenekit::Audio mixture{kRate, evaluate::Channels(2, std::vector<double>(length))};
  scenekit::Audio separated{kRate, {}};
  for (unsigned i = 0; i < 2; ++i) {
    scenekit::Audio early{kRate, {noise(length, 10 * i + 1, 0.1), noise(length, 10 * i + 2, 0.1)}};
    scenekit::Audio full = early;
    for (unsigned c = 0; c < 2; ++c) {
      const std::vector<double> late = noise(length, 10 * i + 3 + c, 0.05);
      for (size_t n = 0; n < length; ++n) {
        full.channels[c][n] += late[n];
        mixture.channels[c][n] += full.channels[c][n];
      }
    }
    separated.channels.push_back(early.channels[0]);
    scenekit::TruthSource source;
    source.image = "source" + std::to_string(i + 1) + ".wav";
    source.earlyImage = "source" + std::to_string(i + 1) + ".early.wav";
    source.active = {{0.0, 1.0}};
    scenekit::writeWav16(dir / source.image, full);
    scenekit::writeWav16(dir / source.earlyImage, early);
    truth.sources.push_back(source);
  }
  scenekit::writeWav16(dir / "scene.wav", mixture);
  scenekit::writeWav16(dir / "separated.wav", separated);
  writeText(dir / "truth.json", scenekit::truthToJson(truth));

  auto improvement = [&](const std::string &reference) {
    auto run = runTool("kolv-evaluate",
                       "--truth " + (dir / "truth.json") + " --separated " + (dir / "separated.wav") +
                           " --delay 0 --json" + reference,
                       dir);
    EXPECT_EQ(run.status, 0) << run.output;
    const std::string key = "\"mean_improvement_db\": ";
    const size_t at = run.output.find(key);
    return at == std::string::npos ? 0.0 : std::stod(run.output.substr(at + key.size()));
  };
  const double full = improvement(""), early = improvement(" --reference early");
  EXPECT_GT(early, full + 10.0);
  EXPECT_NEAR(full, improvement(" --reference full"), 1e-9);

  // An anechoic scene has no early images; a third kind of reference is refused.
  truth.inRoom = false;
  writeText(dir / "truth.json", scenekit::truthToJson(truth));
  auto anechoic = runTool("kolv-evaluate",
                          "--truth " + (dir / "truth.json") + " --separated " + (dir / "separated.wav") +
                              " --reference early",
                          dir);
  EXPECT_EQ(anechoic.status, 2);
  EXPECT_NE(anechoic.output.find("no direct-plus-early image"), std::string::npos) << anechoic.output;
  auto unknown = runTool("kolv-evaluate", "--truth " + (dir / "truth.json") + " --reference late", dir);
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.output.find("expects full or early, not 'late'"), std::string::npos) << unknown.output;
}

// Two talkers mixed at equal level, and outputs that hold them: talker 1
// on output 1 throughout, or swapping outputs half-way.
struct SwapScene {
  static constexpr size_t kLength = 4 * kRate;
  std::vector<evaluate::Channels> images = {{noise(kLength, 1, 0.1), noise(kLength, 2, 0.1)},
                                            {noise(kLength, 3, 0.1), noise(kLength, 4, 0.1)}};
  evaluate::Channels mixture = evaluate::Channels(2, std::vector<double>(kLength));
  std::vector<std::vector<scenekit::Stretch>> active = {{{0.0, 4.0}}, {{0.0, 4.0}}};
  SwapScene() {
    for (int c = 0; c < 2; ++c)
      for (size_t n = 0; n < kLength; ++n) mixture[c][n] = images[0][c][n] + images[1][c][n];
  }
  // Output o carries talker (o + swap) % 2 at its ear o, the other at -30 dB.
  evaluate::Channels separated(size_t swapFrom) const {
    evaluate::Channels out(2, std::vector<double>(kLength));
    for (size_t o = 0; o < 2; ++o)
      for (size_t n = 0; n < kLength; ++n) {
        const size_t mine = (o + (n >= swapFrom ? 1 : 0)) % 2;
        out[o][n] = images[mine][o][n] + 0.03 * images[1 - mine][o][n];
      }
    return out;
  }
};

TEST(AudioMetrics, WholeFileAndTheTalkersCheckSeeASwapThatBlocksHide) {
  const SwapScene scene;
  struct Case {
    const char *name;
    size_t swapFrom;
    bool kept;
  };
  for (const Case &c : {Case{"kept", SwapScene::kLength, true}, Case{"swapped half-way", SwapScene::kLength / 2, false}}) {
    SCOPED_TRACE(c.name);
    const evaluate::Channels out = scene.separated(c.swapFrom);
    // Block by block every block looks well separated either way.
    for (const auto &block : evaluate::measureSeparation(out, scene.mixture, scene.images, SwapScene::kLength / 2, kRate))
      EXPECT_GT(block.improvement, 25.0);
    const auto whole = evaluate::measureSeparation(out, scene.mixture, scene.images, 0, kRate);
    ASSERT_EQ(whole.size(), 1u);
    if (c.kept) {
      EXPECT_GT(whole[0].improvement, 25.0);
    } else {
      EXPECT_LT(whole[0].improvement, 3.0);
    }
    const auto talkers = evaluate::checkOutputsKeepTalkers(out, scene.images, scene.active, kRate);
    ASSERT_EQ(talkers.size(), 2u);
    for (size_t s = 0; s < 2; ++s) {
      EXPECT_EQ(talkers[s].output, static_cast<int>(s));
      EXPECT_EQ(talkers[s].activeWindows, 4);
      EXPECT_EQ(talkers[s].windowsElsewhere.size(), c.kept ? 0u : 2u);
    }
    if (!c.kept) {
      EXPECT_DOUBLE_EQ(talkers[0].windowsElsewhere[0].start, 2.0);
    }
  }
}

TEST(AudioMetrics, SdrCountsNoiseButNotAShortFilterOfTheTalker) {
  const SwapScene scene;
  evaluate::Channels out = scene.separated(SwapScene::kLength);
  const std::vector<double> hiss = noise(SwapScene::kLength, 9, 0.01);
  for (size_t n = 0; n < SwapScene::kLength; ++n) {
    // Output 1: talker 1 delayed by 3 samples and halved; output 2 adds
    // noise 20 dB below talker 2.
    out[0][n] = n >= 3 ? 0.5 * scene.images[0][0][n - 3] : 0.0;
    out[1][n] = scene.images[1][1][n] + hiss[n];
  }
  const auto whole = evaluate::measureSeparation(out, scene.mixture, scene.images, 0, kRate);
  ASSERT_EQ(whole.size(), 1u);
  EXPECT_GT(whole[0].outputSdr[0], 40.0);
  EXPECT_NEAR(whole[0].outputSdr[1], 20.0, 0.3);
  // Equal-level talkers: about 0 dB in the mixture at either ear.
  EXPECT_NEAR(whole[0].mixtureSdr[1], 0.0, 0.3);
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
