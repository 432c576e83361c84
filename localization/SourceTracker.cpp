#include "SourceTracker.h"

#include <cmath>
#include <iostream>

#include "Directions.h"
#include "GenericType.h"
#include "NodeDescription.h"
#include "Source.h"
#include "Vector.h"

using namespace localization;

namespace {

// The frame shift CONFIRM_SUPPORT counts in: at any other shift the same
// support takes the same time (at 10 ms the count is unchanged, exactly).
constexpr float kSupportFrameSeconds = 0.01f;

// One declaration per parameter, in the order the constructor reads them.
struct Parameters : KOLV::ParameterTable {
  const KOLV::ParameterInfo &advance =
      add(KOLV::advanceParameter("frame shift")
              .byDefault(160));
  const KOLV::ParameterInfo &samplingRate =
      add(KOLV::samplingRateParameter("sampling rate")
              .byDefault(16000));
  const KOLV::ParameterInfo &measurementSpread =
      add(KOLV::floatParameter("MEASUREMENT_SPREAD", "deg", "standard deviation of one estimate's azimuth")
              .above(0.0)
              .byDefault(2.0f));
  const KOLV::ParameterInfo &acceleration =
      add(KOLV::floatParameter("ACCELERATION", "deg/s^2", "standard deviation of a talker's changes of angular rate")
              .atLeast(0.0)
              .byDefault(60.0f));
  const KOLV::ParameterInfo &maxRate =
      add(KOLV::floatParameter("MAX_RATE", "deg/s", "fastest angular rate a track is given")
              .atLeast(0.0)
              .byDefault(60.0f));
  const KOLV::ParameterInfo &gate =
      add(KOLV::floatParameter("GATE", "deg", "farthest an estimate may lie from a track's prediction to feed it")
              .above(0.0)
              .byDefault(12.0f));
  const KOLV::ParameterInfo &probation =
      add(KOLV::floatParameter("PROBATION", "s", "a new track must be confirmed within this time or is dropped")
              .above(0.0)
              .byDefault(0.25f));
  const KOLV::ParameterInfo &confirmSupport =
      add(KOLV::floatParameter("CONFIRM_SUPPORT", "frames",
                               "estimates that confirm a track, each counted by the square root of its power over its "
                               "frame's strongest estimate's, in 10 ms frames (at another shift each counts its shift "
                               "over 10 ms)")
              .above(0.0)
              .byDefault(7.0f));
  const KOLV::ParameterInfo &hold =
      add(KOLV::floatParameter("HOLD", "s",
                               "a track is reported until this long without an estimate, then pauses (followed, "
                               "not reported)")
              .atLeast(0.0)
              .byDefault(0.2f));
  const KOLV::ParameterInfo &quietHold =
      add(KOLV::floatParameter("QUIET_HOLD", "s",
                               "the hold instead of HOLD (if shorter) when no estimate at all has come since the "
                               "track's last by its end: nothing else heard, its talker has most likely stopped")
              .atLeast(0.0)
              .byDefault(0.08f));
  const KOLV::ParameterInfo &forget =
      add(KOLV::floatParameter("FORGET", "s", "a track without an estimate for this long is forgotten with its id")
              .above(0.0)
              .byDefault(4.0f));
  const KOLV::ParameterInfo &resumeGate =
      add(KOLV::floatParameter("RESUME_GATE", "deg",
                               "a new track this near a paused one takes the paused one's id")
              .atLeast(0.0)
              .byDefault(15.0f));
  const KOLV::ParameterInfo &mergeDistance =
      add(KOLV::floatParameter("MERGE_DISTANCE", "deg", "two reported tracks this near are one talker (older id kept)")
              .atLeast(0.0)
              .byDefault(4.0f));
  const KOLV::ParameterInfo &shadowCorrelation =
      add(KOLV::floatParameter("SHADOW_CORRELATION", "",
                               "a track whose estimates over SHADOW_DURATION came only with a stronger reported "
                               "track's, their powers correlated above this, is taken for its reflection and not "
                               "reported (1 or more: off)")
              .atLeast(-1.0)
              .byDefault(0.1f));
  const KOLV::ParameterInfo &shadowDuration =
      add(KOLV::floatParameter("SHADOW_DURATION", "s", "span over which a track's estimates are compared with a "
                                                       "stronger track's (see SHADOW_CORRELATION)")
              .above(0.0)
              .atMost(60.0)
              .byDefault(0.6f));
};

const Parameters &declared() {
  static const Parameters table;
  return table;
}

std::string describe(const std::string &nodeName) { return "SourceTracker '" + nodeName + "'"; }

int framesOf(float seconds, float frameSeconds) {
  return static_cast<int>(std::lround(static_cast<double>(seconds) / frameSeconds));
}

KOLV::ObjectRef trackedSource(const TrackedTalker &talker) {
  auto *source = new KOLV::Source;
  directionVector(talker.azimuth, source->x);
  source->power = talker.power;
  source->id = talker.id;
  source->spare = 0;
  return KOLV::ObjectRef(source);
}

}  // namespace

const KOLV::NodeDescription &SourceTracker::description() {
  static const KOLV::NodeDescription table{
      "Talker tracks with lasting ids from per-frame estimates: Kalman filters over azimuth and rate, "
      "born on probation, followed unreported through pauses; causal",
      {{"ESTIMATED_DOA", "Vector<ObjectRef>", "per-frame Source estimates (direction in x, power)"}},
      {{"TRACKED_DOA", "Vector<ObjectRef>",
        "one Source per reported track: its filtered direction, the track's id, its last estimate's power"}},
      declared().entries()};
  return table;
}

SourceTracker::SourceTracker(std::string nodeName, KOLV::ParameterSet params) : BufferedNode(nodeName, params) {
  estimatesID = addInput("ESTIMATED_DOA");
  trackedID = addOutput("TRACKED_DOA");

  const Parameters &p = declared();
  const int advance = p.advance.readInt(parameters);
  const int samplingRate = p.samplingRate.readInt(parameters);
  TrackSettings s;
  s.measurementSpread = p.measurementSpread.readFloat(parameters);
  s.acceleration = p.acceleration.readFloat(parameters);
  s.maxRate = p.maxRate.readFloat(parameters);
  s.gate = p.gate.readFloat(parameters);
  const float probation = p.probation.readFloat(parameters);
  const float confirmSupport = p.confirmSupport.readFloat(parameters);
  const float hold = p.hold.readFloat(parameters);
  const float quietHold = p.quietHold.readFloat(parameters);
  const float forget = p.forget.readFloat(parameters);
  s.resumeGate = p.resumeGate.readFloat(parameters);
  s.mergeDistance = p.mergeDistance.readFloat(parameters);
  s.shadowCorrelation = p.shadowCorrelation.readFloat(parameters);
  const float shadowDuration = p.shadowDuration.readFloat(parameters);
  p.validate(parameters, describe(getName()));

  s.frameSeconds = static_cast<float>(advance) / static_cast<float>(samplingRate);
  s.confirmSupport = confirmSupport * (kSupportFrameSeconds / s.frameSeconds);
  s.probationFrames = std::max(1, framesOf(probation, s.frameSeconds));
  s.holdFrames = framesOf(hold, s.frameSeconds);
  s.quietHoldFrames = framesOf(quietHold, s.frameSeconds);
  s.forgetFrames = std::max(s.holdFrames + 1, framesOf(forget, s.frameSeconds));
  s.envelopeFrames = std::max(2, framesOf(shadowDuration, s.frameSeconds));
  tracks = TalkerTracks(s);
  processInOrder = true;
}

SourceTracker::~SourceTracker() = default;

// An estimate without a direction (a damaged record read from a file) is
// left out rather than ending a long run; the first one is reported.
void SourceTracker::readEstimates(int count) {
  KOLV::RCPtr<KOLV::Vector<KOLV::ObjectRef>> input = getInput(estimatesID, count);
  estimates.clear();
  for (const KOLV::ObjectRef &element : *input) {
    KOLV::RCPtr<KOLV::Source> source = element;
    const float azimuth = static_cast<float>(std::atan2(source->x[1], source->x[0]) * kDegreesPerRadian);
    if (!std::isfinite(azimuth) || !std::isfinite(source->x[0]) || !std::isfinite(source->x[1])) {
      if (!warnedOfNoDirection) {
        warnedOfNoDirection = true;
        std::cerr << describe(getName()) << ", frame " << count << ": warning: an estimate has no direction (x = "
                  << source->x[0] << ", " << source->x[1] << "); it is left out, as are later ones (not reported)"
                  << std::endl;
      }
      continue;
    }
    estimates.push_back({azimuth, std::isfinite(source->power) ? source->power : 0.0f});
  }
}

void SourceTracker::calculate(int, int count, KOLV::Buffer &out) {
  readEstimates(count);
  tracks.update(estimates);
  KOLV::RCPtr<KOLV::Vector<KOLV::ObjectRef>> tracked(new KOLV::Vector<KOLV::ObjectRef>);
  for (const TrackedTalker &talker : tracks.reported()) tracked->push_back(trackedSource(talker));
  out[count] = tracked;
}
