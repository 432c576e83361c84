// The localizer for rooms: steering from the measured head against its known
// interaural delays, the bin trust that prefers direct sound, damaged frames,
// and the node's refusals.
#include <gtest/gtest.h>
#include <mysofa.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <fstream>
#include <random>
#include <tuple>
#include <string>
#include <vector>

#include "DirectSoundLocalizer.h"
#include "HeadSteering.h"
#include "LocalizationTestSupport.h"
#include "RobustBinauralLocalization.h"
#include "Source.h"
#include "TalkerTracks.h"
#include "TestNetwork.h"

using namespace localization;
using kolvtest::floatValue;
using kolvtest::intValue;
using kolvtest::stringValue;

namespace {

constexpr int kRate = 16000;
constexpr int kCols = 257;
constexpr int kLowBin = 10;   // 312 Hz
constexpr int kHighBin = 129;  // 4000 Hz

const MeasuredHead &kemar() {
  static const MeasuredHead head(kDefaultSofaFile, kRate);
  return head;
}

const InterauralSteering &kemarSteering() {
  static const InterauralSteering steering(kemar(), Cues::Phase, kCols, kLowBin, kHighBin);
  return steering;
}

// A frame of a broadband source (random phase, unit magnitude per bin) heard
// through the measured head from `azimuth`, at `gain` in amplitude.
// `headScale` times as large as the measured head.
struct Scene {
  std::mt19937 rng{7};
  std::vector<EarResponses> heads;  // by direction index
  explicit Scene(double headScale = 1.0) {
    for (int n = 0; n < kDirections; ++n)
      heads.push_back(kemar().responses(azimuthOfDirection(n), kCols, headScale));
  }
  // The bins j with holds[j] (all when empty) hold the source: two talkers
  // rarely fill the same bins of speech.
  void add(std::vector<std::complex<float>> &left, std::vector<std::complex<float>> &right, int azimuth,
           double gain, const std::vector<bool> &holds = {}) {
    std::uniform_real_distribution<double> phase(-kPi, kPi);
    const EarResponses &h = heads[static_cast<size_t>(azimuth - kLowestAzimuth)];
    for (int j = 0; j < kCols; ++j) {
      if (!holds.empty() && !holds[j]) continue;
      const std::complex<double> s = std::polar(gain, phase(rng));
      left[j] += std::complex<float>(s * h.left[j]);
      right[j] += std::complex<float>(s * h.right[j]);
    }
  }
  void addNoise(std::vector<std::complex<float>> &left, std::vector<std::complex<float>> &right, double spread) {
    std::normal_distribution<float> gauss(0.0f, static_cast<float>(spread));
    for (int j = 0; j < kCols; ++j) {
      left[j] += std::complex<float>(gauss(rng), gauss(rng));
      right[j] += std::complex<float>(gauss(rng), gauss(rng));
    }
  }
};

struct Frame {
  std::vector<std::complex<float>> left = std::vector<std::complex<float>>(kCols);
  std::vector<std::complex<float>> right = std::vector<std::complex<float>>(kCols);
};

int strongest(const PeakList &peaks) {
  int best = -1;
  float value = -2.0f;
  for (int i = 0; i < peaks.count; ++i)
    if (peaks.peaks[i].value > value) {
      value = peaks.peaks[i].value;
      best = azimuthOfDirection(peaks.peaks[i].direction);
    }
  return best;
}

}  // namespace

// The delays `kolv-render-scene --measure` finds for the same set
// (docs/scenes.md), by the same cross-correlation of the responses.
TEST(HeadSteering, MeasuredInterauralDelaysOfTheKemarHead) {
  const std::vector<std::pair<int, double>> measured = {{0, 0.0},     {15, 132e-6}, {30, 264e-6}, {45, 393e-6},
                                                        {60, 508e-6}, {75, 643e-6}, {90, 722e-6}};
  for (const auto &[azimuth, delay] : measured) {
    SCOPED_TRACE(azimuth);
    EXPECT_NEAR(kemar().interauralDelay(azimuth), delay, 20e-6);
    EXPECT_NEAR(kemar().interauralDelay(-azimuth), -delay, 20e-6);
  }
}

// Each interpolated response resampled on its own keeps the interaural
// cross-spectrum (what the steering keeps) of the set at its own rate in the
// analysed band, within the resampler's ripple (worst 0.041 over every
// 5 degrees; libmysofa resampling the whole set: 0.058).
TEST(SofaSet, ResponsesResampledOneByOneKeepTheInterauralCrossSpectrum) {
  constexpr int kRecordedRate = 44100;  // the KEMAR set's
  const SofaSet recorded(kDefaultSofaFile, kRecordedRate), each(kDefaultSofaFile, kRate, SofaResampling::EachResponse);
  EXPECT_EQ(each.filterLength(), static_cast<int>(std::ceil(recorded.filterLength() * double(kRate) / kRecordedRate)));
  const auto crossSpectrum = [](const HeadFilters &f, double hz, int rate) {
    std::complex<double> left = 0.0, right = 0.0;
    for (size_t t = 0; t < f.left.size(); ++t) {
      const std::complex<double> turn = std::polar(1.0, -2.0 * kPi * hz * static_cast<double>(t) / rate);
      left += static_cast<double>(f.left[t]) * turn;
      right += static_cast<double>(f.right[t]) * turn;
    }
    return 2.0 * left * std::conj(right) / (std::norm(left) + std::norm(right));
  };
  for (int azimuth : {-90, -37, 0, 12, 65}) {
    SCOPED_TRACE(azimuth);
    const HeadFilters truth = recorded.filters(azimuth, 0.0), resampled = each.filters(azimuth, 0.0);
    ASSERT_EQ(static_cast<int>(resampled.left.size()), each.filterLength());
    EXPECT_FLOAT_EQ(resampled.delayLeft - resampled.delayRight, truth.delayLeft - truth.delayRight);
    double worst = 0.0;
    for (int j = kLowBin; j < kHighBin; ++j) {
      const double hz = j * 0.5 * kRate / (kCols - 1);
      worst = std::max(worst, std::abs(crossSpectrum(resampled, hz, kRate) - crossSpectrum(truth, hz, kRecordedRate)));
    }
    EXPECT_LT(worst, 0.045);
  }
}

// The set is opened step by step (to learn its rate from one reading of the
// file); its responses are libmysofa's own, through mysofa_open, to the bit.
TEST(SofaSet, OpensTheSetAsLibmysofaDoes) {
  for (int rate : {kRate, 44100}) {
    SCOPED_TRACE(rate);
    const SofaSet set(kDefaultSofaFile, rate);
    int length = 0, error = 0;
    MYSOFA_EASY *easy = mysofa_open(kDefaultSofaFile, static_cast<float>(rate), &length, &error);
    ASSERT_TRUE(easy != nullptr);
    EXPECT_EQ(set.filterLength(), length);
    // Asked at the measurements' mean distance, as the set asks.
    const MYSOFA_HRTF *h = easy->hrtf;
    double radiusSum = 0.0;
    for (unsigned i = 0; i < h->M; ++i) {
      const float *p = h->SourcePosition.values + 3 * i;
      radiusSum += std::sqrt(double(p[0]) * p[0] + double(p[1]) * p[1] + double(p[2]) * p[2]);
    }
    const float radius = static_cast<float>(radiusSum / h->M);
    for (const auto &[azimuth, elevation] : {std::pair{-90.0, 0.0}, {-37.5, 0.0}, {0.0, 0.0}, {12.0, 20.0}, {65.0, -10.0}}) {
      float xyz[3];
      sofaDirection(azimuth, elevation, xyz);
      for (float &c : xyz) c *= radius;
      std::vector<float> left(static_cast<size_t>(length)), right(static_cast<size_t>(length));
      float delayLeft = 0.0f, delayRight = 0.0f;
      mysofa_getfilter_float(easy, xyz[0], xyz[1], xyz[2], left.data(), right.data(), &delayLeft, &delayRight);
      const HeadFilters f = set.filters(azimuth, elevation);
      EXPECT_EQ(f.left, left) << azimuth;
      EXPECT_EQ(f.right, right) << azimuth;
      EXPECT_EQ(f.delayLeft, delayLeft);
      EXPECT_EQ(f.delayRight, delayRight);
    }
    mysofa_close(easy);
  }
}

// Below the first phase wrap the steering's interaural phase delay,
// -arg S / omega, has the sign of the measured broadband delay and is about
// half as long again: low frequencies travel round the head more slowly
// (the free-field fit in docs/scenes.md grows from 21.8 to 23.1 cm below
// 1500 Hz; Kuhn's sphere gives 3a/c against 2a/c).
TEST(HeadSteering, SteeringPhaseDelayAtLowFrequenciesExceedsTheBroadbandDelay) {
  const int j = 16;  // 500 Hz
  const double omega = binAngularFrequency(j, kRate, kCols);
  for (int azimuth : {-60, -30, -15, 15, 30, 60}) {
    SCOPED_TRACE(azimuth);
    const int n = azimuth - kLowestAzimuth;
    const double phaseDelay = -std::atan2(kemarSteering().imag(j)[n], kemarSteering().real(j)[n]) / omega;
    const double broadband = kemar().interauralDelay(azimuth);
    EXPECT_GE(phaseDelay / broadband, 1.0);
    EXPECT_LE(phaseDelay / broadband, 1.7);
    EXPECT_NEAR(std::hypot(kemarSteering().real(j)[n], kemarSteering().imag(j)[n]), 1.0, 1e-5);
  }
}

// A head `scale` times as large hears at bin j what the measured one hears at
// bin scale * j.
TEST(HeadSteering, ALargerHeadHearsAtEachFrequencyWhatTheMeasuredOneHearsHigher) {
  for (const auto &[scale, bin, measuredBin] : {std::tuple<double, int, int>{1.25, 40, 50}, {0.8, 100, 80},
                                                {1.1, 110, 121}}) {
    SCOPED_TRACE(scale);
    const InterauralSteering scaled(kemar(), Cues::Phase, kCols, kLowBin, kHighBin, scale);
    for (int n = 0; n < kDirections; n += 15) {
      EXPECT_NEAR(scaled.real(bin)[n], kemarSteering().real(measuredBin)[n], 1e-4) << n;
      EXPECT_NEAR(scaled.imag(bin)[n], kemarSteering().imag(measuredBin)[n], 1e-4) << n;
    }
  }
}

// A missing file, and one that is not a SOFA set (read for its rate before
// it is opened), are named.
TEST(HeadSteering, MissingOrUnusableSofaFileIsNamed) {
  const std::string notSofa = ::testing::TempDir() + "not-a-head.sofa";
  std::ofstream(notSofa) << "plain text, not HDF5\n";
  for (const std::string &path : {std::string("/nonexistent/head.sofa"), notSofa}) {
    SCOPED_TRACE(path);
    try {
      MeasuredHead head(path, kRate);
      FAIL() << "opened " << path;
    } catch (const std::runtime_error &e) {
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
  }
  std::remove(notSofa.c_str());
}

// A source alone, heard through the measured head, is found where it is,
// with measured-head steering also at the sides where the spherical model
// places it several degrees too far out.
TEST(DirectSoundLocalizer, FindsASourceThroughTheMeasuredHeadWithoutSideBias) {
  Scene scene;
  for (int azimuth : {-80, -70, -45, -10, 0, 25, 70, 80}) {
    SCOPED_TRACE(azimuth);
    DirectSoundLocalizer measured(LocalizerSettings{}, kemarSteering());
    PeakList peaks;
    for (int f = 0; f < 30; ++f) {
      Frame frame;
      scene.addNoise(frame.left, frame.right, 0.05);
      if (f >= 10) scene.add(frame.left, frame.right, azimuth, 1.0);
      ASSERT_TRUE(measured.locate(frame.left.data(), frame.right.data(), peaks));
    }
    ASSERT_GE(peaks.count, 1);
    EXPECT_NEAR(strongest(peaks), azimuth, 1);
  }
}

// With the steering kept for several head sizes, the localizer moves to the
// size of the head that hears the talkers and stays at the measured size
// when that is the one.
TEST(DirectSoundLocalizer, LearnsTheSizeOfTheListeningHead) {
  const std::vector<float> scales = {0.8f, 0.836f, 0.875f, 0.915f, 0.956f, 1.0f,
                                     1.046f, 1.094f, 1.143f, 1.195f, 1.25f};
  std::vector<InterauralSteering> steerings;
  for (float scale : scales) steerings.emplace_back(kemar(), Cues::Phase, kCols, kLowBin, kHighBin, scale);
  HeadScaleLearning learning;
  learning.enabled = true;
  for (const auto &[headScale, learnt] : {std::pair<double, float>{1.1, 1.094f}, {0.9, 0.915f}, {1.0, 1.0f}}) {
    SCOPED_TRACE(headScale);
    Scene scene(headScale);
    DirectSoundLocalizer localizer(LocalizerSettings{}, steerings, scales, 5, learning);
    for (int f = 0; f < 600; ++f) {
      Frame frame;
      scene.addNoise(frame.left, frame.right, 0.05);
      if (f % 100 >= 10) scene.add(frame.left, frame.right, f % 200 < 100 ? -50 : 40, 1.0);
      PeakList peaks;
      ASSERT_TRUE(localizer.locate(frame.left.data(), frame.right.data(), peaks));
    }
    EXPECT_EQ(localizer.headScale(), learnt);
  }
}

// In a room, bins whose phase wanders over the integration (here the half
// that holds a source jumping between -60 and +60 degrees from frame to
// frame) weigh less, so a steady talker's peak stands higher; outside a
// room the room's exponent does not apply.
TEST(DirectSoundLocalizer, WeighsBinsByTheirConsistencyInARoom) {
  const auto peakOfSteadyTalker = [](float roomLevel, float roomExponent) {
    LocalizerSettings settings;
    settings.room.level = roomLevel;
    settings.roomCoherenceExponent = roomExponent;
    DirectSoundLocalizer localizer(settings, kemarSteering());
    Scene scene;
    std::vector<bool> steady(kCols), wandering(kCols);
    for (int j = 0; j < kCols; ++j) (j % 2 == 0 ? steady : wandering)[j] = true;
    PeakList peaks;
    for (int f = 0; f < 40; ++f) {
      Frame frame;
      scene.addNoise(frame.left, frame.right, 0.05);
      if (f >= 10) {
        scene.add(frame.left, frame.right, 30, 1.0, steady);
        scene.add(frame.left, frame.right, f % 2 == 0 ? -60 : 60, 1.0, wandering);
      }
      EXPECT_TRUE(localizer.locate(frame.left.data(), frame.right.data(), peaks));
    }
    for (int i = 0; i < peaks.count; ++i)
      if (std::abs(azimuthOfDirection(peaks.peaks[i].direction) - 30) <= 2) return peaks.peaks[i].value;
    return 0.0f;
  };
  const float plain = peakOfSteadyTalker(1.0f, 0.0f);
  ASSERT_GT(plain, 0.0f);
  EXPECT_GT(peakOfSteadyTalker(1.0f, 1.0f), 1.15f * plain);  // 1.21 measured
  EXPECT_EQ(peakOfSteadyTalker(0.0f, 1.0f), peakOfSteadyTalker(0.0f, 0.0f));
}

namespace {

const InterauralSteering &kemarLevelSteering() {
  static const InterauralSteering steering(kemar(), Cues::PhaseAndLevel, kCols, kLowBin, kHighBin);
  return steering;
}

// The peaks after 40 frames of two talkers at once, the second 6 dB weaker
// and holding half as many bins.
PeakList twoTalkersPeaks(const LocalizerSettings &settings, const InterauralSteering &steering = kemarSteering()) {
  Scene scene;
  DirectSoundLocalizer localizer(settings, steering);
  PeakList peaks;
  std::vector<bool> first(kCols), second(kCols);
  for (int j = 0; j < kCols; ++j) {
    const double draw = std::uniform_real_distribution<double>(0.0, 1.0)(scene.rng);
    first[j] = draw < 0.6;
    second[j] = draw >= 0.6 && draw < 0.9;
  }
  for (int f = 0; f < 40; ++f) {
    Frame frame;
    scene.addNoise(frame.left, frame.right, 0.05);
    if (f >= 10) scene.add(frame.left, frame.right, -35, 1.0, first);
    if (f >= 10) scene.add(frame.left, frame.right, 45, 0.5, second);
    EXPECT_TRUE(localizer.locate(frame.left.data(), frame.right.data(), peaks));
  }
  return peaks;
}

}  // namespace

// With the phase alone and with the level difference too: the louder
// talker's level difference, opposite in sign on the other side, must not
// bury the weaker one there.
TEST(DirectSoundLocalizer, FindsAWeakerSecondSource) {
  for (const InterauralSteering *steering : {&kemarSteering(), &kemarLevelSteering()}) {
    SCOPED_TRACE(steering->usesLevel() ? "phase and level" : "phase");
    const PeakList peaks = twoTalkersPeaks(LocalizerSettings{}, *steering);
    ASSERT_EQ(peaks.count, 2);
    EXPECT_NEAR(azimuthOfDirection(peaks.peaks[0].direction), -35, 2);
    EXPECT_NEAR(azimuthOfDirection(peaks.peaks[1].direction), 45, 2);
  }
}

// While the frames' highest peaks are low enough for a room, the room's
// steering is used: here one for a head a quarter larger, which places a
// talker at 40 degrees nearer the front; with the room test off, never.
TEST(DirectSoundLocalizer, UsesTheRoomSteeringWhileTheStreamIsTakenForARoom) {
  for (const auto &[roomLevel, expected] : {std::pair<float, int>{1.0f, 31}, {0.0f, 40}}) {
    SCOPED_TRACE(roomLevel);
    LocalizerSettings settings;
    settings.room.level = roomLevel;
    std::vector<InterauralSteering> room;
    room.emplace_back(kemar(), Cues::Phase, kCols, kLowBin, kHighBin, 1.25);
    DirectSoundLocalizer localizer(settings, {kemarSteering()}, {1.0f}, 0, HeadScaleLearning{}, std::move(room));
    Scene scene;
    PeakList peaks;
    for (int f = 0; f < 40; ++f) {
      Frame frame;
      scene.addNoise(frame.left, frame.right, 0.05);
      if (f >= 10) scene.add(frame.left, frame.right, 40, 1.0);
      ASSERT_TRUE(localizer.locate(frame.left.data(), frame.right.data(), peaks));
    }
    ASSERT_GE(peaks.count, 1);
    EXPECT_NEAR(strongest(peaks), expected, 2);
  }
}

// The second threshold applies to the peaks after the highest only: just
// below the louder talker's peak it leaves that peak alone and holds back the
// weaker talker's; at the threshold's level it keeps both.
TEST(DirectSoundLocalizer, SecondThresholdHoldsBackOnlyTheLaterPeaks) {
  const PeakList both = twoTalkersPeaks(LocalizerSettings{});
  ASSERT_EQ(both.count, 2);
  const float louder = std::max(both.peaks[0].value, both.peaks[1].value);
  const float threshold = LocalizerSettings{}.threshold;
  for (const auto &[secondThreshold, count] : {std::pair<float, int>{louder - 0.01f, 1}, {threshold, 2}}) {
    SCOPED_TRACE(secondThreshold);
    LocalizerSettings settings;
    settings.secondThreshold = secondThreshold;
    const PeakList peaks = twoTalkersPeaks(settings);
    ASSERT_EQ(peaks.count, count);
    EXPECT_NEAR(azimuthOfDirection(peaks.peaks[0].direction), -35, 2);
  }
}

// Steady noise alone, whatever its level, is learnt as noise: no peaks once
// the noise level has settled, without any noise-only lead-in declared.
TEST(DirectSoundLocalizer, SteadyNoiseGivesNoPeaks) {
  Scene scene;
  DirectSoundLocalizer localizer(LocalizerSettings{}, kemarSteering());
  int peaksSeen = 0;
  for (int f = 0; f < 300; ++f) {
    Frame frame;
    scene.addNoise(frame.left, frame.right, 3.0);
    PeakList peaks;
    ASSERT_TRUE(localizer.locate(frame.left.data(), frame.right.data(), peaks));
    if (f >= 30) peaksSeen += peaks.count;
  }
  EXPECT_EQ(peaksSeen, 0);
}

// Bursts of noise 20 dB above the background (as uncorrelated at the two
// ears as a diffuse field above a few hundred hertz), through the localizer
// and the tracker: no track is reported.
TEST(DirectSoundLocalizer, NoiseBurstsGiveNoTrack) {
  Scene scene;
  DirectSoundLocalizer localizer(LocalizerSettings{}, kemarSteering());
  TalkerTracks tracks{TrackSettings{}};
  int reportedFrames = 0;
  for (int f = 0; f < 1000; ++f) {
    Frame frame;
    scene.addNoise(frame.left, frame.right, f % 100 >= 50 && f % 100 < 70 ? 1.0 : 0.1);
    PeakList peaks;
    ASSERT_TRUE(localizer.locate(frame.left.data(), frame.right.data(), peaks));
    std::vector<Estimate> estimates;
    for (int i = 0; i < peaks.count; ++i)
      estimates.push_back({static_cast<float>(azimuthOfDirection(peaks.peaks[i].direction)), peaks.peaks[i].value});
    tracks.update(estimates);
    reportedFrames += tracks.reported().empty() ? 0 : 1;
  }
  EXPECT_EQ(reportedFrames, 0);
}

// A damaged frame changes nothing: the frames after it come out as if it had
// never been there.
TEST(DirectSoundLocalizer, DamagedFrameIsContainedToItself) {
  const float nan = std::nanf(""), inf = INFINITY;
  for (std::complex<float> bad : {std::complex<float>(nan, 0.0f), std::complex<float>(inf, 1.0f),
                                  std::complex<float>(3e19f, 3e19f)}) {
    SCOPED_TRACE(bad.real());
    Scene scene;
    std::vector<Frame> frames(40);
    for (int f = 0; f < 40; ++f) {
      scene.addNoise(frames[f].left, frames[f].right, 0.05);
      if (f >= 10) scene.add(frames[f].left, frames[f].right, 20, 1.0);
    }
    Frame damaged = frames[20];
    damaged.left[50] = bad;
    DirectSoundLocalizer clean(LocalizerSettings{}, kemarSteering()), hurt(LocalizerSettings{}, kemarSteering());
    PeakList a, b;
    for (int f = 0; f < 40; ++f) {
      if (f == 20) {
        EXPECT_FALSE(hurt.locate(damaged.left.data(), damaged.right.data(), b));
      }
      ASSERT_TRUE(clean.locate(frames[f].left.data(), frames[f].right.data(), a));
      ASSERT_TRUE(hurt.locate(frames[f].left.data(), frames[f].right.data(), b));
      ASSERT_EQ(a.count, b.count) << f;
      for (int i = 0; i < a.count; ++i) {
        EXPECT_EQ(a.peaks[i].direction, b.peaks[i].direction);
        EXPECT_EQ(a.peaks[i].value, b.peaks[i].value);
      }
    }
  }
}

namespace {

KOLV::ParameterSet localizerParams(std::vector<std::pair<std::string, KOLV::ObjectRef>> extra = {}) {
  return kolvtest::makeParams(extra);
}

}  // namespace

TEST(RobustBinauralLocalization, RefusesAMissingSofaFileWhenBuilt) {
  const std::string text = kolvtest::thrownText([] {
    RobustBinauralLocalization node("loc", localizerParams({{"SOFA_FILE", stringValue("/no/such/head.sofa")}}));
  });
  EXPECT_NE(text.find("RobustBinauralLocalization 'loc'"), std::string::npos) << text;
  EXPECT_NE(text.find("SOFA_FILE"), std::string::npos) << text;
  EXPECT_NE(text.find("/no/such/head.sofa"), std::string::npos) << text;
}

// Asked for level cues, the spherical head is refused; the room's level
// cues, on by default, fall back to the phase there.
TEST(RobustBinauralLocalization, RefusesLevelCuesWithTheSphericalHead) {
  const std::string text = kolvtest::thrownText([] {
    RobustBinauralLocalization node("loc", localizerParams({{"STEERING", stringValue("SPHERICAL_HEAD")},
                                                            {"CUES", stringValue("PHASE_AND_LEVEL")}}));
  });
  EXPECT_NE(text.find("CUES"), std::string::npos) << text;
  EXPECT_NO_THROW(RobustBinauralLocalization("loc", localizerParams({{"STEERING", stringValue("SPHERICAL_HEAD")}})));
}

TEST(RobustBinauralLocalization, RefusesValuesOutOfRange) {
  for (auto bad : std::vector<std::pair<std::string, KOLV::ObjectRef>>{{"MAX_PEAKS", intValue(0)},
                                                                       {"SHARPNESS", intValue(5)},
                                                                       {"THRESHOLD", floatValue(1.0f)},
                                                                       {"SECOND_THRESHOLD", floatValue(-0.1f)},
                                                                       {"HEAD_SCALE", floatValue(0.3f)},
                                                                       {"HEAD_SCALE", floatValue(2.5f)},
                                                                       {"STEERING", stringValue("FREE")},
                                                                       {"ROOM_CUES", stringValue("LEVEL")},
                                                                       {"ROOM_COHERENCE_EXPONENT", floatValue(-1.0f)}}) {
    SCOPED_TRACE(bad.first);
    const std::string text =
        kolvtest::thrownText([&] { RobustBinauralLocalization node("loc", localizerParams({bad})); });
    EXPECT_NE(text.find(bad.first), std::string::npos) << text;
  }
}

// A head scale that would need the measured responses above the Nyquist
// frequency is refused at the first frame, naming the value.
TEST(RobustBinauralLocalization, RefusesAHeadScaleBeyondTheMeasuredBand) {
  std::mt19937 rng(3);
  kolvtest::FrameFeeder feeder({loctest::noiseFrame(rng, 0.1)});
  RobustBinauralLocalization node(
      "loc", localizerParams({{"HEAD_SCALE", floatValue(2.0f)}, {"FREQUENCY_HIGH", floatValue(6000.0f)}}));
  kolvtest::wire(node, "AUDIO_SPECTRUM", feeder);
  const std::string text = kolvtest::thrownText([&] { node.getOutput(0, 0); });
  EXPECT_NE(text.find("HEAD_SCALE 2"), std::string::npos) << text;
  EXPECT_NE(text.find("Nyquist"), std::string::npos) << text;
}

// Sources as the first toolbox's localizer writes them, whatever the input
// frames hold: silence, damage and overflowing values give empty frames,
// never an exception.
TEST(RobustBinauralLocalization, EveryFrameGivesSourcesOrNoneAndNeverThrows) {
  std::mt19937 rng(3);
  std::vector<KOLV::ObjectRef> frames;
  for (int f = 0; f < 60; ++f) {
    if (f % 7 == 3) {
      auto frame = kolvtest::complexMatrix(2, kCols);
      for (int j = 0; j < kCols; ++j) (*frame)(f % 2, j) = f % 3 ? std::nanf("") : 1e30f;
      frames.push_back(frame);
    } else if (f < 5) {
      frames.push_back(kolvtest::complexMatrix(2, kCols));  // digital silence
    } else if (f % 16 < 8) {  // bursts: a steady source would be learnt as noise
      frames.push_back(loctest::delayedSourceFrame(rng, 300e-6, 0.1));
    } else {
      frames.push_back(loctest::noiseFrame(rng, 0.1));
    }
  }
  kolvtest::FrameFeeder feeder(frames);
  RobustBinauralLocalization node("loc", localizerParams());
  kolvtest::wire(node, "AUDIO_SPECTRUM", feeder);
  int found = 0;
  for (int f = 0; f < 60; ++f) {
    KOLV::RCPtr<kolvtest::SourceVector> out = node.getOutput(0, f);
    if (f % 7 == 3) {
      EXPECT_TRUE(out->empty()) << f;
    }
    ASSERT_LE(out->size(), 2u);
    for (size_t i = 0; i < out->size(); ++i) {
      KOLV::RCPtr<KOLV::Source> s = (*out)[i];
      EXPECT_EQ(s->id, static_cast<int>(i));
      EXPECT_EQ(s->x[2], 0.0f);
      EXPECT_NEAR(s->x[0] * s->x[0] + s->x[1] * s->x[1], 1.0f, 1e-6f);
      EXPECT_TRUE(std::isfinite(s->power));
      ++found;
    }
  }
  EXPECT_GT(found, 20);
}
