// A synthetic convolutive mixture in the frequency domain: two independent,
// sparse, speech-like sources whose activity envelope is shared by all their
// bins, mixed by a different random complex matrix in every bin.
#ifndef KOLV_TEST_SYNTHETIC_MIXTURE_H
#define KOLV_TEST_SYNTHETIC_MIXTURE_H

#include <armadillo>
#include <cmath>
#include <random>

namespace kolvtest {

struct SyntheticMixture {
  arma::cx_fcube sources;   // sources x frames x bins: S_k
  arma::cx_fcube mixing;    // channels x sources x bins: A_k
  arma::cx_fcube observed;  // channels x frames x bins: X_k = A_k S_k
};

// With `sparse` false the sources are plain Gaussian noise, which IVA cannot
// separate and on which its passes do not settle.
inline SyntheticMixture makeMixture(int frames, int bins, unsigned seed, bool sparse = true,
                                    int channels = 2, int numSources = 2) {
  std::mt19937 generator(seed);
  std::normal_distribution<float> gaussian(0.0f, 1.0f);
  std::exponential_distribution<float> loudness(1.0f);
  std::bernoulli_distribution talking(0.5);
  SyntheticMixture mix;
  mix.sources.zeros(numSources, frames, bins);
  for (int i = 0; i < numSources; ++i)
    for (int t = 0; t < frames; ++t) {
      // Active frames are loud, pauses nearly silent, in every bin at once.
      float envelope = talking(generator) ? 0.2f + loudness(generator) : 0.02f;
      if (!sparse) envelope = 1.0f;
      for (int k = 0; k < bins; ++k)
        mix.sources(i, t, k) =
            envelope * std::complex<float>(gaussian(generator), gaussian(generator));
    }
  mix.mixing.set_size(channels, numSources, bins);
  mix.observed.set_size(channels, frames, bins);
  for (int k = 0; k < bins; ++k) {
    for (auto &a : mix.mixing.slice(k))
      a = std::complex<float>(gaussian(generator), gaussian(generator));
    mix.observed.slice(k) = mix.mixing.slice(k) * mix.sources.slice(k);
  }
  return mix;
}

}  // namespace kolvtest

#endif
