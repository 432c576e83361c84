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

// (p - q) w, written out so that the rounding is that of the four products.
Complex differenceTimes(Complex p, Complex q, Complex w) {
  float dr = p.real() - q.real();
  float di = p.imag() - q.imag();
  return Complex(dr * w.real() - di * w.imag(), dr * w.imag() + di * w.real());
}

// The two halves of a block never overlap, which lets the compiler run
// several butterflies at a time.
void butterflies(Complex *__restrict p, Complex *__restrict q, int halfBlock, Complex w) {
  for (int j = 0; j < halfBlock; ++j) {
    Complex sum(p[j].real() + q[j].real(), p[j].imag() + q[j].imag());
    q[j] = differenceTimes(p[j], q[j], w);
    p[j] = sum;
  }
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
      work_(halfLength) {
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

void RealTransform::complexTransform(Complex *data, bool inverseDirection) const {
  for (const auto &[i, j] : swaps_) std::swap(data[i], data[j]);
  const Complex *twiddles = inverseDirection ? inverseBlockTwiddles_.data() : blockTwiddles_.data();
  // The first stage, blocks of one butterfly each, in one loop over the blocks.
  for (int b = 0; b < half_ / 2; ++b) butterflies(data + 2 * b, data + 2 * b + 1, 1, twiddles[b]);
  for (int block = 4; block <= half_; block *= 2) {
    const int halfBlock = block / 2;
    for (int b = 0; b * block < half_; ++b) {
      Complex *p = data + b * block;
      butterflies(p, p + halfBlock, halfBlock, twiddles[b]);
    }
  }
}

void RealTransform::inverse(const Complex *spectrum, float *timeSignal) {
  const int k2 = half_ / 2;
  Complex *z = work_.data();
  z[0] = Complex((spectrum[0].real() + spectrum[half_].real()) * 0.5f,
                 (spectrum[0].real() - spectrum[half_].real()) * 0.5f);
  z[k2] = std::conj(spectrum[k2]);
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
    z[k] = Complex(b.real() + u, w - b.imag());
    z[half_ - k] = Complex(a.real() - u, w - a.imag());
  }
  complexTransform(z, true);
  for (int m = 0; m < half_; ++m) {
    timeSignal[2 * m] = 2.0f * z[m].real();
    timeSignal[2 * m + 1] = 2.0f * z[m].imag();
  }
}

void RealTransform::forward(const float *timeSignal, Complex *spectrum) {
  const int k2 = half_ / 2;
  Complex *z = work_.data();
  for (int m = 0; m < half_; ++m) z[m] = Complex(timeSignal[2 * m], timeSignal[2 * m + 1]);
  complexTransform(z, false);
  spectrum[0] = Complex(z[0].real() + z[0].imag(), 0.0f);
  spectrum[half_] = Complex(z[0].real() - z[0].imag(), 0.0f);
  spectrum[k2] = std::conj(z[k2]);
  for (int k = 1; k < k2; ++k) {
    Complex d = z[k];
    Complex r = z[half_ - k];
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
