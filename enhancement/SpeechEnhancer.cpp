#include "SpeechEnhancer.h"

#include <cmath>

namespace enhancement {

namespace {

float power(Complex x) { return x.real() * x.real() + x.imag() * x.imag(); }

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
  noisyPower_.assign(bins, 0.0f);
  cleanPower_.assign(bins, 0.0f);
  unbounded_.assign(bins, 0);
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
  for (int k = 0; k < bins_; ++k) noisyPower_[k] = power(in[k]);
  applyGainRuleToRow(rule_, {bins_, noisyPower_.data(), noise, prevCleanPower_.data(),
                             binAmplitude_.data(), binGain_.data(), cleanPower_.data(),
                             unbounded_.data()});
  for (int k = 0; k < bins_; ++k) {
    const Complex x = in[k];
    float cosPhase, sinPhase;
    sincosf(std::atan2(x.imag(), x.real()), &sinPhase, &cosPhase);
    phaseCos_[k] = cosPhase;
    phaseSin_[k] = sinPhase;
    // No noise was learnt here (or the ratio to it overflows): the bin is
    // all signal and passes unchanged.
    out[k] = unbounded_[k] ? x : Complex(binAmplitude_[k] * cosPhase, binAmplitude_[k] * sinPhase);
  }
  if (regeneration_) {
    regeneration_->regenerate({out, binGain_.data(), binAmplitude_.data(), in,
                               noisyPower_.data(), phaseCos_.data(), phaseSin_.data(), noise});
  }
  silenceNonFinite(out);
}

void SpeechEnhancer::silenceNonFinite(Complex *out) const {
  // Only an input that is itself not a number (a damaged recording) gets
  // here; it must not spread downstream.
  for (int k = 0; k < bins_; ++k)
    if (!std::isfinite(out[k].real()) || !std::isfinite(out[k].imag())) out[k] = Complex();
}

}  // namespace enhancement
