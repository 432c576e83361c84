#include "BinauralMultisourceTracker.h"

#include <cmath>
#include <iostream>

#include "DirectionClustering.h"
#include "Directions.h"
#include "GenericType.h"
#include "Source.h"
#include "Vector.h"

using namespace localization;

namespace localization {

double windowFrameValue(float clusteringDuration, int advance, int samplingRate) {
  const float frames =
      clusteringDuration / static_cast<float>(advance) * static_cast<float>(samplingRate);
  return std::trunc(static_cast<double>(frames) + 0.5);
}

}  // namespace localization

namespace {

// Far beyond any useful window (over 46 hours of 10 ms frames); keeps the
// frame arithmetic of the window well inside an int.
constexpr double kMaxWindowFrames = 16777216.0;
constexpr float kTrackedPower = 1.0f;

std::string describe(const std::string &nodeName) {
  return "BinauralMultisourceTracker '" + nodeName + "'";
}

KOLV::ObjectRef trackedSource(int azimuthDegrees, int id) {
  auto *source = new KOLV::Source;
  const float phi = static_cast<float>(azimuthDegrees * kPi / 180.0);
  source->x[0] = std::cos(phi);
  source->x[1] = std::sin(phi);
  source->x[2] = 0.0f;
  source->power = kTrackedPower;
  source->id = id;
  source->spare = 0;
  return KOLV::ObjectRef(source);
}

}  // namespace

namespace {

// One declaration per parameter, in the order the constructor reads them.
struct Parameters : KOLV::ParameterTable {
  const KOLV::ParameterInfo &advance =
      add(KOLV::intParameter("ADVANCE", "samples", "frame shift")
              .above(0)
              .fromStream(KOLV::StreamProperty::Advance));
  const KOLV::ParameterInfo &samplingRate =
      add(KOLV::intParameter("SAMPLING_RATE", "Hz", "sampling rate")
              .above(0)
              .fromStream(KOLV::StreamProperty::SamplingRate));
  const KOLV::ParameterInfo &clusteringDuration =
      add(KOLV::floatParameter("CLUSTERING_DURATION", "s",
                               "length of the clustering window (0 reports nothing)")
              .atLeast(0.0));
};

const Parameters &declared() {
  static const Parameters table;
  return table;
}

}  // namespace

const KOLV::NodeDescription &BinauralMultisourceTracker::description() {
  static const KOLV::NodeDescription table{
      "Stable source directions: the dominant clusters of the per-frame estimates in a window "
      "centred on each frame",
      {{"ESTIMATED_DOA", "Vector<ObjectRef>", "per-frame Source estimates (direction in x)"}},
      {{"TRACKED_DOA", "Vector<ObjectRef>",
        "one Source per cluster holding over 30 % of the window's estimates"}},
      declared().entries()};
  return table;
}

BinauralMultisourceTracker::BinauralMultisourceTracker(std::string nodeName,
                                                       KOLV::ParameterSet params)
    : BufferedNode(nodeName, params) {
  estimatesID = addInput("ESTIMATED_DOA");
  trackedID = addOutput("TRACKED_DOA");

  const Parameters &p = declared();
  advance = p.advance.readInt(parameters);
  samplingRate = p.samplingRate.readInt(parameters);
  clusteringDuration = p.clusteringDuration.readFloat(parameters);

  if (advance <= 0 || samplingRate <= 0)
    throw new KOLV::GeneralException(describe(getName()) + ": ADVANCE (" +
                                         std::to_string(advance) + ") and SAMPLING_RATE (" +
                                         std::to_string(samplingRate) + ") must be positive",
                                     __FILE__, __LINE__);
  if (!(clusteringDuration >= 0.0f))
    throw new KOLV::GeneralException(describe(getName()) + ": CLUSTERING_DURATION is " +
                                         std::to_string(clusteringDuration) +
                                         " s; it must be 0 or more",
                                     __FILE__, __LINE__);
  const double frames = windowFrameValue(clusteringDuration, advance, samplingRate);
  if (!(frames <= kMaxWindowFrames))
    throw new KOLV::GeneralException(describe(getName()) + ": CLUSTERING_DURATION " +
                                         std::to_string(clusteringDuration) + " s makes a window of " +
                                         std::to_string(frames) + " frames, more than " +
                                         std::to_string(static_cast<int>(kMaxWindowFrames)),
                                     __FILE__, __LINE__);
  windowFrames_ = static_cast<int>(frames);

  processInOrder = true;
  // The window reaches W/2 frames ahead of the current frame and keeps W
  // frames behind its newest.
  setInputLookBack(estimatesID, windowFrames_);
  setInputLookAhead(estimatesID, windowFrames_ / 2);
}

BinauralMultisourceTracker::~BinauralMultisourceTracker() = default;

void BinauralMultisourceTracker::enterWindow(int count, int frame) {
  KOLV::RCPtr<KOLV::Vector<KOLV::ObjectRef>> estimates = getInput(estimatesID, frame);
  std::vector<int> azimuths;
  azimuths.reserve(estimates->size());
  for (const KOLV::ObjectRef &element : *estimates) {
    KOLV::RCPtr<KOLV::Source> source = element;
    // An estimate without a direction (a damaged record read from a file)
    // is left out rather than ending a long run; the first one is reported.
    if (!std::isfinite(source->x[0]) || !std::isfinite(source->x[1])) {
      if (!warnedOfNoDirection) {
        warnedOfNoDirection = true;
        std::cerr << describe(getName()) << ", frame " << count
                  << ": warning: an estimate of input frame " << frame
                  << " has no direction (x = " << source->x[0] << ", " << source->x[1]
                  << "); it is left out, as are later ones (not reported)" << std::endl;
      }
      continue;
    }
    azimuths.push_back(truncatedAzimuth(source->x[0], source->x[1]));
  }
  history.push_back(std::move(azimuths));
  if (static_cast<int>(history.size()) > windowFrames_) history.pop_front();
}

void BinauralMultisourceTracker::calculate(int, int count, KOLV::Buffer &out) {
  enterWindow(count, count + windowFrames_ / 2);

  pooledAngles.clear();
  for (const std::vector<int> &frame : history)
    pooledAngles.insert(pooledAngles.end(), frame.begin(), frame.end());
  const std::vector<int> centres = dominantDirections(pooledAngles, windowFrames_);

  KOLV::RCPtr<KOLV::Vector<KOLV::ObjectRef>> tracked(new KOLV::Vector<KOLV::ObjectRef>);
  tracked->reserve(centres.size());
  for (size_t k = 0; k < centres.size(); ++k)
    tracked->push_back(trackedSource(centres[k], static_cast<int>(k)));
  out[count] = tracked;
}
