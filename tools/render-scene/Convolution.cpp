#include "Convolution.h"

#include <algorithm>

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

}  // namespace render
