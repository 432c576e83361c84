#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <iostream>
#include <limits>
#include <random>
#include <sstream>
#include <vector>

#include "BinauralMultisourceLocalization.h"
#include "Directions.h"
#include "LocalizationTestSupport.h"
#include "SpatialSpectrum.h"

using namespace localization;
using kolvtest::floatValue;
using kolvtest::intValue;
using kolvtest::stringValue;
using loctest::thrownText;

namespace {

constexpr float kMics = 18.7f;

struct Settings {
  std::string model = kSphericalHeadName;
  float threshold = 0.5f;
  float low = 500.0f;
  float high = 2800.0f;
  float noiseDuration = 0.0f;  // one noise frame
};

KOLV::ParameterSet localizerParams(const Settings &s) {
  return kolvtest::makeParams({{"MICS_DISTANCE", floatValue(kMics)},
                               {"GCCPHAT_THRESHOLD", floatValue(s.threshold)},
                               {"SOUND_DIFFRACTION_COMPENSATION", stringValue(s.model)},
                               {"ADVANCE", intValue(160)},
                               {"SAMPLING_RATE", intValue(loctest::kRate)},
                               {"FREQUENCY_HIGH", floatValue(s.high)},
                               {"FREQUENCY_LOW", floatValue(s.low)},
                               {"NOISE_DURATION", floatValue(s.noiseDuration)}});
}

struct Found {
  int azimuth;
  float power;
  int id;
};

// Runs the frames through a localizer and returns what each frame reported.
std::vector<std::vector<Found>> localize(const Settings &s, std::vector<KOLV::ObjectRef> frames) {
  const int n = static_cast<int>(frames.size());
  kolvtest::FrameFeeder feeder(std::move(frames));
  BinauralMultisourceLocalization node("loc", localizerParams(s));
  kolvtest::wire(node, "AUDIO_SPECTRUM", feeder);
  std::vector<std::vector<Found>> result;
  for (int f = 0; f < n; ++f) {
    KOLV::RCPtr<kolvtest::SourceVector> sources = node.getOutput(0, f);
    std::vector<Found> frame;
    for (const KOLV::ObjectRef &element : *sources) {
      KOLV::RCPtr<KOLV::Source> source = element;
      EXPECT_EQ(source->x[2], 0.0f);
      EXPECT_EQ(source->spare, 0);
      frame.push_back({static_cast<int>(std::lround(std::atan2(source->x[1], source->x[0]) *
                                                    kDegreesPerRadian)),
                       source->power, source->id});
    }
    result.push_back(frame);
  }
  return result;
}

std::vector<int> azimuths(const std::vector<Found> &frame) {
  std::vector<int> out;
  for (const Found &f : frame) out.push_back(f.azimuth);
  return out;
}

// One noise frame, the averaging frame, then `sourceFrames` frames of a source
// at `azimuth` under the scene's own delay model.
std::vector<KOLV::ObjectRef> scene(DelayModel model, int azimuth, int sourceFrames,
                                   unsigned seed, double noise = 0.01) {
  std::mt19937 rng(seed);
  const double tau = interauralDelay(model, kMics, azimuth - kLowestAzimuth);
  std::vector<KOLV::ObjectRef> frames;
  frames.push_back(loctest::noiseFrame(rng, noise));
  frames.push_back(loctest::noiseFrame(rng, noise));
  for (int i = 0; i < sourceFrames; ++i) frames.push_back(loctest::delayedSourceFrame(rng, tau, noise));
  return frames;
}

}  // namespace

TEST(LocalizationNumbers, FramesAndBandOfTheUsualSettings) {
  EXPECT_EQ(noiseFrameQuotient(1.0f, 160, 16000), 100.0f);
  BandEdges band = bandEdges(500.0f, 2800.0f, 16000, 257);
  EXPECT_EQ(band.binSpacing, 31.0f);  // 16000/2/256 truncated, not 31.25
  EXPECT_EQ(band.lowBin, 16.0f);
  EXPECT_EQ(band.highBin, 90.0f);     // bins 16..89, B = 74

  Settings s;
  s.noiseDuration = 1.0f;
  BinauralMultisourceLocalization node("loc", localizerParams(s));
  EXPECT_EQ(node.noiseFrames(), 100);
  for (float shortDuration : {0.0f, 0.005f, -1.0f}) {
    s.noiseDuration = shortDuration;
    BinauralMultisourceLocalization brief("loc", localizerParams(s));
    EXPECT_EQ(brief.noiseFrames(), 1) << shortDuration;
  }
}

TEST(LocalizationNumbers, DelayModelsAreOddAndReachTheirEnds) {
  for (DelayModel model : {DelayModel::FreeSpace, DelayModel::SphericalHead}) {
    SCOPED_TRACE(model == DelayModel::FreeSpace ? "free space" : "spherical head");
    EXPECT_EQ(interauralDelay(model, kMics, 90), 0.0f);
    for (int n = 0; n < 90; ++n) {
      EXPECT_NEAR(interauralDelay(model, kMics, n), -interauralDelay(model, kMics, 180 - n), 1e-12);
      EXPECT_LT(interauralDelay(model, kMics, n), interauralDelay(model, kMics, n + 1)) << n;
    }
  }
  // Free field: d / c at the ends; rigid sphere: a (pi/2 + 1) / c.
  EXPECT_FLOAT_EQ(interauralDelay(DelayModel::FreeSpace, kMics, 180), 18.7 / 34050.0);
  EXPECT_FLOAT_EQ(interauralDelay(DelayModel::SphericalHead, kMics, 0),
                  -9.35 * 2.5707963267948966 / 34050.0);
}

TEST(LocalizationNumbers, SteeringPhasesKeepTheirPrecisionRules) {
  // The tables written out for a few directions and bins: delays in single
  // precision from double-precision geometry, phases and their cosines and
  // sines in double, stored as floats; the ends of the range use their
  // exact values.
  const double c = 34050.0, pi = 3.141592653589793;
  const double d = static_cast<double>(kMics), a = static_cast<double>(0.5f * kMics);
  auto freeSpace = [&](int deg) {
    double sinTheta = deg == -90 ? -1.0 : std::sin(deg * pi / 180.0);
    return static_cast<float>(d * sinTheta / c);
  };
  auto sphere = [&](int deg) {
    double theta = deg * pi / 180.0;
    double sum = deg == -90 ? -2.5707963267948966 : theta + std::sin(theta);
    float base = static_cast<float>(a * sum / c);
    float diffraction =
        deg == -90 ? 0.0f
                   : static_cast<float>(((deg < 0 ? -1.0 : 1.0) * pi - deg * 2.0 * pi / 180.0) * a *
                                        std::fabs(0.10000000149011612 * std::sin(theta)) / c);
    return base - diffraction;
  };
  SteeringTables freeTables(DelayModel::FreeSpace, kMics, loctest::kRate, loctest::kCols, 16, 90);
  SteeringTables sphereTables(DelayModel::SphericalHead, kMics, loctest::kRate, loctest::kCols, 16, 90);
  for (int deg : {-90, -61, -1, 0, 1, 37, 90}) {
    for (int j : {16, 53, 89}) {
      SCOPED_TRACE(std::to_string(deg) + " degrees, bin " + std::to_string(j));
      const double omega = static_cast<double>(static_cast<float>(j)) *
                           (static_cast<double>(static_cast<float>(loctest::kRate)) * (2.0 * pi)) /
                           (2.0 * static_cast<double>(static_cast<float>(loctest::kCols - 1)));
      const int n = deg + 90;
      const double freePhase = static_cast<double>(freeSpace(deg)) * omega;
      const double spherePhase = static_cast<double>(sphere(deg)) * omega;
      EXPECT_EQ(freeTables.steeringCos(j)[n], static_cast<float>(std::cos(freePhase)));
      EXPECT_EQ(freeTables.steeringSin(j)[n], static_cast<float>(std::sin(freePhase)));
      EXPECT_EQ(sphereTables.steeringCos(j)[n], static_cast<float>(std::cos(spherePhase)));
      EXPECT_EQ(sphereTables.steeringSin(j)[n], static_cast<float>(std::sin(spherePhase)));
    }
  }
}

TEST(Localization, NoiseFramesAndTheAveragingFrameAreEmpty) {
  Settings s;
  s.noiseDuration = 0.03f;  // 3 frames
  std::vector<KOLV::ObjectRef> frames = scene(DelayModel::SphericalHead, 20, 6, 1);
  auto found = localize(s, frames);
  for (int f = 0; f <= 3; ++f) EXPECT_TRUE(found[f].empty()) << f;
  EXPECT_EQ(azimuths(found[4]), (std::vector<int>{20}));
}

TEST(Localization, FindsASourceAtItsAzimuthWithEachDelayModel) {
  struct Model {
    DelayModel model;
    const char *name;
  };
  for (Model m : {Model{DelayModel::FreeSpace, kFreeSpaceName},
                  Model{DelayModel::SphericalHead, kSphericalHeadName}}) {
    for (int azimuth : {-80, -45, -12, 0, 7, 33, 70}) {
      SCOPED_TRACE(std::string(m.name) + " at " + std::to_string(azimuth));
      Settings s;
      s.model = m.name;
      auto frames = scene(m.model, azimuth, 3, 100 + azimuth);
      auto found = localize(s, frames);
      for (int f = 2; f < 5; ++f) {
        ASSERT_EQ(azimuths(found[f]), (std::vector<int>{azimuth})) << "frame " << f;
        EXPECT_EQ(found[f][0].id, 0);
        EXPECT_GT(found[f][0].power, 0.9f);
      }
      // The same scene with the microphones swapped is its mirror image.
      std::vector<KOLV::ObjectRef> swapped;
      for (const KOLV::ObjectRef &frame : frames) {
        KOLV::RCPtr<kolvtest::ComplexMatrix> spectrum = frame;
        swapped.push_back(loctest::swapRows(*spectrum));
      }
      auto mirrored = localize(s, swapped);
      for (int f = 2; f < 5; ++f)
        EXPECT_EQ(azimuths(mirrored[f]), (std::vector<int>{-azimuth})) << "frame " << f;
    }
  }
}

TEST(Localization, TwoSourcesInOneFrameCarryIdsInIncreasingAzimuth) {
  // Source A fills the even bins and source B the odd ones.
  std::mt19937 rng(7);
  const double tauA = interauralDelay(DelayModel::SphericalHead, kMics, 50 - kLowestAzimuth);
  const double tauB = interauralDelay(DelayModel::SphericalHead, kMics, -30 - kLowestAzimuth);
  std::vector<KOLV::ObjectRef> frames = {loctest::noiseFrame(rng, 0.01), loctest::noiseFrame(rng, 0.01)};
  for (int f = 0; f < 2; ++f) {
    auto a = loctest::delayedSourceFrame(rng, tauA, 0.01);
    auto b = loctest::delayedSourceFrame(rng, tauB, 0.01);
    for (int j = 1; j < loctest::kCols; j += 2) {
      (*a)(0, j) = (*b)(0, j);
      (*a)(1, j) = (*b)(1, j);
    }
    frames.push_back(a);
  }
  Settings s;
  s.threshold = 0.3f;
  auto found = localize(s, frames);
  // Each source's lobe leans on the other's, moving the peaks a little apart.
  for (int f = 2; f < 4; ++f) {
    ASSERT_EQ(found[f].size(), 2u);
    EXPECT_NEAR(found[f][0].azimuth, -30, 3);
    EXPECT_NEAR(found[f][1].azimuth, 50, 3);
    EXPECT_EQ(found[f][0].id, 0);
    EXPECT_EQ(found[f][1].id, 1);
  }
}

TEST(Localization, StreamStartingWithDigitalSilenceStillLocalizes) {
  std::mt19937 rng(3);
  const int azimuth = -25;
  const double tau = interauralDelay(DelayModel::SphericalHead, kMics, azimuth - kLowestAzimuth);
  std::vector<KOLV::ObjectRef> frames = {kolvtest::complexMatrix(2, loctest::kCols),
                                         kolvtest::complexMatrix(2, loctest::kCols)};
  // Without noise, and with every third bin silent in both channels: those
  // bins add nothing while the mean still runs over the whole band.
  auto frame = loctest::delayedSourceFrame(rng, tau, 0.0);
  int silentBins = 0;
  for (int j = 0; j < loctest::kCols; j += 3) {
    (*frame)(0, j) = (*frame)(1, j) = 0.0f;
    if (j >= 16 && j < 90) ++silentBins;
  }
  frames.push_back(frame);
  auto found = localize(Settings(), frames);
  ASSERT_EQ(azimuths(found[2]), (std::vector<int>{azimuth}));
  // Over a zero noise level every sounding bin has weight 1.
  EXPECT_NEAR(found[2][0].power, (74.0f - silentBins) / 74.0f, 1e-4);
}

TEST(Localization, EmptyBandReportsTheLeftEdgeOnlyBelowANegativeThreshold) {
  Settings s;
  s.low = 2800.0f;
  s.high = 500.0f;
  auto frames = scene(DelayModel::SphericalHead, 10, 1, 5);
  s.threshold = -0.1f;
  auto found = localize(s, frames);
  ASSERT_EQ(found[2].size(), 1u);
  EXPECT_EQ(found[2][0].azimuth, -90);
  EXPECT_EQ(found[2][0].power, 0.0f);
  s.threshold = 0.0f;
  EXPECT_TRUE(localize(s, frames)[2].empty());
}

TEST(LocalizationKernel, SnrWeightFollowsTheNoiseRatio) {
  EXPECT_FLOAT_EQ(snrWeight(4.0f, 1.0f), 0.75f);   // 1 - noise/|X|
  EXPECT_EQ(snrWeight(1.0f, 1.0f), kWeightFloor);  // at the noise level
  EXPECT_EQ(snrWeight(0.5f, 1.0f), kWeightFloor);  // below it
}

TEST(LocalizationErrors, RefusedSettings) {
  struct Case {
    const char *name;
    Settings settings;
    std::vector<std::string> mentions;
  };
  Settings unknownModel;
  unknownModel.model = "spherical_head";
  std::vector<Case> cases = {
      {"unknown delay model", unknownModel,
       {"'loc'", "\"spherical_head\"", "\"FREE_SPACE\"", "\"SPHERICAL_HEAD\""}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::string text = thrownText([&] { BinauralMultisourceLocalization("loc", localizerParams(c.settings)); });
    for (const std::string &m : c.mentions) EXPECT_NE(text.find(m), std::string::npos) << text;
  }
  auto params = localizerParams(Settings());
  params.add("ADVANCE", floatValue(160.0f));
  std::string text = thrownText([&] { BinauralMultisourceLocalization("loc", params); });
  EXPECT_EQ(text.rfind("Cast error: Trying to cast ObjectRef", 0), 0u) << text;
}

TEST(LocalizationErrors, InputsThatDoNotFitAreRefusedWithTheirNumbers) {
  std::mt19937 rng(9);
  Settings tooHigh;
  tooHigh.high = 7990.0f;  // bin 257 of a 257-column spectrum at 31 Hz spacing
  Settings negativeLow;
  negativeLow.low = -100.0f;
  struct Case {
    const char *name;
    Settings settings;
    std::vector<KOLV::ObjectRef> frames;
    int failingFrame;
    std::vector<std::string> mentions;
  };
  std::vector<Case> cases = {
      {"band above the spectrum", tooHigh, {loctest::noiseFrame(rng, 1.0)}, 0,
       {"frame 0", "7990", "257 columns", "lowBin 16 and highBin 257", "highBin <= 256"}},
      {"negative low edge", negativeLow, {loctest::noiseFrame(rng, 1.0)}, 0, {"frame 0", "-100", "lowBin -3"}},
      {"one row", Settings(), {kolvtest::complexMatrix(1, loctest::kCols)}, 0, {"frame 0", "1 row"}},
      {"column count changes", Settings(),
       {loctest::noiseFrame(rng, 1.0), loctest::noiseFrame(rng, 1.0), loctest::noiseFrame(rng, 1.0, 129)},
       2, {"frame 2", "129 columns", "frame 0 had 257"}},
  };
  for (Case &c : cases) {
    SCOPED_TRACE(c.name);
    const int n = static_cast<int>(c.frames.size());
    kolvtest::FrameFeeder feeder(c.frames);
    BinauralMultisourceLocalization node("loc", localizerParams(c.settings));
    kolvtest::wire(node, "AUDIO_SPECTRUM", feeder);
    for (int f = 0; f < c.failingFrame; ++f) node.getOutput(0, f);
    std::string text = thrownText([&] { node.getOutput(0, n - 1); });
    EXPECT_NE(text.find("'loc'"), std::string::npos) << text;
    for (const std::string &m : c.mentions) EXPECT_NE(text.find(m), std::string::npos) << text;
  }
}

TEST(LocalizationKernel, SpatialSpectrumIsTheBinAverageInItsOwnOrderBitForBit) {
  // The vectorised sum (whichever instruction set the loader picked) against
  // the sum written out one direction and one bin at a time.
  std::mt19937 rng(17);
  std::uniform_real_distribution<float> level(0.5f, 200.0f);
  SteeringTables tables(DelayModel::SphericalHead, kMics, loctest::kRate, loctest::kCols, 16, 90);
  std::vector<float> noise(loctest::kCols - 1);
  for (float &v : noise) v = level(rng);
  noise[20] = 0.0f;
  for (int trial = 0; trial < 5; ++trial) {
    auto frame = loctest::noiseFrame(rng, 100.0);
    (*frame)(0, 30) = 0.0f;
    float P[kPaddedDirections];
    spatialSpectrum(frame->row(0), frame->row(1), noise.data(), tables, P);
    for (int n = 0; n < kDirections; ++n) {
      float expected = 0.0f;
      for (int j = 16; j < 90; ++j) {
        const std::complex<float> L = (*frame)(0, j), R = (*frame)(1, j);
        const float re = L.real() * R.real() + L.imag() * R.imag();
        const float im = L.imag() * R.real() - L.real() * R.imag();
        const float mag = std::sqrt(re * re + im * im);
        if (mag == 0.0f) continue;
        const float w = noise[j] == 0.0f ? 1.0f : snrWeight(mag, noise[j]);
        expected += ((tables.steeringCos(j)[n] * (re / mag) - tables.steeringSin(j)[n] * (im / mag)) * w) / 74.0f;
      }
      ASSERT_EQ(P[n], expected) << "direction " << n;
    }
  }
}

namespace {

// What `body` writes to standard error.
template <class Body>
std::string capturingStderr(Body body) {
  std::ostringstream captured;
  std::streambuf *saved = std::cerr.rdbuf(captured.rdbuf());
  body();
  std::cerr.rdbuf(saved);
  return captured.str();
}

// Sets bin `bin` of both rows of `frame` to `value`.
KOLV::ObjectRef damaged(const KOLV::ObjectRef &frame, int bin, std::complex<float> value) {
  KOLV::RCPtr<kolvtest::ComplexMatrix> copy(frame->clone());
  (*copy)(0, bin) = value;
  (*copy)(1, bin) = value;
  return copy;
}

}  // namespace

// A damaged noise frame is left out of the noise level, so the run gives
// exactly what a run without that frame gives; a damaged frame later (NaN,
// infinity, values whose cross-spectrum overflows) yields no sources, and the
// frames after it are localized as before. One warning per phase.
TEST(Localization, DamagedFramesSpoilOnlyThemselves) {
  Settings twoNoiseFrames;
  twoNoiseFrames.noiseDuration = 0.025f;  // 2.5 frames: 2
  Settings threeNoiseFrames = twoNoiseFrames;
  threeNoiseFrames.noiseDuration = 0.035f;  // 3
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  // Bin 40 lies in the 500 - 2800 Hz band of a 257-bin spectrum at 16 kHz.
  constexpr int kBandBin = 40;

  std::vector<KOLV::ObjectRef> clean = scene(DelayModel::SphericalHead, 30, 8, 21);
  std::vector<KOLV::ObjectRef> frames = clean;
  frames.insert(frames.begin() + 1, damaged(clean[0], kBandBin, {nan, 0.0f}));
  // clean: noise, noise, then the source (the first source frame computes
  // the average); frames: noise, damaged noise, noise, then the same.
  const int firstSource = 4;
  frames[firstSource + 2] = damaged(frames[firstSource + 2], kBandBin, {0.0f, inf});
  frames[firstSource + 4] = damaged(frames[firstSource + 4], kBandBin, {1e30f, 1e30f});

  const auto reference = localize(twoNoiseFrames, clean);
  std::vector<std::vector<Found>> result;
  const std::string warnings =
      capturingStderr([&] { result = localize(threeNoiseFrames, frames); });
  ASSERT_EQ(result.size(), reference.size() + 1);
  for (size_t f = firstSource; f < result.size(); ++f) {
    SCOPED_TRACE("frame " + std::to_string(f));
    if (f == firstSource + 2 || f == firstSource + 4) {
      EXPECT_TRUE(result[f].empty());
      continue;
    }
    const std::vector<Found> &expected = reference[f - 1];
    ASSERT_EQ(result[f].size(), expected.size());
    ASSERT_FALSE(expected.empty());
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(result[f][i].azimuth, expected[i].azimuth);
      EXPECT_EQ(result[f][i].power, expected[i].power);
    }
  }
  EXPECT_NE(warnings.find("'loc', frame 1: warning"), std::string::npos) << warnings;
  EXPECT_NE(warnings.find("'loc', frame 6: warning"), std::string::npos) << warnings;
  EXPECT_EQ(std::count(warnings.begin(), warnings.end(), '\n'), 2) << warnings;
}
