// Helpers for display tests: real windows on the X display of the test run
// (Xvfb under `make test`), pixels read back from a display's pixmap.
#ifndef KOLV_DISPLAY_TEST_SUPPORT_H
#define KOLV_DISPLAY_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "DisplayNode.h"
#include "TestNetwork.h"

namespace displaytest {

#define REQUIRE_DISPLAY()                                                              \
  do {                                                                                 \
    if (!std::getenv("DISPLAY"))                                                       \
      GTEST_SKIP() << "needs an X display; run under xvfb-run -a -s \"-screen 0 "      \
                      "1280x1024x24 -noreset\"";                                       \
    ASSERT_TRUE(kolvdisplay::openDisplay()) << "DISPLAY is set but cannot be opened";  \
  } while (0)

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb &o) const { return r == o.r && g == o.g && b == o.b; }
  bool operator!=(const Rgb &o) const { return !(*this == o); }
};

inline std::ostream &operator<<(std::ostream &out, const Rgb &c) {
  return out << '(' << c.r << ", " << c.g << ", " << c.b << ')';
}

constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kBlue{0, 0, 255};
constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kSpeechShade{255, 204, 204};

// The pixels of a drawable, read back once.
class Picture {
 public:
  explicit Picture(GdkDrawable *drawable) {
    gdk_drawable_get_size(drawable, &width_, &height_);
    GdkColormap *colormap = gdk_drawable_get_colormap(drawable) ? nullptr
                                                                 : gdk_colormap_get_system();
    GdkPixbuf *pixbuf =
        gdk_pixbuf_get_from_drawable(nullptr, drawable, colormap, 0, 0, 0, 0, width_, height_);
    const guchar *data = gdk_pixbuf_get_pixels(pixbuf);
    int stride = gdk_pixbuf_get_rowstride(pixbuf), channels = gdk_pixbuf_get_n_channels(pixbuf);
    for (int y = 0; y < height_; ++y)
      for (int x = 0; x < width_; ++x) {
        const guchar *p = data + y * stride + x * channels;
        pixels_.push_back({p[0], p[1], p[2]});
      }
    g_object_unref(pixbuf);
  }
  int width() const { return width_; }
  int height() const { return height_; }
  Rgb at(int x, int y) const { return pixels_.at(static_cast<size_t>(y) * width_ + x); }
  // How many pixels of the rectangle [x0, x1) x [y0, y1) have the colour.
  int count(int x0, int y0, int x1, int y1, const Rgb &colour) const {
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) n += at(x, y) == colour;
    return n;
  }
  bool operator==(const Picture &o) const {
    return width_ == o.width_ && height_ == o.height_ && pixels_ == o.pixels_;
  }

 private:
  int width_ = 0, height_ = 0;
  std::vector<Rgb> pixels_;
};

inline Picture picture(const kolvdisplay::DisplayNode &node) {
  return Picture(node.display().pixmap);
}

inline KOLV::ParameterSet displayParams(float seconds, int advance = 160, int rate = 16000) {
  using namespace kolvtest;
  return makeParams({{"VISUALIZATION_TIME_LENGTH", floatValue(seconds)},
                     {"WINDOW_NAME", stringValue("test display")},
                     {"ADVANCE", intValue(advance)},
                     {"SAMPLING_RATE", intValue(rate)}});
}

// A two-channel time signal frame holding one value per channel.
inline KOLV::ObjectRef audioFrame(float left, float right, int samples = 160) {
  auto frame = kolvtest::floatMatrix(2, samples);
  for (int s = 0; s < samples; ++s) {
    (*frame)(0, s) = left;
    (*frame)(1, s) = right;
  }
  return frame;
}

inline std::vector<KOLV::ObjectRef> repeated(const KOLV::ObjectRef &frame, int n) {
  return std::vector<KOLV::ObjectRef>(n, frame);
}

// Computes frames 0 to last.
inline void run(KOLV::BufferedNode &node, int last) {
  for (int f = 0; f <= last; ++f) node.getOutput(0, f);
}

// The user closes the window.
inline void sendDelete(GtkWidget *window) {
  GdkEvent *event = gdk_event_new(GDK_DELETE);
  event->any.window = GDK_WINDOW(g_object_ref(window->window));
  event->any.send_event = TRUE;
  gtk_widget_event(window, event);
  gdk_event_free(event);
}

}  // namespace displaytest

#endif
