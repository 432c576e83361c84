#include "BlockSeparator.h"

#include "ProjectionBack.h"
#include "Whitening.h"

namespace KOLV {
namespace separation {

BlockSeparator::BlockSeparator(UpdateRule rule, int numSources, int maxIteration,
                               std::ostream &progress)
    : numSources_(numSources), estimator_(rule, maxIteration, progress) {}

void BlockSeparator::beginBlock(int channels, int frames, int bins) {
  observed_.zeros(channels, frames, bins);
}

void BlockSeparator::separate() {
  const arma::uword sources = static_cast<arma::uword>(numSources_);
  const arma::uword frames = observed_.n_cols, bins = observed_.n_slices;
  whitenBlock(observed_, numSources_, whitening_, whitened_);
  separated_.zeros(sources, frames, bins);
  demixing_.zeros(sources, sources, bins);
  for (arma::uword k = 0; k < bins; ++k) demixing_.slice(k).eye();
  estimator_.estimateDemixing(whitened_, demixing_, separated_);
  projectBack(observed_, whitening_, demixing_, separated_);
}

}  // namespace separation
}  // namespace KOLV
