// Single-precision exponential, logarithm and exponential integral written as
// plain arithmetic, so that loops over bins run several bins at a time with
// portable build flags (the math library's functions set errno and keep the
// compiler from vectorising). Relative error below 1e-6 (exp, log) and 1e-4
// (E1); the adaptive enhancer's gain and speech-presence rules need no more.
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

// e^x for any x: below about -87 it gives the smallest normal float, above
// 88 about 1.6e38; NaN gives a finite value.
inline float fastExp(float x) {
  constexpr float kLog2e = 1.44269504f;
  constexpr float kLn2High = 0.693145752f;  // ln 2 in two parts, the first exact in few bits
  constexpr float kLn2Low = 1.42860677e-6f;
  constexpr float kRoundingShift = 12582912.0f;  // 1.5 * 2^23: adding it rounds to an integer
  x = x < -87.0f ? -87.0f : x;
  x = x > 88.0f ? 88.0f : x;
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
  x = x > FLT_MIN ? x : FLT_MIN;
  x = x < FLT_MAX ? x : FLT_MAX;
  const std::int32_t bits = floatToBits(x);
  // x = m 2^e with m in [sqrt(1/2), sqrt(2)).
  std::int32_t e = ((bits >> 23) & 0xff) - 126;
  float m = bitsToFloat((bits & 0x007fffff) | 0x3f000000);  // in [1/2, 1)
  const bool low = m < kSqrtHalf;
  m = low ? m + m : m;
  e = low ? e - 1 : e;
  const float t = (m - 1.0f) / (m + 1.0f);
  const float t2 = t * t;
  const float series =
      2.0f * t * (1.0f + t2 * (1.0f / 3.0f + t2 * (1.0f / 5.0f + t2 * (1.0f / 7.0f + t2 / 9.0f))));
  return series + static_cast<float>(e) * kLn2;
}

// The exponential integral E1(x) for x > 0, by Abramowitz and Stegun 5.1.53
// below 1 and 5.1.56 from 1 on.
inline float fastExpint(float x) {
  x = x > FLT_MIN ? x : FLT_MIN;
  const float small = -fastLog(x) +
                      (-0.57721566f + x * (0.99999193f + x * (-0.24991055f + x * (0.05519968f +
                       x * (-0.00976004f + x * 0.00107857f)))));
  const float large = (x * x + 2.334733f * x + 0.250621f) /
                      ((x * x + 3.330657f * x + 1.681534f) * x) * fastExp(-x);
  return x < 1.0f ? small : large;
}

}  // namespace enhancement

#endif
