#include "estimation/probit.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <string>

#include "estimation/diagnostics.hpp"
#include "numerics/invert.hpp"

namespace quillon {
namespace {

using probit_detail::generalised_residual;
using probit_detail::linear_index;
using probit_detail::Residual;
using probit_detail::sign_of_outcome;

void add_score_term(std::vector<double>& g, const double* x, double lambda) {
  for (std::size_t j = 0; j < g.size(); ++j) g[j] = x[j] * lambda + g[j];
}

// H[j][l] -= (x_j w) x_l for every j, l.
void add_hessian_term(Matrix& h, const double* __restrict x, double w) {
  const std::size_t k = h.cols();
  for (std::size_t j = 0; j < k; ++j) {
    const double a = x[j] * w;
    double* __restrict row = h.row(j);
    for (std::size_t l = 0; l < k; ++l) row[l] = row[l] - a * x[l];
  }
}

void require_rows(const ProbitData& data) {
  assert(data.exog.rows >= data.endog.size);
  (void)data;
}

}  // namespace

double ProbitData::log_likelihood(const std::vector<double>& beta) const {
  require_rows(*this);
  RowReader rows(exog);
  double ll = 0.0;
  for (std::size_t i = 0; i < nobs(); ++i) {
    const double q = sign_of_outcome(endog[i]);
    const double z = q * linear_index(rows(i), beta);
    ll = ll + std::log(clip_probability(normal.cdf(z)));
  }
  return ll;
}

std::vector<double> ProbitData::score(const std::vector<double>& beta) const {
  require_rows(*this);
  RowReader rows(exog);
  std::vector<double> g(nparams(), 0.0);
  for (std::size_t i = 0; i < nobs(); ++i) {
    const double* x = rows(i);
    add_score_term(g, x, generalised_residual(normal, endog[i], x, beta).lambda);
  }
  return g;
}

Matrix ProbitData::hessian(const std::vector<double>& beta) const {
  require_rows(*this);
  RowReader rows(exog);
  Matrix h(nparams(), nparams());
  for (std::size_t i = 0; i < nobs(); ++i) {
    const double* x = rows(i);
    const Residual r = generalised_residual(normal, endog[i], x, beta);
    add_hessian_term(h, x, (r.eta + r.lambda) * r.lambda);
  }
  return h;
}

void ProbitData::score_and_hessian(const std::vector<double>& beta, std::vector<double>& g,
                                   Matrix& h) const {
  require_rows(*this);
  RowReader rows(exog);
  g.assign(nparams(), 0.0);
  h = Matrix(nparams(), nparams());
  for (std::size_t i = 0; i < nobs(); ++i) {
    const double* x = rows(i);
    const Residual r = generalised_residual(normal, endog[i], x, beta);
    add_score_term(g, x, r.lambda);
    add_hessian_term(h, x, (r.eta + r.lambda) * r.lambda);
  }
}

Matrix ProbitData::score_matrix(const std::vector<double>& beta) const {
  require_rows(*this);
  Matrix s(nobs(), nparams());
  for_each_score(beta, [&](std::size_t i, const double* score) {
    std::copy(score, score + nparams(), s.row(i));
  });
  return s;
}

ProbitFit newton_raphson(const ProbitData& data, std::optional<std::uint64_t> max_iter,
                         std::optional<double> tol) {
  const std::uint64_t passes = max_iter.value_or(kDefaultMaxIter);
  const double tolerance = tol.value_or(kDefaultTol);
  const std::size_t k = data.nparams();

  ProbitFit fit;
  fit.params.assign(k, 0.0);
  fit.loglike = data.log_likelihood(fit.params);

  std::vector<double> g;
  Matrix h;
  std::vector<double> next(k);
  for (std::uint64_t t = 0; t < passes; ++t) {
    fit.iterations = t;
    data.score_and_hessian(fit.params, g, h);
    const std::optional<Matrix> h_inv = invert_matrix(h.view());
    if (!h_inv) {
      write_diagnostic("Hessian near singular at iteration " + std::to_string(t) + "\n");
      break;
    }
    // beta - H^-1 g, the full Newton step.
    for (std::size_t r = 0; r < k; ++r) {
      const double* inv_row = h_inv->row(r);
      double delta = 0.0;
      for (std::size_t c = 0; c < k; ++c) delta = delta + inv_row[c] * g[c];
      next[r] = fit.params[r] - delta;
    }
    const double ll_next = data.log_likelihood(next);
    const double change = std::fabs(ll_next - fit.loglike);
    fit.params.swap(next);
    fit.loglike = ll_next;
    if (tolerance > change) {
      fit.converged = true;
      break;
    }
  }
  return fit;
}

}  // namespace quillon
