// The two IVA update rules for the demixing matrix W_k of one frequency bin,
// both driven by the multivariate Laplacian source model: the natural-gradient
// rule and the Newton-type fixed-point rule with symmetric decorrelation
// (FastIVA, Lee, Kim and Lee 2007).
#ifndef KOLV_SEPARATION_UPDATE_RULES_H
#define KOLV_SEPARATION_UPDATE_RULES_H

#include <armadillo>
#include <complex>
#include <string>
#include <vector>

namespace KOLV {
namespace separation {

enum class UpdateRule {
  NaturalGradient,
  FixedPoint,
  // An unrecognised method name: the passes run but leave W_k as it is.
  Unchanged
};

extern const char *const kNaturalGradientMethod;
extern const char *const kFixedPointMethod;

// The rule a method name selects (exact, case-sensitive match).
UpdateRule updateRuleNamed(const std::string &method);
// The rule's name in the progress lines; empty for Unchanged.
const char *updateRuleLabel(UpdateRule rule);

// One bin of the block in planar form: row i of Y_k (the current estimates)
// and of Z_k (the whitened observations) at offset i * frames.
struct BinSignals {
  const float *yRe, *yIm;
  const float *zRe, *zIm;
  int sources;
  int frames;
};

// W <- W + 0.1 (I - C) W with C = (G1 o Y) Y^H / T.
class NaturalGradientRule {
 public:
  explicit NaturalGradientRule(int sources);
  // g1: sources x frames weights 1 / (r + eps), row i at offset i * frames.
  void update(const BinSignals &bin, const float *g1, arma::cx_fmat &w);

 private:
  arma::cx_fmat identity_, step_, change_;
  std::vector<std::complex<float>> correlationRow_;
};

// W <- diag(d) W - (G1 o Y) Z^H / T, then W <- (W W^H)^(-1/2) W.
class FixedPointRule {
 public:
  explicit FixedPointRule(int sources);
  // g1, g2: sources x frames weights 1 / (r + eps) and 1 / (r^3 + eps).
  void update(const BinSignals &bin, const float *g1, const float *g2, arma::cx_fmat &w);

 private:
  void decorrelate(arma::cx_fmat &w);

  arma::cx_fmat gram_, eigenvectors_, inverseEigenvectors_, root_, inverseRoot_, product_;
  arma::cx_fvec eigenvalues_;
  std::vector<std::complex<float>> correlationRow_;
};

}  // namespace separation
}  // namespace KOLV

#endif
