// The IVA pass loop of one block: from the whitened observations and identity
// demixing matrices, alternates the source estimates Y_k = W_k Z_k, their
// norms over frequency and the update of every W_k, until the mean norm stops
// changing or the pass limit is reached.
#ifndef KOLV_SEPARATION_IVA_ESTIMATOR_H
#define KOLV_SEPARATION_IVA_ESTIMATOR_H

#include <armadillo>
#include <ostream>
#include <vector>

#include "PlanarBlock.h"
#include "UpdateRules.h"

namespace KOLV {
namespace separation {

class IvaEstimator {
 public:
  // Progress lines go to `progress`.
  IvaEstimator(UpdateRule rule, int maxIteration, std::ostream &progress);

  // whitened: sources x frames x bins (slice k = Z_k). demixing: sources x
  // sources x bins, the identities on entry, the estimated W_k on return.
  // separated: receives the estimates Y_k of the last pass; untouched when
  // no pass runs.
  void estimateDemixing(const arma::cx_fcube &whitened, arma::cx_fcube &demixing,
                        arma::cx_fcube &separated);

  // How many passes the last call ran.
  int passesRun() const { return passesRun_; }
  // Whether the last call stopped because an update made some W_k
  // non-finite; the W_k of the pass before are kept then.
  bool overflowed() const { return overflowed_; }

 private:
  void computeEstimates(const arma::cx_fcube &demixing);
  float computeWeights();
  void updateDemixing(NaturalGradientRule &naturalGradient, FixedPointRule &fixedPoint,
                      arma::cx_fcube &demixing);
  void reportProgress(int pass, float error, float difference);

  UpdateRule rule_;
  int maxIteration_;
  std::ostream &progress_;
  int passesRun_ = 0;
  bool overflowed_ = false;

  PlanarBlock whitened_;   // Z_k
  PlanarBlock estimates_;  // Y_k
  arma::cx_fcube previousDemixing_;  // W_k before the current pass's update
  std::vector<float> normSquared_;  // sources x frames: sum over bins of |Y_k(i, t)|^2
  std::vector<float> g1_;           // 1 / (r + eps)
  std::vector<float> g2_;           // 1 / (r^3 + eps)
};

}  // namespace separation
}  // namespace KOLV

#endif
