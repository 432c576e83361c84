// The closed-form 2 x 2 decompositions against LAPACK (through Armadillo) on
// random, singular and zero matrices.
#include <gtest/gtest.h>

#include <random>

#include "Decompositions.h"

namespace {

using namespace KOLV::separation;
using arma::cx_fmat;
using arma::cx_fvec;

constexpr float kTolerance = 2e-5f;

std::complex<float> randomComplex(std::mt19937 &generator) {
  std::normal_distribution<float> gaussian(0.0f, 1.0f);
  return {gaussian(generator), gaussian(generator)};
}

cx_fmat randomMatrix(std::mt19937 &generator) {
  cx_fmat a(2, 2);
  for (auto &x : a) x = randomComplex(generator);
  return a;
}

// The kinds of matrix the separation meets: full rank, rank one (a silent
// source or microphone), nearly rank one, badly scaled, diagonal and zero.
std::vector<cx_fmat> testMatrices() {
  std::mt19937 generator(5);
  std::vector<cx_fmat> matrices;
  for (int n = 0; n < 200; ++n) matrices.push_back(randomMatrix(generator));
  for (int n = 0; n < 100; ++n) {
    cx_fmat u = randomMatrix(generator).col(0), v = randomMatrix(generator).col(0);
    matrices.push_back(u * v.t());
  }
  for (int n = 0; n < 50; ++n) {
    cx_fmat u = randomMatrix(generator).col(0), v = randomMatrix(generator).col(0);
    matrices.push_back(u * v.t() + 1e-9f * randomMatrix(generator));
  }
  for (int n = 0; n < 50; ++n) matrices.push_back(1e4f * randomMatrix(generator));
  matrices.push_back(cx_fmat(2, 2, arma::fill::zeros));
  matrices.push_back(cx_fmat{{{3.0f, 0.0f}, {0.0f, 0.0f}}, {{0.0f, 0.0f}, {1.0f, 0.0f}}});
  matrices.push_back(cx_fmat{{{0.0f, 0.0f}, {0.0f, 0.0f}}, {{0.0f, 0.0f}, {2.0f, 0.0f}}});
  return matrices;
}

float relativeError(const cx_fmat &actual, const cx_fmat &expected) {
  const float scale = std::max(arma::norm(expected, "fro"), 1e-30f);
  return arma::norm(actual - expected, "fro") / scale;
}

TEST(PseudoInverse2x2, AgreesWithLapack) {
  const std::vector<cx_fmat> matrices = testMatrices();
  for (size_t n = 0; n < matrices.size(); ++n) {
    SCOPED_TRACE("matrix " + std::to_string(n));
    cx_fmat closed, lapack;
    pseudoInverse2x2(matrices[n], closed);
    pseudoInverseLapack(matrices[n], lapack);
    if (arma::norm(lapack, "fro") == 0.0f)
      EXPECT_EQ(arma::norm(closed, "fro"), 0.0f);
    else
      EXPECT_LT(relativeError(closed, lapack), kTolerance);
  }
}

TEST(PseudoInverse2x2, MapsNegligibleSingularValuesToZero) {
  // diag(1, 1e-9): the second singular value is below the tolerance, so the
  // pseudo-inverse is diag(1, 0), not diag(1, 1e9).
  cx_fmat a(2, 2, arma::fill::zeros);
  a(0, 0) = 1.0f;
  a(1, 1) = 1e-9f;
  cx_fmat result;
  pseudoInverse(a, result);
  EXPECT_FLOAT_EQ(result(0, 0).real(), 1.0f);
  EXPECT_EQ(result(1, 1), std::complex<float>(0.0f, 0.0f));
}

// Eigenvectors are fixed only up to a phase (and within a repeated
// eigenvalue, not at all), so the decompositions are compared through the
// eigenvalues, unitarity and the reconstruction E diag(lambda) E^H.
TEST(HermitianEigen2x2, AgreesWithLapack) {
  std::mt19937 generator(9);
  std::vector<cx_fmat> matrices;
  for (const cx_fmat &a : testMatrices()) matrices.push_back(a * a.t());
  for (int n = 0; n < 50; ++n) {
    cx_fmat a = randomMatrix(generator);
    matrices.push_back(a + a.t());  // indefinite
  }
  matrices.push_back(cx_fmat(2, 2, arma::fill::eye));
  for (size_t n = 0; n < matrices.size(); ++n) {
    SCOPED_TRACE("matrix " + std::to_string(n));
    const cx_fmat &a = matrices[n];
    cx_fvec closedValues, lapackValues;
    cx_fmat closedVectors, lapackVectors;
    hermitianEigen2x2(a, closedValues, closedVectors);
    hermitianEigenLapack(a, lapackValues, lapackVectors);
    const float scale = std::max(arma::norm(a, "fro"), 1e-30f);
    for (int i = 0; i < 2; ++i) {
      EXPECT_NEAR(closedValues(i).real(), lapackValues(i).real(), kTolerance * scale);
      EXPECT_EQ(closedValues(i).imag(), 0.0f);
    }
    EXPECT_LE(closedValues(0).real(), closedValues(1).real());
    EXPECT_LT(relativeError(closedVectors.t() * closedVectors, cx_fmat(2, 2, arma::fill::eye)),
              kTolerance);
    const cx_fmat rebuilt = closedVectors * arma::diagmat(closedValues) * closedVectors.t();
    EXPECT_LT(arma::norm(rebuilt - a, "fro"), kTolerance * scale);
    // Each closed-form eigenvector spans the same line as LAPACK's where the
    // eigenvalues are apart.
    if (lapackValues(1).real() - lapackValues(0).real() > 1e-3f * scale) {
      for (int i = 0; i < 2; ++i)
        EXPECT_NEAR(std::abs(arma::cdot(closedVectors.col(i), lapackVectors.col(i))), 1.0f,
                    kTolerance);
    }
  }
}

TEST(Decompositions, OtherSizesGoToLapack) {
  std::mt19937 generator(3);
  cx_fmat a(3, 3);
  for (auto &x : a) x = randomComplex(generator);
  const cx_fmat hermitian = a * a.t();
  cx_fvec values;
  cx_fmat vectors;
  hermitianEigen(hermitian, values, vectors);
  ASSERT_EQ(values.n_elem, 3u);
  EXPECT_LT(relativeError(vectors * arma::diagmat(values) * vectors.t(), hermitian), kTolerance);

  const cx_fmat wide = a.rows(0, 1);
  cx_fmat inverse;
  pseudoInverse(wide, inverse);
  ASSERT_EQ(inverse.n_rows, 3u);
  EXPECT_LT(relativeError(wide * inverse, cx_fmat(2, 2, arma::fill::eye)), kTolerance);
}

}  // namespace
