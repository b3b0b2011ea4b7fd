// Maximum-likelihood probit fit by Newton-Raphson iteration.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "numerics/matrix.hpp"
#include "numerics/normal.hpp"

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

// The log-likelihood, score and Hessian at one point.
struct ProbitEvaluation {
  double loglike = 0.0;
  std::vector<double> score;
  Matrix hessian;
};

// The read-only data of one fit: the outcome y (n values) and the regressors
// X (at least n rows, k columns). Rows of X beyond n take no part in the fit.
// The views do not own their memory: the caller keeps y and X alive.
struct ProbitData {
  VectorView endog;
  MatrixView exog;
  NormalDistribution normal{0.0, 1.0};

  std::size_t nobs() const { return endog.size; }
  std::size_t nparams() const { return exog.cols; }

  // sum_i ln P_i
  double log_likelihood(const std::vector<double>& beta) const;
  // g = sum_i lambda_i x_i
  std::vector<double> score(const std::vector<double>& beta) const;
  // H = -sum_i w_i x_i x_i'
  Matrix hessian(const std::vector<double>& beta) const;
  // score() and hessian() from a single sweep over the observations.
  void score_and_hessian(const std::vector<double>& beta, std::vector<double>& score,
                         Matrix& hessian) const;
  // All three from a single sweep. Every sum is formed exactly as by the
  // separate operations, so the results agree with them bit for bit.
  ProbitEvaluation evaluate(const std::vector<double>& beta) const;
  // Row i is lambda_i x_i (n x k): the per-observation scores.
  Matrix score_matrix(const std::vector<double>& beta) const;
  // Calls visit(i, s) for i = 0 .. n-1 in order, s pointing at the k values
  // of lambda_i x_i; the same numbers as row i of score_matrix(), without
  // holding n x k of them.
  template <class Visit>
  void for_each_score(const std::vector<double>& beta, Visit&& visit) const;
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
// inverted (reported on standard error).
//
// Each point is evaluated by one sweep that forms the log-likelihood, score
// and Hessian together: the score and Hessian of a new point serve the next
// pass, and those of the final point the covariance.
ProbitFit newton_raphson(const ProbitData& data, std::optional<std::uint64_t> max_iter,
                         std::optional<double> tol);

namespace probit_detail {

// x_i . beta, summed over the columns in order from 0.0.
inline double linear_index(const double* x, const std::vector<double>& beta) {
  double eta = 0.0;
  for (std::size_t j = 0; j < beta.size(); ++j) eta = eta + x[j] * beta[j];
  return eta;
}

// 2 y - 1: +1 for y = 1, -1 for y = 0.
inline double sign_of_outcome(double y) { return (y + y) + (-1.0); }

struct Residual {
  double eta;     // x_i . beta
  double lambda;  // q phi(q eta) / clip(Phi(q eta)), the generalised residual
};

inline Residual generalised_residual(const NormalDistribution& normal, double y, const double* x,
                                     const std::vector<double>& beta) {
  const double q = sign_of_outcome(y);
  const double eta = linear_index(x, beta);
  const double z = q * eta;
  const double p = clip_probability(normal.cdf(z));
  return {eta, (q * normal.pdf(z)) / p};
}

}  // namespace probit_detail

template <class Visit>
void ProbitData::for_each_score(const std::vector<double>& beta, Visit&& visit) const {
  RowReader rows(exog);
  std::vector<double> s(nparams());
  for (std::size_t i = 0; i < nobs(); ++i) {
    const double* x = rows(i);
    const double lambda = probit_detail::generalised_residual(normal, endog[i], x, beta).lambda;
    for (std::size_t j = 0; j < s.size(); ++j) s[j] = x[j] * lambda;
    visit(i, static_cast<const double*>(s.data()));
  }
}

}  // namespace quillon
