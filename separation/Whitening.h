// Principal-component whitening of one block: per frequency bin, the centred
// observations are rotated onto the eigenvectors of their covariance and
// scaled to unit variance, keeping only the strongest components.
#ifndef KOLV_SEPARATION_WHITENING_H
#define KOLV_SEPARATION_WHITENING_H

#include <armadillo>

namespace KOLV {
namespace separation {

// From the observations `observed` (channels x frames x bins, slice k = X_k)
// computes for every bin the whitening matrix V_k (numSources x channels,
// slice k of `whitening`) and the whitened observations Z_k = V_k (X_k - mean)
// (numSources x frames, slice k of `whitened`). 1 <= numSources <= channels.
void whitenBlock(const arma::cx_fcube &observed, int numSources, arma::cx_fcube &whitening,
                 arma::cx_fcube &whitened);

}  // namespace separation
}  // namespace KOLV

#endif
