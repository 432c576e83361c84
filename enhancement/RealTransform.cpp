#include "RealTransform.h"

#include <cmath>

namespace enhancement {

namespace {

constexpr double kTwoPi = 6.283185307179586;

// e^{-j 2 pi m / length} for m = 0 .. length - 1, computed in double.
std::vector<Complex> twiddleTable(int length) {
  std::vector<Complex> table(length);
  for (int m = 0; m < length; ++m) {
    double angle = m * kTwoPi / length;
    table[m] = Complex(static_cast<float>(std::cos(angle)), static_cast<float>(-std::sin(angle)));
  }
  return table;
}

int reverseBits(int value, int bits) {
  int reversed = 0;
  for (int i = 0; i < bits; ++i) {
    reversed = (reversed << 1) | (value & 1);
    value >>= 1;
  }
  return reversed;
}

int log2Exact(int powerOfTwo) {
  int bits = 0;
  while ((1 << bits) < powerOfTwo) ++bits;
  return bits;
}

// One butterfly on the real and imaginary planes: p + q, and (p - q) w
// written out so that the rounding is that of the four products.
inline void butterfly(float &pr, float &pi, float &qr, float &qi, Complex w) {
  const float dr = pr - qr;
  const float di = pi - qi;
  pr = pr + qr;
  pi = pi + qi;
  qr = dr * w.real() - di * w.imag();
  qi = dr * w.imag() + di * w.real();
}

// The butterflies of one block. The two halves never overlap, which lets the
// compiler run several at a time.
void butterflies(float *__restrict pr, float *__restrict pi, float *__restrict qr,
                 float *__restrict qi, int halfBlock, Complex w) {
  for (int j = 0; j < halfBlock; ++j) butterfly(pr[j], pi[j], qr[j], qi[j], w);
}

}  // namespace

bool RealTransform::isValidHalfLength(int halfLength) {
  return halfLength >= 2 && (halfLength & (halfLength - 1)) == 0;
}

RealTransform::RealTransform(int halfLength)
    : half_(halfLength),
      fullTwiddles_(twiddleTable(2 * halfLength)),
      blockTwiddles_(halfLength / 2),
      inverseBlockTwiddles_(halfLength / 2),
      re_(halfLength),
      im_(halfLength) {
  const int bits = log2Exact(half_);
  for (int i = 0; i < half_; ++i) {
    const int j = reverseBits(i, bits);
    if (i < j) swaps_.emplace_back(i, j);
  }
  // Blocks of a stage take their twiddles in bit-reversed order, with K/4 as
  // the top bit: 0, K/4, K/8, 3K/8, ...
  const std::vector<Complex> halfTwiddles = twiddleTable(half_);
  for (int b = 0; b < half_ / 2; ++b) {
    blockTwiddles_[b] = halfTwiddles[reverseBits(b, bits - 1)];
    inverseBlockTwiddles_[b] = std::conj(blockTwiddles_[b]);
  }
}

void RealTransform::complexTransform(Complex *data, bool inverseDirection) {
  for (int m = 0; m < half_; ++m) {
    re_[m] = data[m].real();
    im_[m] = data[m].imag();
  }
  planarTransform(inverseDirection);
  for (int m = 0; m < half_; ++m) data[m] = Complex(re_[m], im_[m]);
}

void RealTransform::planarTransform(bool inverseDirection) {
  float *re = re_.data(), *im = im_.data();
  for (const auto &[i, j] : swaps_) {
    std::swap(re[i], re[j]);
    std::swap(im[i], im[j]);
  }
  const Complex *twiddles = inverseDirection ? inverseBlockTwiddles_.data() : blockTwiddles_.data();
  // The first stage's blocks hold one butterfly each: one loop over them.
  for (int b = 0; b < half_ / 2; ++b)
    butterfly(re[2 * b], im[2 * b], re[2 * b + 1], im[2 * b + 1], twiddles[b]);
  for (int block = 4; block <= half_; block *= 2) {
    const int halfBlock = block / 2;
    for (int b = 0; b * block < half_; ++b) {
      const int p = b * block, q = p + halfBlock;
      butterflies(re + p, im + p, re + q, im + q, halfBlock, twiddles[b]);
    }
  }
}

void RealTransform::inverse(const Complex *spectrum, float *timeSignal) {
  const int k2 = half_ / 2;
  float *re = re_.data(), *im = im_.data();
  re[0] = (spectrum[0].real() + spectrum[half_].real()) * 0.5f;
  im[0] = (spectrum[0].real() - spectrum[half_].real()) * 0.5f;
  re[k2] = spectrum[k2].real();
  im[k2] = -spectrum[k2].imag();
  for (int k = 1; k < k2; ++k) {
    Complex a = spectrum[k];
    Complex b = spectrum[half_ - k];
    float c = fullTwiddles_[k].real();
    float s = -fullTwiddles_[k].imag();
    float alpha = (1.0f - s) * 0.5f;
    float beta = c * 0.5f;
    float d = a.real() - b.real();
    float sigma = a.imag() + b.imag();
    float u = alpha * d - beta * sigma;
    float w = alpha * sigma + beta * d;
    re[k] = b.real() + u;
    im[k] = w - b.imag();
    re[half_ - k] = a.real() - u;
    im[half_ - k] = w - a.imag();
  }
  planarTransform(true);
  for (int m = 0; m < half_; ++m) {
    timeSignal[2 * m] = 2.0f * re[m];
    timeSignal[2 * m + 1] = 2.0f * im[m];
  }
}

void RealTransform::forward(const float *timeSignal, Complex *spectrum) {
  const int k2 = half_ / 2;
  float *re = re_.data(), *im = im_.data();
  for (int m = 0; m < half_; ++m) {
    re[m] = timeSignal[2 * m];
    im[m] = timeSignal[2 * m + 1];
  }
  planarTransform(false);
  spectrum[0] = Complex(re[0] + im[0], 0.0f);
  spectrum[half_] = Complex(re[0] - im[0], 0.0f);
  spectrum[k2] = Complex(re[k2], -im[k2]);
  for (int k = 1; k < k2; ++k) {
    const Complex d(re[k], im[k]);
    const Complex r(re[half_ - k], im[half_ - k]);
    float c = fullTwiddles_[k].real();
    float s = -fullTwiddles_[k].imag();
    float f = (1.0f + s) * 0.5f;
    float beta = c * 0.5f;
    float rho = r.imag() + d.imag();
    float diff = d.real() - r.real();
    float t = rho * f + diff * beta;
    float u = diff * f - rho * beta;
    spectrum[k] = Complex(d.real() - u, d.imag() - t);
    spectrum[half_ - k] = Complex(r.real() + u, r.imag() - t);
  }
}

}  // namespace enhancement
