#include "SpeechEnhancer.h"

#include <cmath>

namespace enhancement {

namespace {

float power(Complex x) { return x.real() * x.real() + x.imag() * x.imag(); }

// The bin as it came: used where the rule's ratio to the noise is unbounded.
BinGain passThrough(float noisyPower) {
  BinGain result;
  result.amplitude = std::sqrt(noisyPower);
  result.gain = 1.0f;
  return result;
}

}  // namespace

SpeechEnhancer::SpeechEnhancer(GainRule rule, bool regenerateHarmonics, int noiseFrames)
    : rule_(rule), regenerate_(regenerateHarmonics), noiseFrames_(noiseFrames) {}

void SpeechEnhancer::start(int rows, int bins) {
  rows_ = rows;
  bins_ = bins;
  noisePower_.assign(rows, std::vector<float>(bins, 0.0f));
  prevCleanPower_.assign(bins, 0.0f);
  binGain_.assign(bins, 0.0f);
  binAmplitude_.assign(bins, 0.0f);
  phaseCos_.assign(bins, 0.0f);
  phaseSin_.assign(bins, 0.0f);
  if (regenerate_ && rule_ != GainRule::None) {
    if (!regeneration_ || regeneration_->bins() != bins)
      regeneration_ = std::make_unique<HarmonicRegeneration>(bins);
  }
}

void SpeechEnhancer::process(int frame, const Complex *in, Complex *out) {
  const int cols = bins_ + 1;
  const bool learning = frame < noiseFrames_;
  // An unknown method silences everything; the output is already zero.
  if (!learning && rule_ == GainRule::None) return;
  for (int r = 0; r < rows_; ++r) {
    const Complex *inRow = in + static_cast<size_t>(r) * cols;
    if (learning)
      learnNoise(r, inRow);
    else
      enhanceRow(r, inRow, out + static_cast<size_t>(r) * cols);
  }
}

void SpeechEnhancer::learnNoise(int row, const Complex *in) {
  const float frames = static_cast<float>(noiseFrames_);
  float *noise = noisePower_[row].data();
  for (int k = 0; k < bins_; ++k) noise[k] += power(in[k]) / frames;
}

void SpeechEnhancer::enhanceRow(int row, const Complex *in, Complex *out) {
  const float *noise = noisePower_[row].data();
  for (int k = 0; k < bins_; ++k) {
    const Complex x = in[k];
    const float p = power(x);
    float cosPhase, sinPhase;
    sincosf(std::atan2(x.imag(), x.real()), &sinPhase, &cosPhase);
    const bool noNoise = noise[k] == 0.0f;
    BinGain bin = noNoise ? BinGain() : applyGainRule(rule_, p, noise[k], prevCleanPower_[k]);
    if (noNoise || !std::isfinite(bin.amplitude)) {
      // No noise was learnt here (or the ratio to it overflows): the bin is
      // all signal and passes unchanged.
      bin = passThrough(p);
      out[k] = x;
    } else {
      if (bin.storesPower) prevCleanPower_[k] = bin.cleanPower;
      out[k] = Complex(bin.amplitude * cosPhase, bin.amplitude * sinPhase);
    }
    binGain_[k] = bin.gain;
    binAmplitude_[k] = bin.amplitude;
    phaseCos_[k] = cosPhase;
    phaseSin_[k] = sinPhase;
  }
  if (regeneration_) {
    regeneration_->regenerate({out, binGain_.data(), binAmplitude_.data(), in, phaseCos_.data(),
                               phaseSin_.data(), noise});
  }
}

}  // namespace enhancement
