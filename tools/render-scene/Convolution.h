// Direct-form convolution in double precision. Every output sample sums its
// terms in the same order on every machine, so rendered scenes reproduce
// bit for bit.
#ifndef KOLV_RENDER_CONVOLUTION_H
#define KOLV_RENDER_CONVOLUTION_H

#include <cstddef>
#include <vector>

namespace render {

// out[offset + n + k] += signal[n] * response[k], for every term that falls
// inside `out`.
void addConvolved(const std::vector<double> &signal, const std::vector<float> &response,
                  std::vector<double> &out, size_t offset);

}  // namespace render

#endif
