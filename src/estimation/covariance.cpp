#include "estimation/covariance.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>

#include "estimation/diagnostics.hpp"
#include "numerics/invert.hpp"
#include "numerics/panic.hpp"
#include "numerics/simd/code_paths.hpp"

namespace quillon {
namespace {

// m[r][c] = u[r] u[c] + m[r][c] for c >= r, for the count rows u of `rows`
// (k values each) in order. The sums are symmetric bit for bit (u[r] u[c] ==
// u[c] u[r], added in the same order), so the lower triangle is left for
// mirror_upper(). Compiled for every vector unit: lanes hold different
// elements of m, so every unit gives the same bits.
[[gnu::always_inline]] inline void add_outer_products_upper_body(double* __restrict m,
                                                                 std::size_t k,
                                                                 const double* __restrict rows,
                                                                 std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const double* u = rows + i * k;
    for (std::size_t r = 0; r < k; ++r) {
      const double ur = u[r];
      double* __restrict row = m + r * k;
      for (std::size_t c = r; c < k; ++c) row[c] = ur * u[c] + row[c];
    }
  }
}

QUILLON_FOR_EACH_UNIT(add_outer_products_upper,
                      (double* m, std::size_t k, const double* rows, std::size_t count),
                      add_outer_products_upper_body, (m, k, rows, count))

// sums[g] = s_i + sums[g] for the count score rows s_i of `rows`, in order,
// g the cluster of observation first + i.
[[gnu::always_inline]] inline void add_to_clusters_body(double* __restrict sums, std::size_t k,
                                                        const double* __restrict rows,
                                                        std::size_t count,
                                                        const std::size_t* cluster_of) {
  for (std::size_t i = 0; i < count; ++i) {
    const double* s = rows + i * k;
    double* __restrict u = sums + cluster_of[i] * k;
    for (std::size_t j = 0; j < k; ++j) u[j] = s[j] + u[j];
  }
}
QUILLON_FOR_EACH_UNIT(add_to_clusters,
                      (double* sums, std::size_t k, const double* rows, std::size_t count,
                       const std::size_t* cluster_of),
                      add_to_clusters_body, (sums, k, rows, count, cluster_of))

void mirror_upper(Matrix& m) {
  for (std::size_t r = 1; r < m.rows(); ++r) {
    for (std::size_t c = 0; c < r; ++c) m(r, c) = m(c, r);
  }
}

// Calls visit(first, count, s) for consecutive ranges of observations in
// order, s pointing at their count x k scores lambda_i x_i, row-major; the
// observations are taken a range at a time, so that no n x k score matrix is
// held.
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
    visit(first, count, scores.data());
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
  for_each_score(data, beta, [&](std::size_t, std::size_t count, const double* s) {
    add_outer_products_upper(m.row(0), m.cols(), s, count);
  });
  mirror_upper(m);
  return m;
}

Matrix cluster_score_sums(const ProbitData& data, const std::vector<double>& beta,
                          const ClusterIds& clusters) {
  if (clusters.of_row.size() != data.nobs()) {
    panic("clusters given for " + std::to_string(clusters.of_row.size()) + " rows, but there are " +
          std::to_string(data.nobs()) + " observations");
  }
  const std::size_t k = data.nparams();
  Matrix sums(clusters.count, k);
  for_each_score(data, beta, [&](std::size_t first, std::size_t count, const double* s) {
    add_to_clusters(sums.row(0), k, s, count, clusters.of_row.data() + first);
  });
  return sums;
}

Matrix cluster_cross_product(const Matrix& sums) {
  Matrix m(sums.cols(), sums.cols());
  add_outer_products_upper(m.row(0), m.cols(), sums.row(0), sums.rows());
  mirror_upper(m);
  return m;
}

Matrix cluster_robust_middle(const ProbitData& data, const std::vector<double>& beta,
                             const MatrixView& clusters) {
  return cluster_cross_product(cluster_score_sums(data, beta, number_clusters(clusters, data.interrupt)));
}

Matrix sandwich(const Matrix& a, const Matrix& m) { return multiply(multiply(a, m), a); }

}  // namespace quillon
