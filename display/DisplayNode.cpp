#include "DisplayNode.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <iostream>
#include <sstream>

#include "BaseException.h"
#include "GenericType.h"
#include "RunOptions.h"

namespace kolvdisplay {

namespace {

// Margins of the plot rectangle inside the drawing area that all displays share.
constexpr int kPlotTop = 10;
constexpr int kPlotHeightInset = 40;
constexpr const char *kFontName = "fixed";
constexpr guint16 kFull = 65535;

// Holds the GDK lock for a scope, so an error thrown while drawing never
// leaves it taken.
class GdkLock {
 public:
  GdkLock() { gdk_threads_enter(); }
  ~GdkLock() { gdk_threads_leave(); }
  GdkLock(const GdkLock &) = delete;
  GdkLock &operator=(const GdkLock &) = delete;
};

struct ContextStyle {
  guint16 red, green, blue;
  int lineWidth;
  GdkCapStyle cap;
  GdkJoinStyle join;
};

constexpr ContextStyle kRed{kFull, 0, 0, 3, GDK_CAP_ROUND, GDK_JOIN_ROUND};
constexpr ContextStyle kGreen{0, kFull, 0, 3, GDK_CAP_ROUND, GDK_JOIN_ROUND};
constexpr ContextStyle kBlue{0, 0, kFull, 1, GDK_CAP_ROUND, GDK_JOIN_ROUND};
constexpr ContextStyle kBlack{0, 0, 0, 3, GDK_CAP_ROUND, GDK_JOIN_ROUND};
constexpr ContextStyle kWhite{kFull, kFull, kFull, 1, GDK_CAP_ROUND, GDK_JOIN_ROUND};
// Light red behind the traces of speech frames.
constexpr ContextStyle kSpeech{kFull, 52428, 52428, 2, GDK_CAP_BUTT, GDK_JOIN_ROUND};

GdkColor allocateColour(guint16 red, guint16 green, guint16 blue) {
  GdkColor colour{0, red, green, blue};
  gdk_colormap_alloc_color(gdk_colormap_get_system(), &colour, FALSE, TRUE);
  return colour;
}

GdkGC *makeContext(GdkPixmap *pixmap, const ContextStyle &style) {
  GdkGC *gc = gdk_gc_new(pixmap);
  GdkColor colour = allocateColour(style.red, style.green, style.blue);
  gdk_gc_set_foreground(gc, &colour);
  gdk_gc_set_line_attributes(gc, style.lineWidth, GDK_LINE_SOLID, style.cap, style.join);
  return gc;
}

void releaseContext(GdkGC *&gc) {
  if (gc) g_object_unref(gc);
  gc = nullptr;
}

}  // namespace

// ---------------------------------------------------------------- record

DisplayRecord::~DisplayRecord() {
  if (fontHeld) gdk_font_unref(fontHeld);
  releaseGraphicsContexts();
  if (pixmap) g_object_unref(pixmap);
}

void DisplayRecord::createGraphicsContexts() {
  releaseGraphicsContexts();
  gc_red = makeContext(pixmap, kRed);
  gc_green = makeContext(pixmap, kGreen);
  gc_blue = makeContext(pixmap, kBlue);
  gc_black = makeContext(pixmap, kBlack);
  if (layout.fifth == FifthContext::White)
    gc_white = makeContext(pixmap, kWhite);
  else
    gc_speech = makeContext(pixmap, kSpeech);
  if (layout.hasCursor) {
    gc_cursor = gdk_gc_new(pixmap);
    GdkColor red = allocateColour(kFull, 0, 0);
    gdk_gc_set_foreground(gc_cursor, &red);
  }
}

void DisplayRecord::releaseGraphicsContexts() {
  for (GdkGC **gc : {&gc_red, &gc_green, &gc_blue, &gc_black, &gc_white, &gc_speech, &gc_cursor})
    releaseContext(*gc);
}

void DisplayRecord::clearDrawingArea() {
  const GtkAllocation &area = drawing_area->allocation;
  gdk_draw_rectangle(pixmap, drawing_area->style->white_gc, TRUE, area.x, area.y, area.width,
                     area.height);
}

void DisplayRecord::drawTimeLabels(int baseline) {
  PlotPainter painter(*this);
  for (const TimeLabel &label : timeLabels(plot_x, plot_width, first_frame, frames_shown,
                                           frame_period))
    painter.text(label.x, baseline, label.text);
}

void DisplayRecord::drawEnvelope(const Envelope &envelope) {
  std::vector<GdkPoint> points;
  for (int c = 0; c < 2; ++c) {
    const std::vector<ScreenPoint> &trace = envelope.points(c);
    if (trace.empty()) continue;
    points.clear();
    for (const ScreenPoint &p : trace) points.push_back({p.x, p.y});
    gdk_draw_lines(pixmap, gc_blue, points.data(), static_cast<gint>(points.size()));
  }
}

PlotPainter::PlotPainter(DisplayRecord &record)
    : record_(record), font_(gdk_font_load(kFontName)) {
  // While the record holds a reference, GDK finds the font in its cache by
  // name instead of asking the X server again at every refresh.
  if (font_ && !record.fontHeld) record.fontHeld = gdk_font_ref(font_);
}

PlotPainter::~PlotPainter() {
  if (font_) gdk_font_unref(font_);
}

void PlotPainter::box(int x, int y, int width, int height) {
  gdk_draw_rectangle(record_.pixmap, record_.drawing_area->style->black_gc, FALSE, x, y, width,
                     height);
}

void PlotPainter::text(int x, int y, const std::string &text) {
  if (font_)
    gdk_draw_string(record_.pixmap, font_, record_.drawing_area->style->black_gc, x, y,
                    text.c_str());
}

// ---------------------------------------------------------------- handlers

gboolean displayDeleteEvent(DisplayRecord *record) {
  if (record->window) {
    gtk_widget_hide(record->window);
    record->window = nullptr;
  }
  return TRUE;
}

gboolean displayConfigureEvent(GtkWidget *widget, DisplayRecord *record) {
  if (record->pixmap) g_object_unref(record->pixmap);
  const GtkAllocation &area = widget->allocation;
  record->pixmap = gdk_pixmap_new(widget->window, area.width, area.height, -1);
  record->createGraphicsContexts();
  gdk_draw_rectangle(record->pixmap, widget->style->white_gc, TRUE, 0, 0, area.width,
                     area.height);
  record->plot_x = area.x + record->layout.insetX;
  record->plot_y = area.y + kPlotTop;
  record->plot_width = area.width - record->layout.insetWidth;
  record->plot_height = area.height - kPlotHeightInset;
  record->visualization_draw_plot_area();
  return TRUE;
}

gboolean displayExposeEvent(GtkWidget *widget, GdkEventExpose *event, DisplayRecord *record) {
  if (record->pixmap)
    gdk_draw_drawable(widget->window, widget->style->fg_gc[GTK_WIDGET_STATE(widget)],
                      record->pixmap, event->area.x, event->area.y, event->area.x,
                      event->area.y, event->area.width, event->area.height);
  return TRUE;
}

bool openDisplay() {
  static const bool opened = [] {
    // GTK would switch the whole process to the user's locale, and with it
    // the decimal separator of every number the run reads or writes.
    gtk_disable_setlocale();
    // gtk_init would end the process without a display; the check variant
    // lets the run go on without windows.
    return gtk_init_check(nullptr, nullptr) != FALSE;
  }();
  return opened;
}

namespace {

// One declaration per parameter, in the order the constructor reads them.
struct Parameters : KOLV::ParameterTable {
  const KOLV::ParameterInfo &timeLength =
      add(KOLV::floatParameter("VISUALIZATION_TIME_LENGTH", "s",
                               "seconds of signal shown across the plot width (at least 40 frames)")
              .above(0.0));
  const KOLV::ParameterInfo &windowName =
      add(KOLV::stringParameter("WINDOW_NAME", "", "title of the window"));
  const KOLV::ParameterInfo &advance =
      add(KOLV::intParameter("ADVANCE", "samples", "frame shift")
              .above(0)
              .fromStream(KOLV::StreamProperty::Advance));
  const KOLV::ParameterInfo &samplingRate =
      add(KOLV::intParameter("SAMPLING_RATE", "Hz", "sampling rate of the signal")
              .above(0)
              .fromStream(KOLV::StreamProperty::SamplingRate));
};

const Parameters &declared() {
  static const Parameters table;
  return table;
}

}  // namespace

std::vector<KOLV::ParameterInfo> displayParameters() { return declared().entries(); }

// ---------------------------------------------------------------- node

DisplayNode::DisplayNode(const std::string &typeName, std::string nodeName,
                         const KOLV::ParameterSet &params, const std::vector<PortSpec> &ports,
                         std::unique_ptr<DisplayRecord> record, const DisplayHandlers &handlers)
    : BufferedNode(std::move(nodeName), params),
      typeName_(typeName),
      record_(std::move(record)),
      handlers_(handlers) {
  for (const PortSpec &port : ports) inputIds_.push_back(addInput(port.input));
  for (const PortSpec &port : ports) outputIds_.push_back(addOutput(port.output));

  const Parameters &p = declared();
  timeLength_ = p.timeLength.readFloat(parameters);
  windowName_ = p.windowName.readString(parameters);
  advance_ = p.advance.readInt(parameters);
  samplingRate_ = p.samplingRate.readInt(parameters);

  TimeAxis axis = makeTimeAxis(label(), timeLength_, advance_, samplingRate_);
  record_->first_frame = 0;
  record_->frame_period = axis.framePeriod;
  record_->frames_shown = axis.framesShown;
  for (int id : inputIds_) setInputLookBack(id, axis.framesShown);
  processInOrder = true;
}

DisplayNode::~DisplayNode() {
  if (!displayOpen_) return;
  GdkLock lock;
  // No handler may run on the record once it is gone.
  if (record_->toplevel) {
    g_signal_handlers_disconnect_matched(record_->toplevel, G_SIGNAL_MATCH_DATA, 0, 0, nullptr,
                                         nullptr, record_.get());
    g_signal_handlers_disconnect_matched(record_->drawing_area, G_SIGNAL_MATCH_DATA, 0, 0,
                                         nullptr, nullptr, record_.get());
    gtk_widget_destroy(record_->toplevel);
  }
  record_.reset();
  gdk_flush();
}

std::string DisplayNode::label() const { return typeName_ + " node '" + getName() + "'"; }

void DisplayNode::requireTwoChannels(const std::string &port, int count, int rows) const {
  if (rows >= 2) return;
  std::ostringstream msg;
  msg << label() << ": " << port << " of frame " << count << " has " << rows
      << " row(s); the display needs two channels (rows 0 and 1)";
  throw new KOLV::GeneralException(msg.str(), __FILE__, __LINE__);
}

void DisplayNode::initialize() {
  BufferedNode::initialize();
  displayOpen_ = openDisplay();
  if (!displayOpen_) {
    if (warnedNoDisplay_) return;
    warnedNoDisplay_ = true;
    std::cerr << label() << ": no X display could be opened (is DISPLAY set?); the window is "
              << "not shown and the data pass on unchanged.";
    if (!KOLV::runOptions().snapshotDirectory.empty())
      std::cerr << " No snapshot will be saved:";
    std::cerr << " Snapshots need a display, for example a virtual one: xvfb-run kolv run ...\n";
    return;
  }
  GdkLock lock;
  DisplayRecord &r = *record_;
  if (!r.window) createWindow();
  r.visualization_draw_plot_area();
  gtk_widget_draw(r.drawing_area, &r.drawing_area->allocation);
}

void DisplayNode::createWindow() {
  DisplayRecord &r = *record_;
  if (r.toplevel) {
    // Closed earlier by the user: show the same window again.
    gtk_widget_show(r.toplevel);
    r.window = r.toplevel;
    return;
  }
  r.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  r.toplevel = r.window;
  gtk_window_set_title(GTK_WINDOW(r.window), windowName_.c_str());
  gtk_widget_set_usize(r.window, r.layout.windowWidth, r.layout.windowHeight);
  r.drawing_area = gtk_drawing_area_new();
  gtk_widget_show(r.drawing_area);
  gtk_container_add(GTK_CONTAINER(r.window), r.drawing_area);
  g_signal_connect(r.window, "delete_event", handlers_.deleteEvent, &r);
  g_signal_connect(r.drawing_area, "configure_event", handlers_.configureEvent, &r);
  g_signal_connect(r.drawing_area, "expose_event", handlers_.exposeEvent, &r);
  gtk_widget_show(r.window);
}

void DisplayNode::calculate(int, int count, KOLV::Buffer &) {
  std::vector<KOLV::ObjectRef> frames;
  frames.reserve(inputIds_.size());
  for (int id : inputIds_) frames.push_back(getInput(id, count));
  checkFrame(count, frames);
  if (count % kRefreshPeriod == 0) refresh(count);
  for (size_t k = 0; k < outputIds_.size(); ++k) outputBuffer(outputIds_[k])[count] = frames[k];
}

void DisplayNode::refresh(int count) {
  if (!displayOpen_) return;
  GdkLock lock;
  DisplayRecord &r = *record_;
  if (r.window) {
    r.first_frame = scrolledFirstFrame(r.first_frame, r.frames_shown, count);
    r.visualization_draw_plot_area();
    if (r.pixmap) visualization_plot(count);
    gtk_widget_draw(r.drawing_area, &r.drawing_area->allocation);
  }
  gtk_main_iteration_do(FALSE);
  gdk_flush();
}

void DisplayNode::finish() {
  const std::string &directory = KOLV::runOptions().snapshotDirectory;
  if (directory.empty() || !displayOpen_) return;
  int last = lastComputedFrame();
  if (last >= 0 && last % kRefreshPeriod != 0) refresh(last);
  saveSnapshot(directory);
}

void DisplayNode::saveSnapshot(const std::string &directory) {
  GdkLock lock;
  const DisplayRecord &r = *record_;
  if (!r.pixmap) {
    std::cerr << label() << ": the window never got its size; no snapshot saved\n";
    return;
  }
  g_mkdir_with_parents(directory.c_str(), 0755);
  std::string path = directory + "/" + getName() + ".png";
  int width = 0, height = 0;
  gdk_drawable_get_size(r.pixmap, &width, &height);
  GdkColormap *colormap = gdk_drawable_get_colormap(r.pixmap) ? nullptr
                                                               : gdk_colormap_get_system();
  GdkPixbuf *picture = gdk_pixbuf_get_from_drawable(nullptr, r.pixmap, colormap, 0, 0, 0, 0,
                                                    width, height);
  GError *error = nullptr;
  bool saved = picture && gdk_pixbuf_save(picture, path.c_str(), "png", &error, nullptr);
  if (picture) g_object_unref(picture);
  if (!saved) {
    std::string why = error ? error->message : "the picture could not be read back";
    if (error) g_error_free(error);
    throw new KOLV::GeneralException(label() + ": cannot save the snapshot " + path + ": " + why,
                                     __FILE__, __LINE__);
  }
}

}  // namespace kolvdisplay
