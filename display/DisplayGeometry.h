// The arithmetic the live displays share, free of any window: how many frames
// span the plot, which pixel column a frame starts at, where the time labels
// go and how a waveform frame becomes two screen rows.
#ifndef KOLV_DISPLAY_GEOMETRY_H
#define KOLV_DISPLAY_GEOMETRY_H

#include <string>
#include <vector>

namespace kolvdisplay {

// A display redraws every this many frames.
constexpr int kRefreshPeriod = 20;
// The scroll step is half the plot; with fewer frames shown it cannot keep up
// with one refresh every kRefreshPeriod frames.
constexpr int kMinFramesShown = 2 * kRefreshPeriod;

// The time axis fixed by the parameters.
struct TimeAxis {
  float framePeriod;  // seconds per frame
  int framesShown;    // frames that span the plot width
};

// Computes the time axis; throws a GeneralException naming the node and the
// values when they give no usable axis (fewer than kMinFramesShown frames, a
// non-positive frame shift or rate, an absurdly long span).
TimeAxis makeTimeAxis(const std::string &nodeLabel, float timeLength, int advance,
                      int samplingRate);

// The first pixel column of frame i: plotX + (i - firstFrame) * plotWidth / framesShown.
int frameColumn(int plotX, int plotWidth, int firstFrame, int framesShown, int frame);

// The first frame drawn after the scroll check of the refresh at `count`.
int scrolledFirstFrame(int firstFrame, int framesShown, int count);

struct TimeLabel {
  int x;
  std::string text;
};

// The labels under the lowest box: one per quarter of the span, read in
// seconds from the left edge's frame.
std::vector<TimeLabel> timeLabels(int plotX, int plotWidth, int firstFrame, int framesShown,
                                  float framePeriod);

// A point on the screen, in pixels.
struct ScreenPoint {
  int x;
  int y;
};

// The screen row of sample value v on a trace whose centre line is `centre`:
// one row per 512 units, larger values further down.
int envelopeRow(float v, float centre);

// Appends (x, row of the smallest sample) and (x, row of the largest) for one
// channel of one frame; a frame without samples adds nothing.
void appendEnvelope(const float *samples, int count, int x, float centre,
                    std::vector<ScreenPoint> &points);

// The two traces of the waveform displays: per frame a vertical stroke from
// each channel's smallest to its largest sample, joined frame to frame.
class Envelope {
 public:
  // Centre line of channel c: (float)c * spacing + firstCentre.
  Envelope(float firstCentre, float spacing) : firstCentre_(firstCentre), spacing_(spacing) {}
  void add(const float *left, const float *right, int samples, int x);
  const std::vector<ScreenPoint> &points(int channel) const { return points_[channel]; }

 private:
  float firstCentre_, spacing_;
  std::vector<ScreenPoint> points_[2];
};

// Converts toward zero like a float-to-int cast, but saturates instead of
// overflowing and maps NaN to 0.
int truncToInt(double value);

}  // namespace kolvdisplay

#endif
