#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <iterator>
#include <limits>
#include <random>

#include "EnhancementSignals.h"
#include "GainRules.h"
#include "NoisePeriod.h"
#include "SpeechEnhancement.h"
#include "TestNetwork.h"

using namespace kolvtest;
using KOLV::RCPtr;

namespace {

const char *const kMethods[] = {"SPECTRAL_SUBTRACTION", "WIENER_FILTERING",
                                "TWO_STEP_WIENER_FILTERING", "MINIMUM_MEAN_SQUARE_ERROR"};

// With ADVANCE = SAMPLING_RATE = 1 the noise period is a number of frames.
KOLV::ParameterSet params(const std::string &method, const std::string &regeneration,
                          float noiseFrames) {
  return makeParams({{"NOISE_REDUCTION_METHOD", stringValue(method)},
                     {"HARMONIC_REGENERATION", stringValue(regeneration)},
                     {"NOISE_PERIOD", floatValue(noiseFrames)},
                     {"ADVANCE", intValue(1)},
                     {"SAMPLING_RATE", intValue(1)}});
}

std::vector<ObjectRef> randomFrames(int count, int rows, int cols, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> u(-10.0f, 10.0f);
  std::vector<ObjectRef> frames;
  for (int f = 0; f < count; ++f) {
    auto m = complexMatrix(rows, cols);
    for (int i = 0; i < rows * cols; ++i) m->data()[i] = {u(gen), u(gen)};
    frames.push_back(m);
  }
  return frames;
}

std::vector<RCPtr<ComplexMatrix>> run(const KOLV::ParameterSet &p,
                                      const std::vector<ObjectRef> &frames) {
  SpeechEnhancement node("enhancer", p);
  FrameFeeder feeder(frames);
  wire(node, "NOISY_SPEECH_SPECTRUM", feeder);
  std::vector<RCPtr<ComplexMatrix>> out;
  for (int f = 0; f < static_cast<int>(frames.size()); ++f) out.push_back(node.getOutput(0, f));
  return out;
}

// The text of the error that frame `frames.size() - 1` of the node raises.
std::string failure(const KOLV::ParameterSet &p, const std::vector<ObjectRef> &frames) {
  try {
    run(p, frames);
  } catch (KOLV::BaseException *e) {
    std::string text = e->text();
    delete e;
    return text;
  }
  return "no error";
}

bool allZero(const ComplexMatrix &m) {
  for (int i = 0; i < m.msize(); ++i)
    if (m.data()[i] != std::complex<float>(0.0f, 0.0f)) return false;
  return true;
}

double power(const ComplexMatrix &m, int fromBin, int toBin) {
  double sum = 0;
  for (int r = 0; r < m.nrows(); ++r)
    for (int k = fromBin; k < toBin; ++k) sum += std::norm(std::complex<double>(m(r, k)));
  return sum;
}

}  // namespace

TEST(SpeechEnhancement, NoisePeriodInFrames) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    float seconds;
    int advance, rate, frames;
  } cases[] = {{1.0f, 160, 16000, 100}, {0.0f, 160, 16000, 1},  {0.005f, 160, 16000, 1},
               {2.5f, 1, 1, 2},         {1.0f, 0, 16000, 1},    {-1.0f, 160, 16000, 1},
               {nan, 160, 16000, 1},    {1e9f, 1, 16000, 1},    {0.5f, 256, 8000, 15}};
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.seconds) + " s, " + std::to_string(c.advance));
    EXPECT_EQ(enhancement::noiseLearningFrames(c.seconds, c.advance, c.rate), c.frames);
  }
  SpeechEnhancement node("e", makeParams({{"NOISE_REDUCTION_METHOD", stringValue("X")},
                                          {"HARMONIC_REGENERATION", stringValue("")},
                                          {"NOISE_PERIOD", floatValue(1.0f)},
                                          {"ADVANCE", intValue(160)},
                                          {"SAMPLING_RATE", intValue(16000)}}));
  EXPECT_EQ(node.learningFrames(), 100);
}

TEST(SpeechEnhancement, ParameterOfAnotherTypeIsACastError) {
  KOLV::ParameterSet p = params("WIENER_FILTERING", "USE", 2.0f);
  p.add("NOISE_PERIOD", intValue(2));
  try {
    SpeechEnhancement node("e", p);
    ADD_FAILURE() << "an int NOISE_PERIOD was accepted";
  } catch (KOLV::CastException<float> *e) {
    delete e;
  }
}

TEST(SpeechEnhancement, LearnsInSilenceThenEnhancesLeavingNyquistZero) {
  const std::vector<ObjectRef> frames = randomFrames(6, 2, 17, 1);
  for (const char *method : kMethods) {
    for (const char *regeneration : {"USE", "NO"}) {
      SCOPED_TRACE(std::string(method) + " " + regeneration);
      std::vector<RCPtr<ComplexMatrix>> out = run(params(method, regeneration, 3.0f), frames);
      for (int f = 0; f < 6; ++f) {
        SCOPED_TRACE(f);
        EXPECT_EQ(out[f]->nrows(), 2);
        EXPECT_EQ(out[f]->ncols(), 17);
        EXPECT_EQ(allZero(*out[f]), f < 3);
        for (int r = 0; r < 2; ++r) {
          EXPECT_EQ((*out[f])(r, 16), std::complex<float>(0.0f, 0.0f));
          for (int k = 0; k < 17; ++k) EXPECT_TRUE(std::isfinite(std::abs((*out[f])(r, k))));
        }
      }
    }
  }
}

TEST(SpeechEnhancement, UnknownMethodSilencesEveryFrame) {
  for (const char *method : {"wiener_filtering", "MMSE", ""}) {
    for (const char *regeneration : {"USE", "use"}) {
      SCOPED_TRACE(std::string(method) + " " + regeneration);
      for (const auto &frame : run(params(method, regeneration, 2.0f), randomFrames(5, 2, 9, 3)))
        EXPECT_TRUE(allZero(*frame));
    }
  }
}

TEST(SpeechEnhancement, EnhancedBinsKeepTheNoisyPhase) {
  const std::vector<ObjectRef> frames = randomFrames(8, 2, 33, 4);
  for (const char *method : kMethods) {
    for (const char *regeneration : {"USE", "NO"}) {
      SCOPED_TRACE(std::string(method) + " " + regeneration);
      std::vector<RCPtr<ComplexMatrix>> out = run(params(method, regeneration, 2.0f), frames);
      int checked = 0;
      for (int f = 2; f < 8; ++f) {
        RCPtr<ComplexMatrix> in = frames[f];
        for (int r = 0; r < 2; ++r)
          for (int k = 0; k < 32; ++k) {
            std::complex<float> y = (*out[f])(r, k), x = (*in)(r, k);
            if (std::abs(y) < 1e-6f * std::abs(x)) continue;
            EXPECT_NEAR(std::arg(y / x), 0.0, 1e-5) << f << " " << r << " " << k;
            ++checked;
          }
      }
      EXPECT_GT(checked, 0);
    }
  }
}

TEST(SpeechEnhancement, RowsShareOneCleanPowerPerBin) {
  // Row 1 of the first enhanced frame reads the clean power that row 0 of
  // the same frame stored.
  auto noise = complexMatrix(2, 3);
  for (int r = 0; r < 2; ++r)
    for (int k = 0; k < 2; ++k) (*noise)(r, k) = {1.0f, 1.0f};  // noise power 2
  auto frame = complexMatrix(2, 3);
  (*frame)(0, 0) = {6.0f, 0.0f};
  (*frame)(1, 0) = {0.0f, 4.0f};
  (*frame)(0, 1) = {3.0f, 0.0f};
  (*frame)(1, 1) = {3.0f, 0.0f};
  std::vector<RCPtr<ComplexMatrix>> out =
      run(params("WIENER_FILTERING", "NO", 1.0f), {noise, frame});
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(k);
    float p0 = std::norm((*frame)(0, k)), p1 = std::norm((*frame)(1, k));
    enhancement::BinGain row0 = enhancement::wienerFiltering(p0, 2.0f, 0.0f);
    enhancement::BinGain row1 = enhancement::wienerFiltering(p1, 2.0f, row0.cleanPower);
    EXPECT_NEAR(std::abs((*out[1])(0, k)), row0.amplitude, 1e-6f);
    EXPECT_NEAR(std::abs((*out[1])(1, k)), row1.amplitude, 1e-6f);
    EXPECT_GT(std::abs(row1.amplitude - enhancement::wienerFiltering(p1, 2.0f, 0.0f).amplitude),
              1e-3f);
  }
}

TEST(SpeechEnhancement, BinWithoutLearntNoisePassesThroughUnchanged) {
  // Digital silence in bins 2 and 5 during the noise period.
  std::vector<ObjectRef> frames = randomFrames(7, 2, 17, 5);
  for (int f = 0; f < 3; ++f) {
    RCPtr<ComplexMatrix> m = frames[f];
    for (int r = 0; r < 2; ++r) (*m)(r, 2) = (*m)(r, 5) = {0.0f, 0.0f};
  }
  for (const char *method : kMethods) {
    for (const char *regeneration : {"USE", "NO"}) {
      SCOPED_TRACE(std::string(method) + " " + regeneration);
      std::vector<RCPtr<ComplexMatrix>> out = run(params(method, regeneration, 3.0f), frames);
      for (int f = 3; f < 7; ++f) {
        RCPtr<ComplexMatrix> in = frames[f];
        for (int r = 0; r < 2; ++r) {
          EXPECT_EQ((*out[f])(r, 2), (*in)(r, 2));
          EXPECT_EQ((*out[f])(r, 5), (*in)(r, 5));
          for (int k = 0; k < 17; ++k) EXPECT_TRUE(std::isfinite(std::abs((*out[f])(r, k))));
        }
      }
    }
  }
}

TEST(SpeechEnhancement, InputThatIsNotANumberComesOutSilent) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  std::vector<ObjectRef> frames = randomFrames(5, 2, 17, 8);
  RCPtr<ComplexMatrix> damaged = frames[3];
  (*damaged)(0, 4) = {nan, 1.0f};
  (*damaged)(1, 7) = {inf, 0.0f};
  for (const char *method : kMethods) {
    for (const char *regeneration : {"USE", "NO"}) {
      SCOPED_TRACE(std::string(method) + " " + regeneration);
      std::vector<RCPtr<ComplexMatrix>> out = run(params(method, regeneration, 2.0f), frames);
      for (int f = 2; f < 5; ++f)
        for (int i = 0; i < out[f]->msize(); ++i)
          EXPECT_TRUE(std::isfinite(std::abs(out[f]->data()[i]))) << f << " " << i;
      EXPECT_EQ((*out[3])(0, 4), std::complex<float>(0.0f, 0.0f));
      EXPECT_EQ((*out[3])(1, 7), std::complex<float>(0.0f, 0.0f));
    }
  }
}

TEST(SpeechEnhancement, RefusesInputsItCannotProcess) {
  // Harmonic regeneration needs a power-of-two transform.
  std::string text = failure(params("WIENER_FILTERING", "USE", 1.0f), randomFrames(1, 2, 258, 6));
  for (const char *part : {"'enhancer'", "frame 0", "258 columns", "power of two"})
    EXPECT_NE(text.find(part), std::string::npos) << part << " in " << text;
  // Without it any length serves.
  EXPECT_EQ(failure(params("WIENER_FILTERING", "NO", 1.0f), randomFrames(3, 2, 258, 6)),
            "no error");

  std::vector<ObjectRef> frames = randomFrames(2, 2, 17, 7);
  frames.push_back(complexMatrix(2, 9));
  text = failure(params("MINIMUM_MEAN_SQUARE_ERROR", "NO", 1.0f), frames);
  for (const char *part : {"'enhancer'", "frame 2", "2 x 17", "2 x 9"})
    EXPECT_NE(text.find(part), std::string::npos) << part << " in " << text;

  text = failure(params("WIENER_FILTERING", "NO", 1.0f), {complexMatrix(2, 0)});
  EXPECT_NE(text.find("2 x 0"), std::string::npos) << text;
}

TEST(SpeechEnhancement, RemovesStationaryNoiseAndKeepsTheTone) {
  using namespace enhancementtest;
  // 1 s of learning, noise alone until 1.3 s, then a harmonic tone at about
  // 18 dB SNR in the same noise.
  NoisyRecording rec = noisyTone(2.2, 1.3, 300.0f, 3000.0f);
  std::vector<ObjectRef> frames = spectra(rec.channels);
  const int learn = 100;
  ASSERT_GT(rec.speechStartFrame, learn + 10);
  struct Case {
    const char *method, *regeneration;
    double maxNoiseDb;
  } cases[] = {{"SPECTRAL_SUBTRACTION", "NO", -3.0},
               {"WIENER_FILTERING", "NO", -10.0},
               {"TWO_STEP_WIENER_FILTERING", "NO", -10.0},
               {"MINIMUM_MEAN_SQUARE_ERROR", "NO", -10.0},
               {"MINIMUM_MEAN_SQUARE_ERROR", "USE", -10.0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.method) + " " + c.regeneration);
    std::vector<RCPtr<ComplexMatrix>> out =
        run(makeParams({{"NOISE_REDUCTION_METHOD", stringValue(c.method)},
                        {"HARMONIC_REGENERATION", stringValue(c.regeneration)},
                        {"NOISE_PERIOD", floatValue(1.0f)},
                        {"ADVANCE", intValue(kAdvance)},
                        {"SAMPLING_RATE", intValue(kRate)}}),
            frames);
    double noiseIn = 0, noiseOut = 0, toneIn = 0, toneOut = 0;
    for (int f = learn; f < rec.speechStartFrame; ++f) {
      noiseIn += power(*RCPtr<ComplexMatrix>(frames[f]), 0, kCols - 1);
      noiseOut += power(*out[f], 0, kCols - 1);
    }
    // The tone's harmonics at 200 Hz steps fall on bins 6.4, 12.8, ...
    for (int f = rec.speechStartFrame + 3; f < static_cast<int>(frames.size()); ++f)
      for (int h = 1; h <= 5; ++h) {
        int bin = static_cast<int>(std::lround(kToneHz * h * kLength / kRate));
        toneIn += power(*RCPtr<ComplexMatrix>(frames[f]), bin - 1, bin + 2);
        toneOut += power(*out[f], bin - 1, bin + 2);
      }
    double noiseDb = 10 * std::log10(noiseOut / noiseIn);
    double toneDb = 10 * std::log10(toneOut / toneIn);
    std::cout << "[ measure  ] " << c.method << " " << c.regeneration << ": noise " << noiseDb
              << " dB, tone " << toneDb << " dB\n";
    EXPECT_LT(noiseDb, c.maxNoiseDb);
    EXPECT_GT(toneDb, -3.0);
  }
}

// Whatever the input holds, in the noise period or after it, every output bin
// is a finite number: random spectra mixed with zeros, values near the top
// of the float range, denormals, NaN and infinite bins, frame after frame.
TEST(SpeechEnhancement, NoInputMakesItEmitAnythingButFiniteNumbers) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const float denormal = std::numeric_limits<float>::denorm_min() * 3.0f;
  const float extremes[] = {0.0f, 1e30f, -1e30f, FLT_MAX, -FLT_MAX, denormal, -denormal,
                            nan,  inf,   -inf,   1e-30f,  1e19f,    3.0f};
  constexpr int kFrames = 40, kRows = 2, kCols = 33;
  std::mt19937 gen(12);
  std::uniform_int_distribution<int> pick(0, 2 * static_cast<int>(std::size(extremes)) - 1);
  std::vector<ObjectRef> frames = randomFrames(kFrames, kRows, kCols, 13);
  for (int f = 0; f < kFrames; ++f) {
    RCPtr<ComplexMatrix> m = frames[f];
    for (int i = 0; i < kRows * kCols; ++i) {
      // Half the draws keep the random value; whole frames of one extreme too.
      int choice = f % 7 == 5 ? f % static_cast<int>(std::size(extremes)) : pick(gen);
      if (choice < static_cast<int>(std::size(extremes))) {
        float v = extremes[choice];
        m->data()[i] = {v, f % 2 ? v : 0.5f * v};
      }
    }
  }
  for (float noiseFrames : {1.0f, 8.0f}) {
    for (const char *method : kMethods) {
      for (const char *regeneration : {"USE", "NO"}) {
        SCOPED_TRACE(std::string(method) + " " + regeneration + " noise frames " +
                     std::to_string(noiseFrames));
        std::vector<RCPtr<ComplexMatrix>> out =
            run(params(method, regeneration, noiseFrames), frames);
        for (int f = 0; f < kFrames; ++f)
          for (int i = 0; i < out[f]->msize(); ++i)
            ASSERT_TRUE(std::isfinite(out[f]->data()[i].real()) &&
                        std::isfinite(out[f]->data()[i].imag()))
                << "frame " << f << " bin " << i << ": " << out[f]->data()[i];
      }
    }
  }
}
