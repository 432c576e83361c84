// VADvisualization: shows the two channels of a time signal like
// WaveVisualization and shades, behind the traces, every frame that a voice
// activity detector marked as speech. Passes both inputs on unchanged.
#ifndef KOLV_VAD_VISUALIZATION_H
#define KOLV_VAD_VISUALIZATION_H

#include <string>

#include "DisplayNode.h"

extern "C" {
gboolean vad_visualization_delete_event(GtkWidget *widget, GdkEvent *event, gpointer data);
gboolean vad_visualization_configure_event(GtkWidget *widget, GdkEventConfigure *event,
                                           gpointer data);
gboolean vad_visualization_expose_event(GtkWidget *widget, GdkEventExpose *event,
                                        gpointer data);
}

class VADvisualization : public kolvdisplay::DisplayNode {
 public:
  VADvisualization(std::string nodeName, KOLV::ParameterSet params);
  static const KOLV::NodeDescription &description();

 protected:
  void checkFrame(int count, const std::vector<KOLV::ObjectRef> &frames) override;
  void visualization_plot(int count) override;

 private:
  int audioInput_ = 0;
  int decisionInput_ = 0;
};

#endif
