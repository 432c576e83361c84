#include "IvaEstimator.h"

#include <algorithm>
#include <cmath>
#include <complex>

namespace KOLV {
namespace separation {

namespace {

// Keeps the weights finite where a source is silent.
constexpr float kNormFloor = 1e-6f;
// The first pass compares the mean norm against this.
constexpr float kInitialError = 1e6f;
// Passes stop once the mean norm changes by less than this.
constexpr float kConvergenceThreshold = 1e-6f;
// A progress line every this many passes.
constexpr int kProgressInterval = 50;

// y = W z for one bin and one source row, y and z planar, W column-major.
void demixRow(const std::complex<float> *w, const PlanarBlock &z, int bin, int source,
              float *yRe, float *yIm) {
  const int sources = z.sources(), frames = z.frames();
  for (int j = 0; j < sources; ++j) {
    const float wRe = w[j * sources + source].real(), wIm = w[j * sources + source].imag();
    const float *zRe = z.re(bin, j), *zIm = z.im(bin, j);
    if (j == 0) {
      for (int t = 0; t < frames; ++t) {
        yRe[t] = wRe * zRe[t] - wIm * zIm[t];
        yIm[t] = wRe * zIm[t] + wIm * zRe[t];
      }
    } else {
      for (int t = 0; t < frames; ++t) {
        yRe[t] += wRe * zRe[t] - wIm * zIm[t];
        yIm[t] += wRe * zIm[t] + wIm * zRe[t];
      }
    }
  }
}

}  // namespace

IvaEstimator::IvaEstimator(UpdateRule rule, int maxIteration, std::ostream &progress)
    : rule_(rule), maxIteration_(maxIteration), progress_(progress) {}

void IvaEstimator::estimateDemixing(const arma::cx_fcube &whitened, arma::cx_fcube &demixing,
                                    arma::cx_fcube &separated) {
  passesRun_ = 0;
  overflowed_ = false;
  if (maxIteration_ < 1) return;
  whitened_.load(whitened);
  estimates_.resize(whitened_.sources(), whitened_.frames(), whitened_.bins());
  const size_t rowsTimesFrames = static_cast<size_t>(whitened_.sources()) * whitened_.frames();
  normSquared_.resize(rowsTimesFrames);
  g1_.resize(rowsTimesFrames);
  g2_.resize(rowsTimesFrames);

  NaturalGradientRule naturalGradient(whitened_.sources());
  FixedPointRule fixedPoint(whitened_.sources());
  float previousError = kInitialError;
  for (int pass = 0;;) {
    computeEstimates(demixing);
    const float error = computeWeights();
    previousDemixing_ = demixing;
    updateDemixing(naturalGradient, fixedPoint, demixing);
    ++passesRun_;
    // A natural-gradient row acting on a silent whitened component grows by
    // 10 % a pass and overflows after some 900 passes; the non-finite
    // matrices would then turn the whole block into NaN.
    if (!demixing.is_finite()) {
      demixing = previousDemixing_;
      overflowed_ = true;
      break;
    }
    const float difference = previousError - error;
    const bool converged = std::fabs(difference) < kConvergenceThreshold;
    if (pass % kProgressInterval == kProgressInterval - 1 || converged)
      reportProgress(pass, error, difference);
    if (converged) break;
    if (++pass >= maxIteration_) break;
    previousError = error;
  }
  estimates_.store(separated);
}

// Y_k = W_k Z_k for every bin, and the squared norms over bins, accumulated in
// increasing bin order.
void IvaEstimator::computeEstimates(const arma::cx_fcube &demixing) {
  const int sources = whitened_.sources(), frames = whitened_.frames();
  std::fill(normSquared_.begin(), normSquared_.end(), 0.0f);
  for (int k = 0; k < whitened_.bins(); ++k) {
    const std::complex<float> *w = demixing.slice_memptr(k);
    for (int i = 0; i < sources; ++i) {
      float *yRe = estimates_.re(k, i), *yIm = estimates_.im(k, i);
      demixRow(w, whitened_, k, i, yRe, yIm);
      float *normRow = normSquared_.data() + static_cast<size_t>(i) * frames;
      for (int t = 0; t < frames; ++t) normRow[t] += yRe[t] * yRe[t] + yIm[t] * yIm[t];
    }
  }
}

// r = sqrt(normSquared), G1 = 1 / (r + eps), G2 = 1 / (r^3 + eps); returns the
// mean of r.
float IvaEstimator::computeWeights() {
  float sum = 0.0f;
  for (size_t n = 0; n < normSquared_.size(); ++n) {
    const float r = std::sqrt(normSquared_[n]);
    // The cube in double is exact to well below float resolution, so it
    // rounds as r^3 itself would.
    const float cube = static_cast<float>(static_cast<double>(r) * r * r);
    g1_[n] = 1.0f / (r + kNormFloor);
    g2_[n] = 1.0f / (cube + kNormFloor);
    sum += r;
  }
  return sum / static_cast<float>(normSquared_.size());
}

void IvaEstimator::updateDemixing(NaturalGradientRule &naturalGradient, FixedPointRule &fixedPoint,
                                  arma::cx_fcube &demixing) {
  if (rule_ == UpdateRule::Unchanged) return;
  const int sources = whitened_.sources(), frames = whitened_.frames();
  for (int k = 0; k < whitened_.bins(); ++k) {
    const BinSignals bin{estimates_.re(k, 0), estimates_.im(k, 0), whitened_.re(k, 0),
                         whitened_.im(k, 0), sources, frames};
    arma::cx_fmat &w = demixing.slice(k);
    if (rule_ == UpdateRule::NaturalGradient)
      naturalGradient.update(bin, g1_.data(), w);
    else
      fixedPoint.update(bin, g1_.data(), g2_.data(), w);
  }
}

void IvaEstimator::reportProgress(int pass, float error, float difference) {
  progress_ << "VE_ZOR::IVA::" << updateRuleLabel(rule_) << " === [ iterations: " << pass + 1
            << ", Error: " << static_cast<double>(error)
            << ", Difference: " << static_cast<double>(difference) << " ]" << std::endl;
}

}  // namespace separation
}  // namespace KOLV
