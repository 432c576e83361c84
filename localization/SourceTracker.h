// Talker tracks with lasting ids from per-frame direction estimates, causal:
// each track follows its talker with a Kalman filter over azimuth and rate,
// is born on probation, is followed unreported through pauses and keeps its
// id when its talker resumes. A drop-in for BinauralMultisourceTracker.
#ifndef KOLV_SOURCE_TRACKER_H
#define KOLV_SOURCE_TRACKER_H

#include <string>
#include <vector>

#include "Node.h"
#include "TalkerTracks.h"

class SourceTracker : public KOLV::BufferedNode {
 public:
  SourceTracker(std::string nodeName, KOLV::ParameterSet params);
  ~SourceTracker() override;

  static const KOLV::NodeDescription &description();

  void calculate(int output_id, int count, KOLV::Buffer &out) override;

 private:
  void readEstimates(int count);

  int estimatesID;
  int trackedID;

  localization::TalkerTracks tracks;
  std::vector<localization::Estimate> estimates;  // of the current frame
  bool warnedOfNoDirection = false;
};

#endif
