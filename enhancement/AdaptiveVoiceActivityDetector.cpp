#include "AdaptiveVoiceActivityDetector.h"

#include <algorithm>
#include <cmath>

#include "FastMath.h"

namespace enhancement {

AdaptiveVoiceActivityDetector::AdaptiveVoiceActivityDetector(
    const AdaptiveDetectorSettings &settings)
    : settings_(settings), tracker_(settings.tracker) {}

void AdaptiveVoiceActivityDetector::start(const SpeechBand &band) {
  band_ = band;
  tracker_.start(band.width());
  power_.assign(band.width(), 0.0f);
  logRatio_.assign(band.width(), 0.0f);
  smoothed_ = 0.0f;
  held_ = 0;
}

bool AdaptiveVoiceActivityDetector::decide(const Complex *left, const Complex *right) {
  const Complex *l = left + band_.lowBin, *r = right + band_.lowBin;
  for (int k = 0; k < band_.width(); ++k)
    power_[k] = 0.5f * (l[k].real() * l[k].real() + l[k].imag() * l[k].imag()) +
                0.5f * (r[k].real() * r[k].real() + r[k].imag() * r[k].imag());
  tracker_.update(power_.data());
  smoothed_ = markovSmoothed(meanLogLikelihood());
  if (smoothed_ > settings_.threshold)
    held_ = settings_.hangoverFrames + 1;
  else if (held_ > 0)
    --held_;
  return held_ > 0;
}

namespace {

void logLikelihoodOverBins(int bins, const float *__restrict prior,
                           const float *__restrict posterior, float *__restrict logRatio) {
  for (int k = 0; k < bins; ++k) {
    const float xi = prior[k];
    logRatio[k] = posterior[k] * xi / (1.0f + xi) - fastLog(1.0f + xi);
  }
}

}  // namespace

// Mean over the band of ln Lambda_k = gamma xi / (1 + xi) - ln(1 + xi).
float AdaptiveVoiceActivityDetector::meanLogLikelihood() {
  const BinStatistics s = tracker_.statistics();
  const int width = band_.width();
  if (width <= 0) return 0.0f;
  logLikelihoodOverBins(width, s.priorSnr, s.posteriorSnr, logRatio_.data());
  return laneSum(logRatio_.data(), width) / static_cast<float>(width);
}

// Sohn's recursion in the log domain: the frame's ratio times
// (a01 + a11 G) / (a00 + a10 G), G the previous smoothed ratio.
float AdaptiveVoiceActivityDetector::markovSmoothed(float frameLogRatio) const {
  const float a01 = settings_.speechStartProbability, a00 = 1.0f - a01;
  const float a10 = settings_.speechEndProbability, a11 = 1.0f - a10;
  // The previous ratio's weight saturates long before e^60.
  const float previous = fastExp(std::min(smoothed_, 60.0f));
  return frameLogRatio + fastLog((a01 + a11 * previous) / (a00 + a10 * previous));
}

}  // namespace enhancement
