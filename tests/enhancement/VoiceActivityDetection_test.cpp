#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <iostream>
#include <limits>
#include <random>
#include <sstream>

#include "EnhancementSignals.h"
#include "TestNetwork.h"
#include "VoiceActivityDetection.h"
#include "VoiceActivityDetector.h"

using namespace kolvtest;
using enhancement::SpeechBand;
using enhancement::VoiceActivityDetector;
using KOLV::RCPtr;

namespace {

// Noise durations are given in frames: ADVANCE = SAMPLING_RATE makes 1 s one frame.
KOLV::ParameterSet vadParams(float noiseFrames, float threshold, int rate = 16000) {
  return makeParams({{"ADVANCE", intValue(rate)},
                     {"SAMPLING_RATE", intValue(rate)},
                     {"VAD_NOISE_DURATION", floatValue(noiseFrames)},
                     {"VAD_THRESHOLD", floatValue(threshold)}});
}

// A two-channel spectrum whose band power p(k) is `power` in every bin.
RCPtr<ComplexMatrix> flatSpectrum(int cols, float power) {
  auto m = complexMatrix(2, cols);
  for (int r = 0; r < 2; ++r)
    for (int k = 0; k < cols; ++k) (*m)(r, k) = {std::sqrt(power), 0.0f};
  return m;
}

// Learning frames alternating between band powers 1 and 3: mean 2,
// deviation 1 in every bin.
std::vector<ObjectRef> alternatingNoise(int frames, int cols) {
  std::vector<ObjectRef> out;
  for (int f = 0; f < frames; ++f) out.push_back(flatSpectrum(cols, f % 2 ? 3.0f : 1.0f));
  return out;
}

std::vector<RCPtr<SourceVector>> runVad(const KOLV::ParameterSet &p,
                                        const std::vector<ObjectRef> &frames) {
  VoiceActivityDetection node("vad", p);
  FrameFeeder feeder(frames);
  wire(node, "AUDIO_SPECTRUM", feeder);
  std::vector<RCPtr<SourceVector>> out;
  for (int f = 0; f < static_cast<int>(frames.size()); ++f) out.push_back(node.getOutput(0, f));
  return out;
}

std::vector<bool> decisions(const std::vector<RCPtr<SourceVector>> &out) {
  std::vector<bool> speech;
  for (const auto &v : out) speech.push_back(!v->vempty());
  return speech;
}

std::string failure(const KOLV::ParameterSet &p, const std::vector<ObjectRef> &frames) {
  try {
    runVad(p, frames);
  } catch (KOLV::BaseException *e) {
    std::string text = e->text();
    delete e;
    return text;
  }
  return "no error";
}

}  // namespace

TEST(SpeechBand, TelephoneBandInWholeHzBins) {
  struct Case {
    int rate, cols, spacing, low, high;
  } cases[] = {{16000, 257, 31, 9, 109}, {8000, 257, 15, 20, 226}, {16000, 129, 62, 4, 54},
               {48000, 1025, 23, 13, 147}};
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.cols));
    SpeechBand band = SpeechBand::of(c.rate, c.cols);
    EXPECT_EQ(band.binSpacing, c.spacing);
    EXPECT_EQ(band.lowBin, c.low);
    EXPECT_EQ(band.highBin, c.high);
  }
}

TEST(VoiceActivityDetection, LearningFramesAreSilentAndTheStatisticsFrameComparesZero) {
  // Loud input everywhere: only the threshold decides the statistics frame.
  std::vector<ObjectRef> frames;
  for (int f = 0; f < 5; ++f) frames.push_back(flatSpectrum(257, 1e6f * (f + 1)));
  EXPECT_EQ(decisions(runVad(vadParams(3.0f, 0.5f), frames)),
            (std::vector<bool>{false, false, false, false, true}));
  EXPECT_EQ(decisions(runVad(vadParams(3.0f, -0.5f), frames)),
            (std::vector<bool>{false, false, false, true, true}));
  // Strictly above: a threshold of 0 is not exceeded by Lambda = 0.
  EXPECT_FALSE(decisions(runVad(vadParams(3.0f, 0.0f), frames))[3]);
}

TEST(VoiceActivityDetection, StatisticOfDetectionFrames) {
  const int cols = 257;
  SpeechBand band = SpeechBand::of(16000, cols);
  VoiceActivityDetector detector(4, 0.0f);
  detector.start(cols - 1);
  std::vector<ObjectRef> noise = alternatingNoise(4, cols);
  for (int f = 0; f < 4; ++f) {
    RCPtr<ComplexMatrix> m = noise[f];
    EXPECT_FALSE(detector.decide(f, band, m->row(0), m->row(1)));
  }
  auto unused = flatSpectrum(cols, 1e9f);
  detector.decide(4, band, unused->row(0), unused->row(1));
  EXPECT_EQ(detector.noiseMean()[band.lowBin], 2.0f);
  EXPECT_EQ(detector.noiseDeviation()[band.lowBin], 1.0f);
  EXPECT_EQ(detector.noiseDeviation()[band.lowBin - 1], 0.0f);  // outside the band
  EXPECT_EQ(detector.zeroDeviationBins(band), 0);

  // Power equal to the deviation: every term is 0.
  auto equal = flatSpectrum(cols, 1.0f);
  EXPECT_EQ(detector.likelihood(band, equal->row(0), equal->row(1)), 0.0f);
  // Power e times the deviation: e - 1 - 1 per bin.
  auto higher = flatSpectrum(cols, std::exp(1.0f));
  EXPECT_NEAR(detector.likelihood(band, higher->row(0), higher->row(1)), std::exp(1.0) - 2.0,
              1e-5);
  // One band bin without power: ln 0 = -inf, the statistic is +inf.
  auto hole = flatSpectrum(cols, 1.0f);
  (*hole)(0, band.lowBin + 3) = (*hole)(1, band.lowBin + 3) = {0.0f, 0.0f};
  EXPECT_EQ(detector.likelihood(band, hole->row(0), hole->row(1)),
            std::numeric_limits<float>::infinity());
  EXPECT_TRUE(detector.decide(6, band, hole->row(0), hole->row(1)));
  // Bins outside the band do not count.
  auto outside = flatSpectrum(cols, 1.0f);
  (*outside)(0, band.highBin) = {1e4f, 0.0f};
  EXPECT_EQ(detector.likelihood(band, outside->row(0), outside->row(1)), 0.0f);
}

TEST(VoiceActivityDetection, ConstantNoiseNeverGivesSpeechAndWarns) {
  std::vector<ObjectRef> frames;
  for (int f = 0; f < 3; ++f) frames.push_back(flatSpectrum(257, 5.0f));
  for (int f = 0; f < 3; ++f) frames.push_back(flatSpectrum(257, 1e6f));
  frames.push_back(flatSpectrum(257, 0.0f));
  testing::internal::CaptureStderr();
  std::vector<bool> speech = decisions(runVad(vadParams(3.0f, 0.5f), frames));
  std::string warning = testing::internal::GetCapturedStderr();
  EXPECT_EQ(speech, std::vector<bool>(7, false));
  EXPECT_NE(warning.find("'vad'"), std::string::npos) << warning;
  EXPECT_NE(warning.find("100 of 100 band bins"), std::string::npos) << warning;
}

TEST(VoiceActivityDetection, SingleLearningFrameWarnsWhenBuilt) {
  for (float seconds : {0.0f, 1.0f}) {
    testing::internal::CaptureStderr();
    VoiceActivityDetection node("vad1", vadParams(seconds, 0.5f));
    std::string warning = testing::internal::GetCapturedStderr();
    EXPECT_EQ(node.learningFrames(), 1);
    EXPECT_NE(warning.find("'vad1'"), std::string::npos) << warning;
    EXPECT_NE(warning.find("VAD_NOISE_DURATION"), std::string::npos) << warning;
  }
  testing::internal::CaptureStderr();
  VoiceActivityDetection quiet("vad2", vadParams(4.0f, 0.5f));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(VoiceActivityDetection, SpeechFrameCarriesTheMarkerSource) {
  std::vector<ObjectRef> frames = alternatingNoise(2, 257);
  frames.push_back(flatSpectrum(257, 1.0f));
  frames.push_back(flatSpectrum(257, 50.0f));
  std::vector<RCPtr<SourceVector>> out = runVad(vadParams(2.0f, 2.0f), frames);
  ASSERT_EQ(out[3]->vsize(), 1);
  RCPtr<KOLV::Source> source = (*out[3])[0];
  EXPECT_EQ(source->x[0], 1.0f);
  EXPECT_EQ(source->x[1], 0.0f);
  EXPECT_EQ(source->x[2], 0.0f);
  EXPECT_EQ(source->power, 1.0f);
  EXPECT_EQ(source->id, 777);
  EXPECT_EQ(source->spare, 0);
}

TEST(VoiceActivityDetection, RefusesInputsOutsideItsBand) {
  struct Case {
    const char *name;
    int rate, rows, cols;
    std::vector<const char *> parts;
  } cases[] = {
      {"one row", 16000, 1, 257, {"'vad'", "frame 0", "1 x 257", "two rows"}},
      {"band past Nyquist", 4000, 2, 257, {"'vad'", "frame 0", "2 x 257", "4000", "3400"}},
      {"bins below 1 Hz", 16000, 2, 9000, {"'vad'", "2 x 9000", "16000"}},
      {"one column", 16000, 2, 1, {"'vad'", "2 x 1"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::string text = failure(vadParams(2.0f, 1.0f, c.rate), {complexMatrix(c.rows, c.cols)});
    for (const char *part : c.parts)
      EXPECT_NE(text.find(part), std::string::npos) << part << " in " << text;
  }
  std::vector<ObjectRef> frames = alternatingNoise(3, 257);
  frames.push_back(complexMatrix(2, 129));
  std::string text = failure(vadParams(2.0f, 1.0f), frames);
  for (const char *part : {"'vad'", "frame 3", "2 x 129", "257"})
    EXPECT_NE(text.find(part), std::string::npos) << part << " in " << text;
}

TEST(VoiceActivityDetection, FindsTheToneInNoise) {
  using namespace enhancementtest;
  NoisyRecording rec = noisyTone(2.2, 1.3, 300.0f, 3000.0f);
  std::vector<ObjectRef> frames = spectra(rec.channels);
  std::vector<bool> speech =
      decisions(runVad(makeParams({{"ADVANCE", intValue(kAdvance)},
                                   {"SAMPLING_RATE", intValue(kRate)},
                                   {"VAD_NOISE_DURATION", floatValue(1.0f)},
                                   {"VAD_THRESHOLD", floatValue(2.0f)}}),
                       frames));
  int falseAlarms = 0, hits = 0, speechFrames = 0;
  for (int f = 0; f < static_cast<int>(speech.size()); ++f) {
    if (f < rec.speechStartFrame) {
      falseAlarms += speech[f];
    } else if (f >= rec.speechStartFrame + 3) {
      hits += speech[f];
      ++speechFrames;
    }
  }
  EXPECT_EQ(falseAlarms, 0);
  EXPECT_EQ(hits, speechFrames);
}

// Learning that leaves out a damaged frame gives exactly the statistics of
// learning without it.
TEST(VoiceActivityDetector, LearningLeavesOutFramesThatAreNotFinite) {
  constexpr int kCols = 257;
  const SpeechBand band = SpeechBand::of(16000, kCols);
  const std::vector<ObjectRef> noise = alternatingNoise(3, kCols);
  std::mt19937 gen(4);
  std::uniform_real_distribution<float> u(0.5f, 2.0f);
  for (const ObjectRef &frame : noise) {
    RCPtr<ComplexMatrix> m = frame;
    for (int i = 0; i < m->msize(); ++i) m->data()[i] *= u(gen);
  }
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (std::complex<float> bad : {std::complex<float>(nan, 0.0f), {1e30f, 0.0f}}) {
    RCPtr<ComplexMatrix> damaged = flatSpectrum(kCols, 1.0f);
    (*damaged)(1, band.lowBin + 3) = bad;
    VoiceActivityDetector reference(3, 2.0f), detector(4, 2.0f);
    reference.start(kCols - 1);
    detector.start(kCols - 1);
    std::vector<RCPtr<ComplexMatrix>> withDamage = {noise[0], damaged, noise[1], noise[2]};
    for (int f = 0; f < 3; ++f) {
      RCPtr<ComplexMatrix> m = noise[f];
      reference.decide(f, band, m->row(0), m->row(1));
    }
    for (int f = 0; f < 4; ++f) detector.decide(f, band, withDamage[f]->row(0), withDamage[f]->row(1));
    reference.decide(3, band, nullptr, nullptr);
    detector.decide(4, band, nullptr, nullptr);
    EXPECT_EQ(detector.noiseMean(), reference.noiseMean());
    EXPECT_EQ(detector.noiseDeviation(), reference.noiseDeviation());
    EXPECT_FALSE(detector.decide(5, band, damaged->row(0), damaged->row(1)));
  }
}

// On a recording with damaged frames the node still finds the tone; damaged
// detection frames are not speech, and each phase warns once.
TEST(VoiceActivityDetection, DamagedFramesSpoilOnlyThemselves) {
  using namespace enhancementtest;
  NoisyRecording rec = noisyTone(2.2, 1.3, 300.0f, 3000.0f);
  std::vector<ObjectRef> frames = spectra(rec.channels);
  const float inf = std::numeric_limits<float>::infinity();
  const int learning = 10, speechFrame = rec.speechStartFrame + 20;
  const int bin = 30;  // inside the telephone band
  for (int f : {learning, speechFrame, speechFrame + 5}) {
    RCPtr<ComplexMatrix> m(frames[f]->clone());
    (*m)(0, bin) = f == speechFrame + 5 ? std::complex<float>(3e19f, 3e19f) : std::complex<float>(inf, 0.0f);
    frames[f] = m;
  }
  std::ostringstream captured;
  std::streambuf *saved = std::cerr.rdbuf(captured.rdbuf());
  std::vector<bool> speech =
      decisions(runVad(makeParams({{"ADVANCE", intValue(kAdvance)},
                                   {"SAMPLING_RATE", intValue(kRate)},
                                   {"VAD_NOISE_DURATION", floatValue(1.0f)},
                                   {"VAD_THRESHOLD", floatValue(2.0f)}}),
                       frames));
  std::cerr.rdbuf(saved);
  for (int f = 0; f < static_cast<int>(speech.size()); ++f) {
    SCOPED_TRACE("frame " + std::to_string(f));
    if (f < rec.speechStartFrame || f == speechFrame || f == speechFrame + 5) {
      EXPECT_FALSE(speech[f]);
    } else if (f >= rec.speechStartFrame + 3) {
      EXPECT_TRUE(speech[f]);
    }
  }
  const std::string warnings = captured.str();
  EXPECT_NE(warnings.find("'vad', frame " + std::to_string(learning) + ": warning"),
            std::string::npos) << warnings;
  EXPECT_NE(warnings.find("'vad', frame " + std::to_string(speechFrame) + ": warning"),
            std::string::npos) << warnings;
  EXPECT_EQ(std::count(warnings.begin(), warnings.end(), '\n'), 2) << warnings;
}
