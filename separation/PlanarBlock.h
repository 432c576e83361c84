// Complex values of a block (sources x frames x bins) with the real and the
// imaginary parts in separate arrays, each source's frames contiguous: the
// layout in which the per-pass loops over frames vectorise.
#ifndef KOLV_SEPARATION_PLANAR_BLOCK_H
#define KOLV_SEPARATION_PLANAR_BLOCK_H

#include <armadillo>
#include <cstddef>
#include <vector>

namespace KOLV {
namespace separation {

class PlanarBlock {
 public:
  // Sizes the storage; keeps its memory when the size does not grow.
  void resize(int sources, int frames, int bins);

  // Copies a cube (rows = sources, cols = frames, slices = bins) in and out.
  void load(const arma::cx_fcube &cube);
  void store(arma::cx_fcube &cube) const;

  float *re(int bin, int source) { return re_.data() + offset(bin, source); }
  float *im(int bin, int source) { return im_.data() + offset(bin, source); }
  const float *re(int bin, int source) const { return re_.data() + offset(bin, source); }
  const float *im(int bin, int source) const { return im_.data() + offset(bin, source); }

  int sources() const { return sources_; }
  int frames() const { return frames_; }
  int bins() const { return bins_; }

 private:
  size_t offset(int bin, int source) const {
    return (static_cast<size_t>(bin) * sources_ + source) * frames_;
  }

  int sources_ = 0, frames_ = 0, bins_ = 0;
  std::vector<float> re_, im_;
};

}  // namespace separation
}  // namespace KOLV

#endif
