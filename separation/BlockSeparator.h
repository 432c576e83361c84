// Separation of one block of a multichannel spectrum: whitening, IVA and
// projection back, with the block's working arrays kept from block to block
// so that their storage is reused.
#ifndef KOLV_SEPARATION_BLOCK_SEPARATOR_H
#define KOLV_SEPARATION_BLOCK_SEPARATOR_H

#include <armadillo>
#include <iostream>

#include "IvaEstimator.h"
#include "UpdateRules.h"

namespace KOLV {
namespace separation {

class BlockSeparator {
 public:
  BlockSeparator(UpdateRule rule, int numSources, int maxIteration,
                 std::ostream &progress = std::cout);

  // Starts a block of `frames` frames of `channels` x `bins` observations,
  // all zero; fill them through observed() (X_k is slice k).
  void beginBlock(int channels, int frames, int bins);
  arma::cx_fcube &observed() { return observed_; }

  // Separates the block into separated() (slice k = Y_k, numSources x frames).
  void separate();
  const arma::cx_fcube &separated() const { return separated_; }

  const arma::cx_fcube &whitening() const { return whitening_; }
  const arma::cx_fcube &whitened() const { return whitened_; }
  const arma::cx_fcube &demixing() const { return demixing_; }
  int passesRun() const { return estimator_.passesRun(); }
  bool overflowed() const { return estimator_.overflowed(); }

 private:
  int numSources_;
  arma::cx_fcube observed_;   // M x T x K: X_k
  arma::cx_fcube whitened_;   // N x T x K: Z_k
  arma::cx_fcube whitening_;  // N x M x K: V_k
  arma::cx_fcube separated_;  // N x T x K: Y_k
  arma::cx_fcube demixing_;   // N x N x K: W_k
  IvaEstimator estimator_;
};

}  // namespace separation
}  // namespace KOLV

#endif
