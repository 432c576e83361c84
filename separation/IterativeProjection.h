// The auxiliary-function IVA update of a 2 x 2 demixing matrix (AuxIVA with
// iterative projection, "IP2": Ono 2012): both rows at once from the
// generalized eigenvectors of the two sources' weighted covariances.
#ifndef KOLV_SEPARATION_ITERATIVE_PROJECTION_H
#define KOLV_SEPARATION_ITERATIVE_PROJECTION_H

#include <complex>

namespace KOLV {
namespace separation {

// A Hermitian 2 x 2 matrix [[d0, off], [conj(off), d1]].
struct Hermitian2 {
  double d0 = 0.0, d1 = 0.0;
  std::complex<double> off;
};

// A 2 x 2 demixing matrix: y_i = w(i, 0) x_0 + w(i, 1) x_1.
struct Demixing2 {
  std::complex<float> w[2][2] = {{{1.0f, 0.0f}, {0.0f, 0.0f}}, {{0.0f, 0.0f}, {1.0f, 0.0f}}};
};

// V_i = mean over frames of weight_i(t) x(t) x(t)^H for the sources i = 0, 1.
// Sets the rows of `w` to the solution of w_j^H V_i w_i = delta_ij:
// the generalized eigenvectors u of V_1 u = lambda V_0 u, the one with the
// larger lambda for source 0 (its weighted covariance is the smaller in its
// own direction), each scaled to u^H V_i u = 1. Leaves `w` as it is and
// returns false when the two covariances do not tell the sources apart
// (equal up to scale, singular or not finite) or the rows would be nearly
// parallel (sine of their angle below 1e-3).
bool iterativeProjection2(const Hermitian2 &v0, const Hermitian2 &v1, Demixing2 &w);

}  // namespace separation
}  // namespace KOLV

#endif
