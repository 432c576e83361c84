#include "ProjectionBack.h"

#include "Decompositions.h"

namespace KOLV {
namespace separation {

void projectBack(const arma::cx_fcube &observed, const arma::cx_fcube &whitening,
                 const arma::cx_fcube &demixing, arma::cx_fcube &separated) {
  separated.set_size(demixing.n_rows, observed.n_cols, observed.n_slices);
  arma::cx_fmat unmixing, mixing;
  for (arma::uword k = 0; k < observed.n_slices; ++k) {
    unmixing = demixing.slice(k) * whitening.slice(k);
    scaleToMicrophones(unmixing, mixing);
    separated.slice(k) = unmixing * observed.slice(k);
  }
}

void scaleToMicrophones(arma::cx_fmat &unmixing, arma::cx_fmat &mixing) {
  pseudoInverse(unmixing, mixing);
  for (arma::uword i = 0; i < unmixing.n_rows; ++i) unmixing.row(i) *= mixing(i, i);
}

}  // namespace separation
}  // namespace KOLV
