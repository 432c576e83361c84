#include "DisplayGeometry.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "BaseException.h"

namespace kolvdisplay {

namespace {

// Keeps (frame offset) x (plot width) well inside 32-bit integers for any
// window a screen can hold.
constexpr int kMaxFramesShown = 100000;
// One screen row per 512 sample units: an arithmetic shift by 9.
constexpr int kEnvelopeShift = 9;
// X coordinates are 16-bit; rows beyond this are off any pixmap anyway, and
// clamping them keeps wild sample values from wrapping onto the screen.
constexpr int kFarOffScreen = 16000;

}  // namespace

int truncToInt(double value) {
  if (std::isnan(value)) return 0;
  if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (value <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(value);
}

TimeAxis makeTimeAxis(const std::string &nodeLabel, float timeLength, int advance,
                      int samplingRate) {
  auto refuse = [&](const std::string &why) {
    std::ostringstream msg;
    msg << nodeLabel << ": VISUALIZATION_TIME_LENGTH " << timeLength << " s, ADVANCE " << advance
        << " samples, SAMPLING_RATE " << samplingRate << " Hz: " << why;
    throw new KOLV::GeneralException(msg.str(), __FILE__, __LINE__);
  };
  if (advance <= 0) refuse("ADVANCE must be a positive number of samples");
  if (samplingRate <= 0) refuse("SAMPLING_RATE must be a positive rate");

  TimeAxis axis{};
  axis.framePeriod = static_cast<float>(advance) / static_cast<float>(samplingRate);
  float quotient = timeLength / axis.framePeriod;
  double rounded = static_cast<double>(quotient) + 0.5;
  if (!(rounded < kMaxFramesShown + 1.0)) {
    std::ostringstream why;
    why << "the plot would span more than " << kMaxFramesShown << " frames";
    refuse(why.str());
  }
  axis.framesShown = rounded > 0.0 ? static_cast<int>(rounded) : 0;
  if (axis.framesShown < kMinFramesShown) {
    std::ostringstream why;
    why << "the plot would span " << axis.framesShown << " frames; a display needs at least "
        << kMinFramesShown << " (" << kMinFramesShown * axis.framePeriod << " s here)";
    refuse(why.str());
  }
  return axis;
}

int frameColumn(int plotX, int plotWidth, int firstFrame, int framesShown, int frame) {
  return plotX + (frame - firstFrame) * plotWidth / framesShown;
}

int scrolledFirstFrame(int firstFrame, int framesShown, int count) {
  if (firstFrame + framesShown < count) return firstFrame + framesShown / 2;
  return firstFrame;
}

std::vector<TimeLabel> timeLabels(int plotX, int plotWidth, int firstFrame, int framesShown,
                                  float framePeriod) {
  std::vector<TimeLabel> labels;
  int step = framesShown / 4;
  if (framesShown < 0 || step <= 0) return labels;
  for (int d = 0; d <= framesShown; d += step) {
    float seconds = static_cast<float>(firstFrame + d) * framePeriod;
    char text[32];
    std::snprintf(text, sizeof text, "%0.2fs", static_cast<double>(seconds));
    labels.push_back({plotX + d * plotWidth / framesShown - 5, text});
  }
  return labels;
}

int envelopeRow(float v, float centre) {
  int shifted = truncToInt(v) >> kEnvelopeShift;
  int row = truncToInt(static_cast<float>(shifted) + centre);
  return std::clamp(row, -kFarOffScreen, kFarOffScreen);
}

void appendEnvelope(const float *samples, int count, int x, float centre,
                    std::vector<ScreenPoint> &points) {
  if (count <= 0) return;
  auto range = std::minmax_element(samples, samples + count);
  points.push_back({x, envelopeRow(*range.first, centre)});
  points.push_back({x, envelopeRow(*range.second, centre)});
}

void Envelope::add(const float *left, const float *right, int samples, int x) {
  const float *rows[2] = {left, right};
  for (int c = 0; c < 2; ++c)
    appendEnvelope(rows[c], samples, x, static_cast<float>(c) * spacing_ + firstCentre_,
                   points_[c]);
}

}  // namespace kolvdisplay
