#include "VADvisualization.h"

#include "Matrix.h"
#include "TwoTraceRecord.h"
#include "Vector.h"

using kolvdisplay::DisplayRecord;
using kolvdisplay::TwoTraceRecord;

namespace {

DisplayRecord *recordOf(gpointer data) { return static_cast<DisplayRecord *>(data); }

// A speech stroke runs from one row below a box's top edge to its bottom edge.
constexpr float kShadeDepth = static_cast<float>(TwoTraceRecord::kBoxHeight);

}  // namespace

gboolean vad_visualization_delete_event(GtkWidget *, GdkEvent *, gpointer data) {
  return kolvdisplay::displayDeleteEvent(recordOf(data));
}

gboolean vad_visualization_configure_event(GtkWidget *widget, GdkEventConfigure *,
                                           gpointer data) {
  return kolvdisplay::displayConfigureEvent(widget, recordOf(data));
}

gboolean vad_visualization_expose_event(GtkWidget *widget, GdkEventExpose *event,
                                        gpointer data) {
  return kolvdisplay::displayExposeEvent(widget, event, recordOf(data));
}

const KOLV::NodeDescription &VADvisualization::description() {
  static const KOLV::NodeDescription d{
      "Shows a two-channel time signal with its speech frames shaded, passing both inputs on",
      {{"INPUT_AUDIO_SIGNAL", "Matrix<float>", "time signal, row 0 left and row 1 right"},
       {"INPUT_VAD_DECISION", "Vector<ObjectRef>", "empty: no speech; any element: speech"}},
      {{"OUTPUT_AUDIO_SIGNAL", "Matrix<float>", "the input signal frame itself"},
       {"OUTPUT_VAD_DECISION", "Vector<ObjectRef>", "the input decision itself"}},
      kolvdisplay::displayParameters()};
  return d;
}

VADvisualization::VADvisualization(std::string nodeName, KOLV::ParameterSet params)
    : DisplayNode("VADvisualization", std::move(nodeName), params,
                  {{"INPUT_AUDIO_SIGNAL", "OUTPUT_AUDIO_SIGNAL"},
                   {"INPUT_VAD_DECISION", "OUTPUT_VAD_DECISION"}},
                  std::make_unique<TwoTraceRecord>(kolvdisplay::FifthContext::Speech),
                  {G_CALLBACK(vad_visualization_delete_event),
                   G_CALLBACK(vad_visualization_configure_event),
                   G_CALLBACK(vad_visualization_expose_event)}) {
  audioInput_ = inputId(0);
  decisionInput_ = inputId(1);
}

void VADvisualization::checkFrame(int count, const std::vector<KOLV::ObjectRef> &frames) {
  // The typed handles refuse a frame of the wrong type.
  KOLV::RCPtr<KOLV::Matrix<float>> audio = frames[0];
  KOLV::RCPtr<KOLV::Vector<KOLV::ObjectRef>> decision = frames[1];
  requireTwoChannels("INPUT_AUDIO_SIGNAL", count, audio->nrows());
}

void VADvisualization::visualization_plot(int count) {
  auto &r = static_cast<TwoTraceRecord &>(display());
  kolvdisplay::Envelope envelope = r.makeEnvelope();
  // One vertical stroke per column of a speech frame in each box, sent to
  // the server as one batch.
  std::vector<GdkSegment> strokes;
  for (int i = r.first_frame; i <= count; ++i) {
    KOLV::RCPtr<KOLV::Matrix<float>> audio = getInput(audioInput_, i);
    int x = r.column(i);
    envelope.add(audio->row(0), audio->row(1), audio->ncols(), x);

    KOLV::RCPtr<KOLV::Vector<KOLV::ObjectRef>> decision = getInput(decisionInput_, i);
    if (decision->vempty()) continue;
    for (int column = x; column < r.column(i + 1); ++column) {
      for (int channel = 0; channel < 2; ++channel) {
        int top = r.boxTop(channel);
        strokes.push_back({column, top + 1, column,
                           kolvdisplay::truncToInt(static_cast<float>(top) + kShadeDepth)});
      }
    }
  }
  if (!strokes.empty())
    gdk_draw_segments(r.pixmap, r.gc_speech, strokes.data(), static_cast<gint>(strokes.size()));
  // The traces go on top of the shading.
  r.drawEnvelope(envelope);
}
