// The block kernel: whitening, the pass loop with its progress lines, the
// update rules' separation quality and projection back.
#include <gtest/gtest.h>

#include <sstream>

#include "BlockSeparator.h"
#include "IvaEstimator.h"
#include "SyntheticMixture.h"
#include "Whitening.h"

namespace {

using namespace KOLV::separation;
using arma::cx_fcube;
using arma::cx_fmat;

std::vector<std::string> lines(const std::string &text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

void separate(BlockSeparator &separator, const cx_fcube &observed) {
  separator.beginBlock(static_cast<int>(observed.n_rows), static_cast<int>(observed.n_cols),
                       static_cast<int>(observed.n_slices));
  separator.observed() = observed;
  separator.separate();
}

// Energy of source j in output i over the whole block, for the linear system
// output = G_k sources in every bin (G_k recovered by least squares).
arma::fmat sourceEnergies(const cx_fcube &outputs, const cx_fcube &sources) {
  arma::fmat energy(outputs.n_rows, sources.n_rows, arma::fill::zeros);
  for (arma::uword k = 0; k < sources.n_slices; ++k) {
    const cx_fmat &s = sources.slice(k);
    const cx_fmat system = outputs.slice(k) * s.t() * arma::inv(s * s.t());
    const arma::frowvec power = arma::sum(arma::square(arma::abs(s)), 1).t();
    energy += arma::square(arma::abs(system)).eval().each_row() % power;
  }
  return energy;
}

// Signal-to-interference ratio in dB of two outputs against two sources,
// under whichever assignment of sources to outputs suits the block better.
double sirDb(const arma::fmat &energy) {
  const double kept = energy(0, 0) + energy(1, 1), swapped = energy(0, 1) + energy(1, 0);
  return 10.0 * std::log10(std::max(kept, swapped) / std::min(kept, swapped));
}

double mixtureSirDb(const kolvtest::SyntheticMixture &mix) {
  cx_fcube images(mix.observed.n_rows, mix.sources.n_cols, mix.sources.n_slices);
  for (arma::uword k = 0; k < mix.sources.n_slices; ++k)
    images.slice(k) = mix.mixing.slice(k) * mix.sources.slice(k);
  return sirDb(sourceEnergies(images, mix.sources));
}

TEST(Whitening, GivesUnitCovarianceWithTheLargestComponentLast) {
  const kolvtest::SyntheticMixture mix = kolvtest::makeMixture(200, 8, 1);
  cx_fcube whitening, whitened;
  whitenBlock(mix.observed, 2, whitening, whitened);
  for (arma::uword k = 0; k < 8; ++k) {
    SCOPED_TRACE("bin " + std::to_string(k));
    const cx_fmat &z = whitened.slice(k);
    const cx_fmat covariance = z * z.t() / std::complex<float>(200.0f, 0.0f);
    EXPECT_LT(arma::norm(covariance - cx_fmat(2, 2, arma::fill::eye), "fro"), 1e-4f);
    // Row 1 belongs to the larger eigenvalue, so it has the smaller norm.
    EXPECT_LT(arma::norm(whitening.slice(k).row(1)), arma::norm(whitening.slice(k).row(0)));
  }
}

TEST(Whitening, KeepsTheStrongestComponentsAndZeroesSilentOnes) {
  // Channel 0 loud, channel 1 silent: one usable component.
  cx_fcube observed(2, 50, 1, arma::fill::zeros);
  for (int t = 0; t < 50; ++t) observed(0, t, 0) = std::complex<float>(t % 2 ? 3.0f : -3.0f, 0.0f);
  cx_fcube whitening, whitened;
  whitenBlock(observed, 2, whitening, whitened);
  EXPECT_EQ(arma::norm(whitening.slice(0).row(0)), 0.0f);
  EXPECT_NEAR(std::abs(whitening(1, 0, 0)), 1.0f / 3.0f, 1e-6f);
  EXPECT_EQ(std::abs(whitening(1, 1, 0)), 0.0f);
  EXPECT_TRUE(whitened.is_finite());

  whitenBlock(observed, 1, whitening, whitened);
  ASSERT_EQ(whitening.n_rows, 1u);
  EXPECT_NEAR(std::abs(whitening(0, 0, 0)), 1.0f / 3.0f, 1e-6f);
}

struct ProgressCase {
  const char *name;
  UpdateRule rule;
  int maxIteration;
  bool silent;
  std::vector<std::string> expectedPrefixes;
};

TEST(IvaEstimator, WritesProgressLines) {
  const ProgressCase cases[] = {
      {"no passes", UpdateRule::NaturalGradient, 0, false, {}},
      {"unknown method stops at pass 2", UpdateRule::Unchanged, 10, false,
       {"VE_ZOR::IVA:: === [ iterations: 2, Error: "}},
      {"a line every 50 passes", UpdateRule::NaturalGradient, 50, false,
       {"VE_ZOR::IVA::Natural-gradient === [ iterations: 50, Error: "}},
      {"fixed point settles after pass 50", UpdateRule::FixedPoint, 120, false,
       {"VE_ZOR::IVA::Fixed-point === [ iterations: 50, Error: ",
        "VE_ZOR::IVA::Fixed-point === [ iterations: "}},
      {"silence", UpdateRule::FixedPoint, 10, true,
       {"VE_ZOR::IVA::Fixed-point === [ iterations: 2, Error: 0, Difference: 0 ]"}},
  };
  // Gaussian sources: the passes never settle, so only the line count shows.
  const kolvtest::SyntheticMixture mix = kolvtest::makeMixture(100, 16, 2, false);
  for (const ProgressCase &c : cases) {
    SCOPED_TRACE(c.name);
    cx_fcube observed = mix.observed;
    if (c.silent) observed.zeros();
    cx_fcube whitening, whitened;
    whitenBlock(observed, 2, whitening, whitened);
    cx_fcube demixing(2, 2, 16), separated(2, 100, 16, arma::fill::zeros);
    for (arma::uword k = 0; k < 16; ++k) demixing.slice(k).eye();
    std::ostringstream progress;
    IvaEstimator estimator(c.rule, c.maxIteration, progress);
    estimator.estimateDemixing(whitened, demixing, separated);

    const std::vector<std::string> written = lines(progress.str());
    ASSERT_EQ(written.size(), c.expectedPrefixes.size()) << progress.str();
    for (size_t n = 0; n < written.size(); ++n)
      EXPECT_EQ(written[n].rfind(c.expectedPrefixes[n], 0), 0u) << written[n];
    // A line off the 50-pass grid is the one that reports convergence.
    if (estimator.passesRun() % 50 != 0) {
      const std::string &last = written.back();
      EXPECT_NE(last.find("iterations: " + std::to_string(estimator.passesRun()) + ","),
                std::string::npos);
      const double difference = std::stod(last.substr(last.find("Difference: ") + 12));
      EXPECT_LT(std::fabs(difference), 1e-6) << last;
    }
    if (c.rule == UpdateRule::Unchanged) {
      EXPECT_EQ(estimator.passesRun(), 2);
      EXPECT_NE(written[0].find(", Difference: 0 ]"), std::string::npos) << written[0];
    }
    if (c.maxIteration == 0 || c.rule == UpdateRule::Unchanged) {
      for (arma::uword k = 0; k < 16; ++k)
        EXPECT_TRUE(arma::approx_equal(demixing.slice(k), cx_fmat(2, 2, arma::fill::eye),
                                       "absdiff", 0.0f));
    }
  }
}

// One pass written literally with Armadillo, for the rules' fast loops to be
// held against.
void referencePass(const cx_fcube &z, cx_fcube &w, UpdateRule rule) {
  const arma::uword sources = z.n_rows, frames = z.n_cols, bins = z.n_slices;
  const std::complex<float> count(static_cast<float>(frames), 0.0f);
  cx_fcube y(sources, frames, bins);
  arma::fmat normSquared(sources, frames, arma::fill::zeros);
  for (arma::uword k = 0; k < bins; ++k) {
    y.slice(k) = w.slice(k) * z.slice(k);
    normSquared += arma::square(arma::abs(y.slice(k)));
  }
  const arma::fmat r = arma::sqrt(normSquared);
  const arma::fmat g1 = 1.0f / (r + 1e-6f), g2 = 1.0f / (arma::pow(r, 3.0f) + 1e-6f);
  const cx_fmat identity(sources, sources, arma::fill::eye);
  for (arma::uword k = 0; k < bins; ++k) {
    const cx_fmat &yk = y.slice(k);
    const cx_fmat phi = cx_fmat(g1, arma::fmat(sources, frames, arma::fill::zeros)) % yk;
    cx_fmat &wk = w.slice(k);
    if (rule == UpdateRule::NaturalGradient) {
      const cx_fmat c = phi * yk.t() / count;
      wk = wk + 0.1f * (identity - c) * wk;
    } else {
      const arma::fvec d = arma::mean(g1 - g2 % arma::square(arma::abs(yk)), 1);
      wk = arma::diagmat(arma::conv_to<arma::cx_fvec>::from(d)) * wk -
           phi * z.slice(k).t() / count;
      arma::vec sigma;
      arma::cx_mat f;
      const arma::cx_mat gram = arma::conv_to<arma::cx_mat>::from(wk * wk.t());
      ASSERT_TRUE(arma::eig_sym(sigma, f, gram));
      const arma::cx_vec roots = arma::sqrt(arma::conv_to<arma::cx_vec>::from(sigma));
      const arma::cx_mat root = f * arma::diagmat(roots) * arma::pinv(f);
      wk = arma::pinv(arma::conv_to<cx_fmat>::from(root)) * wk;
    }
  }
}

TEST(IvaEstimator, PassesAgreeWithTheLiteralComputation) {
  // Frame counts off the vector width, and three sources for the odd row and
  // the LAPACK decompositions.
  for (int sources : {1, 2, 3}) {
    for (UpdateRule rule : {UpdateRule::NaturalGradient, UpdateRule::FixedPoint}) {
      SCOPED_TRACE(std::to_string(sources) + " sources, rule " + updateRuleLabel(rule));
      const kolvtest::SyntheticMixture mix = kolvtest::makeMixture(37, 5, 10, true, 3, 3);
      cx_fcube whitening, whitened;
      whitenBlock(mix.observed, sources, whitening, whitened);
      cx_fcube demixing(sources, sources, 5), reference, separated;
      for (arma::uword k = 0; k < 5; ++k) demixing.slice(k).eye();
      reference = demixing;
      std::ostringstream progress;
      IvaEstimator estimator(rule, 3, progress);
      estimator.estimateDemixing(whitened, demixing, separated);
      ASSERT_GE(estimator.passesRun(), 2);
      for (int pass = 0; pass < estimator.passesRun(); ++pass)
        referencePass(whitened, reference, rule);
      EXPECT_LT(arma::norm(arma::vectorise(demixing - reference)) /
                    arma::norm(arma::vectorise(reference)),
                1e-4f);
    }
  }
}

TEST(IvaEstimator, LeavesTheLastPassEstimates) {
  const kolvtest::SyntheticMixture mix = kolvtest::makeMixture(100, 4, 3);
  cx_fcube whitening, whitened;
  whitenBlock(mix.observed, 2, whitening, whitened);
  cx_fcube demixing(2, 2, 4), separated(2, 100, 4, arma::fill::zeros);
  for (arma::uword k = 0; k < 4; ++k) demixing.slice(k).eye();
  std::ostringstream progress;
  // An unknown method keeps W_k = I, so the estimates are Z_k themselves.
  IvaEstimator estimator(UpdateRule::Unchanged, 3, progress);
  estimator.estimateDemixing(whitened, demixing, separated);
  EXPECT_TRUE(arma::approx_equal(separated, whitened, "absdiff", 0.0f));
}

TEST(IvaEstimator, KeepsTheLastFiniteMatricesWhenAnUpdateOverflows) {
  // Estimates so large that their norm overflows: the weights vanish and the
  // natural gradient grows W by 10 % a pass until the estimates overflow too.
  cx_fcube whitened(2, 10, 1, arma::fill::zeros);
  whitened.slice(0).diag().fill(std::complex<float>(1e20f, 0.0f));
  cx_fcube demixing(2, 2, 1), separated(2, 10, 1);
  demixing.slice(0).eye();
  std::ostringstream progress;
  IvaEstimator estimator(UpdateRule::NaturalGradient, 5000, progress);
  estimator.estimateDemixing(whitened, demixing, separated);
  EXPECT_TRUE(estimator.overflowed());
  EXPECT_LT(estimator.passesRun(), 5000);
  EXPECT_TRUE(demixing.is_finite());
  EXPECT_GT(std::abs(demixing(0, 0, 0)), 1.0f);
}

class SeparationQuality : public ::testing::TestWithParam<UpdateRule> {};

TEST_P(SeparationQuality, ImprovesTheSignalToInterferenceRatio) {
  constexpr double kRequiredGainDb = 20.0;
  for (unsigned seed : {4u, 5u, 6u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const kolvtest::SyntheticMixture mix = kolvtest::makeMixture(300, 64, seed);
    std::ostringstream progress;
    BlockSeparator separator(GetParam(), 2, 200, progress);
    separate(separator, mix.observed);
    ASSERT_TRUE(separator.separated().is_finite());
    const double before = mixtureSirDb(mix);
    const double after = sirDb(sourceEnergies(separator.separated(), mix.sources));
    EXPECT_GT(after - before, kRequiredGainDb) << "before " << before << " dB, after " << after;
  }
}

INSTANTIATE_TEST_SUITE_P(BothRules, SeparationQuality,
                         ::testing::Values(UpdateRule::NaturalGradient, UpdateRule::FixedPoint),
                         [](const auto &info) {
                           return info.param == UpdateRule::NaturalGradient
                                      ? std::string("NaturalGradient")
                                      : std::string("FixedPoint");
                         });

TEST(BlockSeparator, WithoutPassesProjectsThePrincipalComponentsBack) {
  const kolvtest::SyntheticMixture mix = kolvtest::makeMixture(120, 6, 7);
  std::ostringstream progress;
  BlockSeparator separator(UpdateRule::NaturalGradient, 2, 0, progress);
  separate(separator, mix.observed);
  EXPECT_EQ(progress.str(), "");
  for (arma::uword k = 0; k < 6; ++k) {
    SCOPED_TRACE("bin " + std::to_string(k));
    // Principal component i (increasing variance) seen at microphone i:
    // y_i = E(i, i) e_i^H x, independent of the phase of the eigenvector e_i.
    const arma::cx_mat x = arma::conv_to<arma::cx_mat>::from(mix.observed.slice(k));
    const arma::cx_mat centred = x.each_col() - arma::mean(x, 1);
    arma::vec values;
    arma::cx_mat vectors;
    ASSERT_TRUE(arma::eig_sym(values, vectors, arma::cx_mat(centred * centred.t() / 120.0)));
    for (arma::uword i = 0; i < 2; ++i) {
      const arma::cx_rowvec expected = vectors(i, i) * vectors.col(i).t() * x;
      const arma::cx_rowvec actual =
          arma::conv_to<arma::cx_mat>::from(cx_fmat(separator.separated().slice(k).row(i)));
      EXPECT_LT(arma::norm(actual - expected) / arma::norm(expected), 1e-4);
    }
  }
}

TEST(BlockSeparator, SilenceAndSingleFramesGiveZeros) {
  struct Case {
    const char *name;
    cx_fcube observed;
  };
  const kolvtest::SyntheticMixture mix = kolvtest::makeMixture(1, 8, 8);
  const Case cases[] = {{"silent block", cx_fcube(2, 30, 8, arma::fill::zeros)},
                        {"block of one frame", mix.observed}};
  for (UpdateRule rule : {UpdateRule::NaturalGradient, UpdateRule::FixedPoint}) {
    for (const Case &c : cases) {
      SCOPED_TRACE(c.name);
      std::ostringstream progress;
      BlockSeparator separator(rule, 2, 20, progress);
      separate(separator, c.observed);
      EXPECT_EQ(separator.separated().n_cols, c.observed.n_cols);
      EXPECT_TRUE(separator.separated().is_zero()) << separator.separated();
    }
  }
}

}  // namespace
