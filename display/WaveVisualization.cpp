#include "WaveVisualization.h"

#include "Matrix.h"
#include "TwoTraceRecord.h"

using kolvdisplay::DisplayRecord;

namespace {

DisplayRecord *recordOf(gpointer data) { return static_cast<DisplayRecord *>(data); }

}  // namespace

gboolean wave_visualization_delete_event(GtkWidget *, GdkEvent *, gpointer data) {
  return kolvdisplay::displayDeleteEvent(recordOf(data));
}

gboolean wave_visualization_configure_event(GtkWidget *widget, GdkEventConfigure *,
                                            gpointer data) {
  return kolvdisplay::displayConfigureEvent(widget, recordOf(data));
}

gboolean wave_visualization_expose_event(GtkWidget *widget, GdkEventExpose *event,
                                         gpointer data) {
  return kolvdisplay::displayExposeEvent(widget, event, recordOf(data));
}

const KOLV::NodeDescription &WaveVisualization::description() {
  static const KOLV::NodeDescription d{
      "Shows the two channels of a time signal in a window, passing the signal on unchanged",
      {{"INPUT_AUDIO_SIGNAL", "Matrix<float>", "time signal, row 0 left and row 1 right"}},
      {{"OUTPUT_AUDIO_SIGNAL", "Matrix<float>", "the input frame itself"}},
      kolvdisplay::displayParameters()};
  return d;
}

WaveVisualization::WaveVisualization(std::string nodeName, KOLV::ParameterSet params)
    : DisplayNode("WaveVisualization", std::move(nodeName), params,
                  {{"INPUT_AUDIO_SIGNAL", "OUTPUT_AUDIO_SIGNAL"}},
                  std::make_unique<kolvdisplay::TwoTraceRecord>(kolvdisplay::FifthContext::White),
                  {G_CALLBACK(wave_visualization_delete_event),
                   G_CALLBACK(wave_visualization_configure_event),
                   G_CALLBACK(wave_visualization_expose_event)}) {
  audioInput_ = inputId(0);
}

void WaveVisualization::checkFrame(int count, const std::vector<KOLV::ObjectRef> &frames) {
  KOLV::RCPtr<KOLV::Matrix<float>> audio = frames[0];
  requireTwoChannels("INPUT_AUDIO_SIGNAL", count, audio->nrows());
}

void WaveVisualization::visualization_plot(int count) {
  auto &r = static_cast<kolvdisplay::TwoTraceRecord &>(display());
  kolvdisplay::Envelope envelope = r.makeEnvelope();
  for (int i = r.first_frame; i <= count; ++i) {
    KOLV::RCPtr<KOLV::Matrix<float>> audio = getInput(audioInput_, i);
    envelope.add(audio->row(0), audio->row(1), audio->ncols(), r.column(i));
  }
  r.drawEnvelope(envelope);
}
