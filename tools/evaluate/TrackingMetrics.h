// Tracked directions against a truth source. The tracker keeps no identity
// from frame to frame, so a source's track is, in each frame, the tracked
// direction nearest to it.
#ifndef KOLV_EVALUATE_TRACKINGMETRICS_H
#define KOLV_EVALUATE_TRACKINGMETRICS_H

#include <vector>

#include "Tables.h"
#include "Truth.h"

namespace evaluate {

constexpr double kDirectionTolerance = 5.0;  // degrees

struct FrameClock {
  int advance;       // samples per frame
  int samplingRate;  // Hz
  int frames;        // in the run
};

struct DirectionScore {
  double truthAzimuth = 0.0;   // degrees; where a moving source starts
  bool moving = false;         // the truth gives an azimuth per frame
  int activeFrames = 0;        // frames in the source's active stretches
  int trackedFrames = 0;       // of those, frames with any tracked direction
  bool tracked = false;        // trackedFrames > 0
  double medianAzimuth = 0.0;  // of the nearest tracked direction over the tracked frames
  double error = 0.0;          // |median of (tracked - truth) per frame|, degrees
  double shareWithin = 0.0;    // share of the active frames with a track within 5 degrees
};

// The source's azimuth at time `t` (s): its own, or for a moving source the
// azimuth of the frame holding `t` (the last one beyond its end).
double truthAzimuthAt(const scenekit::TruthSource &truth, double t);

DirectionScore scoreDirection(const std::vector<TrackedSource> &rows, const scenekit::TruthSource &truth,
                              const FrameClock &clock);

// Coverage of the talkers by tracks, frame by frame (a moving talker where
// its path has it), with a 10-degree
// tolerance: a talker's active frame is covered when some track lies within
// 10 degrees of it; a track's frame is false when it lies farther than 10
// degrees from every talker active in that frame (or no talker is active).
constexpr double kCoverageTolerance = 10.0;  // degrees

struct TalkerCoverage {
  int activeFrames = 0;   // frames in the talker's active stretches
  int coveredFrames = 0;  // of those, frames with a track within 10 degrees
  double meanError = 0.0; // degrees, mean over the covered frames of the nearest track's distance
  int idChanges = 0;      // times the id of the nearest track changed from one covered frame to the next
  // The same, counting only ids that then stay nearest for kLastingIdTime:
  // where two talkers cross, the nearest id may flip for a few frames while
  // both tracks lie within a degree or two of both talkers.
  int lastingIdChanges = 0;
};

constexpr double kLastingIdTime = 0.5;  // s

struct CoverageScore {
  std::vector<TalkerCoverage> talkers;  // in the truth file's order
  double recall = 0.0;     // covered share of all talkers' active frames
  double meanError = 0.0;  // degrees, over all covered frames
  int trackFrames = 0;     // rows of the table
  double falseShare = 0.0; // share of the rows that are false
  // Share of the rows farther than 10 degrees from every talker of the
  // scene, speaking or not: ghosts, as against a track that follows its
  // talker a little into a pause or past their last word.
  double ghostShare = 0.0;
};

CoverageScore scoreCoverage(const std::vector<TrackedSource> &rows, const std::vector<scenekit::TruthSource> &truth,
                            const FrameClock &clock);

// Coverage by the second, as tracking results are often published (the share
// of the talkers' active seconds): the run is cut into windows of 1 s (the
// last one may be shorter). A talker is active in a window when they are
// active in at least a quarter of its frames; their active window is covered
// when a track lies within 10 degrees of them in at least half of their
// active frames in it. A track's window (the frames where its id is
// reported) is false when in more than half of those frames it lies farther
// than 10 degrees from every talker who speaks in the window at all: a track
// that follows its talker's last word into the next second points at him.
constexpr double kCoverageWindow = 1.0;        // s
constexpr double kWindowActiveShare = 0.25;    // of the window's frames
constexpr double kWindowCoveredShare = 0.5;    // of the talker's active frames in the window

struct TalkerSeconds {
  int activeWindows = 0;   // windows where the talker is active
  int coveredWindows = 0;  // of those, the covered ones
};

struct SecondCoverageScore {
  std::vector<TalkerSeconds> talkers;  // in the truth file's order
  double recall = 0.0;     // covered share of all talkers' active windows
  double meanError = 0.0;  // degrees: per covered window, the nearest track's mean distance over its covered
                           // frames; averaged over the covered windows
  int trackWindows = 0;    // windows of all track ids
  double falseShare = 0.0; // share of the track windows that are false
  double ghostShare = 0.0; // share of the track windows that are false against every talker, speaking or not
};

SecondCoverageScore scoreCoverageBySecond(const std::vector<TrackedSource> &rows,
                                          const std::vector<scenekit::TruthSource> &truth, const FrameClock &clock);

// Frames in a run of `duration` seconds: ceil(samples / advance).
int framesIn(double duration, int advance, int samplingRate);

}  // namespace evaluate

#endif
