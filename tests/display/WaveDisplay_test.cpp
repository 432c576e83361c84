// The waveform and voice-activity displays in real windows, read back pixel
// by pixel at the initial window size (plot rectangle 30, 10, 545, 220).
#include <gtest/gtest.h>

#include "DisplayTestSupport.h"
#include "VADvisualization.h"
#include "WaveVisualization.h"

using namespace displaytest;
using kolvtest::FrameFeeder;
using kolvtest::wire;

namespace {

constexpr int kPlotLeft = 30, kPlotRight = 575;
constexpr int kCentreLeft = 60, kCentreRight = 180;  // plot_y + 50, plot_y + 170

int columnOf(int frame, int framesShown, int firstFrame = 0) {
  return kPlotLeft + (frame - firstFrame) * 545 / framesShown;
}

}  // namespace

TEST(WaveVisualization, WindowHasTitleSizeAndBoxes) {
  REQUIRE_DISPLAY();
  FrameFeeder feeder(repeated(audioFrame(0, 0), 1));
  WaveVisualization node("wave", displayParams(3.0f));
  wire(node, "INPUT_AUDIO_SIGNAL", feeder);
  node.initialize();
  run(node, 0);

  const kolvdisplay::DisplayRecord &r = node.display();
  ASSERT_NE(r.pixmap, nullptr);
  EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(r.window)), "test display");
  EXPECT_EQ(r.plot_x, 30);
  EXPECT_EQ(r.plot_y, 10);
  EXPECT_EQ(r.plot_width, 545);
  EXPECT_EQ(r.plot_height, 220);
  EXPECT_EQ(r.frames_shown, 300);

  Picture p = picture(node);
  EXPECT_EQ(p.width(), 600);
  EXPECT_EQ(p.height(), 260);
  struct Edge {
    int x, y;
  };
  for (Edge e : {Edge{300, 10}, Edge{300, 110}, Edge{30, 50}, Edge{575, 50}, Edge{300, 130},
                 Edge{300, 230}, Edge{30, 200}, Edge{575, 200}}) {
    SCOPED_TRACE(testing::Message() << "box edge at " << e.x << ", " << e.y);
    EXPECT_EQ(p.at(e.x, e.y), kBlack);
  }
  EXPECT_EQ(p.at(300, 120), kWhite) << "between the boxes";
  // Text stands on its baselines: captions, tick labels, time labels.
  struct TextSpot {
    const char *what;
    int x0, y0, x1, y1;
  };
  for (TextSpot t : {TextSpot{"left caption", 40, 21, 140, 31},
                     TextSpot{"right caption", 40, 141, 140, 151},
                     TextSpot{"tick 1", 10, 6, 24, 16}, TextSpot{"tick -1", 10, 106, 24, 116},
                     TextSpot{"tick 0 below", 10, 176, 24, 186},
                     TextSpot{"time 0.00s", 25, 241, 55, 251},
                     TextSpot{"time 3.00s", 570, 241, 600, 251}}) {
    SCOPED_TRACE(t.what);
    EXPECT_GT(p.count(t.x0, t.y0, t.x1, t.y1, kBlack), 5);
  }
}

TEST(WaveVisualization, SampleValuesLandOnTheirRows) {
  REQUIRE_DISPLAY();
  // +512 is one row below the centre line, -1 one row above it.
  FrameFeeder feeder(repeated(audioFrame(512, -1), 21));
  WaveVisualization node("wave", displayParams(3.0f));
  wire(node, "INPUT_AUDIO_SIGNAL", feeder);
  node.initialize();
  run(node, 20);

  Picture p = picture(node);
  int x = (columnOf(0, 300) + columnOf(20, 300)) / 2;
  EXPECT_EQ(p.at(x, kCentreLeft + 1), kBlue);
  EXPECT_NE(p.at(x, kCentreLeft), kBlue);
  EXPECT_NE(p.at(x, kCentreLeft + 2), kBlue);
  EXPECT_EQ(p.at(x, kCentreRight - 1), kBlue);
  EXPECT_NE(p.at(x, kCentreRight), kBlue);
  // The trace stops at the column of the newest frame.
  EXPECT_EQ(p.count(columnOf(20, 300) + 2, 0, kPlotRight, 260, kBlue), 0);
}

TEST(WaveVisualization, FrameStrokeSpansMinimumToMaximum) {
  REQUIRE_DISPLAY();
  auto frame = kolvtest::floatMatrix(2, 160);
  (*frame)(1, 3) = 32767;   // 63 rows below the centre
  (*frame)(1, 7) = -32768;  // 64 rows above it
  FrameFeeder feeder(repeated(frame, 1));
  WaveVisualization node("wave", displayParams(3.0f));
  wire(node, "INPUT_AUDIO_SIGNAL", feeder);
  node.initialize();
  run(node, 0);

  Picture p = picture(node);
  EXPECT_EQ(p.at(kPlotLeft, kCentreRight + 63), kBlue);
  EXPECT_NE(p.at(kPlotLeft, kCentreRight + 64), kBlue);
  EXPECT_EQ(p.at(kPlotLeft, kCentreRight - 64), kBlue);
  EXPECT_NE(p.at(kPlotLeft, kCentreRight - 65), kBlue);
  EXPECT_EQ(p.at(kPlotLeft, kCentreRight), kBlue);
  EXPECT_EQ(p.at(kPlotLeft, kCentreLeft), kBlue) << "silent channel 0 on its centre line";
}

TEST(WaveVisualization, RefreshEveryTwentyFramesDrawsTheFramesSince) {
  REQUIRE_DISPLAY();
  std::vector<KOLV::ObjectRef> frames = {audioFrame(0, 0)};
  for (int f = 1; f <= 20; ++f) frames.push_back(audioFrame(25600, 0));
  FrameFeeder feeder(frames);
  WaveVisualization node("wave", displayParams(3.0f));
  wire(node, "INPUT_AUDIO_SIGNAL", feeder);
  node.initialize();

  const int loudRow = kCentreLeft + 50;  // 25600 = 50 x 512 reaches the box edge
  run(node, 19);
  EXPECT_EQ(picture(node).count(kPlotLeft + 2, loudRow, kPlotRight, loudRow + 1, kBlue), 0)
      << "frames 1 to 19 wait for the refresh at frame 20";
  run(node, 20);
  EXPECT_GT(picture(node).count(kPlotLeft + 2, loudRow, kPlotRight, loudRow + 1, kBlue), 30);
}

TEST(WaveVisualization, ScrollsByHalfThePlotWhenTheNewestFrameRunsOff) {
  REQUIRE_DISPLAY();
  FrameFeeder feeder(repeated(audioFrame(0, 0), 200));
  WaveVisualization node("wave", displayParams(1.0f));  // 100 frames shown
  wire(node, "INPUT_AUDIO_SIGNAL", feeder);
  node.initialize();
  struct Step {
    int count, firstFrame;
  };
  for (Step s : {Step{100, 0}, Step{119, 0}, Step{120, 50}, Step{140, 50}, Step{160, 100}}) {
    run(node, s.count);
    EXPECT_EQ(node.display().first_frame, s.firstFrame) << "after frame " << s.count;
  }
  Picture p = picture(node);
  // Frames 100 to 160 fill the left 60 % of the plot; the labels start at 1.00s.
  EXPECT_EQ(p.at(columnOf(150, 100, 100), kCentreLeft), kBlue);
  EXPECT_NE(p.at(columnOf(170, 100, 100), kCentreLeft), kBlue);
}

TEST(VADvisualization, ShadesSpeechFramesUnderTheTraces) {
  REQUIRE_DISPLAY();
  const int shown = 40;  // 0.4 s: frames 13 or 14 columns wide
  auto speech = KOLV::RCPtr<kolvtest::SourceVector>(new kolvtest::SourceVector);
  speech->push_back(kolvtest::sourceAt(0));
  auto silence = KOLV::RCPtr<kolvtest::SourceVector>(new kolvtest::SourceVector);
  std::vector<KOLV::ObjectRef> decisions;
  for (int f = 0; f <= 20; ++f) decisions.push_back(f >= 5 && f <= 7 ? speech : silence);
  FrameFeeder audio(repeated(audioFrame(0, 0), 21)), vad(decisions);
  VADvisualization node("vad", displayParams(0.4f));
  wire(node, "INPUT_AUDIO_SIGNAL", audio);
  wire(node, "INPUT_VAD_DECISION", vad);
  node.initialize();
  run(node, 20);

  Picture p = picture(node);
  const int speechMiddle = (columnOf(5, shown) + columnOf(8, shown)) / 2;
  const int quietMiddle = (columnOf(12, shown) + columnOf(13, shown)) / 2;
  // Strokes from one row below each box's top edge down to its bottom edge.
  for (int y : {11, 40, 109, 131, 200, 229}) {
    SCOPED_TRACE(testing::Message() << "row " << y);
    EXPECT_EQ(p.at(speechMiddle, y), kSpeechShade);
    EXPECT_EQ(p.at(quietMiddle, y), kWhite);
  }
  EXPECT_EQ(p.at(speechMiddle, 120), kWhite) << "the gap between the boxes stays clear";
  // One continuous band across the three frames, the trace on top of it.
  EXPECT_EQ(p.count(columnOf(5, shown) + 1, 40, columnOf(8, shown) - 1, 41, kSpeechShade),
            columnOf(8, shown) - columnOf(5, shown) - 2);
  EXPECT_EQ(p.at(speechMiddle, kCentreLeft), kBlue);
}

TEST(VADvisualization, FrameNarrowerThanAColumnIsNotShaded) {
  REQUIRE_DISPLAY();
  // 10 s at 160 samples and 16 kHz: 1000 frames on 545 columns.
  auto speech = KOLV::RCPtr<kolvtest::SourceVector>(new kolvtest::SourceVector);
  speech->push_back(kolvtest::sourceAt(0));
  auto silence = KOLV::RCPtr<kolvtest::SourceVector>(new kolvtest::SourceVector);
  std::vector<KOLV::ObjectRef> decisions(21, silence);
  decisions[2] = speech;  // frame 2 starts and ends at column 30 + 545 * 2 / 1000 = 31
  FrameFeeder audio(repeated(audioFrame(0, 0), 21)), vad(decisions);
  VADvisualization node("vad", displayParams(10.0f));
  wire(node, "INPUT_AUDIO_SIGNAL", audio);
  wire(node, "INPUT_VAD_DECISION", vad);
  node.initialize();
  run(node, 20);
  EXPECT_EQ(picture(node).count(0, 0, 600, 260, kSpeechShade), 0);
}
