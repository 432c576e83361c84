// The two real transforms of harmonic regeneration: a half spectrum of
// K + 1 bins to N = 2K time samples and back, each through one K-point
// complex radix-2 transform. Twiddle tables are built once per length.
#ifndef KOLV_ENHANCEMENT_REAL_TRANSFORM_H
#define KOLV_ENHANCEMENT_REAL_TRANSFORM_H

#include <complex>
#include <utility>
#include <vector>

namespace enhancement {

using Complex = std::complex<float>;

class RealTransform {
 public:
  // `halfLength` = K, a power of two, at least 2.
  explicit RealTransform(int halfLength);

  static bool isValidHalfLength(int halfLength);

  int halfLength() const { return half_; }
  int length() const { return 2 * half_; }

  // timeSignal[n] = sum over the full Hermitian spectrum of
  // spectrum[k] e^{+j 2 pi k n / N}, n = 0 .. N - 1: the inverse transform
  // times N. Reads spectrum[0 .. K]; their imaginary parts at 0 and K are
  // ignored.
  void inverse(const Complex *spectrum, float *timeSignal);

  // spectrum[k] = sum of timeSignal[n] e^{-j 2 pi k n / N}, k = 0 .. K.
  void forward(const float *timeSignal, Complex *spectrum);

  // In-place unnormalised K-point complex transform: forward with twiddles
  // W_K^m = e^{-j 2 pi m / K}, inverse with their conjugates.
  void complexTransform(Complex *data, bool inverseDirection);

 private:
  int half_;
  std::vector<Complex> fullTwiddles_;  // W_N^m, m = 0 .. N - 1
  std::vector<std::pair<int, int>> swaps_;  // the input permutation of the K-point transform
  // The twiddle of butterfly block b, forward and conjugated for the inverse.
  std::vector<Complex> blockTwiddles_;
  std::vector<Complex> inverseBlockTwiddles_;
  // The K-point transform in place on re_, im_: its data in two planes, so
  // that each stage's butterflies run several at a time.
  void planarTransform(bool inverseDirection);
  std::vector<float> re_, im_;  // K entries each
};

}  // namespace enhancement

#endif
