#include "TrackingMetrics.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace evaluate {

namespace {

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t half = values.size() / 2;
  return values.size() % 2 ? values[half] : 0.5 * (values[half - 1] + values[half]);
}

}  // namespace

int framesIn(double duration, int advance, int samplingRate) {
  long long samples = std::llround(duration * samplingRate);
  return static_cast<int>((samples + advance - 1) / advance);
}

DirectionScore scoreDirection(const std::vector<TrackedSource> &rows, const scenekit::TruthSource &truth,
                              const FrameClock &clock) {
  std::map<int, double> nearestByFrame;  // frame -> tracked azimuth nearest the truth
  for (const TrackedSource &row : rows) {
    auto found = nearestByFrame.find(row.frame);
    if (found == nearestByFrame.end() ||
        std::fabs(row.azimuth - truth.azimuth) < std::fabs(found->second - truth.azimuth))
      nearestByFrame[row.frame] = row.azimuth;
  }
  DirectionScore score;
  score.truthAzimuth = truth.azimuth;
  std::vector<double> nearest;
  int within = 0;
  for (int frame = 0; frame < clock.frames; ++frame) {
    if (!scenekit::isWithin(truth.active, frameTime(frame, clock.advance, clock.samplingRate))) continue;
    ++score.activeFrames;
    auto found = nearestByFrame.find(frame);
    if (found == nearestByFrame.end()) continue;
    nearest.push_back(found->second);
    if (std::fabs(found->second - truth.azimuth) <= kDirectionTolerance) ++within;
  }
  score.trackedFrames = static_cast<int>(nearest.size());
  score.tracked = !nearest.empty();
  if (score.tracked) {
    score.medianAzimuth = median(nearest);
    score.error = std::fabs(score.medianAzimuth - truth.azimuth);
  }
  if (score.activeFrames) score.shareWithin = static_cast<double>(within) / score.activeFrames;
  return score;
}

}  // namespace evaluate
