// Average marginal effects of a probit model with delta-method standard
// errors, accumulated over chunks of observations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "numerics/interrupt.hpp"
#include "numerics/matrix.hpp"

namespace quillon {

// True for "const" and "intercept" in any letter case.
bool is_intercept_name(std::string_view name);

// Positions of the intercepts, by name, ascending.
std::vector<std::size_t> find_intercepts(const std::vector<std::string>& names);

// Positions of the names that are not intercepts, the candidates for binary
// regressors. Panics when a name has no column in X (`cols` columns).
std::vector<std::size_t> binary_candidates(const std::vector<std::string>& names,
                                           const std::vector<std::size_t>& intercepts,
                                           std::size_t cols);

// Positions (not intercepts) whose n values in X are all exactly 0.0 or 1.0.
// Panics when a name has no column in X. Asks `interrupt` every
// kRowsPerPoll rows whether to stop.
std::vector<std::size_t> find_binary(const MatrixView& exog, const std::vector<std::string>& names,
                                     const std::vector<std::size_t>& intercepts,
                                     const InterruptPoll& interrupt = {});

struct MarginalEffects {
  std::vector<double> effects;     // K values; intercept positions hold 0 (NaN when n = 0)
  std::vector<double> std_errors;  // K values, never NaN or negative
  std::vector<std::size_t> intercept_indices;
};

// The sums over observations behind the effects, before division by n:
// the effects (K) and their Jacobian (K x K, row-major: d ame_r / d beta_c).
struct EffectSums {
  std::size_t k;
  std::vector<double> ame;
  std::vector<double> jacobian;

  explicit EffectSums(std::size_t k) : k(k), ame(k, 0.0), jacobian(k * k, 0.0) {}
  double& jac(std::size_t r, std::size_t c) { return jacobian[r * k + c]; }
  double jac(std::size_t r, std::size_t c) const { return jacobian[r * k + c]; }
};

// The kind of each of the K regressors: intercepts (by name), binary ones
// (by their values over all observations) and the continuous rest.
struct RegressorKinds {
  std::vector<std::size_t> intercepts;
  std::vector<std::size_t> binary;
  std::vector<bool> continuous;  // K flags
};
RegressorKinds regressor_kinds(std::size_t k, std::vector<std::size_t> intercepts,
                               std::vector<std::size_t> binary);

// The sums over the rows of X (n x K), chunk_size rows at a time (all at once
// when absent), each chunk's sums formed from 0.0 and added to the total;
// with weights (one per row of X), row i's terms multiplied by weights[i]:
// the sums of the weighted averages.
EffectSums effect_sums(const std::vector<double>& beta, const MatrixView& exog,
                       const RegressorKinds& kinds, std::optional<std::uint64_t> chunk_size,
                       const RowWeights& weights = std::nullopt,
                       const InterruptPoll& interrupt = {});

// Effects and delta-method standard errors from the sums over n
// observations and the covariance cov (K x K) of the coefficients.
MarginalEffects effects_from_sums(const EffectSums& sums, std::size_t nobs, const MatrixView& cov,
                                  std::vector<std::size_t> intercepts);

// Effects of every regressor of X (n x K) for coefficients beta (K) with
// covariance cov (K x K): the average derivative of the response probability
// for continuous regressors, the average change from 0 to 1 for binary ones.
// Rows are taken chunk_size at a time (all at once when absent; at least 1),
// and `interrupt` is asked every kRowsPerPoll rows whether to stop.
// Inconsistent sizes panic.
MarginalEffects average_marginal_effects(const VectorView& beta, const MatrixView& cov,
                                         const MatrixView& exog,
                                         const std::vector<std::string>& names,
                                         std::optional<std::uint64_t> chunk_size,
                                         const InterruptPoll& interrupt = {});

}  // namespace quillon
