// The displays' arithmetic without a window: time axis, scrolling, labels,
// sample rows, spectrogram colours and direction rows.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "BaseException.h"
#include "DisplayGeometry.h"
#include "SSLvisualization.h"
#include "MagnitudeRamp.h"

using namespace kolvdisplay;

TEST(TimeAxis, FramesShownRoundHalfUpFromSinglePrecision) {
  struct Case {
    float seconds;
    int advance, rate, frames;
  };
  for (Case c : {Case{3.0f, 160, 16000, 300}, Case{0.4f, 160, 16000, 40},
                 Case{1.0f, 512, 44100, 86}, Case{0.405f, 160, 16000, 41}}) {
    SCOPED_TRACE(testing::Message() << c.seconds << " s");
    TimeAxis axis = makeTimeAxis("node", c.seconds, c.advance, c.rate);
    EXPECT_EQ(axis.framesShown, c.frames);
    EXPECT_EQ(axis.framePeriod, static_cast<float>(c.advance) / static_cast<float>(c.rate));
  }
}

TEST(TimeAxis, RefusesSpansTheDisplayCannotScroll) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (float seconds : {0.39f, 0.0f, -2.0f, nan, 1e12f}) {
    SCOPED_TRACE(seconds);
    try {
      makeTimeAxis("node", seconds, 160, 16000);
      ADD_FAILURE() << "not refused";
    } catch (KOLV::GeneralException *e) {
      EXPECT_NE(e->message().find("node: VISUALIZATION_TIME_LENGTH"), std::string::npos);
      delete e;
    }
  }
}

TEST(Scrolling, AdvancesHalfThePlotOnlyWhenTheNewestFrameRunsPast) {
  // 100 frames shown, refreshes every 20 frames.
  int first = 0;
  const int expected[] = {0, 0, 0, 0, 0, 0, 50, 50, 100};
  for (int step = 0; step <= 8; ++step) {
    first = scrolledFirstFrame(first, 100, step * kRefreshPeriod);
    EXPECT_EQ(first, expected[step]) << "refresh at frame " << step * kRefreshPeriod;
  }
  EXPECT_EQ(scrolledFirstFrame(0, 100, 100), 0) << "equality does not scroll";
  EXPECT_EQ(frameColumn(30, 545, 100, 100, 160), 30 + 60 * 545 / 100);
}

TEST(TimeLabels, OnePerQuarterOfTheSpan) {
  std::vector<TimeLabel> labels = timeLabels(30, 545, 0, 300, 0.01f);
  ASSERT_EQ(labels.size(), 5u);
  const char *texts[] = {"0.00s", "0.75s", "1.50s", "2.25s", "3.00s"};
  const int xs[] = {25, 161, 297, 433, 570};
  for (size_t k = 0; k < 5; ++k) {
    EXPECT_EQ(labels[k].text, texts[k]);
    EXPECT_EQ(labels[k].x, xs[k]);
  }
  EXPECT_EQ(timeLabels(30, 545, 100, 300, 0.01f).front().text, "1.00s");
  // 42 frames: steps of 10 give D = 0, 10, 20, 30, 40.
  EXPECT_EQ(timeLabels(30, 545, 0, 42, 0.01f).size(), 5u);
  EXPECT_EQ(timeLabels(30, 545, 0, 10, 0.01f).size(), 6u);
}

TEST(Envelope, SampleValuesMapToRowsBy512) {
  struct Case {
    float value;
    int rowBelowCentre;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (Case c : {Case{0, 0}, Case{511.9f, 0}, Case{512, 1}, Case{-1, -1}, Case{-0.5f, 0},
                 Case{-512, -1}, Case{-513, -2}, Case{25600, 50}, Case{32767, 63},
                 Case{-32768, -64}, Case{nan, 0}}) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(envelopeRow(c.value, 60.0f), 60 + c.rowBelowCentre);
  }
  // Wild values stay far off screen instead of wrapping X's 16-bit coordinates.
  EXPECT_GT(envelopeRow(1e30f, 60.0f), 10000);
  EXPECT_LT(envelopeRow(1e30f, 60.0f), 32768);
  EXPECT_LT(envelopeRow(-std::numeric_limits<float>::infinity(), 60.0f), -10000);

  Envelope envelope(60.0f, 120.0f);
  const float left[] = {3000, -600, 10}, right[] = {0, 0, 0};
  envelope.add(left, right, 3, 42);
  envelope.add(left, right, 0, 43);  // no samples: no points
  ASSERT_EQ(envelope.points(0).size(), 2u);
  EXPECT_EQ(envelope.points(0)[0].y, 58);  // minimum first: -600 >> 9 = -2
  EXPECT_EQ(envelope.points(0)[1].y, 65);  // then maximum: 3000 >> 9 = 5
  EXPECT_EQ(envelope.points(1)[0].y, 180);
  EXPECT_EQ(envelope.points(1)[1].x, 42);
}

TEST(Spectrogram, GroupSizesAndCounts) {
  struct Case {
    int cols, size, count;
  };
  for (Case c : {Case{129, 1, 128}, Case{257, 1, 256}, Case{384, 1, 383}, Case{513, 2, 256},
                 Case{1025, 4, 256}, Case{1000, 4, 250}}) {
    SCOPED_TRACE(c.cols);
    EXPECT_EQ(binGroupSize(c.cols), c.size);
    EXPECT_EQ(binGroupCount(c.cols, c.size), c.count);
  }
}

TEST(Spectrogram, MagnitudesTruncateEveryPartialSum) {
  using C = std::complex<float>;
  const C threes[] = {{3, 0}, {0, 3}}, halves[] = {{1.5f, 0}, {0, 1.5f}};
  EXPECT_EQ(groupMagnitude(threes, 2, 0, 2), 2u);  // 1.5 -> 1, 1 + 1.5 -> 2
  EXPECT_EQ(groupMagnitude(halves, 2, 0, 2), 0u);
  const C pythagoras[] = {{3, 4}};
  EXPECT_EQ(groupMagnitude(pythagoras, 1, 0, 1), 5u);
  // A last group reaching past the row takes the bins that exist.
  const C tail[] = {{8, 0}, {8, 0}, {8, 0}};
  EXPECT_EQ(groupMagnitude(tail, 3, 2, 4), 2u);
  const C wild[] = {{std::numeric_limits<float>::quiet_NaN(), 0},
                    {std::numeric_limits<float>::infinity(), 0}};
  EXPECT_EQ(groupMagnitude(wild, 1, 0, 1), 0u);
  EXPECT_EQ(rampColour(groupMagnitude(wild + 1, 1, 0, 1)), (RampColour{65535, 65535, 65535}));
}

TEST(Spectrogram, RampRunsBlackRedYellowWhite) {
  struct Case {
    uint64_t value;
    RampColour colour;
  };
  for (Case c : {Case{0, {0, 0, 0}}, Case{1000, {1000, 0, 0}}, Case{65535, {65535, 0, 0}},
                 Case{70000, {65535, 4465, 0}}, Case{131070, {65535, 65535, 0}},
                 Case{131071, {65535, 65535, 1}}, Case{196605, {65535, 65535, 65535}},
                 Case{uint64_t{1} << 40, {65535, 65535, 65535}}}) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(rampColour(c.value), c.colour);
  }
}

TEST(DirectionRow, AzimuthsTruncateToWholeDegreesThenMapOnTheBox) {
  const float h1 = static_cast<float>(0.61 * 640.0);  // 390.4 at the initial size
  struct Case {
    double degrees;
    int row;
  };
  for (Case c : {Case{0, 205}, Case{90, 107}, Case{-90, 302}, Case{0.9, 205}, Case{-0.9, 205},
                 Case{45.5, 156}, Case{180, 10}}) {
    SCOPED_TRACE(c.degrees);
    double theta = c.degrees * 3.141592653589793 / 180.0;
    std::optional<int> row = directionRow(static_cast<float>(std::cos(theta)),
                                          static_cast<float>(std::sin(theta)), h1, 10);
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ(*row, c.row);
  }
  EXPECT_FALSE(directionRow(std::numeric_limits<float>::quiet_NaN(), 0, h1, 10).has_value());
}
