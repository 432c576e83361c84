#include "FastMath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

namespace {

// E1(x) by its series (small x) or continued fraction (large x), in double.
double referenceExpint(double x) {
  if (x < 1.0) {
    double sum = -0.5772156649015329 - std::log(x), term = 1.0;
    for (int n = 1; n < 40; ++n) {
      term *= -x / n;
      sum -= term / n;
    }
    return sum;
  }
  double f = 0.0;
  for (int n = 60; n >= 1; --n) f = n / (1.0 + n / (x + f));
  return std::exp(-x) / (x + f);
}

// The claimed relative errors hold over the range each function is used in.
TEST(FastMath, MatchesTheLibraryWithinTheStatedError) {
  struct Case {
    const char *name;
    float (*fast)(float);
    double (*exact)(double);
    double from, to, maxRelativeError;
  };
  const Case cases[] = {
      {"exp", enhancement::fastExp, [](double x) { return std::exp(x); }, -80.0, 80.0, 2e-5},
      {"log", enhancement::fastLog, [](double x) { return std::log(x); }, 1e-30, 1e30, 2e-5},
      {"E1", enhancement::fastExpint, referenceExpint, 1e-6, 60.0, 1e-4},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const bool logarithmic = c.from > 0.0;
    for (int i = 0; i <= 2000; ++i) {
      const double u = i / 2000.0;
      const double x = logarithmic ? c.from * std::pow(c.to / c.from, u) : c.from + (c.to - c.from) * u;
      const double exact = c.exact(static_cast<float>(x));
      const double got = c.fast(static_cast<float>(x));
      // ln x crosses zero at 1: there the error is absolute.
      EXPECT_LE(std::fabs(got - exact), c.maxRelativeError * std::max(std::fabs(exact), 1.0)) << "x = " << x;
    }
  }
  EXPECT_TRUE(std::isfinite(enhancement::fastExp(std::numeric_limits<float>::quiet_NaN())));
  EXPECT_EQ(enhancement::fastLog(0.0f), enhancement::fastLog(FLT_MIN));
  EXPECT_EQ(enhancement::fastLog(-1.0f), enhancement::fastLog(FLT_MIN));
}

// Every value counts once, also in a tail shorter than the four lanes.
TEST(FastMath, LaneSumAddsEveryValue) {
  for (int n : {0, 1, 3, 4, 5, 7, 8, 100, 257}) {
    std::vector<float> x(n);
    std::iota(x.begin(), x.end(), 1.0f);
    EXPECT_EQ(enhancement::laneSum(x.data(), n), 0.5f * n * (n + 1)) << n << " values";
  }
}

}  // namespace
