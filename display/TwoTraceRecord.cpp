#include "TwoTraceRecord.h"

#include <cstdio>

namespace kolvdisplay {

namespace {

constexpr DisplayLayout twoTraceLayout(FifthContext fifth) {
  return DisplayLayout{600, 260, 30, 55, fifth, false};
}

constexpr float kBoxHeightF = TwoTraceRecord::kBoxHeight;
constexpr float kBoxGapF = TwoTraceRecord::kBoxGap;
constexpr float kCaptionIndent = 10.0f;
constexpr float kCaptionDrop = 20.0f;
constexpr int kTickLabelIndent = 20;
constexpr float kTickLabelDrop = 5.0f;

}  // namespace

TwoTraceRecord::TwoTraceRecord(FifthContext fifth) : DisplayRecord(twoTraceLayout(fifth)) {}

int TwoTraceRecord::boxTop(int channel) const {
  return channel == 0 ? plot_y : truncToInt(static_cast<float>(plot_y) + kBoxHeightF + kBoxGapF);
}

Envelope TwoTraceRecord::makeEnvelope() const {
  return Envelope(static_cast<float>(plot_y) + kBoxHeightF * 0.5f, kBoxHeightF + kBoxGapF);
}

void TwoTraceRecord::visualization_draw_plot_area() {
  if (!pixmap) return;
  clearDrawingArea();
  PlotPainter painter(*this);
  const float top = static_cast<float>(plot_y);
  const float secondTop = top + kBoxHeightF + kBoxGapF;
  painter.box(plot_x, plot_y, plot_width, kBoxHeight);
  painter.box(plot_x, truncToInt(secondTop), plot_width, kBoxHeight);

  const int captionX = truncToInt(static_cast<float>(plot_x) + kCaptionIndent);
  char tick[8];
  painter.text(captionX, truncToInt(top + kCaptionDrop), "Left signal input");
  for (int i = -1; i <= 1; ++i) {
    std::snprintf(tick, sizeof tick, "%2d", i);
    painter.text(plot_x - kTickLabelIndent,
                 truncToInt(static_cast<float>(1 - i) * kBoxHeightF * 0.5f + top + kTickLabelDrop),
                 tick);
  }
  painter.text(captionX, truncToInt(secondTop + kCaptionDrop), "Right signal input");
  for (int i = -1; i <= 1; ++i) {
    std::snprintf(tick, sizeof tick, "%2d", i);
    painter.text(plot_x - kTickLabelIndent,
                 truncToInt(secondTop + static_cast<float>(1 - i) * kBoxHeightF * 0.5f +
                            kTickLabelDrop),
                 tick);
  }
  drawTimeLabels(truncToInt(secondTop + kBoxHeightF + kBoxGapF));
}

}  // namespace kolvdisplay
