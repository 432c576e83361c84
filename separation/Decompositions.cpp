#include "Decompositions.h"

#include <cmath>
#include <complex>
#include <limits>
#include <stdexcept>

namespace KOLV {
namespace separation {

namespace {

using cdouble = std::complex<double>;

constexpr double kFloatEpsilon = std::numeric_limits<float>::epsilon();

bool isTwoByTwo(const arma::cx_fmat &a) { return a.n_rows == 2 && a.n_cols == 2; }

cdouble widen(const std::complex<float> &z) { return cdouble(z.real(), z.imag()); }

std::complex<float> narrow(const cdouble &z) {
  return std::complex<float>(static_cast<float>(z.real()), static_cast<float>(z.imag()));
}

// Unit eigenvector of the larger eigenvalue of the Hermitian matrix
// [[top, offDiagonal], [conj(offDiagonal), bottom]] (offDiagonal nonzero).
// Of its two equivalent forms, takes the one whose leading terms add rather
// than cancel.
void largerEigenvector(double top, double bottom, cdouble offDiagonal, cdouble &v0, cdouble &v1) {
  const double halfGap = (top - bottom) / 2.0;
  const double radius = std::hypot(halfGap, std::abs(offDiagonal));
  if (halfGap >= 0.0) {
    v0 = cdouble(halfGap + radius, 0.0);
    v1 = std::conj(offDiagonal);
  } else {
    v0 = offDiagonal;
    v1 = cdouble(radius - halfGap, 0.0);
  }
  const double length = std::hypot(std::abs(v0), std::abs(v1));
  v0 /= length;
  v1 /= length;
}

}  // namespace

void hermitianEigen2x2(const arma::cx_fmat &a, arma::cx_fvec &values, arma::cx_fmat &vectors) {
  const double top = a(0, 0).real();
  const double bottom = a(1, 1).real();
  const cdouble offDiagonal = widen(a(0, 1));
  const double halfGap = (top - bottom) / 2.0;
  const double mid = (top + bottom) / 2.0;
  const double radius = std::hypot(halfGap, std::abs(offDiagonal));

  values.set_size(2);
  if (offDiagonal == cdouble(0.0, 0.0)) {
    const bool ordered = top <= bottom;
    values(0) = static_cast<float>(ordered ? top : bottom);
    values(1) = static_cast<float>(ordered ? bottom : top);
    vectors.zeros(2, 2);
    vectors(ordered ? 0 : 1, 0) = 1.0f;
    vectors(ordered ? 1 : 0, 1) = 1.0f;
    return;
  }
  values(0) = static_cast<float>(mid - radius);
  values(1) = static_cast<float>(mid + radius);
  cdouble v0, v1;
  largerEigenvector(top, bottom, offDiagonal, v0, v1);
  vectors.set_size(2, 2);
  vectors(0, 1) = narrow(v0);
  vectors(1, 1) = narrow(v1);
  // The smaller eigenvalue's eigenvector is the orthogonal complement.
  vectors(0, 0) = narrow(-std::conj(v1));
  vectors(1, 0) = narrow(std::conj(v0));
}

void hermitianEigenLapack(const arma::cx_fmat &a, arma::cx_fvec &values, arma::cx_fmat &vectors) {
  arma::cx_mat wide = arma::conv_to<arma::cx_mat>::from(arma::symmatu(a));
  arma::vec eigenvalues;
  arma::cx_mat eigenvectors;
  if (!arma::eig_sym(eigenvalues, eigenvectors, wide, "dc"))
    throw std::runtime_error("Hermitian eigen-decomposition failed on a " +
                             std::to_string(a.n_rows) + " x " + std::to_string(a.n_cols) +
                             " matrix");
  values.set_size(eigenvalues.n_elem);
  for (arma::uword i = 0; i < eigenvalues.n_elem; ++i)
    values(i) = static_cast<float>(eigenvalues(i));
  vectors = arma::conv_to<arma::cx_fmat>::from(eigenvectors);
}

void hermitianEigen(const arma::cx_fmat &a, arma::cx_fvec &values, arma::cx_fmat &vectors) {
  if (isTwoByTwo(a))
    hermitianEigen2x2(a, values, vectors);
  else
    hermitianEigenLapack(a, values, vectors);
}

void pseudoInverse2x2(const arma::cx_fmat &a, arma::cx_fmat &result) {
  const cdouble p = widen(a(0, 0)), q = widen(a(0, 1));
  const cdouble r = widen(a(1, 0)), s = widen(a(1, 1));
  const cdouble determinant = p * s - q * r;
  const double frobenius2 = std::norm(p) + std::norm(q) + std::norm(r) + std::norm(s);
  // The singular values from the trace and determinant of a^H a.
  const double discriminant =
      std::max(0.0, frobenius2 * frobenius2 - 4.0 * std::norm(determinant));
  const double largest = std::sqrt((frobenius2 + std::sqrt(discriminant)) / 2.0);
  result.set_size(2, 2);
  if (!(largest > 0.0)) {
    result.zeros();
    return;
  }
  const double smallest = std::abs(determinant) / largest;
  const double tolerance = 2.0 * largest * kFloatEpsilon;
  if (smallest >= tolerance) {
    result(0, 0) = narrow(s / determinant);
    result(0, 1) = narrow(-q / determinant);
    result(1, 0) = narrow(-r / determinant);
    result(1, 1) = narrow(p / determinant);
    return;
  }
  // Rank one: a = sigma u v^H + (negligible), pseudo-inverse v u^H / sigma
  // = v v^H a^H / sigma^2, with v the leading eigenvector of a^H a.
  cdouble v0(1.0, 0.0), v1(0.0, 0.0);
  const cdouble cross = std::conj(p) * q + std::conj(r) * s;
  if (cross != cdouble(0.0, 0.0))
    largerEigenvector(std::norm(p) + std::norm(r), std::norm(q) + std::norm(s), cross, v0, v1);
  else if (std::norm(q) + std::norm(s) > std::norm(p) + std::norm(r))
    std::swap(v0, v1);
  const double scale = largest * largest;
  // u^H sigma = v^H a^H, row vector (h0, h1).
  const cdouble h0 = std::conj(v0) * std::conj(p) + std::conj(v1) * std::conj(q);
  const cdouble h1 = std::conj(v0) * std::conj(r) + std::conj(v1) * std::conj(s);
  result(0, 0) = narrow(v0 * h0 / scale);
  result(0, 1) = narrow(v0 * h1 / scale);
  result(1, 0) = narrow(v1 * h0 / scale);
  result(1, 1) = narrow(v1 * h1 / scale);
}

void pseudoInverseLapack(const arma::cx_fmat &a, arma::cx_fmat &result) {
  if (!arma::pinv(result, a))
    throw std::runtime_error("pseudo-inverse failed on a " + std::to_string(a.n_rows) + " x " +
                             std::to_string(a.n_cols) + " matrix");
}

void pseudoInverse(const arma::cx_fmat &a, arma::cx_fmat &result) {
  if (isTwoByTwo(a))
    pseudoInverse2x2(a, result);
  else
    pseudoInverseLapack(a, result);
}

}  // namespace separation
}  // namespace KOLV
