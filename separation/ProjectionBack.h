// Projection back onto the microphones: resolves the scale and phase that
// whitening and IVA leave open by expressing source i as its image at
// microphone i.
#ifndef KOLV_SEPARATION_PROJECTION_BACK_H
#define KOLV_SEPARATION_PROJECTION_BACK_H

#include <armadillo>

namespace KOLV {
namespace separation {

// For every bin k: D = W_k V_k, A = pinv(D), row i of D scaled by A(i, i),
// and slice k of `separated` = D X_k from the uncentred observations.
void projectBack(const arma::cx_fcube &observed, const arma::cx_fcube &whitening,
                 const arma::cx_fcube &demixing, arma::cx_fcube &separated);

// The step of projectBack for one bin: D (sources x microphones) becomes D
// with row i scaled by A(i, i), A = pinv(D) (returned in `mixing`), so that
// D x is each source as heard at its microphone.
void scaleToMicrophones(arma::cx_fmat &unmixing, arma::cx_fmat &mixing);

}  // namespace separation
}  // namespace KOLV

#endif
