// The direction and spectrum displays in real windows, read back pixel by
// pixel at their initial sizes.
#include <gtest/gtest.h>

#include <random>

#include "DisplayTestSupport.h"
#include "SSLvisualization.h"
#include "MagnitudeRamp.h"
#include "SpectrumVisualization.h"

using namespace displaytest;
using kolvtest::FrameFeeder;
using kolvtest::wire;

namespace {

KOLV::ObjectRef sources(std::initializer_list<KOLV::ObjectRef> list) {
  auto v = KOLV::RCPtr<kolvtest::SourceVector>(new kolvtest::SourceVector);
  for (const KOLV::ObjectRef &s : list) v->push_back(s);
  return v;
}

}  // namespace

TEST(SSLvisualization, DrawsEachSourceAtItsAzimuthAndTheCursor) {
  REQUIRE_DISPLAY();
  // Azimuths 0, +90 and -90 degrees (ids 0, 1, 2), and 0.9 degrees, drawn as 0.
  KOLV::ObjectRef frame = sources({kolvtest::sourceAt(0, 1, 0), kolvtest::sourceAt(90, 1, 1),
                                   kolvtest::sourceAt(-90, 1, 2), kolvtest::sourceAt(0.9, 1, 3)});
  std::vector<KOLV::ObjectRef> doa(41, frame);
  for (int f = 30; f <= 40; ++f) doa[f] = sources({});
  FrameFeeder audio(repeated(audioFrame(0, 0), 41)), directions(doa);
  SSLvisualization node("ssl", displayParams(3.0f));
  wire(node, "INPUT_AUDIO_SIGNAL", audio);
  wire(node, "INPUT_TRACKED_DOA", directions);
  node.initialize();
  run(node, 40);

  const kolvdisplay::DisplayRecord &r = node.display();
  ASSERT_EQ(r.plot_height, 640);
  Picture p = picture(node);
  auto column = [](int frame) { return 30 + frame * 545 / 300; };
  const int x = column(10);
  struct Row {
    const char *what;
    int y;
  };
  for (Row row : {Row{"0 degrees", 205}, Row{"+90 degrees", 107}, Row{"-90 degrees", 302}}) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(p.at(x, row.y), kBlack);
    EXPECT_NE(p.at(x, row.y - 3), kBlack);
    EXPECT_NE(p.at(x, row.y + 3), kBlack);
  }
  // Frames without sources draw no dash; the cursor stands at frame 40.
  EXPECT_EQ(p.count(column(31), 200, column(40) - 1, 210, kBlack), 0);
  for (int y : {11, 150, 399}) EXPECT_EQ(p.at(column(40), y), kRed) << "cursor row " << y;
  EXPECT_NE(p.at(column(40), 420), kRed) << "the cursor stays in the direction box";
  // Boxes: direction box (30, 10) height 390, signal boxes at y = 430 and 552, height 102.
  for (int y : {10, 400, 430, 532, 552, 654}) EXPECT_EQ(p.at(300, y), kBlack) << "edge row " << y;
  // Signal traces on the middles of the signal boxes.
  EXPECT_EQ(p.at(x, 481), kBlue);
  EXPECT_EQ(p.at(x, 604), kBlue);  // 1 x (102.4 + 20) + 481.6
  // Labels: "180" at the top left, "   0" mid-box, time labels at the bottom.
  EXPECT_GT(p.count(2, 6, 30, 16, kBlack), 5);
  EXPECT_GT(p.count(2, 201, 30, 211, kBlack), 5);
  EXPECT_GT(p.count(25, 666, 60, 676, kBlack), 5);
}

TEST(SpectrumVisualization, MagnitudesBecomeRampColoursOnFixedRows) {
  REQUIRE_DISPLAY();
  auto frame = kolvtest::complexMatrix(2, 257);  // one bin per pixel row
  (*frame)(0, 10) = {70000.0f, 0.0f};            // red 65535, green 4465
  (*frame)(1, 20) = {0.0f, 200000.0f};           // white
  (*frame)(1, 256) = {1e6f, 0.0f};               // half the rate: never drawn
  FrameFeeder feeder(repeated(frame, 21));
  SpectrumVisualization node("spectrum", displayParams(0.4f));  // 40 frames shown
  wire(node, "INPUT_AUDIO_SPECTRUM", feeder);
  node.initialize();
  run(node, 20);

  ASSERT_EQ(node.display().plot_width, 545);
  Picture p = picture(node);
  const int x = 55;  // inside frame 0's columns 50 to 63
  EXPECT_EQ(p.at(x, 266 - 10), (Rgb{255, 17, 0}));
  EXPECT_EQ(p.at(x, 542 - 20), kWhite);
  EXPECT_EQ(p.at(x, 266 - 11), kBlack);
  EXPECT_EQ(p.at(x, 266), kBlack) << "group 0 lies on the bottom edge of box 1";
  EXPECT_EQ(p.at(x, 266 - 255), kBlack);
  EXPECT_EQ(p.at(x, 10), kBlack) << "top edge of box 1 above the image";
  EXPECT_EQ(p.at(x, 286), kBlack);
  EXPECT_EQ(p.at(x, 542 - 255), kBlack);
  const int pastNewest = 50 + 21 * 545 / 40;
  EXPECT_EQ(p.at(pastNewest + 1, 200), kWhite) << "no frame drawn past the newest";
  // Frequency labels beside box 1: 0.0kHz at the bottom to 8.0kHz at the top.
  EXPECT_GT(p.count(7, 262, 49, 272, kBlack), 5);
  EXPECT_GT(p.count(7, 6, 49, 16, kBlack), 5);
}

// The spectrogram as its definition draws it: one point at a time, each with
// a graphics context and a colour allocation of its own.
void drawSpectrogramPointByPoint(kolvdisplay::DisplayRecord &r, const std::vector<KOLV::ObjectRef> &frames,
                                 int count) {
  GdkColormap *colormap = gdk_colormap_get_system();
  for (int i = r.first_frame; i <= count; ++i) {
    KOLV::RCPtr<kolvtest::ComplexMatrix> spectrum = frames[i];
    const int cols = spectrum->ncols(), g = kolvdisplay::binGroupSize(cols);
    for (int x = r.column(i); x < r.column(i + 1); ++x)
      for (int c = 0; c < 2; ++c)
        for (int k = 0; k < cols - 1; k += g) {
          int y = static_cast<int>(kolvdisplay::spectrogramBaseRow(c) - static_cast<float>(k / g));
          kolvdisplay::RampColour ramp = kolvdisplay::rampColour(
              kolvdisplay::groupMagnitude(spectrum->row(c), cols, k, g));
          GdkColor colour{0, ramp.red, ramp.green, ramp.blue};
          GdkGC *gc = gdk_gc_new(r.pixmap);
          gdk_colormap_alloc_color(colormap, &colour, FALSE, TRUE);
          gdk_gc_set_rgb_fg_color(gc, &colour);
          gdk_draw_point(r.pixmap, gc, x, y);
          gdk_colormap_free_colors(colormap, &colour, 1);
          g_object_unref(gc);
        }
  }
}

TEST(SpectrumVisualization, ImageMatchesPointByPointDrawing) {
  REQUIRE_DISPLAY();
  std::mt19937 random(7);
  std::exponential_distribution<float> magnitude(1.0f / 40000.0f);
  std::uniform_real_distribution<float> phase(0.0f, 6.2831853f);
  // Mixed sizes: one bin per row, two per row, and 384 columns whose 383
  // groups run above the window and overlap the other channel.
  const int sizes[] = {257, 513, 384, 257, 129};
  struct Case {
    const char *what;
    float seconds;
    int frames;
  };
  for (Case c : {Case{"frames wider than a column", 0.4f, 41},
                 Case{"frames narrower than a column", 8.0f, 41}}) {
    SCOPED_TRACE(c.what);
    std::vector<KOLV::ObjectRef> frames;
    for (int f = 0; f < c.frames; ++f) {
      int cols = sizes[(f / 7) % 5];
      auto frame = kolvtest::complexMatrix(2, cols);
      for (int ch = 0; ch < 2; ++ch)
        for (int j = 0; j < cols; ++j) (*frame)(ch, j) = std::polar(magnitude(random), phase(random));
      frames.push_back(frame);
    }
    FrameFeeder feeder(frames);
    SpectrumVisualization node("spectrum", displayParams(c.seconds));
    wire(node, "INPUT_AUDIO_SPECTRUM", feeder);
    node.initialize();
    run(node, c.frames - 1);
    Picture fast = picture(node);

    kolvdisplay::DisplayRecord &r = node.display();
    r.visualization_draw_plot_area();
    drawSpectrogramPointByPoint(r, frames, c.frames - 1);
    EXPECT_TRUE(fast == Picture(r.pixmap));
  }
}
