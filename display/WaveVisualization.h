// WaveVisualization: shows the two channels of a time signal as envelope
// traces over the last seconds and passes the signal on unchanged.
#ifndef KOLV_WAVE_VISUALIZATION_H
#define KOLV_WAVE_VISUALIZATION_H

#include <string>

#include "DisplayNode.h"

extern "C" {
gboolean wave_visualization_delete_event(GtkWidget *widget, GdkEvent *event, gpointer data);
gboolean wave_visualization_configure_event(GtkWidget *widget, GdkEventConfigure *event,
                                            gpointer data);
gboolean wave_visualization_expose_event(GtkWidget *widget, GdkEventExpose *event,
                                         gpointer data);
}

class WaveVisualization : public kolvdisplay::DisplayNode {
 public:
  WaveVisualization(std::string nodeName, KOLV::ParameterSet params);
  static const KOLV::NodeDescription &description();

 protected:
  void checkFrame(int count, const std::vector<KOLV::ObjectRef> &frames) override;
  void visualization_plot(int count) override;

 private:
  int audioInput_ = 0;
};

#endif
