// Single-precision exponential, logarithm and exponential integral written as
// plain arithmetic without branches or selects, so that loops over bins run
// several bins at a time with portable build flags (the math library's
// functions set errno, and with trapping maths the compiler keeps a select
// as a branch). Relative error below 2e-5 (exp, log) and 1e-4 (E1); the
// adaptive enhancer's gain and speech-presence rules need no more.
#ifndef KOLV_ENHANCEMENT_FAST_MATH_H
#define KOLV_ENHANCEMENT_FAST_MATH_H

#include <cfloat>
#include <cstdint>
#include <cstring>

namespace enhancement {

inline float bitsToFloat(std::int32_t bits) {
  float x;
  std::memcpy(&x, &bits, sizeof x);
  return x;
}

inline std::int32_t floatToBits(float x) {
  std::int32_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return bits;
}

// condition ? a : b on the bits, which the compiler keeps free of branches.
inline float selectBits(bool condition, float a, float b) {
  const std::int32_t mask = -static_cast<std::int32_t>(condition);
  return bitsToFloat((floatToBits(a) & mask) | (floatToBits(b) & ~mask));
}

// max(x, limit) and min(x, limit); NaN gives the limit.
inline float atLeast(float x, float limit) { return selectBits(x > limit, x, limit); }
inline float atMost(float x, float limit) { return selectBits(x < limit, x, limit); }

// e^x for any x: below about -87 it gives the smallest normal float, above
// 88 about 1.6e38; NaN gives a finite value.
inline float fastExp(float x) {
  constexpr float kLog2e = 1.44269504f;
  constexpr float kLn2High = 0.693145752f;  // ln 2 in two parts, the first exact in few bits
  constexpr float kLn2Low = 1.42860677e-6f;
  constexpr float kRoundingShift = 12582912.0f;  // 1.5 * 2^23: adding it rounds to an integer
  x = atMost(atLeast(x, -87.0f), 88.0f);
  const float shifted = x * kLog2e + kRoundingShift;
  const float n = shifted - kRoundingShift;
  const float r = (x - n * kLn2High) - n * kLn2Low;
  // e^r on |r| <= ln2 / 2, Taylor terms to r^6.
  const float poly =
      1.0f + r * (1.0f + r * (0.5f + r * (1.0f / 6.0f + r * (1.0f / 24.0f +
      r * (1.0f / 120.0f + r * (1.0f / 720.0f))))));
  const std::int32_t exponent = floatToBits(shifted) - floatToBits(kRoundingShift);
  return poly * bitsToFloat((exponent + 127) << 23);
}

// ln x for x > 0; x at or below the smallest normal float, or NaN, counts as
// that smallest normal float.
inline float fastLog(float x) {
  constexpr float kLn2 = 0.693147181f;
  constexpr float kSqrtHalf = 0.707106781f;
  std::int32_t bits = floatToBits(x);
  // Below the smallest normal float (and NaN, negative numbers): that float.
  const std::int32_t tooSmall = -static_cast<std::int32_t>(!(bits >= 0x00800000 && bits <= 0x7f7fffff));
  bits = (bits & ~tooSmall) | (0x00800000 & tooSmall);
  // x = m 2^e with m in [sqrt(1/2), sqrt(2)).
  std::int32_t e = ((bits >> 23) & 0xff) - 126;
  float m = bitsToFloat((bits & 0x007fffff) | 0x3f000000);  // in [1/2, 1)
  const std::int32_t low = m < kSqrtHalf;
  m += static_cast<float>(low) * m;
  e -= low;
  const float t = (m - 1.0f) / (m + 1.0f);
  const float t2 = t * t;
  const float series =
      2.0f * t * (1.0f + t2 * (1.0f / 3.0f + t2 * (1.0f / 5.0f + t2 * (1.0f / 7.0f + t2 / 9.0f))));
  return series + static_cast<float>(e) * kLn2;
}

// The exponential integral E1(x) for x > 0, by Abramowitz and Stegun 5.1.53
// below 1 and 5.1.56 from 1 on.
inline float fastExpint(float x) {
  x = atLeast(x, FLT_MIN);
  const float s = atMost(x, 1.0f);  // keeps the unused series finite
  const float small = -fastLog(s) +
                      (-0.57721566f + s * (0.99999193f + s * (-0.24991055f + s * (0.05519968f +
                       s * (-0.00976004f + s * 0.00107857f)))));
  const float large = (x * x + 2.334733f * x + 0.250621f) /
                      ((x * x + 3.330657f * x + 1.681534f) * x) * fastExp(-x);
  return selectBits(x < 1.0f, small, large);
}

// The sum of n values in four interleaved partial sums, added last: the
// order is fixed (the same sum on every machine) and runs four values at a
// time, where one running sum would wait for each addition.
inline float laneSum(const float *x, int n) {
  float lanes[4] = {0.0f, 0.0f, 0.0f, 0.0f};
  int k = 0;
  for (; k + 4 <= n; k += 4)
    for (int j = 0; j < 4; ++j) lanes[j] += x[k + j];
  for (; k < n; ++k) lanes[k % 4] += x[k];
  return (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
}

}  // namespace enhancement

#endif
