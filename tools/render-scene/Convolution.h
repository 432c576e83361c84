// Convolution for the renderer. The direct form sums every output sample's
// terms in the same order on every machine, so anechoic scenes reproduce bit
// for bit; the FFT form (FFTW) serves the long responses of rooms.
#ifndef KOLV_RENDER_CONVOLUTION_H
#define KOLV_RENDER_CONVOLUTION_H

#include <complex>
#include <cstddef>
#include <vector>

namespace render {

using Spectrum = std::vector<std::complex<double>>;

// out[offset + n + k] += signal[n] * response[k], for every term that falls
// inside `out`.
void addConvolved(const std::vector<double> &signal, const std::vector<float> &response,
                  std::vector<double> &out, size_t offset);

// A real FFT of one size, planned once. Not copyable: it owns FFTW's plans.
class RealFft {
 public:
  explicit RealFft(size_t size);
  ~RealFft();
  RealFft(const RealFft &) = delete;
  RealFft &operator=(const RealFft &) = delete;

  size_t size() const { return size_; }
  // The spectrum (size / 2 + 1 bins) of `x`, zero-padded or cut to the size.
  Spectrum forward(const double *x, size_t count) const;
  Spectrum forward(const std::vector<double> &x) const { return forward(x.data(), x.size()); }
  // The signal of a spectrum, scaled so that inverse(forward(x)) == x.
  std::vector<double> inverse(const Spectrum &spectrum) const;

 private:
  size_t size_;
  double *time_;
  void *frequency_;
  void *forwardPlan_;
  void *inversePlan_;
};

// The smallest power of two at least `n`.
size_t fftSizeFor(size_t n);

// out[offset + m] += (signal * response)[m] for every m inside `out`, by one
// FFT of the whole length.
void addFftConvolved(const std::vector<double> &signal, const std::vector<double> &response,
                     std::vector<double> &out, size_t offset);

}  // namespace render

#endif
