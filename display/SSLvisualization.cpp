#include "SSLvisualization.h"

#include <cmath>
#include <cstdio>
#include <map>

#include "Matrix.h"
#include "Source.h"
#include "Vector.h"

using kolvdisplay::DisplayRecord;
using kolvdisplay::truncToInt;

namespace {

DisplayRecord *recordOf(gpointer data) { return static_cast<DisplayRecord *>(data); }

constexpr kolvdisplay::DisplayLayout kLayout{600, 680, 30, 55, kolvdisplay::FifthContext::White,
                                             true};
constexpr double kDirectionShare = 0.61;
constexpr double kSignalShare = 0.16;
constexpr float kBoxGapAboveLeft = 30.0f;  // direction box to left signal box
constexpr float kBoxGap = 20.0f;           // between signal boxes, and above the time labels
constexpr float kCaptionIndent = 10.0f;
constexpr float kCaptionDrop = 20.0f;
constexpr float kLabelDrop = 5.0f;
constexpr int kDirectionLabelIndent = 28;
constexpr int kTickLabelIndent = 20;
constexpr int kDirectionLabelStep = 30;  // degrees
constexpr int kHalfTurn = 180;           // degrees
constexpr double kDegreesPerRadian = 57.29577951308232;

}  // namespace

gboolean ssl_visualization_delete_event(GtkWidget *, GdkEvent *, gpointer data) {
  return kolvdisplay::displayDeleteEvent(recordOf(data));
}

gboolean ssl_visualization_configure_event(GtkWidget *widget, GdkEventConfigure *,
                                           gpointer data) {
  return kolvdisplay::displayConfigureEvent(widget, recordOf(data));
}

gboolean ssl_visualization_expose_event(GtkWidget *widget, GdkEventExpose *event,
                                        gpointer data) {
  return kolvdisplay::displayExposeEvent(widget, event, recordOf(data));
}

std::optional<int> kolvdisplay::directionRow(float x0, float x1, float h1, int plotY) {
  float azimuth = atan2f(x1, x0);
  if (std::isnan(azimuth)) return std::nullopt;
  int degrees = static_cast<int>(static_cast<double>(azimuth) * kDegreesPerRadian);
  return truncToInt(h1 * (static_cast<float>(kHalfTurn) - static_cast<float>(degrees)) /
                        static_cast<float>(2 * kHalfTurn) +
                    static_cast<float>(plotY));
}

// ---------------------------------------------------------------- record

zuSSLGtk::zuSSLGtk() : DisplayRecord(kLayout) {}

float zuSSLGtk::directionBoxHeight() const {
  return static_cast<float>(kDirectionShare * static_cast<double>(plot_height));
}

float zuSSLGtk::signalBoxHeight() const {
  return static_cast<float>(kSignalShare * static_cast<double>(plot_height));
}

kolvdisplay::Envelope zuSSLGtk::makeEnvelope() const {
  const float h1 = directionBoxHeight(), h2 = signalBoxHeight();
  return kolvdisplay::Envelope(
      static_cast<float>(plot_y) + h1 + kBoxGapAboveLeft + 0.5f * h2, h2 + kBoxGap);
}

void zuSSLGtk::visualization_draw_plot_area() {
  if (!pixmap) return;
  const float h1 = directionBoxHeight(), h2 = signalBoxHeight();
  const float top = static_cast<float>(plot_y);
  const float leftTop = top + h1 + kBoxGapAboveLeft;
  const float rightTop = leftTop + h2 + kBoxGap;

  clearDrawingArea();
  kolvdisplay::PlotPainter painter(*this);
  painter.box(plot_x, plot_y, plot_width, truncToInt(h1));
  painter.box(plot_x, truncToInt(leftTop), plot_width, truncToInt(h2));
  painter.box(plot_x, truncToInt(rightTop), plot_width, truncToInt(h2));

  const int captionX = truncToInt(static_cast<float>(plot_x) + kCaptionIndent);
  painter.text(captionX, truncToInt(top + kCaptionDrop),
               "Localized / Tracked Directions Of Multisources");
  char text[16];
  for (int d = -kHalfTurn; d <= kHalfTurn; d += kDirectionLabelStep) {
    std::snprintf(text, sizeof text, "% 4d", d);
    painter.text(plot_x - kDirectionLabelIndent,
                 truncToInt(static_cast<float>(kHalfTurn - d) * h1 /
                                static_cast<float>(2 * kHalfTurn) +
                            top + kLabelDrop),
                 text);
  }
  const float boxTops[2] = {leftTop, rightTop};
  const char *captions[2] = {"Left signal input", "Right signal input"};
  for (int c = 0; c < 2; ++c) {
    painter.text(captionX, truncToInt(boxTops[c] + kCaptionDrop), captions[c]);
    for (int i = -1; i <= 1; ++i) {
      std::snprintf(text, sizeof text, "%2d", i);
      painter.text(plot_x - kTickLabelIndent,
                   truncToInt(boxTops[c] + static_cast<float>(1 - i) * h2 * 0.5f + kLabelDrop),
                   text);
    }
  }
  drawTimeLabels(truncToInt(rightTop + h2 + kBoxGap));
}

void zuSSLGtk::drawCursor(int count) {
  int x = plot_x + (count - first_frame) * plot_width / frames_shown;
  gdk_draw_line(pixmap, gc_cursor, x, plot_y, x,
                truncToInt(directionBoxHeight() + static_cast<float>(plot_y)));
}

// ---------------------------------------------------------------- node

const KOLV::NodeDescription &SSLvisualization::description() {
  static const KOLV::NodeDescription d{
      "Shows the directions of the sources over time above a two-channel time signal, passing "
      "both inputs on",
      {{"INPUT_AUDIO_SIGNAL", "Matrix<float>", "time signal, row 0 left and row 1 right"},
       {"INPUT_TRACKED_DOA", "Vector<ObjectRef>", "sources (Source records) of the frame"}},
      {{"OUTPUT_AUDIO_SIGNAL", "Matrix<float>", "the input signal frame itself"},
       {"OUTPUT_TRACKED_DOA", "Vector<ObjectRef>", "the input source vector itself"}},
      kolvdisplay::displayParameters()};
  return d;
}

SSLvisualization::SSLvisualization(std::string nodeName, KOLV::ParameterSet params)
    : DisplayNode("SSLvisualization", std::move(nodeName), params,
                  {{"INPUT_AUDIO_SIGNAL", "OUTPUT_AUDIO_SIGNAL"},
                   {"INPUT_TRACKED_DOA", "OUTPUT_TRACKED_DOA"}},
                  std::make_unique<zuSSLGtk>(),
                  {G_CALLBACK(ssl_visualization_delete_event),
                   G_CALLBACK(ssl_visualization_configure_event),
                   G_CALLBACK(ssl_visualization_expose_event)}) {
  audioInput_ = inputId(0);
  directionInput_ = inputId(1);
}

void SSLvisualization::checkFrame(int count, const std::vector<KOLV::ObjectRef> &frames) {
  // The typed handles refuse a frame of the wrong type.
  KOLV::RCPtr<KOLV::Matrix<float>> audio = frames[0];
  KOLV::RCPtr<KOLV::Vector<KOLV::ObjectRef>> sources = frames[1];
  requireTwoChannels("INPUT_AUDIO_SIGNAL", count, audio->nrows());
}

void SSLvisualization::visualization_plot(int count) {
  auto &r = static_cast<zuSSLGtk &>(display());
  const float h1 = r.directionBoxHeight();
  kolvdisplay::Envelope envelope = r.makeEnvelope();
  std::map<int, std::vector<kolvdisplay::ScreenPoint>> dashesById;
  for (int i = r.first_frame; i <= count; ++i) {
    int x = r.column(i);
    KOLV::RCPtr<KOLV::Vector<KOLV::ObjectRef>> sources = getInput(directionInput_, i);
    for (const KOLV::ObjectRef &element : *sources) {
      KOLV::RCPtr<KOLV::Source> source = element;
      std::optional<int> y = kolvdisplay::directionRow(source->x[0], source->x[1], h1, r.plot_y);
      if (y) dashesById[source->id].push_back({x, *y});
    }
    KOLV::RCPtr<KOLV::Matrix<float>> audio = getInput(audioInput_, i);
    envelope.add(audio->row(0), audio->row(1), audio->ncols(), x);
  }

  const int dashLength =
      truncToInt(static_cast<float>(r.plot_width) / static_cast<float>(r.frames_shown));
  std::vector<GdkSegment> dashes;
  for (const auto &entry : dashesById)
    for (const kolvdisplay::ScreenPoint &p : entry.second)
      dashes.push_back({p.x, p.y, p.x + dashLength, p.y});
  if (!dashes.empty())
    gdk_draw_segments(r.pixmap, r.gc_black, dashes.data(), static_cast<gint>(dashes.size()));
  r.drawEnvelope(envelope);
  r.drawCursor(count);
}
