// Maximum-likelihood probit fit by Newton-Raphson iteration.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "numerics/interrupt.hpp"
#include "numerics/matrix.hpp"

namespace quillon {

inline constexpr std::uint64_t kDefaultMaxIter = 35;
inline constexpr double kDefaultTol = 1e-06;

// Response probabilities are clipped to this range before use, so that the
// log-likelihood stays finite and the generalised residual never divides by 0.
inline constexpr double kProbabilityFloor = 1e-15;
inline constexpr double kProbabilityCeiling = 0.999999999999999;

// min(max(p, floor), ceiling), the floor first; a NaN becomes the floor.
inline double clip_probability(double p) {
  if (!(p >= kProbabilityFloor)) p = kProbabilityFloor;
  if (p > kProbabilityCeiling) p = kProbabilityCeiling;
  return p;
}

// How a sweep forms the Hessian: every element as its own sum of products
// rounded before each subtraction (the engine's fit, whose bits are fixed),
// or the elements on and above the diagonal, mirrored below it, each term
// subtracted in the same order by a fused multiply-subtract (one rounding
// instead of two), so that it is exactly symmetric and costs about a
// quarter of the floating-point operations at large k. The two differ in
// the last bits.
enum class HessianForm { kFull, kMirrored };

// The log-likelihood, score and Hessian at one point.
struct ProbitEvaluation {
  double loglike = 0.0;
  std::vector<double> score;
  Matrix hessian;
};

// The read-only data of one fit: the outcome y (n values) and the regressors
// X (at least n rows, k columns). Rows of X beyond n take no part in the fit.
// The views do not own their memory: the caller keeps y and X alive.
// Long sweeps ask `interrupt` every kRowsPerPoll rows whether to stop.
struct ProbitData {
  VectorView endog;
  MatrixView exog;
  InterruptPoll interrupt{};

  std::size_t nobs() const { return endog.size; }
  std::size_t nparams() const { return exog.cols; }

  // The log-likelihood sum_i v_i ln P_i, the score g = sum_i v_i lambda_i x_i
  // and the Hessian H = -sum_i v_i w_i x_i x_i' at beta, from a single sweep
  // over the observations (v_i = 1 without weights). Weights take the
  // mirrored Hessian.
  ProbitEvaluation evaluate(const std::vector<double>& beta,
                            HessianForm form = HessianForm::kFull,
                            const RowWeights& weights = std::nullopt) const;
  // Row i of out (n x k, row-major) is the score of observation i,
  // v_i lambda_i x_i; a caller takes the observations a range at a time
  // (rows()) into one reused buffer.
  void score_rows(const std::vector<double>& beta, double* out,
                  const RowWeights& weights = std::nullopt) const;
  // The data of observations [first, first + count).
  ProbitData rows(std::size_t first, std::size_t count) const {
    return {endog.range(first, count), exog.row_range(first, count), interrupt};
  }
};

struct ProbitFit {
  std::vector<double> params;
  double loglike = 0.0;
  std::uint64_t iterations = 0;  // 0-based index of the last pass started
  bool converged = false;
  Matrix hessian;  // hessian(params), as formed by the iteration's last sweep
};

// Newton-Raphson from beta = 0 with full steps; absent options take the
// defaults (35 passes, tolerance 1e-06). Stops when tol > |change of the
// log-likelihood|, when the passes run out, or when the Hessian cannot be
// inverted (reported on standard error). Polls data.interrupt before each
// pass, so that even a limit of 2^64 - 1 passes can be stopped.
//
// Each point is evaluated by one sweep that forms the log-likelihood, score
// and Hessian together: the score and Hessian of a new point serve the next
// pass, and those of the final point the covariance.
ProbitFit newton_raphson(const ProbitData& data, std::optional<std::uint64_t> max_iter,
                         std::optional<double> tol);

// The log-likelihood, score and Hessian at a point, however they are formed.
using Evaluate = std::function<ProbitEvaluation(const std::vector<double>& beta)>;

// The same iteration over k coefficients with the points evaluated by
// `evaluate` (for data held elsewhere, summed part by part), `interrupt`
// polled before each pass.
ProbitFit newton_iterate(std::size_t k, const Evaluate& evaluate, const InterruptPoll& interrupt,
                         std::optional<std::uint64_t> max_iter, std::optional<double> tol);

}  // namespace quillon
