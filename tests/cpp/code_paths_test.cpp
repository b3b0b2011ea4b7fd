// Every code path the machine can run (vector unit, kernels, sweep width)
// gives the bits of the plainest one: fits, their covariances and the
// marginal effects, on designs whose rows pad to every lane position.
#include "numerics/simd/code_paths.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "effects/marginal_effects.hpp"
#include "estimation/covariance.hpp"
#include "estimation/probit.hpp"
#include "test_data.hpp"

namespace quillon {
namespace {

// Every result of one design, as bits.
std::vector<std::uint64_t> results(const test_data::Design& design) {
  const ProbitData data = design.data();
  const ProbitFit fit = newton_raphson(data, std::nullopt, std::nullopt);
  const Matrix classical = classical_covariance(fit.hessian).matrix;
  std::vector<double> all = fit.params;
  all.push_back(fit.loglike);
  auto append = [&all](const Matrix& m) {
    for (std::size_t i = 0; i < m.rows(); ++i) all.insert(all.end(), m.row(i), m.row(i) + m.cols());
  };
  append(classical);
  append(score_cross_product(data, fit.params));
  const MatrixView clusters = data.exog.row_range(0, design.n);  // text keys and integers
  append(cluster_robust_middle(data, fit.params, clusters));
  std::vector<std::string> names(design.k, "x");
  names[0] = "const";
  const MarginalEffects ame = average_marginal_effects({fit.params.data(), design.k, 1},
                                                       classical.view(), data.exog, names, 333);
  all.insert(all.end(), ame.effects.begin(), ame.effects.end());
  all.insert(all.end(), ame.std_errors.begin(), ame.std_errors.end());
  std::vector<std::uint64_t> bits;
  for (double v : all) bits.push_back(std::bit_cast<std::uint64_t>(v));
  return bits;
}

TEST(CodePaths, EveryRunnablePathGivesTheSameBits) {
  const std::vector<CodePaths> paths = runnable_code_paths();
  for (const std::size_t k : {3, 4, 9, 14}) {
    test_data::Design design = test_data::random_design(2000, k, 17 + k);
    design.x[(design.n - 1) * k + 2] = 0.5;  // a 0/1 column but for its last row
    std::vector<std::uint64_t> plainest;
    {
      const CodePathsOverride baseline({});
      plainest = results(design);
    }
    for (const CodePaths& p : paths) {
      SCOPED_TRACE("k " + std::to_string(k) + ", unit " + std::to_string(int(p.unit)) +
                   ", kernels " + std::to_string(int(p.kernels)) + ", eight lanes from " +
                   std::to_string(p.eight_lanes_from));
      const CodePathsOverride use(p);
      EXPECT_EQ(results(design), plainest);
    }
  }
}

// The mirrored Hessian of the partition kernels on every path: the same
// bits as on the plainest path (its updates are fused multiply-subtracts,
// exact before one rounding on every unit), exactly symmetric, and within
// 1e-12 of the engine's elements (on the scale that bounds them,
// sqrt(H_jj H_ll)); the log-likelihood and the score have the engine's bits.
// Every k takes the one-loop update of the last rows (one or two vectors
// of them, from the first row or further on, on four lanes and eight);
// k = 30 also rows of several vector pieces and diagonal blocks that start
// inside them.
TEST(CodePaths, MirroredHessianIsTheSameOnEveryPath) {
  const std::vector<CodePaths> paths = runnable_code_paths();
  for (const std::size_t k : {3, 6, 9, 14, 30}) {
    const test_data::Design design = test_data::random_design(1500, k, 5 + k);
    std::vector<double> beta(k);
    for (std::size_t j = 0; j < k; ++j) beta[j] = 0.3 - 0.05 * static_cast<double>(j);
    ProbitEvaluation full;
    ProbitEvaluation plainest;
    {
      const CodePathsOverride baseline({});
      full = design.data().evaluate(beta);
      plainest = design.data().evaluate(beta, HessianForm::kMirrored);
    }
    for (std::size_t j = 0; j < k; ++j) {
      for (std::size_t l = 0; l < k; ++l) {
        const double h = plainest.hessian(j, l);
        EXPECT_EQ(std::bit_cast<std::uint64_t>(h),
                  std::bit_cast<std::uint64_t>(plainest.hessian(l, j)));
        const double scale = std::sqrt(full.hessian(j, j) * full.hessian(l, l));
        EXPECT_LE(std::fabs(h - full.hessian(j, l)), 1e-12 * scale) << j << ", " << l;
      }
    }
    for (const CodePaths& p : paths) {
      SCOPED_TRACE("k " + std::to_string(k) + ", unit " + std::to_string(int(p.unit)) +
                   ", kernels " + std::to_string(int(p.kernels)) + ", eight lanes from " +
                   std::to_string(p.eight_lanes_from));
      const CodePathsOverride use(p);
      const ProbitEvaluation mirrored = design.data().evaluate(beta, HessianForm::kMirrored);
      EXPECT_EQ(std::bit_cast<std::uint64_t>(mirrored.loglike),
                std::bit_cast<std::uint64_t>(full.loglike));
      EXPECT_EQ(mirrored.score, full.score);
      for (std::size_t j = 0; j < k; ++j) {
        for (std::size_t l = 0; l < k; ++l) {
          EXPECT_EQ(std::bit_cast<std::uint64_t>(mirrored.hessian(j, l)),
                    std::bit_cast<std::uint64_t>(plainest.hessian(j, l)))
              << j << ", " << l;
        }
      }
    }
  }
}

}  // namespace
}  // namespace quillon
