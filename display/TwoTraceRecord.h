// The layout the waveform and voice-activity displays share: two boxes 100
// pixels high, the left channel above the right one, with their captions,
// amplitude ticks and the time axis below.
#ifndef KOLV_TWO_TRACE_RECORD_H
#define KOLV_TWO_TRACE_RECORD_H

#include "DisplayNode.h"

namespace kolvdisplay {

class TwoTraceRecord : public DisplayRecord {
 public:
  static constexpr int kBoxHeight = 100;
  static constexpr int kBoxGap = 20;  // between the boxes, and above the time labels

  explicit TwoTraceRecord(FifthContext fifth);
  void visualization_draw_plot_area() override;

  // Top of the box of channel c: plot_y, then plot_y + 120.
  int boxTop(int channel) const;
  // Centre lines of the traces: channel c at (float)c * 120 + ((float)plot_y + 50).
  Envelope makeEnvelope() const;
};

}  // namespace kolvdisplay

#endif
