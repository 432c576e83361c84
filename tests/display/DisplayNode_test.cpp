// What all four displays share: pass-through of the very objects, closing
// the window, refusing unusable parameters and inputs, running without a
// display, and snapshots.
#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <functional>
#include <memory>

#include "DisplayTestSupport.h"
#include "RunOptions.h"
#include "SSLvisualization.h"
#include "SpectrumVisualization.h"
#include "VADvisualization.h"
#include "WaveVisualization.h"

using namespace displaytest;
using kolvtest::FrameFeeder;
using kolvtest::wire;

namespace {

constexpr int kFrames = 45;

// A display node with feeders on all its inputs.
struct Rig {
  std::vector<std::unique_ptr<FrameFeeder>> feeders;
  std::unique_ptr<kolvdisplay::DisplayNode> node;
};

struct DisplayKind {
  const char *type;
  std::function<Rig(const KOLV::ParameterSet &, std::vector<std::vector<KOLV::ObjectRef>>)> make;
  std::vector<std::vector<KOLV::ObjectRef>> (*frames)();
};

template <class T>
Rig build(const KOLV::ParameterSet &params, std::vector<std::vector<KOLV::ObjectRef>> inputs,
          std::vector<std::string> ports) {
  Rig rig;
  rig.node = std::make_unique<T>("display", params);
  for (size_t k = 0; k < ports.size(); ++k) {
    rig.feeders.push_back(std::make_unique<FrameFeeder>(inputs[k]));
    wire(*rig.node, ports[k], *rig.feeders.back());
  }
  return rig;
}

std::vector<KOLV::ObjectRef> distinctAudio() {
  std::vector<KOLV::ObjectRef> frames;
  for (int f = 0; f < kFrames; ++f) frames.push_back(audioFrame(f * 100.0f, -f * 100.0f));
  return frames;
}

std::vector<KOLV::ObjectRef> distinctSources() {
  std::vector<KOLV::ObjectRef> frames;
  for (int f = 0; f < kFrames; ++f) {
    auto v = KOLV::RCPtr<kolvtest::SourceVector>(new kolvtest::SourceVector);
    if (f % 3) v->push_back(kolvtest::sourceAt(f - 20.0, 1, f % 2));
    frames.push_back(v);
  }
  return frames;
}

std::vector<KOLV::ObjectRef> distinctSpectra() {
  std::vector<KOLV::ObjectRef> frames;
  for (int f = 0; f < kFrames; ++f) {
    auto m = kolvtest::complexMatrix(2, 257);
    (*m)(0, f) = {1000.0f * f, 0.0f};
    frames.push_back(m);
  }
  return frames;
}

const std::vector<DisplayKind> &kinds() {
  static const std::vector<DisplayKind> list = {
      {"WaveVisualization",
       [](const KOLV::ParameterSet &p, auto in) {
         return build<WaveVisualization>(p, in, {"INPUT_AUDIO_SIGNAL"});
       },
       [] { return std::vector<std::vector<KOLV::ObjectRef>>{distinctAudio()}; }},
      {"SpectrumVisualization",
       [](const KOLV::ParameterSet &p, auto in) {
         return build<SpectrumVisualization>(p, in, {"INPUT_AUDIO_SPECTRUM"});
       },
       [] { return std::vector<std::vector<KOLV::ObjectRef>>{distinctSpectra()}; }},
      {"VADvisualization",
       [](const KOLV::ParameterSet &p, auto in) {
         return build<VADvisualization>(p, in, {"INPUT_AUDIO_SIGNAL", "INPUT_VAD_DECISION"});
       },
       [] {
         return std::vector<std::vector<KOLV::ObjectRef>>{distinctAudio(), distinctSources()};
       }},
      {"SSLvisualization",
       [](const KOLV::ParameterSet &p, auto in) {
         return build<SSLvisualization>(p, in, {"INPUT_AUDIO_SIGNAL", "INPUT_TRACKED_DOA"});
       },
       [] {
         return std::vector<std::vector<KOLV::ObjectRef>>{distinctAudio(), distinctSources()};
       }},
  };
  return list;
}

// Every output slot holds the very object of the matching input.
void expectPassThrough(Rig &rig, const std::vector<std::vector<KOLV::ObjectRef>> &inputs,
                       int from, int to) {
  for (int f = from; f <= to; ++f)
    for (size_t k = 0; k < inputs.size(); ++k)
      ASSERT_EQ(rig.node->getOutput(static_cast<int>(k), f).get(), inputs[k][f].get())
          << "output " << k << " of frame " << f;
}

std::string failureText(KOLV::BaseException *e) {
  std::string text = e->text();
  delete e;
  return text;
}

}  // namespace

TEST(DisplayNodes, PassOnTheVeryObjectsAndStayClosedOnceClosed) {
  REQUIRE_DISPLAY();
  for (const DisplayKind &kind : kinds()) {
    SCOPED_TRACE(kind.type);
    auto inputs = kind.frames();
    Rig rig = kind.make(displayParams(0.4f), inputs);
    rig.node->initialize();
    expectPassThrough(rig, inputs, 0, 20);

    GtkWidget *window = rig.node->display().window;
    ASSERT_NE(window, nullptr);
    sendDelete(window);
    EXPECT_EQ(rig.node->display().window, nullptr);
    EXPECT_FALSE(GTK_WIDGET_VISIBLE(window));

    expectPassThrough(rig, inputs, 21, kFrames - 1);
    EXPECT_EQ(rig.node->display().window, nullptr) << "no frame re-creates the window";
    EXPECT_FALSE(GTK_WIDGET_VISIBLE(window));
  }
}

TEST(DisplayNodes, RefuseTooFewFramesShownWhenBuilt) {
  struct Bad {
    float seconds;
    int advance, rate;
    const char *mentions;
  };
  for (const DisplayKind &kind : kinds())
    for (Bad bad : {Bad{0.3f, 160, 16000, "30 frames"}, Bad{1.0f, 0, 16000, "ADVANCE"},
                    Bad{1.0f, 160, -5, "SAMPLING_RATE"}, Bad{-1.0f, 160, 16000, "0 frames"},
                    Bad{1e9f, 160, 16000, "more than"}}) {
      SCOPED_TRACE(testing::Message() << kind.type << " " << bad.mentions);
      try {
        kind.make(displayParams(bad.seconds, bad.advance, bad.rate), kind.frames());
        ADD_FAILURE() << "not refused";
      } catch (KOLV::BaseException *e) {
        std::string text = failureText(e);
        EXPECT_NE(text.find(std::string(kind.type) + " node 'display'"), std::string::npos)
            << text;
        EXPECT_NE(text.find(bad.mentions), std::string::npos) << text;
      }
    }
}

TEST(DisplayNodes, RefuseSingleChannelAndSmallSpectraAtTheFrame) {
  struct Bad {
    const char *type;
    std::vector<std::vector<KOLV::ObjectRef>> inputs;
    const char *mentions;
  };
  auto mono = [] { return std::vector<KOLV::ObjectRef>(kFrames, kolvtest::floatMatrix(1, 160)); };
  std::vector<KOLV::ObjectRef> spectra = distinctSpectra();
  spectra[3] = kolvtest::complexMatrix(2, 65);
  for (const Bad &bad :
       {Bad{"WaveVisualization", {mono()}, "INPUT_AUDIO_SIGNAL of frame 0 has 1 row"},
        Bad{"VADvisualization", {mono(), distinctSources()}, "of frame 0 has 1 row"},
        Bad{"SSLvisualization", {mono(), distinctSources()}, "of frame 0 has 1 row"},
        Bad{"SpectrumVisualization", {spectra}, "frame 3 has 65 columns"}}) {
    SCOPED_TRACE(bad.type);
    for (const DisplayKind &kind : kinds()) {
      if (std::string(kind.type) != bad.type) continue;
      Rig rig = kind.make(displayParams(0.4f), bad.inputs);
      try {
        run(*rig.node, 5);
        ADD_FAILURE() << "not refused";
      } catch (KOLV::BaseException *e) {
        std::string text = failureText(e);
        EXPECT_NE(text.find(bad.mentions), std::string::npos) << text;
        EXPECT_NE(text.find("'display'"), std::string::npos) << text;
      }
    }
  }
}

TEST(DisplayNodes, SpectrumRefusesRatesBelowTwoKilohertz) {
  try {
    SpectrumVisualization node("spectrum", displayParams(2.0f, 16, 1999));
    ADD_FAILURE() << "not refused";
  } catch (KOLV::BaseException *e) {
    std::string text = failureText(e);
    EXPECT_NE(text.find("SpectrumVisualization node 'spectrum': SAMPLING_RATE 1999 Hz"),
              std::string::npos)
        << text;
  }
}

// Without an X display the run goes on: one warning per display, the data
// passed on. Runs in a fresh process with DISPLAY unset.
TEST(DisplayNodesDeathTest, WithoutDisplayWarnOnceAndPassDataOn) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto runHeadless = [] {
    unsetenv("DISPLAY");
    KOLV::runOptions().snapshotDirectory = "/tmp/kolv-headless-snapshots";
    for (const DisplayKind &kind : kinds()) {
      auto inputs = kind.frames();
      Rig rig = kind.make(displayParams(0.4f), inputs);
      rig.node->initialize();
      for (int f = 0; f < kFrames; ++f)
        for (size_t k = 0; k < inputs.size(); ++k)
          if (rig.node->getOutput(static_cast<int>(k), f).get() != inputs[k][f].get()) _exit(3);
      rig.node->finish();
      if (rig.node->hasDisplay()) _exit(4);
    }
    _exit(0);
  };
  EXPECT_EXIT(runHeadless(), testing::ExitedWithCode(0),
              "WaveVisualization node 'display': no X display.*Snapshots need a display");
}

TEST(DisplayNodes, FinishSavesTheLastPictureAsSnapshot) {
  REQUIRE_DISPLAY();
  char dirTemplate[] = "/tmp/kolv-snapshots-XXXXXX";
  ASSERT_NE(mkdtemp(dirTemplate), nullptr);
  std::string dir = std::string(dirTemplate) + "/nested";
  KOLV::runOptions().snapshotDirectory = dir;

  // 25 frames: the picture must include frames 21 to 24, past the last refresh.
  std::vector<KOLV::ObjectRef> frames = repeated(audioFrame(0, 0), 21);
  for (int f = 21; f < 25; ++f) frames.push_back(audioFrame(25600, 0));
  FrameFeeder feeder(frames);
  WaveVisualization node("wave_left", displayParams(0.4f));
  wire(node, "INPUT_AUDIO_SIGNAL", feeder);
  node.initialize();
  run(node, 24);
  node.finish();
  KOLV::runOptions().snapshotDirectory.clear();

  std::string path = dir + "/wave_left.png";
  GdkPixbuf *saved = gdk_pixbuf_new_from_file(path.c_str(), nullptr);
  ASSERT_NE(saved, nullptr) << path;
  EXPECT_EQ(gdk_pixbuf_get_width(saved), 600);
  EXPECT_EQ(gdk_pixbuf_get_height(saved), 260);
  const guchar *px = gdk_pixbuf_get_pixels(saved);
  const int stride = gdk_pixbuf_get_rowstride(saved), channels = gdk_pixbuf_get_n_channels(saved);
  int x = 30 + 23 * 545 / 40, y = 60 + 50;
  const guchar *p = px + y * stride + x * channels;
  EXPECT_EQ((Rgb{p[0], p[1], p[2]}), kBlue) << "frame 23 is in the picture";
  g_object_unref(saved);
  std::remove(path.c_str());
  rmdir(dir.c_str());
  rmdir(dirTemplate);
}

TEST(DisplayNodes, DestroyedDisplayLeavesNoHandlerBehind) {
  REQUIRE_DISPLAY();
  FrameFeeder feeder(repeated(audioFrame(100, -100), 41));
  auto doomed = std::make_unique<WaveVisualization>("doomed", displayParams(0.4f));
  WaveVisualization survivor("survivor", displayParams(0.4f));
  wire(*doomed, "INPUT_AUDIO_SIGNAL", feeder);
  wire(survivor, "INPUT_AUDIO_SIGNAL", feeder);
  doomed->initialize();
  survivor.initialize();
  run(*doomed, 20);
  // Events for the doomed window are pending when it goes.
  gtk_widget_queue_draw(doomed->display().drawing_area);
  gtk_window_resize(GTK_WINDOW(doomed->display().window), 700, 300);
  doomed.reset();
  // The survivor's main-loop iterations serve whatever is left.
  run(survivor, 40);
  while (gtk_events_pending()) gtk_main_iteration();
  EXPECT_NE(survivor.display().window, nullptr);
}

TEST(DisplayNodes, LaterInitializeShowsAClosedWindowAgain) {
  REQUIRE_DISPLAY();
  FrameFeeder feeder(repeated(audioFrame(0, 0), 41));
  WaveVisualization node("wave", displayParams(0.4f));
  wire(node, "INPUT_AUDIO_SIGNAL", feeder);
  node.initialize();
  GtkWidget *window = node.display().window;
  sendDelete(window);
  run(node, 40);
  ASSERT_EQ(node.display().window, nullptr);
  node.initialize();
  EXPECT_EQ(node.display().window, window) << "the same window, not a second one";
  EXPECT_TRUE(GTK_WIDGET_VISIBLE(window));
}

TEST(DisplayNodes, DirectionLayoutFollowsTheWindowHeight) {
  REQUIRE_DISPLAY();
  auto frame = KOLV::RCPtr<kolvtest::SourceVector>(new kolvtest::SourceVector);
  frame->push_back(kolvtest::sourceAt(0));
  FrameFeeder audio(repeated(audioFrame(0, 0), 41)), doa(repeated(frame, 41));
  SSLvisualization node("ssl", displayParams(3.0f));
  wire(node, "INPUT_AUDIO_SIGNAL", audio);
  wire(node, "INPUT_TRACKED_DOA", doa);
  node.initialize();
  run(node, 0);

  gtk_window_resize(GTK_WINDOW(node.display().window), 600, 880);
  for (int attempt = 0; attempt < 200 && node.display().plot_height != 840; ++attempt) {
    gdk_flush();
    while (gtk_events_pending()) gtk_main_iteration();
    g_usleep(5000);
  }
  ASSERT_EQ(node.display().plot_height, 840) << "the window was not resized";
  run(node, 40);
  // H1 = 0.61 x 840 = 512.4: azimuth 0 at trunc(256.2 + 10), the cursor down to 522.
  Picture p = picture(node);
  EXPECT_EQ(p.at(30 + 20 * 545 / 300, 266), kBlack);
  EXPECT_EQ(p.at(30 + 40 * 545 / 300, 520), kRed);
}

TEST(DisplayNodes, OpeningTheDisplayKeepsTheProcessLocale) {
  // Where a display test ran first in this process, GTK is already set up;
  // run alone (as ctest does), this checks GTK's own start.
  setenv("LC_ALL", "C.UTF-8", 1);
  REQUIRE_DISPLAY();
  EXPECT_STREQ(setlocale(LC_NUMERIC, nullptr), "C");
  char text[16];
  std::snprintf(text, sizeof text, "%0.2f", 1.5);
  EXPECT_STREQ(text, "1.50");
}
