#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "DiffuseNoise.h"
#include "HrtfSet.h"
#include "InterauralDelay.h"
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

// Lag in samples by which channel 0 trails channel 1 (positive: channel 1 first).
int leadOfChannel1(const std::vector<std::vector<double>> &stereo, int maxLag) {
  int best = 0;
  double bestValue = -1.0;
  for (int lag = -maxLag; lag <= maxLag; ++lag) {
    double sum = 0.0;
    for (size_t n = static_cast<size_t>(maxLag); n + maxLag < stereo[0].size(); ++n)
      sum += stereo[0][n] * stereo[1][n - lag];
    if (sum > bestValue) {
      bestValue = sum;
      best = lag;
    }
  }
  return best;
}

TEST(HeadConvention, PositiveAzimuthsPointToTheRightEar) {
  float xyz[3];
  render::sofaDirection(90.0, 0.0, xyz);
  EXPECT_NEAR(xyz[1], -1.0f, 1e-6f);  // SOFA's y points to the left ear
  render::sofaDirection(-90.0, 0.0, xyz);
  EXPECT_NEAR(xyz[1], 1.0f, 1e-6f);
  render::sofaDirection(0.0, 90.0, xyz);
  EXPECT_NEAR(xyz[2], 1.0f, 1e-6f);
}

TEST(HeadConvention, InterauralDelaysOfTheMeasuredHead) {
  render::HrtfSet hrtf(render::kDefaultSofaFile, kRate);
  struct Case {
    double azimuth;
    double lowUs, highUs;  // expected delay range, channel 0 minus channel 1
  };
  const Case cases[] = {
      {90.0, 690.0, 780.0}, {-90.0, -780.0, -690.0}, {60.0, 400.0, 600.0},
      {-60.0, -600.0, -400.0}, {0.0, -30.0, 30.0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.azimuth);
    double us = render::interauralDelay(hrtf.responses(c.azimuth, 0.0), kRate, kWholeBand) * 1e6;
    EXPECT_GE(us, c.lowUs);
    EXPECT_LE(us, c.highUs);
  }
}

// A horizontal-plane set in one WAV file, eight directions 45 degrees apart
// counterclockwise of the front, each marked by its impulses' height k + 1:
// the right ear's side (positive azimuths) is the set's 270 degrees, and
// between two measurements the responses are mixed linearly.
TEST(HeadConvention, AHorizontalSetIsReadCounterclockwiseAndInterpolated) {
  ScratchDir dir;
  constexpr int kDirections = 8;
  constexpr size_t kImpulse = 20;
  scenekit::Audio set;
  set.samplingRate = kRate;
  for (int k = 0; k < kDirections; ++k)
    for (int ear = 0; ear < 2; ++ear) {
      std::vector<double> response(64, 0.0);
      response[kImpulse] = 0.1 * (k + 1);
      set.channels.push_back(response);
    }
  scenekit::writeWavFloat(dir / "set.wav", set);
  render::HrtfSet hrtf(dir / "set.wav", kRate, 1.0, render::HeadFormat::HorizontalWav);
  struct Case {
    double azimuth;
    double height;  // of the left ear's impulse over 0.1
  };
  const Case cases[] = {{0.0, 1.0}, {90.0, 7.0}, {-90.0, 3.0}, {67.5, 7.5}, {180.0, 5.0}, {-22.5, 1.5}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.azimuth);
    const render::HrirPair pair = hrtf.responses(c.azimuth, 0.0);
    EXPECT_NEAR(pair.left[kImpulse], 0.1 * c.height, 1e-3);
    EXPECT_NEAR(pair.right[kImpulse], 0.1 * c.height, 1e-3);
  }
  EXPECT_NEAR(hrtf.coarsestSpacing(), 45.0, 1e-6);
  EXPECT_NEAR(hrtf.distanceToMeasured(0.0, 30.0), 30.0, 1e-3);
}

// A head scaled by S hears every direction with S times the measured head's
// interaural delay.
TEST(HeadConvention, AScaledHeadScalesEveryInterauralDelay) {
  render::HrtfSet measured(render::kDefaultSofaFile, kRate);
  for (double scale : {0.9, 1.1, 1.25}) {
    SCOPED_TRACE(scale);
    render::HrtfSet scaled(render::kDefaultSofaFile, kRate, scale);
    EXPECT_EQ(scaled.samplingRate(), kRate);
    for (double azimuth : {-75.0, -30.0, 45.0, 90.0}) {
      const double delay = render::interauralDelay(measured.responses(azimuth, 0.0), kRate, kWholeBand);
      EXPECT_NEAR(render::interauralDelay(scaled.responses(azimuth, 0.0), kRate, kWholeBand), scale * delay,
                  std::fabs(0.03 * scale * delay) + 10e-6)
          << azimuth;
    }
  }
}

TEST(HeadConvention, DelaysFitASphereOfAboutNineCentimetres) {
  render::HrtfSet hrtf(render::kDefaultSofaFile, kRate);
  std::vector<double> azimuths, delays;
  for (double az = 0.0; az <= 90.0; az += 10.0) {
    azimuths.push_back(az);
    delays.push_back(render::interauralDelay(hrtf.responses(az, 0.0), kRate, kWholeBand));
  }
  render::HeadFit fit = render::fitHeadModels(azimuths, delays);
  EXPECT_NEAR(fit.sphereRadius, 0.093, 0.004);
  EXPECT_GT(fit.freeFieldDistance, 2.0 * fit.sphereRadius);  // free field needs a wider spacing
}

TEST(HeadConvention, ModelFitsRecoverKnownHeads) {
  const double radius = 0.09, distance = 0.2;
  std::vector<double> azimuths = {0, 30, 60, 90}, sphere, free;
  for (double az : azimuths) {
    double t = az * M_PI / 180.0;
    sphere.push_back(radius / render::kSpeedOfSound * (t + std::sin(t)));
    free.push_back(distance / render::kSpeedOfSound * std::sin(t));
  }
  EXPECT_NEAR(render::fitHeadModels(azimuths, sphere).sphereRadius, radius, 1e-12);
  EXPECT_NEAR(render::fitHeadModels(azimuths, free).freeFieldDistance, distance, 1e-12);
}

class RenderedScene : public ::testing::Test {
 protected:
  render::SceneLayout twoTalkers(double snrDb) {
    writeMono(dir / "a.wav", bursts(1.0, {{0.1, 0.5}, {0.7, 0.9}}));
    writeMono(dir / "b.wav", bursts(1.0, {{0.2, 0.8}}, 0.1));
    render::SceneLayout layout;
    layout.duration = 2.5;
    layout.snrDb = snrDb;
    layout.sources = {{dir / "a.wav", -40.0, 0.0, 0.5, 0.0, render::kDefaultDistance, {}},
                      {dir / "b.wav", 60.0, 0.0, 1.2, 3.0, render::kDefaultDistance, {}}};
    return layout;
  }
  ScratchDir dir;
};

TEST_F(RenderedScene, ASourceOnTheRightReachesChannel1First) {
  for (double azimuth : {60.0, -60.0}) {
    SCOPED_TRACE(azimuth);
    render::SceneLayout layout = twoTalkers(20.0);
    layout.sources.resize(1);
    layout.sources[0].azimuth = azimuth;
    render::RenderedScene scene = render::renderScene(layout);
    int lead = leadOfChannel1(scene.images[0], 20);
    // 60 degrees is about 500 µs, 8 samples at 16 kHz.
    EXPECT_NEAR(lead, azimuth > 0 ? 8 : -8, 2);
  }
}

TEST_F(RenderedScene, ProducesTheAskedSnrAndKeepsTheMixtureWhole) {
  for (double snr : {5.0, 20.0}) {
    SCOPED_TRACE(snr);
    render::RenderedScene scene = render::renderScene(twoTalkers(snr));
    std::vector<scenekit::Stretch> speech;
    for (const auto &a : scene.active) speech.insert(speech.end(), a.begin(), a.end());
    EXPECT_NEAR(render::measureSnrDb(scene.images, scene.noise, speech, kRate), snr, 1e-9);

    double peak = 0.0, left = 0.0, right = 0.0;
    for (size_t n = 0; n < scene.mixture[0].size(); ++n) {
      for (int c = 0; c < 2; ++c) {
        double sum = scene.images[0][c][n] + scene.images[1][c][n] + scene.noise[c][n];
        ASSERT_NEAR(scene.mixture[c][n], sum, 1e-12);
        peak = std::max(peak, std::fabs(sum));
      }
      left += scene.noise[0][n] * scene.noise[0][n];
      right += scene.noise[1][n] * scene.noise[1][n];
    }
    EXPECT_NEAR(20.0 * std::log10(peak), -3.0, 1e-9);
    EXPECT_NEAR(10.0 * std::log10(left / right), 0.0, 1.0);  // diffuse: both ears alike
  }
}

// Peak over lags of the normalised cross-correlation of the two channels.
double interauralCoherence(const std::vector<std::vector<double>> &stereo, int maxLag) {
  double left = 0.0, right = 0.0, best = 0.0;
  for (size_t n = 0; n < stereo[0].size(); ++n) {
    left += stereo[0][n] * stereo[0][n];
    right += stereo[1][n] * stereo[1][n];
  }
  for (int lag = -maxLag; lag <= maxLag; ++lag) {
    double sum = 0.0;
    for (size_t n = static_cast<size_t>(maxLag); n + maxLag < stereo[0].size(); ++n)
      sum += stereo[0][n] * stereo[1][n - lag];
    best = std::max(best, std::fabs(sum) / std::sqrt(left * right));
  }
  return best;
}

TEST_F(RenderedScene, NoiseIsDiffuseUnlikeASource) {
  render::RenderedScene scene = render::renderScene(twoTalkers(0.0));
  EXPECT_LT(interauralCoherence(scene.noise, 20), 0.2);
  EXPECT_GT(interauralCoherence(scene.images[1], 20), 0.7);
}

TEST_F(RenderedScene, SameSeedSameNoiseOtherSeedOtherNoise) {
  render::SceneLayout layout = twoTalkers(10.0);
  auto first = render::renderScene(layout).noise;
  EXPECT_EQ(first, render::renderScene(layout).noise);
  layout.seed = 2;
  EXPECT_NE(first, render::renderScene(layout).noise);
}

TEST(GaussianNoise, HasUnitVarianceAndNoMean) {
  render::GaussianNoise noise(7);
  const int count = 200000;
  double sum = 0.0, squares = 0.0;
  for (int i = 0; i < count; ++i) {
    double x = noise.next();
    sum += x;
    squares += x * x;
  }
  EXPECT_NEAR(sum / count, 0.0, 0.01);
  EXPECT_NEAR(squares / count, 1.0, 0.02);
}

TEST(RenderSceneProgram, WritesFilesAndTruthThatAgree) {
  ScratchDir dir;
  writeMono(dir / "talker.wav", bursts(1.5, {{0.25, 0.75}, {1.0, 1.25}}));
  auto run = runTool("kolv-render-scene",
                     "--out " + (dir / "scene") + " --duration 3 --snr 12 --noise-image --seed 5 --source " +
                         (dir / "talker.wav") + " --azimuth 30 --start 1",
                     dir);
  ASSERT_EQ(run.status, 0) << run.output;

  scenekit::Truth truth = scenekit::readTruth(dir / "scene/truth.json");
  EXPECT_EQ(truth.samplingRate, kRate);
  EXPECT_EQ(truth.duration, 3.0);
  EXPECT_EQ(truth.snrDb, 12.0);
  EXPECT_EQ(truth.seed, 5u);
  EXPECT_EQ(truth.mixture, "scene.wav");
  EXPECT_EQ(truth.noiseImage, "noise.wav");
  ASSERT_EQ(truth.sources.size(), 1u);
  const scenekit::TruthSource &s = truth.sources[0];
  EXPECT_EQ(s.azimuth, 30.0);
  EXPECT_EQ(s.start, 1.0);
  EXPECT_EQ(s.image, "source1.wav");
  ASSERT_EQ(s.active.size(), 2u);
  EXPECT_NEAR(s.active[0].start, 1.25, 0.02);
  EXPECT_NEAR(s.active[0].end, 1.75, 0.02);
  EXPECT_NEAR(s.active[1].start, 2.0, 0.02);
  EXPECT_NEAR(s.active[1].end, 2.25, 0.02);

  // The SNR survives 16-bit storage.
  scenekit::Audio mixture = scenekit::readWav(dir / "scene/scene.wav");
  scenekit::Audio image = scenekit::readWav(dir / "scene/source1.wav");
  scenekit::Audio noise = scenekit::readWav(dir / "scene/noise.wav");
  for (const auto *audio : {&mixture, &image, &noise}) {
    EXPECT_EQ(audio->samplingRate, kRate);
    ASSERT_EQ(audio->channels.size(), 2u);
    EXPECT_EQ(audio->frames(), 3u * kRate);
  }
  EXPECT_NEAR(render::measureSnrDb({image.channels}, noise.channels, s.active, kRate), 12.0, 0.05);
}

TEST(RenderSceneProgram, RefusesBadInputWithAClearMessage) {
  ScratchDir dir;
  writeMono(dir / "ok.wav", bursts(1.0, {{0.2, 0.8}}));
  writeMono(dir / "fast.wav", bursts(1.0, {{0.2, 0.8}}), 48000);
  struct Case {
    const char *name;
    std::string arguments;
    std::string message;
  };
  const std::string out = "--out " + (dir / "out");
  const Case cases[] = {
      {"azimuth beyond a turn", out + " --source " + (dir / "ok.wav") + " --azimuth 200", "outside the range"},
      {"below the measured elevations", out + " --source " + (dir / "ok.wav") + " --azimuth 0 --elevation -80",
       "outside the measured set's range"},
      {"other sampling rate", out + " --source " + (dir / "fast.wav") + " --azimuth 0", "sampled at 48000 Hz"},
      {"missing SOFA file", out + " --sofa " + (dir / "none.sofa") + " --source " + (dir / "ok.wav") + " --azimuth 0",
       "cannot open SOFA file"},
      {"not a SOFA file", out + " --sofa " + (dir / "ok.wav") + " --source " + (dir / "ok.wav") + " --azimuth 0",
       "cannot use SOFA file"},
      {"two heads", out + " --sofa " + render::kDefaultSofaFile + " --hrirs " + (dir / "ok.wav") + " --source " +
                        (dir / "ok.wav") + " --azimuth 0",
       "give the measured head once"},
      {"a horizontal set of one channel", out + " --hrirs " + (dir / "ok.wav") + " --source " + (dir / "ok.wav") +
                                              " --azimuth 0",
       "not a left and a right ear for each of at least two directions"},
      {"missing source file", out + " --source " + (dir / "none.wav") + " --azimuth 0", "cannot read audio file"},
      {"no azimuth", out + " --source " + (dir / "ok.wav"), "has no --azimuth"},
      {"not a number", out + " --source " + (dir / "ok.wav") + " --azimuth left", "expects a number"},
      {"head too large", out + " --head-scale 3 --source " + (dir / "ok.wav") + " --azimuth 0",
       "--head-scale expects 0.5 to 2"},
      {"starts after the end", out + " --duration 1 --source " + (dir / "ok.wav") + " --azimuth 0 --start 2",
       "after the scene ends"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    auto run = runTool("kolv-render-scene", c.arguments, dir);
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
    EXPECT_FALSE(std::filesystem::exists(dir / "out/truth.json"));
  }
}

}  // namespace
