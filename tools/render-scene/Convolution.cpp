#include "Convolution.h"

#include <fftw3.h>

#include <algorithm>
#include <cstring>

namespace render {

void addConvolved(const std::vector<double> &signal, const std::vector<float> &response,
                  std::vector<double> &out, size_t offset) {
  if (offset >= out.size()) return;
  std::vector<double> h(response.begin(), response.end());
  size_t room = out.size() - offset;
  size_t inputs = std::min(signal.size(), room);
  double *y = out.data() + offset;
  for (size_t n = 0; n < inputs; ++n) {
    const double x = signal[n];
    if (x == 0.0) continue;
    const size_t taps = std::min(h.size(), room - n);
    double *yn = y + n;
    // Written as a scatter so the compiler can vectorise across taps without
    // changing the order in which any one output sample is summed.
    for (size_t k = 0; k < taps; ++k) yn[k] += x * h[k];
  }
}

RealFft::RealFft(size_t size)
    : size_(size),
      time_(fftw_alloc_real(size)),
      frequency_(fftw_alloc_complex(size / 2 + 1)),
      forwardPlan_(fftw_plan_dft_r2c_1d(static_cast<int>(size), time_, static_cast<fftw_complex *>(frequency_),
                                        FFTW_ESTIMATE)),
      inversePlan_(fftw_plan_dft_c2r_1d(static_cast<int>(size), static_cast<fftw_complex *>(frequency_), time_,
                                        FFTW_ESTIMATE)) {}

RealFft::~RealFft() {
  fftw_destroy_plan(static_cast<fftw_plan>(forwardPlan_));
  fftw_destroy_plan(static_cast<fftw_plan>(inversePlan_));
  fftw_free(time_);
  fftw_free(frequency_);
}

Spectrum RealFft::forward(const double *x, size_t count) const {
  count = std::min(count, size_);
  std::copy(x, x + count, time_);
  std::fill(time_ + count, time_ + size_, 0.0);
  fftw_execute(static_cast<fftw_plan>(forwardPlan_));
  Spectrum spectrum(size_ / 2 + 1);
  std::memcpy(spectrum.data(), frequency_, spectrum.size() * sizeof(fftw_complex));
  return spectrum;
}

std::vector<double> RealFft::inverse(const Spectrum &spectrum) const {
  std::memcpy(frequency_, spectrum.data(), (size_ / 2 + 1) * sizeof(fftw_complex));
  fftw_execute(static_cast<fftw_plan>(inversePlan_));
  std::vector<double> x(time_, time_ + size_);
  const double scale = 1.0 / static_cast<double>(size_);
  for (double &v : x) v *= scale;
  return x;
}

size_t fftSizeFor(size_t n) {
  size_t size = 1;
  while (size < n) size *= 2;
  return size;
}

void addFftConvolved(const std::vector<double> &signal, const std::vector<double> &response,
                     std::vector<double> &out, size_t offset) {
  if (offset >= out.size() || signal.empty() || response.empty()) return;
  const size_t needed = std::min(signal.size() + response.size() - 1, out.size() - offset);
  RealFft fft(fftSizeFor(signal.size() + response.size() - 1));
  Spectrum product = fft.forward(signal);
  const Spectrum h = fft.forward(response);
  for (size_t k = 0; k < product.size(); ++k) product[k] *= h[k];
  const std::vector<double> y = fft.inverse(product);
  for (size_t m = 0; m < needed; ++m) out[offset + m] += y[m];
}

}  // namespace render
