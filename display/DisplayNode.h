// What the four live displays share: the display record (window, off-screen
// pixmap, graphics contexts, plot rectangle, time axis), the window's three
// event handlers, and a pass-through node that redraws its window every
// kRefreshPeriod frames from the thread that runs the network.
#ifndef KOLV_DISPLAY_NODE_H
#define KOLV_DISPLAY_NODE_H

#include <gtk/gtk.h>

#include <memory>
#include <string>
#include <vector>

#include "DisplayGeometry.h"
#include "Node.h"
#include "NodeDescription.h"

namespace kolvdisplay {

// The fifth graphics context of a display.
enum class FifthContext { White, Speech };

// Fixed layout of one kind of display.
struct DisplayLayout {
  int windowWidth, windowHeight;  // size request, pixels
  int insetX, insetWidth;         // plot_x = x + insetX, plot_width = width - insetWidth
  FifthContext fifth;
  bool hasCursor;  // the direction display's red cursor context
};

// The three event handlers of a display, each a plain function taking the
// display record as user data.
struct DisplayHandlers {
  GCallback deleteEvent;
  GCallback configureEvent;
  GCallback exposeEvent;
};

// The state of one display window. Created and used by its node alone.
class DisplayRecord {
 public:
  explicit DisplayRecord(const DisplayLayout &layout) : layout(layout) {}
  virtual ~DisplayRecord();
  DisplayRecord(const DisplayRecord &) = delete;
  DisplayRecord &operator=(const DisplayRecord &) = delete;

  // Clears the pixmap and draws the static part of the plot (boxes, captions,
  // axis labels); nothing while there is no pixmap.
  virtual void visualization_draw_plot_area() = 0;

  const DisplayLayout layout;
  GtkWidget *window = nullptr;  // null until shown, and again once the user closes it
  GtkWidget *drawing_area = nullptr;
  GdkPixmap *pixmap = nullptr;  // null until the first configure event
  int plot_x = 0, plot_y = 0, plot_width = 0, plot_height = 0;
  GdkGC *gc_red = nullptr;
  GdkGC *gc_green = nullptr;
  GdkGC *gc_blue = nullptr;
  GdkGC *gc_black = nullptr;
  GdkGC *gc_white = nullptr;   // waveform, spectrum and direction displays
  GdkGC *gc_speech = nullptr;  // voice-activity display
  GdkGC *gc_cursor = nullptr;  // direction display
  int first_frame = 0;
  int frames_shown = 0;
  float frame_period = 0.0f;

  // The top-level window as created, kept after the user closes it so that
  // it can be destroyed with the node.
  GtkWidget *toplevel = nullptr;
  // The text font, kept loaded for the life of the record.
  GdkFont *fontHeld = nullptr;

  // Draws the time-axis labels with baseline y.
  void drawTimeLabels(int baseline);
  // Fills the drawing area's allocation with the style's white.
  void clearDrawingArea();
  // Column where frame i starts.
  int column(int frame) const {
    return frameColumn(plot_x, plot_width, first_frame, frames_shown, frame);
  }

  // Draws channel 0's trace, then channel 1's, each as one polyline in blue.
  void drawEnvelope(const Envelope &envelope);

  // Makes the graphics contexts this display draws with, dropping earlier ones.
  void createGraphicsContexts();
  void releaseGraphicsContexts();
};

// Outlines and text in the drawing area's style, in the core font "fixed"
// (loaded by name for each plot-area drawing, as the record's routine is
// entered).
class PlotPainter {
 public:
  explicit PlotPainter(DisplayRecord &record);
  ~PlotPainter();
  PlotPainter(const PlotPainter &) = delete;
  PlotPainter &operator=(const PlotPainter &) = delete;

  void box(int x, int y, int width, int height);
  // Text whose baseline starts at (x, y).
  void text(int x, int y, const std::string &text);

 private:
  DisplayRecord &record_;
  GdkFont *font_;
};

// Shared handler bodies; each display's named handlers forward to these.
gboolean displayDeleteEvent(DisplayRecord *record);
gboolean displayConfigureEvent(GtkWidget *widget, DisplayRecord *record);
gboolean displayExposeEvent(GtkWidget *widget, GdkEventExpose *event, DisplayRecord *record);

// Opens the X display for this process once (GTK initialised without
// arguments); false when no display can be opened.
bool openDisplay();

// An input and the output that passes its frames on.
struct PortSpec {
  const char *input;
  const char *output;
};

// A pass-through display node: for every frame it stores on each output the
// very object that arrived on the matching input, and every kRefreshPeriod
// frames it redraws its window under the GDK lock and serves pending window
// events with one non-blocking main-loop iteration.
class DisplayNode : public KOLV::BufferedNode {
 public:
  ~DisplayNode() override;

  void initialize() override;
  void calculate(int output_id, int count, KOLV::Buffer &out) override;
  // Saves the picture as DIR/NODE.png when snapshots are asked for.
  void finish() override;

  // The window state.
  const DisplayRecord &display() const { return *record_; }
  DisplayRecord &display() { return *record_; }
  // Whether a display could be opened for the window.
  bool hasDisplay() const { return displayOpen_; }
  // Redraws now, as the refresh at frame `count` does.
  void refresh(int count);

 protected:
  // Declares the ports (inputs, then outputs, in the order given), reads the
  // four common parameters and fixes the time axis.
  DisplayNode(const std::string &typeName, std::string nodeName, const KOLV::ParameterSet &params,
              const std::vector<PortSpec> &ports, std::unique_ptr<DisplayRecord> record,
              const DisplayHandlers &handlers);

  // Checks frame `count` of every input (type, shape); throws on a bad one.
  virtual void checkFrame(int count, const std::vector<KOLV::ObjectRef> &frames) = 0;
  // Draws the data of frames first_frame to count into the pixmap.
  virtual void visualization_plot(int count) = 0;

  // "TYPE node 'NAME'", the start of every message of this node.
  std::string label() const;
  // Throws unless the frame of `port` has at least two channels (rows).
  void requireTwoChannels(const std::string &port, int count, int rows) const;

  int samplingRate() const { return samplingRate_; }
  int inputId(int index) const { return inputIds_.at(index); }

 private:
  void createWindow();
  void saveSnapshot(const std::string &directory);

  std::string typeName_;
  std::vector<int> inputIds_;
  std::vector<int> outputIds_;
  std::string windowName_;
  float timeLength_;
  int advance_;
  int samplingRate_;
  std::unique_ptr<DisplayRecord> record_;
  DisplayHandlers handlers_;
  bool displayOpen_ = false;
  bool warnedNoDisplay_ = false;
};

// The parameter table the four displays share, in the order they are read.
std::vector<KOLV::ParameterInfo> displayParameters();

}  // namespace kolvdisplay

#endif
