// Stable source directions from per-frame estimates: the dominant clusters of
// the estimates in a sliding window of frames centred on the current one.
#ifndef KOLV_BINAURAL_MULTISOURCE_TRACKER_H
#define KOLV_BINAURAL_MULTISOURCE_TRACKER_H

#include <deque>
#include <string>
#include <vector>

#include "Node.h"

namespace localization {

// Window length in frames: duration / advance * rate in single precision,
// rounded half up in double. Not a number when the inputs make none.
double windowFrameValue(float clusteringDuration, int advance, int samplingRate);

}  // namespace localization

class BinauralMultisourceTracker : public KOLV::BufferedNode {
 public:
  BinauralMultisourceTracker(std::string nodeName, KOLV::ParameterSet params);
  ~BinauralMultisourceTracker() override;

  static const KOLV::NodeDescription &description();

  void calculate(int output_id, int count, KOLV::Buffer &out) override;

  int windowFrames() const { return windowFrames_; }

 private:
  bool warnedOfNoDirection = false;

  // Reads input frame `frame` into the window as whole-degree azimuths.
  void enterWindow(int count, int frame);

  int estimatesID;
  int trackedID;

  int advance;               // samples
  int samplingRate;          // Hz
  float clusteringDuration;  // s
  int windowFrames_;         // W

  // Azimuths (whole degrees) of the estimates of the last W input frames read,
  // oldest frame first.
  std::deque<std::vector<int>> history;
  // The window's azimuths in one pass, oldest first; rebuilt every frame.
  std::vector<int> pooledAngles;
};

#endif
