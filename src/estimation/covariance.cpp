#include "estimation/covariance.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "estimation/diagnostics.hpp"
#include "numerics/invert.hpp"

namespace quillon {
namespace {

// m[r][c] = u[r] u[c] + m[r][c] for every r, c.
void add_outer_product(Matrix& m, const double* __restrict u) {
  const std::size_t k = m.cols();
  for (std::size_t r = 0; r < k; ++r) {
    const double ur = u[r];
    double* __restrict row = m.row(r);
    for (std::size_t c = 0; c < k; ++c) row[c] = ur * u[c] + row[c];
  }
}

// Calls visit(i, s) for every observation i in order, s pointing at its k
// scores lambda_i x_i; the observations are taken a range at a time, so that
// no n x k score matrix is held.
template <class Visit>
void for_each_score(const ProbitData& data, const std::vector<double>& beta, Visit&& visit) {
  constexpr std::size_t kRange = 1024;
  static_assert(kRowsPerPoll % kRange == 0);
  const std::size_t k = data.nparams();
  std::vector<double> scores(std::min(kRange, data.nobs()) * k);
  for (std::size_t first = 0; first < data.nobs(); first += kRange) {
    if (first % kRowsPerPoll == 0 && first != 0) data.interrupt();
    const std::size_t count = std::min(kRange, data.nobs() - first);
    data.rows(first, count).score_rows(beta, scores.data());
    for (std::size_t i = 0; i < count; ++i) visit(first + i, scores.data() + i * k);
  }
}

}  // namespace

ClassicalCovariance classical_covariance(const Matrix& hessian) {
  const std::optional<Matrix> h_inv = invert_matrix(hessian.view());
  if (!h_inv) {
    write_diagnostic("Hessian singular => using identity for Cov\n");
    return {Matrix::identity(hessian.rows()), false};
  }
  Matrix a = *h_inv;
  for (std::size_t r = 0; r < a.rows(); ++r) {
    for (std::size_t c = 0; c < a.cols(); ++c) a(r, c) = -a(r, c);
  }
  return {std::move(a), true};
}

bool usable_maximum(const std::vector<double>& params, const ClassicalCovariance& a) {
  if (!a.inverted) return false;
  for (const double p : params) {
    if (!std::isfinite(p)) return false;
  }
  for (std::size_t j = 0; j < a.matrix.rows(); ++j) {
    const double variance = a.matrix(j, j);
    if (!(variance > 0.0 && std::isfinite(variance))) return false;
  }
  return true;
}

Matrix score_cross_product(const ProbitData& data, const std::vector<double>& beta) {
  Matrix m(data.nparams(), data.nparams());
  for_each_score(data, beta, [&](std::size_t, const double* s) { add_outer_product(m, s); });
  return m;
}

Matrix cluster_score_sums(const ProbitData& data, const std::vector<double>& beta,
                          const std::vector<std::string>& keys) {
  assert(keys.size() == data.nobs());
  const std::size_t k = data.nparams();
  // Cluster key -> row of `sums`; the keys outlive the map.
  std::unordered_map<std::string_view, std::size_t> row_of;
  std::vector<double> sums;
  for_each_score(data, beta, [&](std::size_t i, const double* s) {
    const auto [entry, inserted] = row_of.try_emplace(keys[i], row_of.size());
    if (inserted) sums.resize(sums.size() + k, 0.0);
    double* u = sums.data() + entry->second * k;
    for (std::size_t j = 0; j < k; ++j) u[j] = s[j] + u[j];
  });
  Matrix result(row_of.size(), k);
  std::copy(sums.begin(), sums.end(), result.row(0));
  return result;
}

Matrix cluster_cross_product(const Matrix& sums) {
  Matrix m(sums.cols(), sums.cols());
  for (std::size_t g = 0; g < sums.rows(); ++g) add_outer_product(m, sums.row(g));
  return m;
}

Matrix sandwich(const Matrix& a, const Matrix& m) { return multiply(multiply(a, m), a); }

}  // namespace quillon
