// The two matrix decompositions the separation needs: the Hermitian
// eigen-decomposition (computed in double precision, eigenvalues increasing)
// and the Moore-Penrose pseudo-inverse. Two-by-two matrices, the binaural case
// and the one inside every pass of the fixed-point rule, take closed forms;
// every other size goes to LAPACK through Armadillo.
#ifndef KOLV_SEPARATION_DECOMPOSITIONS_H
#define KOLV_SEPARATION_DECOMPOSITIONS_H

#include <armadillo>

namespace KOLV {
namespace separation {

// Eigenvalues of the Hermitian matrix `a` in increasing order, as complex
// numbers with zero imaginary part, and the matching unit eigenvectors as the
// columns of `vectors`. Only the upper triangle of `a` is read. Throws
// std::runtime_error if the decomposition fails.
void hermitianEigen(const arma::cx_fmat &a, arma::cx_fvec &values, arma::cx_fmat &vectors);

// The pseudo-inverse of `a` (rows x cols gives cols x rows). Singular values
// below max(rows, cols) * largest singular value * float epsilon count as
// zero. Throws std::runtime_error if the singular value decomposition fails.
void pseudoInverse(const arma::cx_fmat &a, arma::cx_fmat &result);

// The closed forms and the LAPACK routines behind the two functions above,
// for the tests that hold them against each other.
void hermitianEigen2x2(const arma::cx_fmat &a, arma::cx_fvec &values, arma::cx_fmat &vectors);
void hermitianEigenLapack(const arma::cx_fmat &a, arma::cx_fvec &values, arma::cx_fmat &vectors);
void pseudoInverse2x2(const arma::cx_fmat &a, arma::cx_fmat &result);
void pseudoInverseLapack(const arma::cx_fmat &a, arma::cx_fmat &result);

}  // namespace separation
}  // namespace KOLV

#endif
