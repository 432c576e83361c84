#include "LeadingDirections.h"

#include <algorithm>
#include <cmath>

namespace localization {

LeadingDirections::LeadingDirections(const RoomSettings &settings) : settings_(settings) {
  settings_.memoryFrames = std::max(1, settings_.memoryFrames);
  leader_.assign(static_cast<size_t>(settings_.memoryFrames), -1);
  value_.assign(static_cast<size_t>(settings_.memoryFrames), 0.0f);
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

void LeadingDirections::admit(PeakList &peaks) {
  if (peaks.count > 1 && inRoom()) {
    const int needed = std::max(1, static_cast<int>(std::ceil(settings_.share * leaders_)));
    int kept = 1;
    for (int i = 1; i < peaks.count; ++i)
      if (leadersNear(peaks.peaks[i].direction) >= needed) peaks.peaks[kept++] = peaks.peaks[i];
    peaks.count = kept;
  }
  record(peaks);
}

void LeadingDirections::record(const PeakList &peaks) {
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
  next_ = (next_ + 1) % settings_.memoryFrames;
}

}  // namespace localization
