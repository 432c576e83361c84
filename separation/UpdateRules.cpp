#include "UpdateRules.h"

#include <complex>

#include "Decompositions.h"
#include "LaneSums.h"

namespace KOLV {
namespace separation {

const char *const kNaturalGradientMethod = "[IVA]NATURAL_GRADIENT_DESCENT_METHOD";
const char *const kFixedPointMethod = "[FastIVA]NEWTON_METHOD_WITH_FIXED_POINT_ITERATION";

namespace {

constexpr float kNaturalGradientStep = 0.1f;

// Sums over frames run in this many lanes (LaneSums.h).
constexpr int kLanes = 16;

// Sums over t of g[t] * a[t] * conj(b_j[t]) for Rows consecutive rows b_j
// (at offset j * frames): Rows elements of one row of (G o A) B^H. Taking two
// rows of B per sweep reads G and A once for both.
template <int Rows>
void weightedCrossSums(const float *g, const float *aRe, const float *aIm, const float *bRe,
                       const float *bIm, int frames, std::complex<float> *sums) {
  float sumRe[Rows][kLanes] = {}, sumIm[Rows][kLanes] = {};
  int t = 0;
  for (; t + kLanes <= frames; t += kLanes) {
    for (int l = 0; l < kLanes; ++l) {
      const float phiRe = aRe[t + l] * g[t + l], phiIm = aIm[t + l] * g[t + l];
      for (int j = 0; j < Rows; ++j) {
        const float re = bRe[j * frames + t + l], im = bIm[j * frames + t + l];
        sumRe[j][l] += phiRe * re + phiIm * im;
        sumIm[j][l] += phiIm * re - phiRe * im;
      }
    }
  }
  for (int l = 0; t < frames; ++t, ++l) {
    const float phiRe = aRe[t] * g[t], phiIm = aIm[t] * g[t];
    for (int j = 0; j < Rows; ++j) {
      const float re = bRe[j * frames + t], im = bIm[j * frames + t];
      sumRe[j][l] += phiRe * re + phiIm * im;
      sumIm[j][l] += phiIm * re - phiRe * im;
    }
  }
  for (int j = 0; j < Rows; ++j)
    sums[j] = std::complex<float>(addLanes(sumRe[j]), addLanes(sumIm[j]));
}

// Row i of (G1 o Y) B^H / T, for B = Y or B = Z.
void scoreCorrelationRow(const BinSignals &bin, const float *g1, const float *bRe,
                         const float *bIm, int i, std::complex<float> *row) {
  const size_t rowI = static_cast<size_t>(i) * bin.frames;
  const float *g = g1 + rowI, *aRe = bin.yRe + rowI, *aIm = bin.yIm + rowI;
  int j = 0;
  for (; j + 2 <= bin.sources; j += 2) {
    const size_t rowJ = static_cast<size_t>(j) * bin.frames;
    weightedCrossSums<2>(g, aRe, aIm, bRe + rowJ, bIm + rowJ, bin.frames, row + j);
  }
  if (j < bin.sources) {
    const size_t rowJ = static_cast<size_t>(j) * bin.frames;
    weightedCrossSums<1>(g, aRe, aIm, bRe + rowJ, bIm + rowJ, bin.frames, row + j);
  }
  // Dividing by the real T part by part is what dividing by the complex
  // number (T, 0) gives.
  const float frames = static_cast<float>(bin.frames);
  for (int n = 0; n < bin.sources; ++n) row[n] = {row[n].real() / frames, row[n].imag() / frames};
}

// Sum over t of g1[t] - g2[t] * |y[t]|^2.
float curvatureSum(const float *g1, const float *g2, const float *yRe, const float *yIm,
                   int frames) {
  float sum[kLanes] = {};
  int t = 0;
  for (; t + kLanes <= frames; t += kLanes)
    for (int l = 0; l < kLanes; ++l) {
      const float power = yRe[t + l] * yRe[t + l] + yIm[t + l] * yIm[t + l];
      sum[l] += g1[t + l] - g2[t + l] * power;
    }
  for (int l = 0; t < frames; ++t, ++l)
    sum[l] += g1[t] - g2[t] * (yRe[t] * yRe[t] + yIm[t] * yIm[t]);
  return addLanes(sum);
}

}  // namespace

UpdateRule updateRuleNamed(const std::string &method) {
  if (method == kNaturalGradientMethod) return UpdateRule::NaturalGradient;
  if (method == kFixedPointMethod) return UpdateRule::FixedPoint;
  return UpdateRule::Unchanged;
}

const char *updateRuleLabel(UpdateRule rule) {
  switch (rule) {
    case UpdateRule::NaturalGradient:
      return "Natural-gradient";
    case UpdateRule::FixedPoint:
      return "Fixed-point";
    case UpdateRule::Unchanged:
      break;
  }
  return "";
}

NaturalGradientRule::NaturalGradientRule(int sources)
    : identity_(arma::eye<arma::cx_fmat>(sources, sources)), step_(sources, sources),
      change_(sources, sources), correlationRow_(sources) {}

void NaturalGradientRule::update(const BinSignals &bin, const float *g1, arma::cx_fmat &w) {
  for (int i = 0; i < bin.sources; ++i) {
    scoreCorrelationRow(bin, g1, bin.yRe, bin.yIm, i, correlationRow_.data());
    for (int j = 0; j < bin.sources; ++j) step_(i, j) = identity_(i, j) - correlationRow_[j];
  }
  step_ *= std::complex<float>(kNaturalGradientStep, 0.0f);
  change_ = step_ * w;
  w += change_;
}

FixedPointRule::FixedPointRule(int sources)
    : gram_(sources, sources), eigenvectors_(sources, sources),
      inverseEigenvectors_(sources, sources), root_(sources, sources),
      inverseRoot_(sources, sources), product_(sources, sources), eigenvalues_(sources),
      correlationRow_(sources) {}

void FixedPointRule::update(const BinSignals &bin, const float *g1, const float *g2,
                            arma::cx_fmat &w) {
  const float frames = static_cast<float>(bin.frames);
  for (int i = 0; i < bin.sources; ++i) {
    const size_t row = static_cast<size_t>(i) * bin.frames;
    const float curvature =
        curvatureSum(g1 + row, g2 + row, bin.yRe + row, bin.yIm + row, bin.frames) / frames;
    scoreCorrelationRow(bin, g1, bin.zRe, bin.zIm, i, correlationRow_.data());
    for (int j = 0; j < bin.sources; ++j) {
      const std::complex<float> scaled(curvature * w(i, j).real(), curvature * w(i, j).imag());
      product_(i, j) = scaled - correlationRow_[j];
    }
  }
  w = product_;
  decorrelate(w);
}

// W <- pinv(Q^(1/2)) W with Q = W W^H and Q^(1/2) = F sqrt(diag(sigma)) pinv(F).
void FixedPointRule::decorrelate(arma::cx_fmat &w) {
  gram_ = w * w.t();
  hermitianEigen(gram_, eigenvalues_, eigenvectors_);
  pseudoInverse(eigenvectors_, inverseEigenvectors_);
  product_ = eigenvectors_;
  for (arma::uword j = 0; j < product_.n_cols; ++j) product_.col(j) *= std::sqrt(eigenvalues_(j));
  root_ = product_ * inverseEigenvectors_;
  pseudoInverse(root_, inverseRoot_);
  product_ = inverseRoot_ * w;
  w = product_;
}

}  // namespace separation
}  // namespace KOLV
