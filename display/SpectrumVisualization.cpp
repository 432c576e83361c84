#include "SpectrumVisualization.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "Matrix.h"
#include "MagnitudeRamp.h"

using kolvdisplay::DisplayRecord;
using kolvdisplay::SpectrumRecord;
using kolvdisplay::truncToInt;

namespace {

DisplayRecord *recordOf(gpointer data) { return static_cast<DisplayRecord *>(data); }

constexpr kolvdisplay::DisplayLayout kLayout{620, 572, 50, 75, kolvdisplay::FifthContext::White,
                                             false};
constexpr int kBoxHeight = kolvdisplay::kSpectrogramRows;
constexpr float kBoxHeightF = kBoxHeight;
constexpr float kBoxGap = 20.0f;
constexpr float kCaptionIndent = 10.0f;
constexpr float kCaptionDrop = 20.0f;
constexpr int kFrequencyLabelIndent = 43;
constexpr double kLabelDrop = 5.0;
// One frequency label per quarter of the band, in kHz.
constexpr float kLabelFraction = 0.25f;
constexpr int kHzPerLabelUnit = 2000;
constexpr float kFirstBaseRow = 266.0f;
constexpr float kBaseRowStep = 276.0f;
constexpr int kBytesPerPixel = 3;
constexpr int kMinSamplingRate = kHzPerLabelUnit;

using ComplexMatrix = KOLV::Matrix<std::complex<float>>;

// 8-bit component of a 16-bit one, as a TrueColor visual allocates it.
guchar eightBit(uint16_t component) { return static_cast<guchar>(component >> 8); }

}  // namespace

gboolean spectrum_visualization_delete_event(GtkWidget *, GdkEvent *, gpointer data) {
  return kolvdisplay::displayDeleteEvent(recordOf(data));
}

gboolean spectrum_visualization_configure_event(GtkWidget *widget, GdkEventConfigure *,
                                                gpointer data) {
  return kolvdisplay::displayConfigureEvent(widget, recordOf(data));
}

gboolean spectrum_visualization_expose_event(GtkWidget *widget, GdkEventExpose *event,
                                             gpointer data) {
  return kolvdisplay::displayExposeEvent(widget, event, recordOf(data));
}

float kolvdisplay::spectrogramBaseRow(int channel) {
  return static_cast<float>(channel) * kBaseRowStep + kFirstBaseRow;
}

// ---------------------------------------------------------------- record

SpectrumRecord::SpectrumRecord() : DisplayRecord(kLayout) {}

void SpectrumRecord::visualization_draw_plot_area() {
  if (!pixmap) return;
  const float top = static_cast<float>(plot_y);
  const float secondTop = top + kBoxHeightF + kBoxGap;
  clearDrawingArea();
  PlotPainter painter(*this);
  painter.box(plot_x, plot_y, plot_width, kBoxHeight);
  painter.box(plot_x, truncToInt(secondTop), plot_width, kBoxHeight);

  const float topKHz = static_cast<float>(sampling_rate / kHzPerLabelUnit);
  const float step = kLabelFraction * topKHz;
  const float bottoms[2] = {top + kBoxHeightF, top + kBoxHeightF + kBoxGap + kBoxHeightF};
  const char *captions[2] = {"Left signal input", "Right signal input"};
  const float captionTops[2] = {top, secondTop};
  const int captionX = truncToInt(static_cast<float>(plot_x) + kCaptionIndent);
  char text[32];
  for (int c = 0; c < 2; ++c) {
    painter.text(captionX, truncToInt(captionTops[c] + kCaptionDrop), captions[c]);
    if (!(step > 0.0f)) continue;
    float kHz = 0.0f;
    for (int k = 0; kHz <= topKHz; ++k, kHz += step) {
      std::snprintf(text, sizeof text, "%2.1fkHz", static_cast<double>(kHz));
      painter.text(plot_x - kFrequencyLabelIndent,
                   truncToInt(static_cast<double>(bottoms[c]) -
                              static_cast<double>(kBoxHeight * k) *
                                  static_cast<double>(kLabelFraction) +
                              kLabelDrop),
                   text);
    }
  }
  drawTimeLabels(truncToInt(secondTop + kBoxHeightF + kBoxGap));
}

// ---------------------------------------------------------------- node

const KOLV::NodeDescription &SpectrumVisualization::description() {
  static const KOLV::NodeDescription d{
      "Shows a two-channel spectrum as two spectrograms in a window, passing it on unchanged",
      {{"INPUT_AUDIO_SPECTRUM", "Matrix<complex<float>>",
        "spectrum, row 0 left and row 1 right, at least 129 bins"}},
      {{"OUTPUT_AUDIO_SPECTRUM", "Matrix<complex<float>>", "the input frame itself"}},
      kolvdisplay::displayParameters()};
  return d;
}

SpectrumVisualization::SpectrumVisualization(std::string nodeName, KOLV::ParameterSet params)
    : DisplayNode("SpectrumVisualization", std::move(nodeName), params,
                  {{"INPUT_AUDIO_SPECTRUM", "OUTPUT_AUDIO_SPECTRUM"}},
                  std::make_unique<SpectrumRecord>(),
                  {G_CALLBACK(spectrum_visualization_delete_event),
                   G_CALLBACK(spectrum_visualization_configure_event),
                   G_CALLBACK(spectrum_visualization_expose_event)}) {
  spectrumInput_ = inputId(0);
  const int rate = samplingRate();
  static_cast<SpectrumRecord &>(display()).sampling_rate = rate;
  if (rate < kMinSamplingRate) {
    std::ostringstream msg;
    msg << label() << ": SAMPLING_RATE " << rate << " Hz is below the " << kMinSamplingRate
        << " Hz the frequency axis needs";
    throw new KOLV::GeneralException(msg.str(), __FILE__, __LINE__);
  }
}

void SpectrumVisualization::checkFrame(int count, const std::vector<KOLV::ObjectRef> &frames) {
  KOLV::RCPtr<ComplexMatrix> spectrum = frames[0];
  requireTwoChannels("INPUT_AUDIO_SPECTRUM", count, spectrum->nrows());
  if (spectrum->ncols() < kolvdisplay::kMinSpectrumColumns) {
    std::ostringstream msg;
    msg << label() << ": INPUT_AUDIO_SPECTRUM of frame " << count << " has "
        << spectrum->ncols() << " columns (bins); the spectrogram needs at least "
        << kolvdisplay::kMinSpectrumColumns << " (a transform of 256 points or more)";
    throw new KOLV::GeneralException(msg.str(), __FILE__, __LINE__);
  }
}

namespace {

// One image per channel and run of consecutive frames that share the number
// of bin groups: every pixel of the run's rectangle is one group of one frame.
class SpectrogramPainter {
 public:
  SpectrogramPainter(DisplayRecord &record, int channel) : record_(record), channel_(channel) {
    gdk_drawable_get_size(record.pixmap, &pixmapWidth_, &pixmapHeight_);
  }

  // Adds frame columns [x0, x1) with the given group colours.
  void addFrame(int x0, int x1, const std::vector<kolvdisplay::RampColour> &colours) {
    if (x1 <= x0) return;
    const int groups = static_cast<int>(colours.size());
    if (groups != runGroups_ || x0 != runEnd_) flush();
    if (runGroups_ < 0) {
      runStart_ = x0;
      runGroups_ = groups;
    }
    runEnd_ = x1;
    frames_.push_back({x0, x1, colours});
  }

  // Draws the pending run.
  void flush() {
    if (runGroups_ > 0) drawRun();
    frames_.clear();
    runGroups_ = -1;
  }

 private:
  struct FrameColumns {
    int x0, x1;
    std::vector<kolvdisplay::RampColour> colours;
  };

  void drawRun() {
    // Group r sits on row base - r.
    const int base = truncToInt(kolvdisplay::spectrogramBaseRow(channel_));
    const int top = base - (runGroups_ - 1);
    const int left = std::max(runStart_, 0), right = std::min(runEnd_, pixmapWidth_);
    const int y0 = std::max(top, 0), y1 = std::min(base + 1, pixmapHeight_);
    if (right <= left || y1 <= y0) return;
    const int width = right - left, height = y1 - y0;
    const int stride = width * kBytesPerPixel;
    pixels_.resize(static_cast<size_t>(stride) * height);
    for (const FrameColumns &frame : frames_) {
      for (int y = y0; y < y1; ++y) {
        const kolvdisplay::RampColour &colour = frame.colours[base - y];
        guchar *line = &pixels_[static_cast<size_t>(y - y0) * stride];
        for (int x = std::max(frame.x0, left); x < std::min(frame.x1, right); ++x) {
          guchar *pixel = line + (x - left) * kBytesPerPixel;
          pixel[0] = eightBit(colour.red);
          pixel[1] = eightBit(colour.green);
          pixel[2] = eightBit(colour.blue);
        }
      }
    }
    gdk_draw_rgb_image(record_.pixmap, record_.gc_white, left, y0, width, height,
                       GDK_RGB_DITHER_NONE, pixels_.data(), stride);
  }

  DisplayRecord &record_;
  int channel_;
  int pixmapWidth_ = 0, pixmapHeight_ = 0;
  int runStart_ = 0, runEnd_ = 0, runGroups_ = -1;
  std::vector<FrameColumns> frames_;
  std::vector<guchar> pixels_;
};

}  // namespace

void SpectrumVisualization::visualization_plot(int count) {
  DisplayRecord &r = display();
  std::vector<kolvdisplay::RampColour> colours;
  // Channel 1 is drawn after channel 0, as it would win where they overlap.
  for (int channel = 0; channel < 2; ++channel) {
    SpectrogramPainter painter(r, channel);
    for (int i = r.first_frame; i <= count; ++i) {
      int x0 = r.column(i), x1 = r.column(i + 1);
      if (x1 <= x0) continue;
      KOLV::RCPtr<ComplexMatrix> spectrum = getInput(spectrumInput_, i);
      kolvdisplay::groupColours(spectrum->row(channel), spectrum->ncols(), colours);
      painter.addFrame(x0, x1, colours);
    }
    painter.flush();
  }
}
