#include "LeadingDirections.h"

#include <algorithm>
#include <cmath>

namespace localization {

namespace {

// Below this the spectrum at a direction is taken as this, so that growth
// from nothing is finite and noise hovering near zero does not grow.
constexpr float kLeastEarlierValue = 0.02f;

}  // namespace

LeadingDirections::LeadingDirections(const RoomSettings &settings) : settings_(settings) {
  settings_.memoryFrames = std::max(1, settings_.memoryFrames);
  leader_.assign(static_cast<size_t>(settings_.memoryFrames), -1);
  value_.assign(static_cast<size_t>(settings_.memoryFrames), 0.0f);
  settings_.riseFrames = std::max(1, settings_.riseFrames);
  if (settings_.rise > 0.0f || settings_.leadRise > 0.0f)
    earlier_.assign(static_cast<size_t>(settings_.riseFrames) * kDirections, 0.0f);
}

bool LeadingDirections::inRoom() const {
  return leaders_ > 0 && valueSum_ < static_cast<double>(settings_.level) * leaders_;
}

int LeadingDirections::leadersNear(int direction) const {
  const int first = std::max(0, direction - settings_.gate), last = std::min(kDirections - 1, direction + settings_.gate);
  int near = 0;
  for (int n = first; n <= last; ++n) near += count_[n];
  return near;
}

bool LeadingDirections::growthKnown() const {
  return !earlier_.empty() && spectraKept_ == settings_.riseFrames;
}

// How many times the spectrum at a direction has grown over the last
// riseFrames frames.
float LeadingDirections::growth(int direction, const float *spectrum) const {
  const float *then = earlier_.data() + static_cast<size_t>(earlierNext_) * kDirections;  // the oldest kept
  return spectrum[direction] / std::max(then[direction], kLeastEarlierValue);
}

// A further peak's growth against that at the frame's leader and at every
// direction near enough leaders to admit a peak.
bool LeadingDirections::growsAlone(int direction, int leader, int needed, const float *spectrum) const {
  const float own = growth(direction, spectrum);
  if (own < settings_.rise || own < settings_.rise * growth(leader, spectrum)) return false;
  for (int n = 0; n < kDirections; ++n)
    if (count_[n] > 0 && leadersNear(n) >= needed && own < settings_.rise * growth(n, spectrum)) return false;
  return true;
}

// Whether peak i of the frame (0: its leader) is reported: near enough
// recent leaders, or grown as the rules for a leader and a further peak ask.
bool LeadingDirections::reported(const PeakList &peaks, int i, int needed, const float *spectrum) const {
  const int direction = peaks.peaks[i].direction;
  if (leadersNear(direction) >= needed) return true;
  if (i == 0)
    return settings_.leadRise <= 0.0f || !growthKnown() || growth(direction, spectrum) >= settings_.leadRise;
  return settings_.rise > 0.0f && growthKnown() && growsAlone(direction, peaks.peaks[0].direction, needed, spectrum);
}

void LeadingDirections::admit(PeakList &peaks, const float *spectrum) {
  // The frame's leader is counted as one even where it is not reported, so
  // that a talker who leads often is admitted however they started.
  const PeakList heard = peaks;
  if (heard.count > 0 && inRoom()) {
    const int needed = std::max(1, static_cast<int>(std::ceil(settings_.share * leaders_)));
    peaks.count = 0;
    for (int i = 0; i < heard.count; ++i)
      if (reported(heard, i, needed, spectrum)) peaks.peaks[peaks.count++] = heard.peaks[i];
  }
  record(heard, spectrum);
}

void LeadingDirections::record(const PeakList &peaks, const float *spectrum) {
  if (leader_.empty()) return;
  const size_t slot = static_cast<size_t>(next_);
  if (leader_[slot] >= 0) {
    --count_[leader_[slot]];
    valueSum_ -= value_[slot];
    --leaders_;
  }
  leader_[slot] = peaks.count > 0 ? peaks.peaks[0].direction : -1;
  value_[slot] = peaks.count > 0 ? peaks.peaks[0].value : 0.0f;
  if (leader_[slot] >= 0) {
    ++count_[leader_[slot]];
    valueSum_ += value_[slot];
    ++leaders_;
  }
  if (!earlier_.empty()) {
    std::copy(spectrum, spectrum + kDirections,
              earlier_.begin() + static_cast<std::ptrdiff_t>(earlierNext_) * kDirections);
    earlierNext_ = (earlierNext_ + 1) % settings_.riseFrames;
    spectraKept_ = std::min(spectraKept_ + 1, settings_.riseFrames);
  }
  next_ = (next_ + 1) % settings_.memoryFrames;
}

}  // namespace localization
