#include "VoiceActivityDetector.h"

#include <algorithm>
#include <cmath>

namespace enhancement {

namespace {

// The two channels' mean power in bin k.
float bandPower(const std::complex<float> *left, const std::complex<float> *right, int k) {
  const std::complex<float> a = left[k], b = right[k];
  return 0.5f * (a.real() * a.real() + a.imag() * a.imag()) +
         0.5f * (b.real() * b.real() + b.imag() * b.imag());
}

}  // namespace

SpeechBand SpeechBand::of(int samplingRate, int cols) {
  SpeechBand band;
  band.binSpacing = (samplingRate / 2) / (cols - 1);
  band.lowBin = kLowHz / band.binSpacing;
  band.highBin = kHighHz / band.binSpacing;
  return band;
}

std::string speechBandText() {
  return "the speech band " + std::to_string(SpeechBand::kLowHz) + "-" +
         std::to_string(SpeechBand::kHighHz) + " Hz";
}

std::string speechBandMisfit(int samplingRate, int cols) {
  if (cols < 2) return "a spectrum needs at least two columns";
  const std::string atRate = "at SAMPLING_RATE " + std::to_string(samplingRate) + " Hz ";
  if (cols - 1 > samplingRate / 2)
    return atRate + "its bins are narrower than 1 Hz, so " + speechBandText() + " cannot be placed";
  const SpeechBand band = SpeechBand::of(samplingRate, cols);
  if (band.highBin > cols - 1)
    return atRate + speechBandText() + " reaches bin " + std::to_string(band.highBin) +
           ", past the last bin " + std::to_string(cols - 2) + " below Nyquist";
  return "";
}

VoiceActivityDetector::VoiceActivityDetector(int noiseFrames, float threshold)
    : noiseFrames_(noiseFrames), threshold_(threshold) {}

void VoiceActivityDetector::start(int bins) {
  noiseMean_.assign(bins, 0.0f);
  noiseDeviation_.assign(bins, 0.0f);
  powerHistory_.assign(noiseFrames_, std::vector<float>(bins, 0.0f));
  learnt_.assign(noiseFrames_, false);
}

bool VoiceActivityDetector::finiteBand(const SpeechBand &band, const Complex *left,
                                       const Complex *right) {
  for (int k = band.lowBin; k < band.highBin; ++k)
    if (!std::isfinite(bandPower(left, right, k))) return false;
  return true;
}

bool VoiceActivityDetector::decide(int frame, const SpeechBand &band, const Complex *left,
                                   const Complex *right) {
  if (frame < noiseFrames_) {
    if (finiteBand(band, left, right)) learn(frame, band, left, right);
    return false;
  }
  if (frame == noiseFrames_) {
    computeDeviation(band);
    return 0.0f > threshold_;
  }
  return finiteBand(band, left, right) && likelihood(band, left, right) > threshold_;
}

void VoiceActivityDetector::learn(int frame, const SpeechBand &band, const Complex *left,
                                  const Complex *right) {
  const float frames = static_cast<float>(noiseFrames_);
  learnt_[frame] = true;
  float *history = powerHistory_[frame].data();
  for (int k = band.lowBin; k < band.highBin; ++k) {
    const float p = bandPower(left, right, k);
    history[k] = p;
    noiseMean_[k] += p / frames;
  }
}

void VoiceActivityDetector::computeDeviation(const SpeechBand &band) {
  const int learnt = static_cast<int>(std::count(learnt_.begin(), learnt_.end(), true));
  // Without a usable noise frame the deviations stay 0: no frame is speech.
  if (learnt == 0) return;
  const float frames = static_cast<float>(learnt);
  // The running mean divided by every learning frame; with frames left out
  // it is taken again over those that were learnt.
  if (learnt != noiseFrames_) {
    std::fill(noiseMean_.begin(), noiseMean_.end(), 0.0f);
    for (int f = 0; f < noiseFrames_; ++f)
      if (learnt_[f])
        for (int k = band.lowBin; k < band.highBin; ++k)
          noiseMean_[k] += powerHistory_[f][k] / frames;
  }
  for (int f = 0; f < noiseFrames_; ++f)
    if (learnt_[f])
      for (int k = band.lowBin; k < band.highBin; ++k)
        noiseDeviation_[k] += std::fabs(powerHistory_[f][k] - noiseMean_[k]) / frames;
}

float VoiceActivityDetector::likelihood(const SpeechBand &band, const Complex *left,
                                        const Complex *right) const {
  const int width = band.width();
  if (width <= 0) return 0.0f;
  const float bandWidth = static_cast<float>(width);
  float statistic = 0.0f;
  for (int k = band.lowBin; k < band.highBin; ++k) {
    float gamma = bandPower(left, right, k) / noiseDeviation_[k];
    if (gamma < 0.0f) gamma = 0.0f;
    statistic += ((gamma - std::log(gamma)) - 1.0f) / bandWidth;
  }
  return statistic;
}

int VoiceActivityDetector::zeroDeviationBins(const SpeechBand &band) const {
  int zeros = 0;
  for (int k = band.lowBin; k < band.highBin; ++k)
    if (noiseDeviation_[k] == 0.0f) ++zeros;
  return zeros;
}

}  // namespace enhancement
