// SSLvisualization: a direction-over-time chart of the sound sources reported
// in each frame, with a cursor at the current frame, above the two channels
// of the time signal. Passes both inputs on unchanged.
#ifndef KOLV_SSL_VISUALIZATION_H
#define KOLV_SSL_VISUALIZATION_H

#include <optional>
#include <string>

#include "DisplayNode.h"

extern "C" {
gboolean ssl_visualization_delete_event(GtkWidget *widget, GdkEvent *event, gpointer data);
gboolean ssl_visualization_configure_event(GtkWidget *widget, GdkEventConfigure *event,
                                           gpointer data);
gboolean ssl_visualization_expose_event(GtkWidget *widget, GdkEventExpose *event,
                                        gpointer data);
}

namespace kolvdisplay {

// The screen row of a direction (x0, x1) = (cos azimuth, sin azimuth) in a
// direction box of height h1 at plotY: +180 degrees at the top, -180 at the
// bottom, azimuths truncated to whole degrees first. Nothing for a direction
// that is not a number.
std::optional<int> directionRow(float x0, float x1, float h1, int plotY);

}  // namespace kolvdisplay

// The direction display's record: the direction box takes 61 % of the plot
// height, each signal box 16 %, so the layout follows the window's height.
class zuSSLGtk : public kolvdisplay::DisplayRecord {
 public:
  zuSSLGtk();
  void visualization_draw_plot_area() override;

  float directionBoxHeight() const;  // H1
  float signalBoxHeight() const;     // H2
  // Centre lines of the traces: the middles of the two signal boxes.
  kolvdisplay::Envelope makeEnvelope() const;
  // The red line across the direction box at the column of frame `count`.
  void drawCursor(int count);
};

class SSLvisualization : public kolvdisplay::DisplayNode {
 public:
  SSLvisualization(std::string nodeName, KOLV::ParameterSet params);
  static const KOLV::NodeDescription &description();

 protected:
  void checkFrame(int count, const std::vector<KOLV::ObjectRef> &frames) override;
  void visualization_plot(int count) override;

 private:
  int audioInput_ = 0;
  int directionInput_ = 0;
};

#endif
