// SpectrumVisualization: two stacked spectrograms (time to the right,
// frequency upwards, magnitude as colour) of a two-channel spectrum over the
// last seconds; passes the spectrum on unchanged.
#ifndef KOLV_SPECTRUM_VISUALIZATION_H
#define KOLV_SPECTRUM_VISUALIZATION_H

#include <string>

#include "DisplayNode.h"

extern "C" {
gboolean spectrum_visualization_delete_event(GtkWidget *widget, GdkEvent *event, gpointer data);
gboolean spectrum_visualization_configure_event(GtkWidget *widget, GdkEventConfigure *event,
                                                gpointer data);
gboolean spectrum_visualization_expose_event(GtkWidget *widget, GdkEventExpose *event,
                                             gpointer data);
}

namespace kolvdisplay {

// Pixel row of bin group 0 of channel c: fixed screen rows 266 and 542,
// whatever the window size.
float spectrogramBaseRow(int channel);

class SpectrumRecord : public DisplayRecord {
 public:
  SpectrumRecord();
  void visualization_draw_plot_area() override;

  int sampling_rate = 0;  // Hz, for the frequency labels
};

}  // namespace kolvdisplay

class SpectrumVisualization : public kolvdisplay::DisplayNode {
 public:
  SpectrumVisualization(std::string nodeName, KOLV::ParameterSet params);
  static const KOLV::NodeDescription &description();

 protected:
  void checkFrame(int count, const std::vector<KOLV::ObjectRef> &frames) override;
  // Draws every visible frame's colours as images, one per channel and run
  // of frames with the same number of bin groups: the same pixels as drawing
  // each point with a colour of its own, at a fraction of the cost.
  void visualization_plot(int count) override;

 private:
  int spectrumInput_ = 0;
};

#endif
