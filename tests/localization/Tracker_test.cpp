#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "BinauralMultisourceLocalization.h"
#include "BinauralMultisourceTracker.h"
#include "DirectionClustering.h"
#include "Directions.h"
#include "LocalizationTestSupport.h"
#include "SteeringTables.h"

using namespace localization;
using kolvtest::floatValue;
using kolvtest::intValue;
using kolvtest::sourceAt;
using loctest::thrownText;

namespace {

KOLV::ParameterSet trackerParams(float seconds) {
  return kolvtest::makeParams({{"ADVANCE", intValue(160)},
                               {"SAMPLING_RATE", intValue(16000)},
                               {"CLUSTERING_DURATION", floatValue(seconds)}});
}

KOLV::ObjectRef estimates(const std::vector<double> &azimuths) {
  KOLV::RCPtr<kolvtest::SourceVector> v(new kolvtest::SourceVector);
  for (size_t i = 0; i < azimuths.size(); ++i) v->push_back(sourceAt(azimuths[i], 0.8f, static_cast<int>(i)));
  return v;
}

KOLV::ObjectRef none() { return estimates({}); }

struct Tracked {
  float x0, x1, power;
  int id;
};

std::vector<Tracked> tracked(KOLV::BufferedNode &node, int frame) {
  KOLV::RCPtr<kolvtest::SourceVector> out = node.getOutput(0, frame);
  std::vector<Tracked> result;
  for (const KOLV::ObjectRef &element : *out) {
    KOLV::RCPtr<KOLV::Source> s = element;
    EXPECT_EQ(s->x[2], 0.0f);
    EXPECT_EQ(s->spare, 0);
    result.push_back({s->x[0], s->x[1], s->power, s->id});
  }
  return result;
}

// What the tracker reports for a cluster centred on `degrees`.
Tracked expectedAt(int degrees, int id) {
  const float phi = static_cast<float>(degrees * kPi / 180.0);
  return {std::cos(phi), std::sin(phi), 1.0f, id};
}

void expectSame(const std::vector<Tracked> &got, const std::vector<Tracked> &want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].x0, want[i].x0) << i;
    EXPECT_EQ(got[i].x1, want[i].x1) << i;
    EXPECT_EQ(got[i].power, want[i].power) << i;
    EXPECT_EQ(got[i].id, want[i].id) << i;
  }
}

}  // namespace

TEST(Tracker, WindowOfTheUsualSettings) {
  EXPECT_EQ(windowFrameValue(2.0f, 160, 16000), 200.0);
  BinauralMultisourceTracker node("track", trackerParams(2.0f));
  EXPECT_EQ(node.windowFrames(), 200);
  EXPECT_EQ(node.inputRequest(0).framesBack, 200);
  EXPECT_EQ(node.inputRequest(0).framesAhead, 100);
  EXPECT_EQ(BinauralMultisourceTracker("t", trackerParams(0.025f)).windowFrames(), 3);  // 2.5 rounds up
}

TEST(Tracker, AngleOfAnEstimateIsTruncatedTowardsZero) {
  const double justBelow = 30.0 - 1e-4;
  const float x0 = static_cast<float>(std::cos(justBelow * kPi / 180.0));
  const float x1 = static_cast<float>(std::sin(justBelow * kPi / 180.0));
  EXPECT_EQ(truncatedAzimuth(x0, x1), 29);
  EXPECT_EQ(truncatedAzimuth(x0, -x1), -29);
  EXPECT_EQ(truncatedAzimuth(1.0f, 0.0f), 0);
}

TEST(Tracker, ReportsOneSourceAtASteadyDirection) {
  const int W = 10;
  std::vector<KOLV::ObjectRef> frames(30, estimates({-17.5}));
  kolvtest::FrameFeeder feeder(frames, none());
  BinauralMultisourceTracker node("track", trackerParams(0.1f));
  kolvtest::wire(node, "ESTIMATED_DOA", feeder);
  ASSERT_EQ(node.windowFrames(), W);
  // Frames 0 and 1 see one and two estimates of the window; frame 2 three.
  EXPECT_TRUE(tracked(node, 0).empty());
  EXPECT_TRUE(tracked(node, 1).empty());
  for (int f = 2; f < 30; ++f) expectSame(tracked(node, f), {expectedAt(-17, 0)});
}

TEST(Tracker, TwoSeparatedGroupsGiveTwoSources) {
  std::vector<KOLV::ObjectRef> frames;
  for (int f = 0; f < 60; ++f) frames.push_back(estimates({-40.2, 30.7}));
  kolvtest::FrameFeeder feeder(frames, none());
  BinauralMultisourceTracker node("track", trackerParams(0.2f));
  kolvtest::wire(node, "ESTIMATED_DOA", feeder);
  std::srand(1);
  EXPECT_TRUE(tracked(node, 0).empty());  // two estimates are too few
  for (int f = 1; f < 60; ++f) {
    std::vector<Tracked> got = tracked(node, f);
    ASSERT_EQ(got.size(), 2u) << f;
    const bool westFirst = got[0].x1 < 0.0f;
    expectSame(got, westFirst ? std::vector<Tracked>{expectedAt(-40, 0), expectedAt(30, 1)}
                              : std::vector<Tracked>{expectedAt(30, 0), expectedAt(-40, 1)});
  }
}

TEST(Tracker, ReadsHalfAWindowAheadAndNeverTheFirstHalfWindow) {
  const int W = 10;
  // Estimates only in the frames 0 .. W/2 - 1, which the window never reaches.
  std::vector<KOLV::ObjectRef> frames;
  for (int f = 0; f < 40; ++f) frames.push_back(f < W / 2 ? estimates({12, 12, 12}) : none());
  kolvtest::FrameFeeder feeder(frames, none());
  BinauralMultisourceTracker node("track", trackerParams(0.1f));
  kolvtest::wire(node, "ESTIMATED_DOA", feeder);
  for (int f = 0; f < 40; ++f) {
    EXPECT_TRUE(tracked(node, f).empty()) << f;
    EXPECT_EQ(feeder.highestRequested, f + W / 2) << f;
  }
}

TEST(Tracker, LastFramesOfAStreamSeeThePaddedEnd) {
  const int W = 10, length = 20;
  // Three estimates in the stream's last frame: the frames within W/2 of it
  // see them; their windows run past the end, where empty vectors come.
  std::vector<KOLV::ObjectRef> frames(length, none());
  frames[length - 1] = estimates({-60.5, -60.5, -60.5});
  kolvtest::FrameFeeder feeder(frames, none());
  BinauralMultisourceTracker node("track", trackerParams(0.1f));
  kolvtest::wire(node, "ESTIMATED_DOA", feeder);
  for (int f = 0; f < length; ++f) {
    const bool sees = f + W / 2 >= length - 1;
    EXPECT_EQ(tracked(node, f).size(), sees ? 1u : 0u) << f;
  }
}

TEST(Tracker, OutputDoesNotDependOnLaterInput) {
  const int W = 8, length = 40;
  std::vector<KOLV::ObjectRef> frames;
  for (int f = 0; f < length; ++f) frames.push_back(estimates({(f % 7) * 3.0 - 50.0, 20.0 + f % 4}));
  std::vector<std::vector<Tracked>> full;
  {
    kolvtest::FrameFeeder feeder(frames, none());
    BinauralMultisourceTracker node("track", trackerParams(0.08f));
    kolvtest::wire(node, "ESTIMATED_DOA", feeder);
    std::srand(42);
    for (int f = 0; f < length; ++f) full.push_back(tracked(node, f));
  }
  // The stream cut right after the last frame that output frame `last` reads.
  const int last = 20;
  std::vector<KOLV::ObjectRef> cut(frames.begin(), frames.begin() + last + W / 2 + 1);
  kolvtest::FrameFeeder feeder(cut, estimates({80, 80, 80, 80}));
  BinauralMultisourceTracker node("track", trackerParams(0.08f));
  kolvtest::wire(node, "ESTIMATED_DOA", feeder);
  std::srand(42);
  for (int f = 0; f <= last; ++f) expectSame(tracked(node, f), full[f]);
}

TEST(Tracker, ZeroWindowReportsNothing) {
  std::vector<KOLV::ObjectRef> frames(5, estimates({10, 10, 10, 10}));
  kolvtest::FrameFeeder feeder(frames, none());
  BinauralMultisourceTracker node("track", trackerParams(0.0f));
  kolvtest::wire(node, "ESTIMATED_DOA", feeder);
  for (int f = 0; f < 5; ++f) EXPECT_TRUE(tracked(node, f).empty());
}

TEST(TrackerErrors, RefusedSettingsAndInputs) {
  std::string text = thrownText([] { BinauralMultisourceTracker("track", trackerParams(-1.0f)); });
  EXPECT_NE(text.find("'track'"), std::string::npos) << text;
  EXPECT_NE(text.find("CLUSTERING_DURATION"), std::string::npos) << text;

  // An element that is not a source record fails the typed reference.
  KOLV::RCPtr<kolvtest::SourceVector> bad(new kolvtest::SourceVector);
  bad->push_back(kolvtest::intValue(3));
  kolvtest::FrameFeeder feeder({bad}, bad);
  BinauralMultisourceTracker node("track", trackerParams(0.1f));
  kolvtest::wire(node, "ESTIMATED_DOA", feeder);
  text = thrownText([&] { node.getOutput(0, 0); });
  EXPECT_NE(text.find("Something is wrong in RCPtr::operator="), std::string::npos) << text;
}

TEST(LocalizationAndTracking, ChainTracksASynthesisedSource) {
  const int azimuth = 33, sourceFrames = 40;
  std::mt19937 rng(77);
  const double tau = interauralDelay(DelayModel::SphericalHead, 18.7f, azimuth + 90);
  std::vector<KOLV::ObjectRef> spectra = {loctest::noiseFrame(rng, 0.05), loctest::noiseFrame(rng, 0.05)};
  for (int f = 0; f < sourceFrames; ++f) spectra.push_back(loctest::delayedSourceFrame(rng, tau, 0.05));
  kolvtest::FrameFeeder feeder(spectra, loctest::noiseFrame(rng, 0.05));
  BinauralMultisourceLocalization localizer(
      "loc", kolvtest::makeParams({{"MICS_DISTANCE", floatValue(18.7f)},
                                   {"GCCPHAT_THRESHOLD", floatValue(0.15f)},
                                   {"SOUND_DIFFRACTION_COMPENSATION", kolvtest::stringValue("SPHERICAL_HEAD")},
                                   {"ADVANCE", intValue(160)},
                                   {"SAMPLING_RATE", intValue(16000)},
                                   {"FREQUENCY_HIGH", floatValue(2800.0f)},
                                   {"FREQUENCY_LOW", floatValue(500.0f)},
                                   {"NOISE_DURATION", floatValue(0.0f)}}));
  kolvtest::wire(localizer, "AUDIO_SPECTRUM", feeder);
  BinauralMultisourceTracker tracker("track", trackerParams(0.1f));
  tracker.connectInput(0, &localizer, 0);
  tracker.setOutputCapacity(0, kolvtest::kTestCapacity);

  // The tracker pools the reported direction truncated to whole degrees.
  float x[3];
  directionVector(azimuth, x);
  const int pooled = truncatedAzimuth(x[0], x[1]);
  for (int f = 0; f < 2 + sourceFrames; ++f) {
    // Output frame f pools localizer frames max(5, f - 4) to f + 5 (W = 10);
    // frames 2 .. 41 report the source, and three estimates are needed.
    const int first = std::max({5, f - 4, 2}), last = std::min(f + 5, 1 + sourceFrames);
    const bool enough = last - first + 1 >= 3;
    SCOPED_TRACE(f);
    if (enough)
      expectSame(tracked(tracker, f), {expectedAt(pooled, 0)});
    else
      EXPECT_TRUE(tracked(tracker, f).empty());
  }
}

// An estimate without a direction is left out (with one warning), so the
// tracker reports what it reports without it.
TEST(Tracker, EstimateWithoutADirectionIsLeftOut) {
  std::vector<KOLV::ObjectRef> clean, damaged;
  for (int f = 0; f < 30; ++f) {
    clean.push_back(estimates({40.0, -70.0}));
    KOLV::RCPtr<kolvtest::SourceVector> v = estimates({40.0, -70.0});
    if (f % 4 == 1) {
      KOLV::RCPtr<KOLV::Source> bad = sourceAt(10.0, 0.8f, 2);
      bad->x[f % 8 == 1 ? 0 : 1] = f % 8 == 1 ? NAN : INFINITY;
      v->push_back(bad);
    }
    damaged.push_back(v);
  }
  kolvtest::FrameFeeder cleanFeeder(clean, none()), damagedFeeder(damaged, none());
  BinauralMultisourceTracker reference("ref", trackerParams(0.1f));
  BinauralMultisourceTracker node("track", trackerParams(0.1f));
  kolvtest::wire(reference, "ESTIMATED_DOA", cleanFeeder);
  kolvtest::wire(node, "ESTIMATED_DOA", damagedFeeder);
  // Both runs start from the same state of the generator the clustering draws from.
  std::srand(1);
  std::vector<std::vector<Tracked>> expected;
  for (int f = 0; f < 30; ++f) expected.push_back(tracked(reference, f));
  std::srand(1);
  std::ostringstream captured;
  std::streambuf *saved = std::cerr.rdbuf(captured.rdbuf());
  for (int f = 0; f < 30; ++f) {
    SCOPED_TRACE("frame " + std::to_string(f));
    expectSame(tracked(node, f), expected[f]);
  }
  std::cerr.rdbuf(saved);
  const std::string warnings = captured.str();
  EXPECT_NE(warnings.find("'track', frame"), std::string::npos) << warnings;
  EXPECT_EQ(std::count(warnings.begin(), warnings.end(), '\n'), 1) << warnings;
}
