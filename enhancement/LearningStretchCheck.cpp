#include "LearningStretchCheck.h"

#include <cmath>
#include <limits>

namespace enhancement {

void LearningStretchCheck::observe(const std::complex<float> *values, int count) {
  double power = 0.0;
  for (int i = 0; i < count; ++i) power += std::norm(std::complex<double>(values[i]));
  if (!std::isfinite(power)) return;
  if (power > 0.0) anySound_ = true;
  if (quietest_ >= 0.0) {
    const double rise = quietest_ > 0.0 ? power / quietest_
                                        : (power > 0.0 ? std::numeric_limits<double>::infinity() : 1.0);
    if (rise > largestRise_) largestRise_ = rise;
  }
  if (quietest_ < 0.0 || power < quietest_) quietest_ = power;
}

LearningStretchCheck::Finding LearningStretchCheck::finding() const {
  if (quietest_ < 0.0) return Finding::Noise;  // nothing usable seen: other warnings say so
  if (!anySound_) return Finding::DigitalSilence;
  return riseDb() > kRiseLimitDb ? Finding::LevelRise : Finding::Noise;
}

double LearningStretchCheck::riseDb() const { return 10.0 * std::log10(largestRise_); }

}  // namespace enhancement
