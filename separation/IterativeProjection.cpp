#include "IterativeProjection.h"

#include <cmath>

namespace KOLV {
namespace separation {

namespace {

using cdouble = std::complex<double>;

// Generalized eigenvalues closer than this (relative) leave the sources
// indistinguishable in that bin.
constexpr double kSmallestEigenvalueGap = 1e-9;
// Rows closer to parallel than this (sine of their angle) would extract the
// same source twice; from such a matrix the updates cannot find their way
// back (both outputs weigh the frames alike), so it is refused.
constexpr double kSmallestRowSine = 1e-3;

bool rowsApart(const Demixing2 &w) {
  const std::complex<float> determinant = w.w[0][0] * w.w[1][1] - w.w[0][1] * w.w[1][0];
  const double lengths = std::sqrt((std::norm(w.w[0][0]) + std::norm(w.w[0][1])) *
                                   static_cast<double>(std::norm(w.w[1][0]) + std::norm(w.w[1][1])));
  return std::abs(determinant) >= kSmallestRowSine * lengths;
}

double determinant(const Hermitian2 &v) { return v.d0 * v.d1 - std::norm(v.off); }

// u^H V u.
double quadraticForm(const Hermitian2 &v, cdouble u0, cdouble u1) {
  return v.d0 * std::norm(u0) + v.d1 * std::norm(u1) + 2.0 * std::real(std::conj(u0) * v.off * u1);
}

// A null vector of V1 - lambda V0 from whichever of its rows is larger.
void nullVector(const Hermitian2 &v0, const Hermitian2 &v1, double lambda, cdouble &u0, cdouble &u1) {
  const double b00 = v1.d0 - lambda * v0.d0, b11 = v1.d1 - lambda * v0.d1;
  const cdouble b01 = v1.off - lambda * v0.off;
  if (b00 * b00 >= b11 * b11) {
    u0 = b01;
    u1 = -b00;
  } else {
    u0 = b11;
    u1 = -std::conj(b01);
  }
}

// Row i of W = u^H / sqrt(u^H V_i u).
bool setRow(const Hermitian2 &v, cdouble u0, cdouble u1, std::complex<float> *row) {
  const double power = quadraticForm(v, u0, u1);
  if (!(power > 0.0) || !std::isfinite(power)) return false;
  const double scale = 1.0 / std::sqrt(power);
  row[0] = std::complex<float>(std::conj(u0) * scale);
  row[1] = std::complex<float>(std::conj(u1) * scale);
  return true;
}

}  // namespace

bool iterativeProjection2(const Hermitian2 &v0, const Hermitian2 &v1, Demixing2 &w) {
  // det(V1 - lambda V0) = a lambda^2 - b lambda + c.
  const double a = determinant(v0), c = determinant(v1);
  const double b = v0.d0 * v1.d1 + v0.d1 * v1.d0 - 2.0 * std::real(v1.off * std::conj(v0.off));
  if (!(a > 0.0) || !(c > 0.0) || !std::isfinite(a) || !std::isfinite(b) || !std::isfinite(c)) return false;
  const double discriminant = b * b - 4.0 * a * c;
  if (!(discriminant > 0.0)) return false;
  // Both roots are positive (b > 0): the larger without cancellation, the
  // smaller from their product c / a.
  const double larger = (b + std::sqrt(discriminant)) / (2.0 * a);
  const double smaller = c / (a * larger);
  if (larger - smaller <= kSmallestEigenvalueGap * larger) return false;

  cdouble u00, u01, u10, u11;
  nullVector(v0, v1, larger, u00, u01);
  nullVector(v0, v1, smaller, u10, u11);
  Demixing2 updated;
  if (!setRow(v0, u00, u01, updated.w[0]) || !setRow(v1, u10, u11, updated.w[1]) || !rowsApart(updated))
    return false;
  w = updated;
  return true;
}

}  // namespace separation
}  // namespace KOLV
