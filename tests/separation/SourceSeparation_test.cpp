// The SourceSeparation node in a small network: block length, the block
// pulled ahead and filled through nested frame calls, output shapes, errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <iostream>
#include <cmath>
#include <memory>
#include <sstream>

#include "SourceSeparation.h"
#include "SyntheticMixture.h"
#include "TestNetwork.h"

namespace {

using KOLV::ObjectRef;
using KOLV::RCPtr;
using KOLV::SourceSeparation;
using kolvtest::ComplexMatrix;
using kolvtest::floatValue;
using kolvtest::intValue;
using kolvtest::stringValue;

const char *const kNaturalGradient = "[IVA]NATURAL_GRADIENT_DESCENT_METHOD";

struct Settings {
  std::string method = kNaturalGradient;
  int sources = 2;
  int maxIteration = 20;
  float seconds = 0.04f;  // 4 frames at 160 / 16000
  int advance = 160;
  int rate = 16000;
};

KOLV::ParameterSet paramsFor(const Settings &s) {
  return kolvtest::makeParams({{"ITERATION_METHOD", stringValue(s.method)},
                               {"NUMBER_OF_SOURCES_TO_BE_SEPARATED", intValue(s.sources)},
                               {"MAX_ITERATION", intValue(s.maxIteration)},
                               {"SEPARATION_TIME_LENGTH", floatValue(s.seconds)},
                               {"ADVANCE", intValue(s.advance)},
                               {"SAMPLING_RATE", intValue(s.rate)}});
}

// `count` frames of a random mixture, `channels` x `columns`.
std::vector<ObjectRef> mixtureFrames(int count, int channels, int columns, unsigned seed) {
  const kolvtest::SyntheticMixture mix =
      kolvtest::makeMixture(count, columns, seed, true, channels, 2);
  std::vector<ObjectRef> frames;
  for (int t = 0; t < count; ++t) {
    auto frame = kolvtest::complexMatrix(channels, columns);
    for (int c = 0; c < channels; ++c)
      for (int k = 0; k < columns; ++k) (*frame)(c, k) = mix.observed(c, t, k);
    frames.push_back(frame);
  }
  return frames;
}

// Runs `body` with standard output captured; returns what was written.
template <class Body>
std::string capturingStdout(Body body) {
  std::ostringstream captured;
  std::streambuf *saved = std::cout.rdbuf(captured.rdbuf());
  try {
    body();
  } catch (...) {
    std::cout.rdbuf(saved);
    throw;
  }
  std::cout.rdbuf(saved);
  return captured.str();
}

// The text of the error that computing frame `frame` throws.
std::string failureText(SourceSeparation &node, int frame) {
  try {
    capturingStdout([&] { node.getOutput(0, frame); });
  } catch (KOLV::BaseException *e) {
    std::unique_ptr<KOLV::BaseException> owned(e);
    return e->text();
  }
  return "no error";
}

TEST(SourceSeparation, BlockLengthRoundsSecondsToFrames) {
  struct Case {
    float seconds;
    int advance, rate, frames;
  };
  const Case cases[] = {{3.0f, 160, 16000, 300}, {1.0f, 512, 16000, 31},
                        {0.016f, 160, 16000, 2}, {0.0149f, 160, 16000, 1}};
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.seconds) + " s");
    Settings s;
    s.seconds = c.seconds;
    s.advance = c.advance;
    s.rate = c.rate;
    SourceSeparation node("sep", paramsFor(s));
    EXPECT_EQ(node.framesPerBlock(), c.frames);
    EXPECT_EQ(node.inputRequest(0).framesAhead, c.frames);
    EXPECT_EQ(node.outputRecord(0).framesAhead, c.frames);
  }
}

TEST(SourceSeparation, RefusesUnusableSettingsWhenBuilt) {
  struct Case {
    const char *name;
    Settings settings;
    const char *expected;
  };
  Settings shortBlock, noSources, noAdvance, endless;
  shortBlock.seconds = 0.004f;
  noSources.sources = 0;
  noAdvance.advance = 0;
  endless.seconds = INFINITY;
  const Case cases[] = {
      {"block under one frame", shortBlock, "gives a block of 0 frames"},
      {"no sources", noSources, "NUMBER_OF_SOURCES_TO_BE_SEPARATED is 0"},
      {"no frame shift", noAdvance, "ADVANCE (0)"},
      {"infinite block", endless, "not a usable block length"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    try {
      SourceSeparation node("sep", paramsFor(c.settings));
      ADD_FAILURE() << "built";
    } catch (KOLV::GeneralException *e) {
      std::unique_ptr<KOLV::GeneralException> owned(e);
      EXPECT_NE(e->message().find("'sep'"), std::string::npos) << e->message();
      EXPECT_NE(e->message().find(c.expected), std::string::npos) << e->message();
    }
  }
  KOLV::ParameterSet wrongType = paramsFor(Settings());
  wrongType.add("SEPARATION_TIME_LENGTH", intValue(3));
  try {
    SourceSeparation node("sep", wrongType);
    ADD_FAILURE() << "built with an int block length";
  } catch (KOLV::CastException<float> *e) {
    delete e;
  }
}

TEST(SourceSeparation, FirstFrameOfABlockFillsTheWholeBlock) {
  kolvtest::FrameFeeder feeder(mixtureFrames(8, 2, 9, 1));
  SourceSeparation node("sep", paramsFor(Settings()));
  kolvtest::wire(node, "INPUT_AUDIO_SPECTRUM", feeder);

  RCPtr<ComplexMatrix> first;
  capturingStdout([&] { first = node.getOutput(0, 0); });
  EXPECT_EQ(feeder.highestRequested, 3);
  // Frames 1 to 3 were computed, nested, while frame 0 was.
  EXPECT_EQ(node.lastComputedFrame(), 3);
  EXPECT_EQ(node.calculateCalls(), 4);
  for (int f = 1; f < 4; ++f) {
    RCPtr<ComplexMatrix> later = node.getOutput(0, f);
    EXPECT_NE((*later)(0, 0), std::complex<float>(0.0f, 0.0f)) << "frame " << f;
  }
  EXPECT_EQ(node.calculateCalls(), 4);
  capturingStdout([&] { node.getOutput(0, 4); });
  EXPECT_EQ(feeder.highestRequested, 7);
  EXPECT_EQ(node.calculateCalls(), 8);
}

TEST(SourceSeparation, OutputMatchesTheInputShapeWithZeroRowsAndLastColumn) {
  struct Case {
    const char *name;
    int channels, sources, frames;
  };
  // Ten frames in blocks of four: the last block ends on two frames past the
  // end of the stream, which the feeder delivers as zero matrices.
  const Case cases[] = {{"two of two", 2, 2, 10}, {"two of three", 3, 2, 10},
                        {"one of two", 2, 1, 10}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const int columns = 9;
    std::vector<ObjectRef> frames = mixtureFrames(c.frames, c.channels, columns, 2);
    kolvtest::FrameFeeder feeder(frames, kolvtest::complexMatrix(c.channels, columns));
    Settings s;
    s.sources = c.sources;
    SourceSeparation node("sep", paramsFor(s));
    kolvtest::wire(node, "INPUT_AUDIO_SPECTRUM", feeder);
    capturingStdout([&] {
      for (int f = 0; f < c.frames; ++f) {
        RCPtr<ComplexMatrix> out = node.getOutput(0, f);
        ASSERT_EQ(out->nrows(), c.channels);
        ASSERT_EQ(out->ncols(), columns);
        for (int r = 0; r < c.channels; ++r) {
          for (int k = 0; k < columns; ++k) {
            const bool zero = (*out)(r, k) == std::complex<float>(0.0f, 0.0f);
            if (r >= c.sources || k == columns - 1)
              EXPECT_TRUE(zero) << "frame " << f << " row " << r << " column " << k;
            else
              EXPECT_TRUE(std::isfinite(std::abs((*out)(r, k))));
          }
        }
        // The last frames, separated from real and padding frames, carry data.
        EXPECT_GT(std::abs((*out)(0, 0)), 0.0f) << "frame " << f;
      }
    });
    EXPECT_EQ(feeder.highestRequested, 11);
  }
}

TEST(SourceSeparation, SilenceGivesSilence) {
  std::vector<ObjectRef> frames;
  for (int t = 0; t < 4; ++t) frames.push_back(kolvtest::complexMatrix(2, 5));
  kolvtest::FrameFeeder feeder(frames);
  SourceSeparation node("sep", paramsFor(Settings()));
  kolvtest::wire(node, "INPUT_AUDIO_SPECTRUM", feeder);
  const std::string written = capturingStdout([&] {
    for (int f = 0; f < 4; ++f) {
      RCPtr<ComplexMatrix> out = node.getOutput(0, f);
      for (int i = 0; i < out->msize(); ++i)
        EXPECT_EQ(out->data()[i], std::complex<float>(0.0f, 0.0f));
    }
  });
  EXPECT_EQ(written,
            "VE_ZOR::IVA::Natural-gradient === [ iterations: 2, Error: 0, Difference: 0 ]\n");
}

TEST(SourceSeparation, WritesProgressToStandardOutput) {
  struct Case {
    const char *method;
    int maxIteration;
    const char *expectedStart;
  };
  const Case cases[] = {{kNaturalGradient, 0, ""},
                        {"natural gradient", 5, "VE_ZOR::IVA:: === [ iterations: 2, Error: "}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.method);
    kolvtest::FrameFeeder feeder(mixtureFrames(4, 2, 9, 3));
    Settings s;
    s.method = c.method;
    s.maxIteration = c.maxIteration;
    SourceSeparation node("sep", paramsFor(s));
    kolvtest::wire(node, "INPUT_AUDIO_SPECTRUM", feeder);
    const std::string written = capturingStdout([&] { node.getOutput(0, 0); });
    EXPECT_EQ(written.rfind(c.expectedStart, 0), 0u) << written;
    if (c.maxIteration > 0) {
      EXPECT_NE(written.find(", Difference: 0 ]\n"), std::string::npos) << written;
      EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 1);
    } else {
      EXPECT_EQ(written, "");
    }
  }
}

TEST(SourceSeparation, BadFramesFailWithTheNodeFrameAndSizes) {
  struct Case {
    const char *name;
    std::vector<ObjectRef> frames;
    int sources;
    std::vector<const char *> expected;
  };
  std::vector<ObjectRef> resized = mixtureFrames(4, 2, 9, 4);
  resized[2] = kolvtest::complexMatrix(2, 5);
  std::vector<ObjectRef> empty(4, kolvtest::complexMatrix(2, 0));
  const Case cases[] = {
      {"frame of another size", resized, 2, {"'sep'", "frame 2", "2 x 5", "2 x 9"}},
      {"more sources than channels", mixtureFrames(4, 2, 9, 6), 3,
       {"'sep'", "frame 0", "NUMBER_OF_SOURCES_TO_BE_SEPARATED is 3", "2 x 9"}},
      {"no columns", empty, 2, {"'sep'", "frame 0", "2 x 0"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    kolvtest::FrameFeeder feeder(c.frames);
    Settings s;
    s.sources = c.sources;
    SourceSeparation node("sep", paramsFor(s));
    kolvtest::wire(node, "INPUT_AUDIO_SPECTRUM", feeder);
    const std::string text = failureText(node, 0);
    for (const char *part : c.expected) EXPECT_NE(text.find(part), std::string::npos) << text;
  }
}

// Runs `node` over `frames` frames, capturing what it writes to standard
// error; returns the frames.
std::vector<RCPtr<ComplexMatrix>> runCapturingStderr(SourceSeparation &node, int frames,
                                                     std::string &warnings) {
  std::ostringstream captured;
  std::streambuf *saved = std::cerr.rdbuf(captured.rdbuf());
  std::vector<RCPtr<ComplexMatrix>> out;
  capturingStdout([&] {
    for (int f = 0; f < frames; ++f) out.push_back(RCPtr<ComplexMatrix>(node.getOutput(0, f)));
  });
  std::cerr.rdbuf(saved);
  warnings = captured.str();
  return out;
}

bool allZero(const ComplexMatrix &m) {
  return std::all_of(m.data(), m.data() + m.nrows() * m.ncols(),
                     [](std::complex<float> v) { return v == std::complex<float>(); });
}

// A damaged block (non-finite input, or values so large that separating them
// overflows) comes out as zeros with one warning naming its frames; the
// blocks around it are separated exactly as without it.
TEST(SourceSeparation, DamagedBlockIsZeroAndTheOthersAreUntouched) {
  constexpr int kBlocks = 3, kFrames = 4 * kBlocks;
  struct Case {
    const char *name;
    std::complex<float> value;
    bool wholeBlock;  // every bin of the middle block, or one
    const char *expected;
  };
  const Case cases[] = {
      {"NaN", {NAN, 0.0f}, false, "non-finite value"},
      {"infinity", {0.0f, -INFINITY}, false, "non-finite value"},
      {"huge finite values", {FLT_MAX, FLT_MAX}, true, "too large to separate"},
  };
  const std::vector<ObjectRef> clean = mixtureFrames(kFrames, 2, 9, 5);
  SourceSeparation reference("sep", paramsFor(Settings{}));
  kolvtest::FrameFeeder cleanFeeder(clean);
  kolvtest::wire(reference, "INPUT_AUDIO_SPECTRUM", cleanFeeder);
  std::string none;
  const auto expected = runCapturingStderr(reference, kFrames, none);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<ObjectRef> frames;
    for (const ObjectRef &f : clean) frames.push_back(f->clone());
    for (int t = 4; t < 8; ++t) {
      RCPtr<ComplexMatrix> frame = frames[t];
      for (int ch = 0; ch < 2; ++ch)
        for (int k = 0; k < 9; ++k)
          if (c.wholeBlock || (t == 6 && ch == 1 && k == 3)) (*frame)(ch, k) = c.value;
    }
    SourceSeparation node("sep", paramsFor(Settings{}));
    kolvtest::FrameFeeder feeder(frames);
    kolvtest::wire(node, "INPUT_AUDIO_SPECTRUM", feeder);
    std::string warnings;
    const auto out = runCapturingStderr(node, kFrames, warnings);
    for (int t = 0; t < kFrames; ++t) {
      SCOPED_TRACE("frame " + std::to_string(t));
      if (t >= 4 && t < 8) {
        EXPECT_TRUE(allZero(*out[t]));
        continue;
      }
      ASSERT_EQ(out[t]->ncols(), expected[t]->ncols());
      EXPECT_TRUE(std::equal(out[t]->data(), out[t]->data() + 2 * 9, expected[t]->data()));
    }
    for (const char *part : {"'sep'", "frames 4 to 7", c.expected, "zero"})
      EXPECT_NE(warnings.find(part), std::string::npos) << warnings;
    EXPECT_EQ(std::count(warnings.begin(), warnings.end(), '\n'), 1) << warnings;
  }
}

}  // namespace
