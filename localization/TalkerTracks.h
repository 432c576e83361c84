// Tracks of talkers from per-frame direction estimates: each track follows
// its talker with a constant-velocity Kalman filter over azimuth and azimuth
// rate. A track is born on probation from estimates that keep agreeing, is
// reported while its estimates keep coming, pauses unreported (still taking
// estimates, so its talker resumes under the same id) and is forgotten after
// a longer silence; a talker who resumes near a paused track gets its id
// back. Ids are never reused. Two tracks that walk into each other coast
// through the crossing on the rates they walked at, so that each takes its
// own talker again when the peaks part.
#ifndef KOLV_LOCALIZATION_TALKER_TRACKS_H
#define KOLV_LOCALIZATION_TALKER_TRACKS_H

#include <vector>

namespace localization {

struct TrackSettings {
  float frameSeconds = 0.01f;      // s between frames
  float measurementSpread = 2.0f;  // deg, standard deviation of one estimate
  float acceleration = 60.0f;      // deg/s^2, standard deviation of the talker's changes of rate
  float maxRate = 60.0f;           // deg/s, the fastest a talker is followed
  float gate = 12.0f;              // deg, farthest an estimate may lie from a track's prediction
  int probationFrames = 25;        // a new track must be confirmed within this many frames
  // Support that confirms it: each estimate taken adds the square root of its
  // power relative to the strongest estimate of its frame (1 for the frame's
  // strongest), so that weaker secondary peaks, often reflections, need more
  // frames, while a quieter talker (a fifth of the power) needs about twice
  // as many, not five times.
  float confirmSupport = 7.0f;
  float mergeDistance = 4.0f;      // deg, two reported tracks this close are one talker
  int holdFrames = 20;             // a track is reported until this many frames without an estimate
  // The hold of a track whose quiet hold has passed with no other estimate
  // since its last: the hold bridges the frames where other sound
  // hides a talker, but when nothing else is heard their talker has most
  // likely stopped (holdFrames if that is shorter).
  int quietHoldFrames = 8;
  int resumeEstimates = 2;         // a paused track is reported again after this many estimates
  int forgetFrames = 400;          // and forgotten after this many frames without one
  float resumeGate = 15.0f;        // deg, how near a paused track a new one takes its id
  float silentRateTime = 0.3f;     // s, time constant in which a silent track's rate dies away
  // A reflection's estimates come and go with its source's: a track whose
  // estimates over the last envelopeFrames came only in frames where a
  // stronger live track's did too, with powers correlated above
  // shadowCorrelation, is taken for that track's ghost (a shadow) and is
  // neither confirmed nor reported (1 or more: never).
  int envelopeFrames = 60;
  float shadowCorrelation = 0.1f;
};

struct TrackedTalker {
  int id;
  float azimuth;  // degrees
  float power;    // the last estimate's
};

struct Estimate {
  float azimuth;  // degrees, finite
  float power;
};

class TalkerTracks {
 public:
  TalkerTracks() = default;
  explicit TalkerTracks(const TrackSettings &settings);

  // Advances by one frame with that frame's estimates; the tracks to report
  // are then in reported(), in increasing id.
  void update(const std::vector<Estimate> &estimates);
  const std::vector<TrackedTalker> &reported() const { return reported_; }

  int liveTracks() const { return static_cast<int>(tracks_.size()); }

 private:
  enum class Stage { Probation, Confirmed };
  struct Track {
    Stage stage;
    int id;              // -1 on probation
    float azimuth;       // deg
    float rate;          // deg/s
    float p00, p01, p11;  // covariance of (azimuth, rate)
    float power;
    int age;             // frames since birth
    float support;       // sum of the supports of the estimates taken (see confirmSupport)
    int silentFrames;    // frames since the last estimate
    bool heard;          // some other estimate has come since the last
    bool quietEnd;       // nothing else was heard through its quiet hold: held no longer
    int streak;          // estimates taken since the track last paused
    std::vector<float> envelope;  // the last envelopeFrames frames' estimate powers (0: none), a ring
    bool shadow;         // follows a stronger track's envelope this frame (see shadowCorrelation)
    float cruise;        // deg/s, the rate smoothed while fed: how the talker was walking
    float fedAzimuth;    // deg, where the last estimate left the track
    int partner;         // id of the track it is crossing, -1 if none
    int crossingFrames;  // frames since the crossing began
    int mergedFrames;    // frames of the crossing in which one peak stood for both
    float side;          // +1 or -1: the partner's side of it when the crossing began
  };

  bool isLive(const Track &t) const;
  bool isReported(const Track &t) const;
  bool isPaused(const Track &t) const;
  int associationRank(const Track &t) const;
  void predict(Track &t) const;
  void correct(Track &t, const Estimate &e, float support) const;
  void mergeDuplicates();
  void associate(const std::vector<Estimate> &estimates);
  float walkedAzimuth(const Track &t) const;
  bool closingIn(const Track &a, const Track &b) const;
  Track *trackWithId(int id);
  void beginCrossings();
  void endCrossings();
  void leaveCrossing(Track &t);
  void partCrossings(const std::vector<Estimate> &estimates);
  void followCrossingPeaks(const std::vector<Estimate> &estimates);
  bool nearFollowedTrack(float azimuth) const;
  float supportOf(const Estimate &e) const;
  void startTrack(const Estimate &e, float support);
  void confirm(Track &t);
  void retire();
  float envelopeMean(const Track &t) const;
  bool follows(const Track &weak, const Track &strong) const;
  void findShadows();
  void collectReported();

  TrackSettings settings_;
  float silentRateFactor_ = 1.0f;  // per frame, applied to a silent track's rate
  std::vector<Track> tracks_;
  std::vector<TrackedTalker> reported_;
  std::vector<bool> taken_;  // per estimate of the frame
  std::vector<int> rank_;    // per track, its association rank this frame
  std::vector<int> fedBy_;   // per track, the estimate it took this frame (-1: none)
  std::vector<float> means_; // per track, its envelope's mean this frame
  float strongest_ = 0.0f;   // the frame's strongest estimate's power
  int slot_ = 0;             // this frame's place in the tracks' envelopes
  int nextId_ = 0;
};

}  // namespace localization

#endif
