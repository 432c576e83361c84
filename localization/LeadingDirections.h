// Where the frames' strongest peaks have lately been, and how strong they
// were. In a reverberant room a reflection's peak is seldom a frame's
// strongest, while a talker's is whenever their voice leads; so there a
// further peak far from every recent leader is taken for a reflection,
// unless it grows alone: a talker who starts while another speaks grows
// where nothing else does, while a reflection grows with its own talker's
// peak. A frame's strongest peak far from every recent one is reported only
// where it has grown: a talker starts, while a reflection that leads the
// reverberant tail after its talker's last word only decays. How
// reverberant the stream is shows in the leaders' mean value: the direct
// sound dominates fewer bins, and the spatial spectrum's peaks fall (about
// 0.6 to 0.95 anechoic, 0.2 to 0.4 in rooms of RT60 0.3 to 0.6 s).
#ifndef KOLV_LOCALIZATION_LEADING_DIRECTIONS_H
#define KOLV_LOCALIZATION_LEADING_DIRECTIONS_H

#include <array>
#include <vector>

#include "Directions.h"
#include "PeakPicking.h"

namespace localization {

struct RoomSettings {
  // The leaders' mean value below which the stream is taken for a room
  // (0: never, every peak is kept).
  float level = 0.5f;
  int memoryFrames = 200;  // frames of leaders kept
  float share = 0.1f;      // of the leaders kept, the share a further peak must lie near, in a room
  int gate = 6;            // degrees: how near
  // A further peak far from the leaders is kept where the spectrum has grown
  // this many times over the last riseFrames frames, and this many times
  // more than at the frame's leader and at every direction that has lately
  // led (0: never).
  float rise = 2.0f;
  // A frame's leader far from the recent leaders is reported where the
  // spectrum has grown this many times over those frames (0: always).
  float leadRise = 1.5f;
  int riseFrames = 10;
};

class LeadingDirections {
 public:
  LeadingDirections() = default;
  explicit LeadingDirections(const RoomSettings &settings);

  // peaks: this frame's, the highest first; spectrum: the frame's spatial
  // spectrum, kDirections values. In a room, drops each peak that lies
  // within `gate` of fewer than `share` of the leaders of the frames kept
  // (at least one) and has not grown as above; then keeps the first as this
  // frame's leader, reported or not (a frame without peaks counts as a frame
  // without a leader). A share rather than a count: a talker who starts with
  // the other is admitted once they have led a few of the first frames.
  void admit(PeakList &peaks, const float *spectrum);
  bool inRoom() const;

 private:
  int leadersNear(int direction) const;
  bool growthKnown() const;
  float growth(int direction, const float *spectrum) const;
  bool growsAlone(int direction, int leader, int needed, const float *spectrum) const;
  bool reported(const PeakList &peaks, int i, int needed, const float *spectrum) const;
  void record(const PeakList &peaks, const float *spectrum);

  RoomSettings settings_;
  std::vector<int> leader_;      // per kept frame, a ring: its leader's direction, -1 for none
  std::vector<float> value_;     // per kept frame: its leader's value
  std::array<int, kDirections> count_{};  // leaders per direction over the kept frames
  double valueSum_ = 0.0;
  int leaders_ = 0;
  int next_ = 0;                 // ring slot of the next frame
  std::vector<float> earlier_;   // the spectra of the last riseFrames frames, a ring
  int earlierNext_ = 0;          // its slot of the next frame, the oldest kept
  int spectraKept_ = 0;
};

}  // namespace localization

#endif
