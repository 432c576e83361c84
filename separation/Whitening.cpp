#include "Whitening.h"

#include <complex>

#include "Decompositions.h"

namespace KOLV {
namespace separation {

namespace {

// Work matrices of one bin, kept across bins so that a block allocates them
// once.
struct WhiteningWork {
  arma::cx_fmat centred;
  arma::cx_fmat covariance;
  arma::cx_fvec eigenvalues;
  arma::cx_fmat eigenvectors;
  arma::cx_fmat scaleRoot;
  arma::cx_fmat inverseScale;
};

// Xc = X - mean over frames.
void centre(const arma::cx_fmat &x, arma::cx_fmat &centred) {
  const std::complex<float> frames(static_cast<float>(x.n_cols), 0.0f);
  const arma::cx_fvec mean = arma::sum(x, 1) / frames;
  centred = x.each_col() - mean;
}

// R = Xc Xc^H / T. Only the upper triangle is computed and mirrored, so that
// R is exactly Hermitian.
void covariance(const arma::cx_fmat &centred, arma::cx_fmat &r) {
  const arma::uword channels = centred.n_rows, frames = centred.n_cols;
  const std::complex<float> divisor(static_cast<float>(frames), 0.0f);
  r.set_size(channels, channels);
  for (arma::uword a = 0; a < channels; ++a) {
    for (arma::uword b = a; b < channels; ++b) {
      std::complex<float> sum(0.0f, 0.0f);
      for (arma::uword t = 0; t < frames; ++t) sum += centred(a, t) * std::conj(centred(b, t));
      r(a, b) = sum / divisor;
      r(b, a) = std::conj(r(a, b));
    }
  }
}

// V = pinv(sqrt(Lambda)) E_s^H with the numSources largest eigenvalues.
void whiteningMatrix(WhiteningWork &work, arma::uword numSources, arma::cx_fmat &v) {
  const arma::uword channels = work.eigenvalues.n_elem;
  const arma::uword first = channels - numSources;
  work.scaleRoot.zeros(numSources, numSources);
  for (arma::uword i = 0; i < numSources; ++i)
    work.scaleRoot(i, i) = std::sqrt(work.eigenvalues(first + i));
  pseudoInverse(work.scaleRoot, work.inverseScale);
  v = work.inverseScale * work.eigenvectors.cols(first, channels - 1).t();
}

}  // namespace

void whitenBlock(const arma::cx_fcube &observed, int numSources, arma::cx_fcube &whitening,
                 arma::cx_fcube &whitened) {
  const arma::uword sources = static_cast<arma::uword>(numSources);
  whitening.zeros(sources, observed.n_rows, observed.n_slices);
  whitened.zeros(sources, observed.n_cols, observed.n_slices);
  WhiteningWork work;
  for (arma::uword k = 0; k < observed.n_slices; ++k) {
    centre(observed.slice(k), work.centred);
    covariance(work.centred, work.covariance);
    hermitianEigen(work.covariance, work.eigenvalues, work.eigenvectors);
    whiteningMatrix(work, sources, whitening.slice(k));
    whitened.slice(k) = whitening.slice(k) * work.centred;
  }
}

}  // namespace separation
}  // namespace KOLV
