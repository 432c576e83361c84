#include "PlanarBlock.h"

namespace KOLV {
namespace separation {

void PlanarBlock::resize(int sources, int frames, int bins) {
  sources_ = sources;
  frames_ = frames;
  bins_ = bins;
  const size_t size = static_cast<size_t>(sources) * frames * bins;
  re_.resize(size);
  im_.resize(size);
}

void PlanarBlock::load(const arma::cx_fcube &cube) {
  resize(static_cast<int>(cube.n_rows), static_cast<int>(cube.n_cols),
         static_cast<int>(cube.n_slices));
  for (int k = 0; k < bins_; ++k)
    for (int i = 0; i < sources_; ++i) {
      float *real = re(k, i), *imag = im(k, i);
      for (int t = 0; t < frames_; ++t) {
        const std::complex<float> value = cube(i, t, k);
        real[t] = value.real();
        imag[t] = value.imag();
      }
    }
}

void PlanarBlock::store(arma::cx_fcube &cube) const {
  cube.set_size(sources_, frames_, bins_);
  for (int k = 0; k < bins_; ++k)
    for (int i = 0; i < sources_; ++i) {
      const float *real = re(k, i), *imag = im(k, i);
      for (int t = 0; t < frames_; ++t) cube(i, t, k) = std::complex<float>(real[t], imag[t]);
    }
}

}  // namespace separation
}  // namespace KOLV
