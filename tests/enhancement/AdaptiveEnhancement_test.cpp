// The adaptive noise tracker, enhancer and voice activity detector: noise
// that steps and ramps, recordings that start with speech or with digital
// silence, pauses the detector holds through, damaged input; and the
// first-toolbox nodes' warning when their learning stretch is not noise alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "AdaptiveSpeechEnhancement.h"
#include "AdaptiveSpeechEnhancer.h"
#include "AdaptiveVoiceActivityDetection.h"
#include "EnhancementSignals.h"
#include "NoiseTracker.h"
#include "SpeechEnhancement.h"
#include "SpeechEnhancer.h"
#include "TestNetwork.h"
#include "VoiceActivityDetection.h"

using namespace kolvtest;
using namespace enhancementtest;
using KOLV::RCPtr;

namespace {

constexpr int kFramesPerSecond = kRate / kAdvance;
constexpr double kPi = 3.141592653589793;
constexpr double kFundamentalHz = 250.0;  // harmonics fall on bins 8, 16, ... of 512 points
constexpr int kHarmonics = 5;
constexpr int kNoiseBandLow = 60;  // bins above the harmonics: noise alone
constexpr int kNoiseBandHigh = 200;

double db(double ratio) { return 10.0 * std::log10(ratio); }

// When a talker speaks: from `from` to `to` s, syllables of `syllable` s
// apart by pauses of `pause` s.
struct Talk {
  double from, to;
  double syllable = 0.25, pause = 0.15;
  bool speaking(double t) const {
    if (t < from || t >= to) return false;
    return std::fmod(t - from, syllable + pause) < syllable;
  }
};

// Two channels of Gaussian noise (rms `noiseRms` times `noiseGain(t)`), zero
// before `silentUntil` s, with the talker's harmonic syllables added.
template <class Gain>
std::vector<std::vector<float>> recording(double seconds, float noiseRms, Gain noiseGain,
                                          const Talk &talk, float amplitude,
                                          double silentUntil = 0.0, unsigned seed = 3) {
  std::mt19937 gen(seed);
  std::normal_distribution<float> noise(0.0f, noiseRms);
  const int samples = static_cast<int>(seconds * kRate);
  std::vector<std::vector<float>> channels(2, std::vector<float>(samples));
  for (int n = 0; n < samples; ++n) {
    const double t = static_cast<double>(n) / kRate;
    double voice = 0.0;
    if (talk.speaking(t))
      for (int h = 1; h <= kHarmonics; ++h)
        voice += amplitude * std::sin(2 * kPi * kFundamentalHz * h * t);
    for (auto &channel : channels) {
      const float n0 = noise(gen) * static_cast<float>(noiseGain(t));
      channel[n] = t < silentUntil ? 0.0f : static_cast<float>(voice) + n0;
    }
  }
  return channels;
}

auto steady = [](double) { return 1.0; };

double bandPower(const ComplexMatrix &m, int lo, int hi) {
  double sum = 0.0;
  for (int r = 0; r < m.nrows(); ++r)
    for (int k = lo; k < hi; ++k) sum += std::norm(std::complex<double>(m(r, k)));
  return sum;
}

double harmonicPower(const ComplexMatrix &m) {
  double sum = 0.0;
  for (int h = 1; h <= kHarmonics; ++h) sum += bandPower(m, 8 * h, 8 * h + 1);
  return sum;
}

// Output over input, in dB, of the noise band or the harmonics, over frames
// from .. to - 1 whose window lies inside the talker's syllables (or, for
// the noise band, any frame).
struct Levels {
  double noiseDb = 0.0;
  double harmonicsDb = 0.0;
};

Levels levels(const std::vector<ObjectRef> &in, const std::vector<RCPtr<ComplexMatrix>> &out,
              int from, int to, const Talk &talk) {
  double noiseIn = 0, noiseOut = 0, toneIn = 0, toneOut = 0;
  for (int t = from; t < to; ++t) {
    const ComplexMatrix &x = dynamic_cast<const ComplexMatrix &>(*in[t]);
    noiseIn += bandPower(x, kNoiseBandLow, kNoiseBandHigh);
    noiseOut += bandPower(*out[t], kNoiseBandLow, kNoiseBandHigh);
    const double start = static_cast<double>(t * kAdvance) / kRate;
    if (talk.speaking(start) && talk.speaking(start + static_cast<double>(kLength - 1) / kRate)) {
      toneIn += harmonicPower(x);
      toneOut += harmonicPower(*out[t]);
    }
  }
  return {db(noiseOut / noiseIn), toneIn > 0 ? db(toneOut / toneIn) : 0.0};
}

std::vector<RCPtr<ComplexMatrix>> enhance(const std::vector<ObjectRef> &frames,
                                          const KOLV::ParameterSet &p = KOLV::ParameterSet()) {
  AdaptiveSpeechEnhancement node("adaptive", p);
  FrameFeeder feeder(frames);
  wire(node, "NOISY_SPEECH_SPECTRUM", feeder);
  std::vector<RCPtr<ComplexMatrix>> out;
  for (int f = 0; f < static_cast<int>(frames.size()); ++f) out.push_back(node.getOutput(0, f));
  return out;
}

std::vector<bool> detect(const std::vector<ObjectRef> &frames) {
  AdaptiveVoiceActivityDetection node("vad", KOLV::ParameterSet());
  FrameFeeder feeder(frames);
  wire(node, "AUDIO_SPECTRUM", feeder);
  std::vector<bool> speech;
  for (int f = 0; f < static_cast<int>(frames.size()); ++f) {
    RCPtr<SourceVector> d = node.getOutput(0, f);
    speech.push_back(!d->vempty());
  }
  return speech;
}

bool allFinite(const ComplexMatrix &m) {
  for (int i = 0; i < m.msize(); ++i)
    if (!std::isfinite(m.data()[i].real()) || !std::isfinite(m.data()[i].imag())) return false;
  return true;
}

// Median over bins of the tracked noise over the true noise power, in dB.
double trackingErrorDb(const enhancement::NoiseTracker &tracker, double truePower) {
  const enhancement::BinStatistics s = tracker.statistics();
  std::vector<double> errors;
  for (int k = 0; k < tracker.bins(); ++k) errors.push_back(db(s.noisePower[k] / truePower));
  std::nth_element(errors.begin(), errors.begin() + errors.size() / 2, errors.end());
  return errors[errors.size() / 2];
}

}  // namespace

// The periodogram of complex Gaussian noise is exponentially distributed
// about the noise power; the tracker must find that power again soon after
// it steps or while it ramps or swings, and do so in the same time whatever
// the frame shift.
TEST(NoiseTracker, FollowsStepsRampsAndSwings) {
  constexpr int kBins = 257;
  struct Case {
    const char *name;
    double (*power)(double seconds);  // true noise power
    double checkFrom;                 // s
    double maxErrorDb;                // median over bins, worst frame from checkFrom on
    double frameShift = 0.01;         // s
  };
  const Case cases[] = {
      {"6 dB step at 3 s, from 0.5 s after it", [](double t) { return t < 3.0 ? 1.0 : 4.0; }, 3.5, 2.5},
      {"the same at 20 ms frames", [](double t) { return t < 3.0 ? 1.0 : 4.0; }, 3.5, 2.5, 0.02},
      {"12 dB step at 3 s, from 2 s after it", [](double t) { return t < 3.0 ? 1.0 : 16.0; }, 5.0, 2.0},
      {"6 dB fall at 3 s, from 0.5 s after it", [](double t) { return t < 3.0 ? 4.0 : 1.0; }, 3.5, 2.0},
      {"10 dB ramp over 5 s from 2 s",
       [](double t) { return std::pow(10.0, std::clamp(t - 2.0, 0.0, 5.0) / 5.0); }, 2.5, 3.0},
      // Up to 15 dB/s: the estimate lags by a few decibels where the swing is steepest.
      {"6 dB either way at 0.4 Hz",
       [](double t) { return std::pow(10.0, 0.6 * std::sin(2 * kPi * 0.4 * t)); }, 1.0, 5.0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::mt19937 gen(5);
    std::exponential_distribution<float> periodogram(1.0f);
    enhancement::NoiseTracker tracker(enhancement::NoiseTrackerSettings().forFrameShift(c.frameShift));
    tracker.start(kBins);
    std::vector<float> power(kBins);
    double worst = 0.0;
    for (double t = 0.0; t < 8.0; t += c.frameShift) {
      const double truth = c.power(t);
      for (float &p : power) p = static_cast<float>(truth) * periodogram(gen);
      tracker.update(power.data());
      if (t >= c.checkFrom) worst = std::max(worst, std::fabs(trackingErrorDb(tracker, truth)));
    }
    EXPECT_LT(worst, c.maxErrorDb);
  }
}

// A recording that starts with speech starts the noise high; it falls to the
// noise within half a second of the first pause, in every bin, also where
// only some bins carried the speech (harmonics). Digital silence before the
// sound leaves nothing behind.
TEST(NoiseTracker, SettlesAfterSpeechOrSilenceAtTheStart) {
  constexpr int kBins = 257;
  struct Case {
    const char *name;
    double openingLevel;  // power of the opening's loud bins; the noise power is 1
    int stride;           // every stride-th bin is loud in the opening, the others noise
    double until;         // s the opening lasts
  };
  const Case cases[] = {
      {"speech 20 dB above the noise in every bin", 100.0, 1, 0.5},
      {"harmonics 20 dB above the noise in every 8th bin", 100.0, 8, 0.5},
      {"digital silence", 0.0, 1, 1.0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::mt19937 gen(7);
    std::exponential_distribution<float> periodogram(1.0f);
    enhancement::NoiseTracker tracker;
    tracker.start(kBins);
    std::vector<float> power(kBins);
    double worst = 0.0;
    for (int f = 0; f < 300; ++f) {
      const double t = f * 0.01;
      for (int k = 0; k < kBins; ++k) {
        const double level = t < c.until && k % c.stride == 0 ? c.openingLevel : 1.0;
        power[k] = static_cast<float>(level) * periodogram(gen);
      }
      tracker.update(power.data());
      if (t < c.until + 0.5) continue;
      worst = std::max(worst, std::fabs(trackingErrorDb(tracker, 1.0)));
      // The loud bins alone, by their median too.
      const enhancement::BinStatistics s = tracker.statistics();
      std::vector<double> loud;
      for (int k = 0; k < kBins; k += c.stride) loud.push_back(db(s.noisePower[k]));
      std::nth_element(loud.begin(), loud.begin() + loud.size() / 2, loud.end());
      worst = std::max(worst, std::fabs(loud[loud.size() / 2]));
    }
    EXPECT_LT(worst, 2.0);
  }
}

// No noise-only stretch: the talker speaks from the first frame. From the
// first second on the noise is suppressed and the syllables keep their level.
TEST(AdaptiveSpeechEnhancement, RecordingThatStartsWithSpeech) {
  const Talk talk{0.0, 6.0};
  const auto frames = spectra(recording(6.0, 300.0f, steady, talk, 3000.0f));
  const auto out = enhance(frames);
  const Levels after = levels(frames, out, kFramesPerSecond, static_cast<int>(out.size()), talk);
  EXPECT_LT(after.noiseDb, -12.0);
  EXPECT_NEAR(after.harmonicsDb, 0.0, 1.0);
}

// Digital silence, then noisy speech: the silence stays silent, and within a
// second of the sound the noise is suppressed and the speech kept.
TEST(AdaptiveSpeechEnhancement, DigitalSilenceThenSpeech) {
  const Talk talk{1.5, 7.0};
  const auto frames = spectra(recording(7.0, 300.0f, steady, talk, 3000.0f, 1.5));
  const auto out = enhance(frames);
  for (int t = 0; t < kFramesPerSecond; ++t) EXPECT_EQ(bandPower(*out[t], 0, kCols), 0.0) << t;
  const int settled = static_cast<int>(2.5 * kFramesPerSecond);
  const Levels after = levels(frames, out, settled, static_cast<int>(out.size()), talk);
  EXPECT_LT(after.noiseDb, -12.0);
  EXPECT_NEAR(after.harmonicsDb, 0.0, 1.0);
}

// The noise grows by 6 dB mid-file: two seconds later it is suppressed as
// much as before.
TEST(AdaptiveSpeechEnhancement, SuppressesAgainAfterTheNoiseGrows) {
  const Talk talk{0.5, 10.0};
  auto louder = [](double t) { return t < 5.0 ? 1.0 : 2.0; };
  const auto frames = spectra(recording(10.0, 300.0f, louder, talk, 3000.0f));
  const auto out = enhance(frames);
  const Levels before = levels(frames, out, 2 * kFramesPerSecond, 5 * kFramesPerSecond, talk);
  const Levels after =
      levels(frames, out, 7 * kFramesPerSecond, static_cast<int>(out.size()), talk);
  EXPECT_LT(after.noiseDb, before.noiseDb + 2.0);
  EXPECT_NEAR(after.harmonicsDb, 0.0, 1.0);
}

TEST(AdaptiveSpeechEnhancement, SharedGainTreatsBothEarsAlike) {
  const Talk talk{0.0, 3.0};
  const auto frames = spectra(recording(3.0, 300.0f, steady, talk, 3000.0f));
  const auto out = enhance(frames);
  for (size_t t = 0; t < out.size(); ++t) {
    const ComplexMatrix &x = dynamic_cast<const ComplexMatrix &>(*frames[t]);
    for (int k = 1; k < kCols; k += 17) {
      SCOPED_TRACE("frame " + std::to_string(t) + ", bin " + std::to_string(k));
      const float left = std::abs((*out[t])(0, k)) / std::abs(x(0, k));
      const float right = std::abs((*out[t])(1, k)) / std::abs(x(1, k));
      EXPECT_NEAR(left, right, 1e-5f * std::max(left, 1.0f));
    }
  }
}

// Random spectra mixed with zeros, huge values, subnormals, NaN and
// infinities for a second: nothing that is not a finite number comes out,
// and a second after normal input returns it is processed normally.
TEST(AdaptiveNodes, DamagedInputIsContained) {
  const float specials[] = {0.0f, 1e30f, -1e30f, std::numeric_limits<float>::max(),
                            std::numeric_limits<float>::denorm_min(), 1e-40f,
                            std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity()};
  std::mt19937 gen(9);
  std::uniform_real_distribution<float> value(-1e4f, 1e4f);
  std::uniform_int_distribution<int> pick(0, 2 * static_cast<int>(std::size(specials)));
  std::vector<ObjectRef> frames;
  for (int f = 0; f < kFramesPerSecond; ++f) {
    auto m = complexMatrix(2, kCols);
    for (int i = 0; i < m->msize(); ++i) {
      auto part = [&] {
        const int j = pick(gen);
        return j < static_cast<int>(std::size(specials)) ? specials[j] : value(gen);
      };
      m->data()[i] = {part(), part()};
    }
    frames.push_back(m);
  }
  const Talk talk{1.0, 4.0};
  const auto normal = spectra(recording(5.0, 300.0f, steady, talk, 3000.0f));
  frames.insert(frames.end(), normal.begin() + kFramesPerSecond, normal.end());

  const auto out = enhance(frames);
  for (size_t t = 0; t < out.size(); ++t) ASSERT_TRUE(allFinite(*out[t])) << "frame " << t;
  const Levels after = levels(frames, out, 2 * kFramesPerSecond, static_cast<int>(out.size()), talk);
  EXPECT_LT(after.noiseDb, -12.0);
  EXPECT_NEAR(after.harmonicsDb, 0.0, 1.0);

  // The talker, pauses held, until 4 s; noise alone from 4.5 s.
  const auto speech = detect(frames);
  int right = 0, scored = 0;
  for (int t = 2 * kFramesPerSecond; t < static_cast<int>(speech.size()); ++t) {
    const double time = static_cast<double>(t * kAdvance + kLength / 2) / kRate;
    if (time > talk.to && time < talk.to + 0.5) continue;
    right += speech[t] == (time < talk.to);
    ++scored;
  }
  EXPECT_GT(static_cast<double>(right) / scored, 0.9);
}

// Syllables 100 ms apart: the decision holds through every pause, and lets
// go within the hangover (and the frames the last syllable spans) once the
// talker stops; the noise after that is never speech.
TEST(AdaptiveVoiceActivityDetection, HoldsThroughShortPausesAndLetsGo) {
  Talk talk{1.0, 4.0};
  talk.pause = 0.1;
  const auto frames = spectra(recording(7.0, 300.0f, steady, talk, 1500.0f));
  const auto speech = detect(frames);
  const int firstSyllableHeard = static_cast<int>(1.05 * kFramesPerSecond);
  const int lastSyllableEnds = static_cast<int>(3.9 * kFramesPerSecond);
  for (int t = firstSyllableHeard; t < lastSyllableEnds; ++t) EXPECT_TRUE(speech[t]) << t;
  const int letGo = static_cast<int>(4.0 * kFramesPerSecond) + 15 + kLength / kAdvance + 2;
  for (int t = letGo; t < static_cast<int>(speech.size()); ++t) EXPECT_FALSE(speech[t]) << t;
}

TEST(AdaptiveVoiceActivityDetection, SameDecisionsOnASecondRun) {
  const Talk talk{0.0, 5.0};
  const auto frames = spectra(recording(5.0, 300.0f, steady, talk, 800.0f));
  const auto first = detect(frames);
  EXPECT_EQ(detect(frames), first);
  EXPECT_GT(std::count(first.begin(), first.end(), true), 0);
}

TEST(AdaptiveNodes, RefuseWhatTheyCannotUse) {
  struct Case {
    const char *name;
    KOLV::ParameterSet params;
    int cols;
    const char *expected;
  };
  const Case cases[] = {
      {"gain floor above 0 dB", makeParams({{"GAIN_FLOOR", floatValue(3.0f)}}), kCols,
       "GAIN_FLOOR"},
      {"regeneration without a power of two",
       makeParams({{"HARMONIC_REGENERATION", stringValue("USE")}}), 101, "power of two"},
      {"unknown sharing", makeParams({{"SHARED_GAIN", stringValue("BOTH")}}), kCols,
       "SHARED_GAIN"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::string text = "no error";
    try {
      enhance({complexMatrix(2, c.cols)}, c.params);
    } catch (KOLV::BaseException *e) {
      text = e->text();
      delete e;
    }
    EXPECT_NE(text.find("AdaptiveSpeechEnhancement node 'adaptive'"), std::string::npos) << text;
    EXPECT_NE(text.find(c.expected), std::string::npos) << text;
  }
}

// The first toolbox's nodes learn their noise once; a learning stretch that holds
// a rising level or digital silence is reported once, and the output stays
// what the kernel gives.
TEST(FirstToolboxNodes, WarnOnceWhenTheLearningStretchIsNotNoiseAlone) {
  struct Case {
    const char *name;
    std::vector<std::vector<float>> audio;
    const char *enhancementWarning;  // nullptr: none
    const char *detectionWarning;
  };
  const Case cases[] = {
      {"speech from the start", recording(2.5, 300.0f, steady, Talk{0.3, 2.5}, 3000.0f),
       "hold more than noise", "the level rises"},
      {"digital silence", recording(2.5, 300.0f, steady, Talk{1.5, 2.5}, 3000.0f, 1.5),
       "digital silence", "constant power"},
      {"noise alone", recording(2.5, 300.0f, steady, Talk{1.5, 2.5}, 3000.0f), nullptr, nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const auto frames = spectra(c.audio);
    const auto params = makeParams({{"NOISE_REDUCTION_METHOD", stringValue("MINIMUM_MEAN_SQUARE_ERROR")},
                                    {"HARMONIC_REGENERATION", stringValue("USE")},
                                    {"NOISE_PERIOD", floatValue(1.0f)},
                                    {"ADVANCE", intValue(kAdvance)},
                                    {"SAMPLING_RATE", intValue(kRate)}});
    SpeechEnhancement node("first-toolbox", params);
    FrameFeeder feeder(frames);
    wire(node, "NOISY_SPEECH_SPECTRUM", feeder);
    enhancement::SpeechEnhancer kernel(enhancement::GainRule::MinimumMeanSquareError, true,
                                       node.learningFrames());
    kernel.start(2, kCols - 1);
    testing::internal::CaptureStderr();
    for (int f = 0; f < static_cast<int>(frames.size()); ++f) {
      RCPtr<ComplexMatrix> out = node.getOutput(0, f);
      auto expected = complexMatrix(2, kCols);
      kernel.process(f, dynamic_cast<const ComplexMatrix &>(*frames[f]).data(), expected->data());
      ASSERT_TRUE(std::equal(out->data(), out->data() + out->msize(), expected->data())) << f;
    }
    const std::string enhancementText = testing::internal::GetCapturedStderr();

    VoiceActivityDetection vad("firstToolboxVad",
                               makeParams({{"ADVANCE", intValue(kAdvance)},
                                           {"SAMPLING_RATE", intValue(kRate)},
                                           {"VAD_NOISE_DURATION", floatValue(1.0f)},
                                           {"VAD_THRESHOLD", floatValue(2.0f)}}));
    FrameFeeder vadFeeder(frames);
    wire(vad, "AUDIO_SPECTRUM", vadFeeder);
    testing::internal::CaptureStderr();
    for (int f = 0; f < static_cast<int>(frames.size()); ++f) vad.getOutput(0, f);
    const std::string detectionText = testing::internal::GetCapturedStderr();

    for (const auto &[text, expected, name] :
         {std::tuple{enhancementText, c.enhancementWarning, "SpeechEnhancement node 'first-toolbox'"},
          std::tuple{detectionText, c.detectionWarning, "VoiceActivityDetection node 'firstToolboxVad'"}}) {
      if (!expected) {
        EXPECT_EQ(text, "");
        continue;
      }
      EXPECT_NE(text.find(name), std::string::npos) << text;
      EXPECT_NE(text.find(expected), std::string::npos) << text;
      EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    }
  }
}

// The gain under speech presence against the closed form in long double,
// from strong bins to weak ones (where the plain form cancels in float), and
// its limits (a silent frame).
TEST(SuperGaussianGain, FollowsTheClosedFormFromWeakToStrongBins) {
  struct Case {
    float prior, posterior;
  };
  const Case cases[] = {{10.0f, 11.0f},   {1.0f, 2.0f},      {0.1f, 1.0f}, {0.01f, 100.0f},
                        {0.0032f, 0.5f}, {0.0032f, 0.01f}, {3.0f, 0.2f}, {1.0e4f, 1.0e9f}};
  for (const Case &c : cases) {
    SCOPED_TRACE("xi " + std::to_string(c.prior) + ", gamma " + std::to_string(c.posterior));
    const long double u =
        0.5L - 1.74L / (4.0L * std::sqrt(static_cast<long double>(c.prior) * c.posterior));
    const long double expected = std::min(1.0L, u + std::sqrt(u * u + 0.126L / (2.0L * c.posterior)));
    float gain = 0.0f;
    enhancement::superGaussianGainOverBins(1, &c.prior, &c.posterior, &gain);
    EXPECT_NEAR(gain, static_cast<double>(expected), 1e-5 * static_cast<double>(expected));
  }
  const float priors[] = {0.0f, 1.0f};
  const float silent[] = {0.0f, 0.0f};
  float gains[2];
  enhancement::superGaussianGainOverBins(2, priors, silent, gains);
  for (float g : gains) {
    EXPECT_TRUE(std::isfinite(g));
    EXPECT_GT(g, 0.0f);
    EXPECT_LE(g, 1.0f);
  }
}

TEST(SuperGaussianGain, GrowsWithThePriorSnr) {
  for (float posterior : {0.5f, 2.0f, 20.0f}) {
    float previous = 0.0f;
    for (float xiDb = -25.0f; xiDb <= 30.0f; xiDb += 1.0f) {
      const float prior = std::pow(10.0f, xiDb / 10.0f);
      float gain = 0.0f;
      enhancement::superGaussianGainOverBins(1, &prior, &posterior, &gain);
      ASSERT_GE(gain, previous) << "gamma " << posterior << ", xi " << xiDb << " dB";
      previous = gain;
    }
  }
}
