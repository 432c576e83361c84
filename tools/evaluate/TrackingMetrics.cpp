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

double truthAzimuthAt(const scenekit::TruthSource &truth, double t) {
  if (truth.azimuths.empty() || !(truth.frame > 0.0)) return truth.azimuth;
  // A time at a frame's start may come out a hair before it in floating point.
  constexpr double kFrameTolerance = 1e-6;  // of a frame
  const double frame = std::max(0.0, std::floor(t / truth.frame + kFrameTolerance));
  return truth.azimuths[std::min(static_cast<size_t>(frame), truth.azimuths.size() - 1)];
}

DirectionScore scoreDirection(const std::vector<TrackedSource> &rows, const scenekit::TruthSource &truth,
                              const FrameClock &clock) {
  auto truthAt = [&](int frame) { return truthAzimuthAt(truth, frameTime(frame, clock.advance, clock.samplingRate)); };
  std::map<int, double> nearestByFrame;  // frame -> tracked azimuth nearest the truth
  for (const TrackedSource &row : rows) {
    auto found = nearestByFrame.find(row.frame);
    const double azimuth = truthAt(row.frame);
    if (found == nearestByFrame.end() || std::fabs(row.azimuth - azimuth) < std::fabs(found->second - azimuth))
      nearestByFrame[row.frame] = row.azimuth;
  }
  DirectionScore score;
  score.truthAzimuth = truth.azimuth;
  score.moving = !truth.azimuths.empty();
  std::vector<double> nearest, offsets;
  int within = 0;
  for (int frame = 0; frame < clock.frames; ++frame) {
    if (!scenekit::isWithin(truth.active, frameTime(frame, clock.advance, clock.samplingRate))) continue;
    ++score.activeFrames;
    auto found = nearestByFrame.find(frame);
    if (found == nearestByFrame.end()) continue;
    nearest.push_back(found->second);
    offsets.push_back(found->second - truthAt(frame));
    if (std::fabs(offsets.back()) <= kDirectionTolerance) ++within;
  }
  score.trackedFrames = static_cast<int>(nearest.size());
  score.tracked = !nearest.empty();
  if (score.tracked) {
    score.medianAzimuth = median(nearest);
    // A fixed source's offsets are the directions shifted alike, so this is
    // |median - truth|; a moving source's are taken frame by frame.
    score.error = std::fabs(median(offsets));
  }
  if (score.activeFrames) score.shareWithin = static_cast<double>(within) / score.activeFrames;
  return score;
}

namespace {

// Changes between the ids that stay nearest for at least `frames` covered
// frames in a row; shorter runs are left out.
int lastingChanges(const std::vector<int> &ids, int frames) {
  int changes = 0, kept = -1;
  for (size_t start = 0; start < ids.size();) {
    size_t end = start;
    while (end < ids.size() && ids[end] == ids[start]) ++end;
    if (static_cast<int>(end - start) >= frames) {
      if (kept >= 0 && ids[start] != kept) ++changes;
      kept = ids[start];
    }
    start = end;
  }
  return changes;
}

// Whether a row lies within the tolerance of some talker of the scene at its
// time, speaking or not.
bool nearAnyTalker(const TrackedSource &row, const std::vector<scenekit::TruthSource> &truth, double t) {
  for (const scenekit::TruthSource &talker : truth)
    if (std::fabs(row.azimuth - truthAzimuthAt(talker, t)) <= kCoverageTolerance) return true;
  return false;
}

}  // namespace

CoverageScore scoreCoverage(const std::vector<TrackedSource> &rows, const std::vector<scenekit::TruthSource> &truth,
                            const FrameClock &clock) {
  std::map<int, std::vector<const TrackedSource *>> byFrame;
  for (const TrackedSource &row : rows) byFrame[row.frame].push_back(&row);
  CoverageScore score;
  score.talkers.resize(truth.size());
  std::vector<int> lastId(truth.size(), -1);
  std::vector<std::vector<int>> nearestIds(truth.size());
  int covered = 0, active = 0, falseRows = 0, ghostRows = 0;
  double errorSum = 0.0;
  for (int frame = 0; frame < clock.frames; ++frame) {
    const double t = frameTime(frame, clock.advance, clock.samplingRate);
    const auto found = byFrame.find(frame);
    const std::vector<const TrackedSource *> none;
    const auto &tracks = found == byFrame.end() ? none : found->second;
    std::vector<bool> explained(tracks.size(), false);
    for (size_t s = 0; s < truth.size(); ++s) {
      if (!scenekit::isWithin(truth[s].active, t)) continue;
      TalkerCoverage &talker = score.talkers[s];
      ++talker.activeFrames;
      ++active;
      const double azimuth = truthAzimuthAt(truth[s], t);
      const TrackedSource *nearest = nullptr;
      for (size_t k = 0; k < tracks.size(); ++k) {
        const double distance = std::fabs(tracks[k]->azimuth - azimuth);
        if (distance > kCoverageTolerance) continue;
        explained[k] = true;
        if (!nearest || distance < std::fabs(nearest->azimuth - azimuth)) nearest = tracks[k];
      }
      if (!nearest) continue;
      const double error = std::fabs(nearest->azimuth - azimuth);
      ++talker.coveredFrames;
      talker.meanError += error;
      ++covered;
      errorSum += error;
      if (lastId[s] >= 0 && nearest->id != lastId[s]) ++talker.idChanges;
      lastId[s] = nearest->id;
      nearestIds[s].push_back(nearest->id);
    }
    for (bool e : explained) falseRows += e ? 0 : 1;
    for (const TrackedSource *row : tracks) ghostRows += nearAnyTalker(*row, truth, t) ? 0 : 1;
    score.trackFrames += static_cast<int>(tracks.size());
  }
  const int lasting = static_cast<int>(std::lround(kLastingIdTime * clock.samplingRate / clock.advance));
  for (size_t s = 0; s < truth.size(); ++s) {
    TalkerCoverage &talker = score.talkers[s];
    if (talker.coveredFrames) talker.meanError /= talker.coveredFrames;
    talker.lastingIdChanges = lastingChanges(nearestIds[s], lasting);
  }
  if (active) score.recall = static_cast<double>(covered) / active;
  if (covered) score.meanError = errorSum / covered;
  if (score.trackFrames) {
    score.falseShare = static_cast<double>(falseRows) / score.trackFrames;
    score.ghostShare = static_cast<double>(ghostRows) / score.trackFrames;
  }
  return score;
}

namespace {

int windowOf(int frame, const FrameClock &clock) {
  return static_cast<int>(std::floor(frameTime(frame, clock.advance, clock.samplingRate) / kCoverageWindow));
}

// A talker's frames in one window.
struct TalkerWindow {
  int activeFrames = 0;
  int coveredFrames = 0;
  double errorSum = 0.0;  // degrees, nearest track's distance over the covered frames
};

// A track id's frames in one window.
struct TrackWindow {
  int frames = 0;
  int unexplained = 0;  // frames farther than the tolerance from every talker who speaks in the window
  int ghostly = 0;      // frames farther than the tolerance from every talker
};

bool mostly(int part, int frames) { return 2 * part > frames; }

}  // namespace

SecondCoverageScore scoreCoverageBySecond(const std::vector<TrackedSource> &rows,
                                          const std::vector<scenekit::TruthSource> &truth, const FrameClock &clock) {
  SecondCoverageScore score;
  score.talkers.resize(truth.size());
  if (clock.frames <= 0) return score;
  const int windows = windowOf(clock.frames - 1, clock) + 1;
  std::vector<int> windowFrames(windows, 0);
  for (int frame = 0; frame < clock.frames; ++frame) ++windowFrames[windowOf(frame, clock)];

  std::map<int, std::vector<const TrackedSource *>> byFrame;
  for (const TrackedSource &row : rows)
    if (row.frame >= 0 && row.frame < clock.frames) byFrame[row.frame].push_back(&row);

  std::vector<std::vector<TalkerWindow>> talkerWindows(truth.size(), std::vector<TalkerWindow>(windows));
  for (int frame = 0; frame < clock.frames; ++frame) {
    const double t = frameTime(frame, clock.advance, clock.samplingRate);
    const auto found = byFrame.find(frame);
    for (size_t s = 0; s < truth.size(); ++s) {
      if (!scenekit::isWithin(truth[s].active, t)) continue;
      TalkerWindow &w = talkerWindows[s][windowOf(frame, clock)];
      ++w.activeFrames;
      if (found == byFrame.end()) continue;
      const double azimuth = truthAzimuthAt(truth[s], t);
      double nearest = kCoverageTolerance + 1.0;
      for (const TrackedSource *row : found->second) nearest = std::min(nearest, std::fabs(row->azimuth - azimuth));
      if (nearest > kCoverageTolerance) continue;
      ++w.coveredFrames;
      w.errorSum += nearest;
    }
  }

  auto activeIn = [&](size_t s, int window) {
    return talkerWindows[s][window].activeFrames >= kWindowActiveShare * windowFrames[window];
  };
  int active = 0, covered = 0;
  double errorSum = 0.0;
  for (size_t s = 0; s < truth.size(); ++s)
    for (int window = 0; window < windows; ++window) {
      if (!activeIn(s, window)) continue;
      const TalkerWindow &w = talkerWindows[s][window];
      ++score.talkers[s].activeWindows;
      ++active;
      if (w.coveredFrames < kWindowCoveredShare * w.activeFrames) continue;
      ++score.talkers[s].coveredWindows;
      ++covered;
      errorSum += w.errorSum / w.coveredFrames;
    }

  std::map<std::pair<int, int>, TrackWindow> trackWindows;  // (id, window)
  for (const auto &[frame, tracks] : byFrame) {
    const double t = frameTime(frame, clock.advance, clock.samplingRate);
    const int window = windowOf(frame, clock);
    for (const TrackedSource *row : tracks) {
      TrackWindow &w = trackWindows[{row->id, window}];
      ++w.frames;
      bool explained = false;
      for (size_t s = 0; s < truth.size() && !explained; ++s)
        explained = talkerWindows[s][window].activeFrames > 0 &&
                    std::fabs(row->azimuth - truthAzimuthAt(truth[s], t)) <= kCoverageTolerance;
      if (!explained) ++w.unexplained;
      if (!nearAnyTalker(*row, truth, t)) ++w.ghostly;
    }
  }
  int falseWindows = 0, ghostWindows = 0;
  for (const auto &entry : trackWindows) {
    falseWindows += mostly(entry.second.unexplained, entry.second.frames) ? 1 : 0;
    ghostWindows += mostly(entry.second.ghostly, entry.second.frames) ? 1 : 0;
  }

  score.trackWindows = static_cast<int>(trackWindows.size());
  if (active) score.recall = static_cast<double>(covered) / active;
  if (covered) score.meanError = errorSum / covered;
  if (score.trackWindows) {
    score.falseShare = static_cast<double>(falseWindows) / score.trackWindows;
    score.ghostShare = static_cast<double>(ghostWindows) / score.trackWindows;
  }
  return score;
}

}  // namespace evaluate
