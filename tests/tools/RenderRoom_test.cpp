// Rooms and moving sources in the scene renderer: the room's responses
// against geometry and acoustics' closed forms, and the program's files.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "Convolution.h"
#include "DiffuseNoise.h"
#include "HrtfSet.h"
#include "InterauralDelay.h"
#include "MovingSource.h"
#include "Room.h"
#include "RoomResponses.h"
#include "SceneRenderer.h"
#include "ToolTesting.h"
#include "Truth.h"
#include "WavFile.h"

namespace {

using tooltest::bursts;
using tooltest::kRate;
using tooltest::runTool;
using tooltest::ScratchDir;
using tooltest::writeMono;

constexpr render::Band kWholeBand = {0.0, 8000.0};
const render::Point kOfficeSize = {6.0, 5.0, 3.0};
const render::Point kOfficeHead = {3.0, 2.5, 1.2};

render::Room office(double rt60) {
  return {kOfficeSize, kOfficeHead, 0.0, render::eyringAbsorption(kOfficeSize, rt60)};
}

render::HrirPair asPair(const render::Channels &c) {
  return {std::vector<float>(c[0].begin(), c[0].end()), std::vector<float>(c[1].begin(), c[1].end())};
}

double energy(const render::Channels &c) {
  double sum = 0.0;
  for (const auto &ear : c)
    for (double x : ear) sum += x * x;
  return sum;
}

double energy(const render::HrirPair &h) {
  double sum = 0.0;
  for (const auto *ear : {&h.left, &h.right})
    for (float x : *ear) sum += static_cast<double>(x) * x;
  return sum;
}

TEST(Room, EyringAbsorptionAndReverberationTimeAreInverse) {
  for (double rt60 : {0.2, 0.6, 1.5}) {
    SCOPED_TRACE(rt60);
    EXPECT_NEAR(render::eyringRt60(kOfficeSize, render::eyringAbsorption(kOfficeSize, rt60)), rt60, 1e-12);
  }
  // Sabine's 0.161 V / S with every wall fully absorbing: 90 m³, 126 m².
  EXPECT_NEAR(render::shortestRt60(kOfficeSize), 0.161 * 90.0 / 126.0, 0.001);
}

TEST(Room, FirstImagesLieBehindTheWallsWithOneReflection) {
  const render::Room room = office(0.5);
  const render::Point source = render::sourcePosition(room, 0.0, 0.0, 1.5);  // 1.5 m ahead, along +x
  EXPECT_NEAR(source.x, 4.5, 1e-12);
  EXPECT_NEAR(source.y, 2.5, 1e-12);
  // Floor (z = 0) and ceiling (z = 3): the source mirrored, 2.4 m and 3.6 m below or above the head.
  const std::vector<render::ImageSource> images = render::imageSources(room, source, 4.0);
  ASSERT_GE(images.size(), 3u);
  EXPECT_EQ(images[0].reflections, 0);
  EXPECT_NEAR(images[0].distance, 1.5, 1e-12);
  EXPECT_EQ(images[1].reflections, 1);
  EXPECT_NEAR(images[1].distance, std::hypot(1.5, 2.4), 1e-12);
  EXPECT_NEAR(images[1].elevation, -std::atan2(2.4, 1.5) * 180.0 / M_PI, 1e-9);
  EXPECT_NEAR(images[1].gain, std::sqrt(1.0 - room.absorption), 1e-12);
  EXPECT_NEAR(images[2].distance, std::hypot(1.5, 3.6), 1e-12);
  // Facing +y turns the same azimuth towards +y; positive azimuths lie to the right.
  render::Room turned = room;
  turned.facing = 90.0;
  const render::Point right = render::sourcePosition(turned, 90.0, 0.0, 1.0);
  EXPECT_NEAR(right.x, 4.0, 1e-12);
  EXPECT_NEAR(right.y, 2.5, 1e-12);
}

TEST(RoomResponses, SchroederRecoversAKnownDecay) {
  render::GaussianNoise noise(3);
  for (double rt60 : {0.3, 0.8}) {
    SCOPED_TRACE(rt60);
    render::Channels decay(2, std::vector<double>(static_cast<size_t>(1.5 * rt60 * kRate)));
    for (auto &ear : decay)
      for (size_t n = 0; n < ear.size(); ++n) ear[n] = noise.next() * std::pow(10.0, -3.0 * n / (rt60 * kRate));
    EXPECT_NEAR(render::schroederRt60(decay, kRate), rt60, 0.02 * rt60);
  }
}

TEST(RoomResponses, ReverberationTimeAsAsked) {
  render::HrtfSet hrtf(render::kDefaultSofaFile, kRate);
  for (double rt60 : {0.3, 0.6, 0.9}) {
    SCOPED_TRACE(rt60);
    render::RoomResponses room(hrtf, office(rt60), rt60);
    EXPECT_NEAR(render::schroederRt60(room.whole(30.0, 0.0, 1.5, 7), kRate), rt60, 0.1 * rt60);
  }
}

TEST(RoomResponses, DirectPathIsTheAnechoicResponseArrivingAtDistanceOverC) {
  render::HrtfSet hrtf(render::kDefaultSofaFile, kRate);
  render::RoomResponses room(hrtf, office(0.4), 0.4);
  for (double azimuth : {0.0, 40.0, -75.0}) {
    SCOPED_TRACE(azimuth);
    const render::HrirPair anechoic = hrtf.responses(azimuth, 0.0);
    const render::HrirPair direct = asPair(room.images(azimuth, 0.0, 1.2, 0.0));
    EXPECT_NEAR(render::interauralDelay(direct, kRate, kWholeBand),
                render::interauralDelay(anechoic, kRate, kWholeBand), 2e-6);
    EXPECT_NEAR(10.0 * std::log10(energy(direct) / energy(anechoic)), 0.0, 0.2);
  }
  // Straight ahead both ears hear the peak when the sound reaches the head's centre.
  const render::Channels ahead = room.images(0.0, 0.0, 1.2, 0.0);
  const double arrival = 1.2 / render::kSpeedOfSound * kRate;
  for (const auto &ear : ahead) {
    size_t peak = 0;
    for (size_t n = 0; n < ear.size(); ++n)
      if (std::fabs(ear[n]) > std::fabs(ear[peak])) peak = n;
    EXPECT_NEAR(static_cast<double>(peak), arrival, 1.0);
  }
}

TEST(RoomResponses, FloorReflectionArrivesWhenTheGeometrySays) {
  render::HrtfSet hrtf(render::kDefaultSofaFile, kRate);
  render::RoomResponses room(hrtf, office(0.4), 0.4);
  // Head at 1.2 m, source 1.5 m ahead: the floor's path is hypot(1.5, 2.4) m,
  // shorter than the ceiling's and the walls'.
  render::Channels reflections = room.images(0.0, 0.0, 1.5, 0.006);
  const render::Channels direct = room.images(0.0, 0.0, 1.5, 0.0);
  for (size_t c = 0; c < 2; ++c)
    for (size_t n = 0; n < direct[c].size(); ++n) reflections[c][n] -= direct[c][n];
  const double expected = std::hypot(1.5, 2.4) / render::kSpeedOfSound * kRate;
  for (const auto &ear : reflections) {
    size_t peak = 0;
    for (size_t n = 0; n < ear.size(); ++n)
      if (std::fabs(ear[n]) > std::fabs(ear[peak])) peak = n;
    EXPECT_NEAR(static_cast<double>(peak), expected, 1.5);
  }
  EXPECT_NEAR(10.0 * std::log10(energy(reflections)), 10.0 * std::log10(energy(direct)), 12.0);
}

TEST(MovingSource, PathInterpolatesAndHoldsAtItsEnds) {
  const std::vector<render::PathPoint> path = {{1.0, -30.0}, {3.0, 50.0}, {4.0, 50.0}};
  EXPECT_EQ(render::azimuthAlong(path, 0.0), -30.0);
  EXPECT_EQ(render::azimuthAlong(path, 2.0), 10.0);
  EXPECT_EQ(render::azimuthAlong(path, 3.5), 50.0);
  EXPECT_EQ(render::azimuthAlong(path, 9.0), 50.0);
}

TEST(MovingSource, StandingStillMatchesTheFixedRendering) {
  // The crossfaded blocks sum back to one convolution when nothing moves.
  render::HrtfSet hrtf(render::kDefaultSofaFile, kRate);
  const std::vector<double> signal = bursts(0.3, {{0.0, 0.3}});
  const render::HrirPair h = hrtf.responses(25.0, 0.0);
  render::Channels fixed(2, std::vector<double>(6000, 0.0)), moving = fixed;
  render::addConvolved(signal, h.left, fixed[0], 700);
  render::addConvolved(signal, h.right, fixed[1], 700);
  render::addMoving(signal, 700, kRate, {{0.0, 25.0}}, [&](double az) {
    const render::HrirPair r = hrtf.responses(az, 0.0);
    return render::Channels{{r.left.begin(), r.left.end()}, {r.right.begin(), r.right.end()}};
  }, moving);
  for (size_t c = 0; c < 2; ++c)
    for (size_t n = 0; n < fixed[c].size(); ++n) ASSERT_NEAR(moving[c][n], fixed[c][n], 1e-12) << c << " " << n;
}

// Lag in samples by which channel 0 trails channel 1 over [from, to).
double leadOfChannel1(const std::vector<std::vector<double>> &stereo, size_t from, size_t to, int maxLag) {
  int best = 0;
  double bestValue = -1e300;
  for (int lag = -maxLag; lag <= maxLag; ++lag) {
    double sum = 0.0;
    for (size_t n = from; n < to; ++n) sum += stereo[0][n] * stereo[1][n - lag];
    if (sum > bestValue) {
      bestValue = sum;
      best = lag;
    }
  }
  return best;
}

TEST(RenderSceneProgram, MovingSourceFollowsItsPath) {
  ScratchDir dir;
  writeMono(dir / "talker.wav", bursts(2.0, {{0.0, 2.0}}));
  auto run = runTool("kolv-render-scene", "--out " + (dir / "scene") + " --no-noise --duration 2 --source " +
                                              (dir / "talker.wav") + " --path 0.5:-60,1.5:60",
                     dir);
  ASSERT_EQ(run.status, 0) << run.output;
  scenekit::Truth truth = scenekit::readTruth(dir / "scene/truth.json");
  ASSERT_EQ(truth.sources.size(), 1u);
  const scenekit::TruthSource &s = truth.sources[0];
  EXPECT_EQ(s.frame, 0.01);
  ASSERT_EQ(s.azimuths.size(), 200u);
  EXPECT_EQ(s.azimuths[0], -60.0);
  EXPECT_NEAR(s.azimuths[100], 0.0, 1e-9);
  EXPECT_NEAR(s.azimuths[125], 30.0, 1e-9);
  EXPECT_EQ(s.azimuths[199], 60.0);
  ASSERT_EQ(s.path.size(), 2u);

  render::HrtfSet hrtf(render::kDefaultSofaFile, kRate);
  scenekit::Audio image = scenekit::readWav(dir / "scene/source1.wav");
  for (size_t frame = 10; frame < 190; frame += 20) {
    SCOPED_TRACE(frame);
    const double azimuth = s.azimuths[frame];
    const double expected = render::interauralDelay(hrtf.responses(azimuth, 0.0), kRate, kWholeBand) * kRate;
    const size_t from = frame * 160 - 240, to = frame * 160 + 240;  // 30 ms around the frame
    EXPECT_NEAR(leadOfChannel1(image.channels, from, to, 16), expected, 1.5);
  }
}

TEST(RenderSceneProgram, RoomWritesResponsesAndTruth) {
  ScratchDir dir;
  writeMono(dir / "talker.wav", bursts(0.6, {{0.05, 0.5}}));
  auto run = runTool("kolv-render-scene", "--out " + (dir / "scene") + " --room 5,4,2.8 --rt60 0.4 --head 2,2,1.3" +
                                              " --no-noise --source " + (dir / "talker.wav") +
                                              " --azimuth -20 --distance 1.2",
                     dir);
  ASSERT_EQ(run.status, 0) << run.output;
  scenekit::Truth truth = scenekit::readTruth(dir / "scene/truth.json");
  ASSERT_TRUE(truth.inRoom);
  EXPECT_EQ(truth.room.size[2], 2.8);
  EXPECT_EQ(truth.room.head[0], 2.0);
  EXPECT_EQ(truth.room.rt60Requested, 0.4);
  EXPECT_NEAR(truth.room.rt60Measured, 0.4, 0.04);
  EXPECT_TRUE(std::isnan(truth.snrDb));
  EXPECT_TRUE(truth.noiseImage.empty());
  ASSERT_EQ(truth.sources.size(), 1u);
  const scenekit::TruthSource &s = truth.sources[0];
  EXPECT_EQ(s.distance, 1.2);
  EXPECT_EQ(s.earlyImage, "source1.early.wav");
  EXPECT_EQ(s.response, "source1.brir.wav");
  EXPECT_TRUE(s.azimuths.empty());

  scenekit::Audio mixture = scenekit::readWav(dir / "scene/scene.wav");
  scenekit::Audio image = scenekit::readWav(dir / "scene/source1.wav");
  scenekit::Audio early = scenekit::readWav(dir / "scene/source1.early.wav");
  scenekit::Audio response = scenekit::readWav(dir / "scene/source1.brir.wav");
  ASSERT_EQ(response.channels.size(), 2u);
  EXPECT_NEAR(render::schroederRt60(response.channels, kRate), s.rt60Measured, 1e-3);
  // Without noise the mixture is the image; the early image is the image's beginning.
  ASSERT_EQ(mixture.frames(), image.frames());
  EXPECT_EQ(mixture.channels, image.channels);
  double imageEnergy = 0.0, earlyEnergy = 0.0, lateEnergy = 0.0;
  const size_t speechEnd = static_cast<size_t>(0.5 * kRate);
  for (size_t c = 0; c < 2; ++c)
    for (size_t n = 0; n < image.frames(); ++n) {
      imageEnergy += image.channels[c][n] * image.channels[c][n];
      earlyEnergy += early.channels[c][n] * early.channels[c][n];
      if (n > speechEnd + static_cast<size_t>(0.1 * kRate)) lateEnergy += early.channels[c][n] * early.channels[c][n];
    }
  EXPECT_LT(earlyEnergy, imageEnergy);
  EXPECT_EQ(lateEnergy, 0.0);
}

TEST(RenderSceneProgram, RefusesImpossibleRoomsWithTheValues) {
  ScratchDir dir;
  writeMono(dir / "ok.wav", bursts(0.5, {{0.1, 0.4}}));
  struct Case {
    const char *name;
    std::string arguments;
    std::string message;
  };
  const std::string out = "--out " + (dir / "out") + " ";
  const std::string source = " --source " + (dir / "ok.wav");
  const Case cases[] = {
      {"source beyond a wall", out + "--room 4,4,3 --rt60 0.5" + source + " --azimuth 0 --distance 2.5",
       "lies at (4.5, 2, 1.2), outside the room 4 x 4 x 3 m"},
      {"path through a wall", out + "--room 6,3,3 --rt60 0.5" + source + " --path 0:0,1:90 --distance 2",
       "outside the room 6 x 3 x 3 m"},
      {"head outside", out + "--room 6,5,3 --rt60 0.5 --head 7,2,1" + source + " --azimuth 0",
       "head (7, 2, 1) is outside the room 6 x 5 x 3 m"},
      {"reverberation too short", out + "--room 6,5,3 --rt60 0.05" + source + " --azimuth 0",
       "RT60 0.05 s is shorter than the room 6 x 5 x 3 m can have"},
      {"no reverberation", out + "--room 6,5,3 --rt60 0" + source + " --azimuth 0", "RT60 0 s is outside"},
      {"room without RT60", out + "--room 6,5,3" + source + " --azimuth 0", "--room needs --rt60"},
      {"distance without room", out + source + " --azimuth 0 --distance 2", "needs --room"},
      {"too near", out + "--room 6,5,3 --rt60 0.5" + source + " --azimuth 0 --distance 0.2",
       "distance 0.2 m of source 1"},
      {"path back in time", out + source + " --path 0:0,2:30,1:60", "point 3 at 1 s follows point 2 at 2 s"},
      {"path and azimuth", out + source + " --azimuth 0 --path 0:0,1:20", "both --azimuth and --path"},
      {"malformed path", out + source + " --path 0:0,1", "expects 2 numbers separated by ':'"},
      {"path beyond a turn", out + source + " --path 0:0,1:200", "azimuth 200 of source 1"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    auto run = runTool("kolv-render-scene", c.arguments, dir);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
    EXPECT_FALSE(std::filesystem::exists(dir / "out/truth.json"));
  }
}

}  // namespace
