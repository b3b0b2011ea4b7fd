#include "estimation/covariance.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>

#include "estimation/diagnostics.hpp"
#include "numerics/invert.hpp"
#include "numerics/panic.hpp"
#include "numerics/simd/code_paths.hpp"
#include "numerics/simd/lanes.hpp"
#include "public_texts.hpp"

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

// The same sums, kGroup rows j0 <= r < j0 + kGroup of m and kChunks vectors
// of four columns from l0 held in registers over all `count` rows: m is
// k x width (width: k rounded up to four), the rows of `rows` k values each
// and readable for `width` - k values past the last; lanes past column k
// hold other values there and are masked (kMasked, the last piece only).
// Every element's chain still takes the rows in order, each term the same
// product u[r] u[c], so the bits are those of the loop above.
constexpr std::size_t kOuterLanes = 4;

template <std::size_t kChunks, std::size_t kGroup, bool kMasked>
[[gnu::always_inline]] inline void add_outer_group(double* __restrict m, std::size_t k,
                                                   std::size_t width, std::size_t j0,
                                                   std::size_t l0, const double* __restrict rows,
                                                   std::size_t count) {
  using V = simd::Lanes<kOuterLanes>;
  V acc[kGroup][kChunks];
  for (std::size_t g = 0; g < kGroup; ++g) {
    for (std::size_t c = 0; c < kChunks; ++c)
      simd::load<kOuterLanes>(acc[g][c], m + (j0 + g) * width + l0 + c * kOuterLanes);
  }
  simd::Mask<kOuterLanes> keep;
  simd::columns_below<kOuterLanes>(keep, k, l0 + (kChunks - 1) * kOuterLanes);
  for (std::size_t i = 0; i < count; ++i) {
    const double* u = rows + i * k;
    V ul[kChunks];
    for (std::size_t c = 0; c < kChunks; ++c) simd::load<kOuterLanes>(ul[c], u + l0 + c * kOuterLanes);
    if constexpr (kMasked) simd::mask<kOuterLanes>(ul[kChunks - 1], keep);
    for (std::size_t g = 0; g < kGroup; ++g) {
      const double ur = u[j0 + g];
      for (std::size_t c = 0; c < kChunks; ++c) acc[g][c] = ur * ul[c] + acc[g][c];
    }
  }
  for (std::size_t g = 0; g < kGroup; ++g) {
    for (std::size_t c = 0; c < kChunks; ++c)
      simd::store<kOuterLanes>(m + (j0 + g) * width + l0 + c * kOuterLanes, acc[g][c]);
  }
}

// The columns [l0, l0 + kChunks * 4) of the rows of m that reach the upper
// triangle there, in groups of four rows.
template <std::size_t kChunks, bool kMasked>
[[gnu::always_inline]] inline void add_outer_columns(double* m, std::size_t k, std::size_t width,
                                                     std::size_t l0, const double* rows,
                                                     std::size_t count) {
  const std::size_t rows_reaching = std::min(k, l0 + kChunks * kOuterLanes);
  std::size_t j0 = 0;
  for (; j0 + 4 <= rows_reaching; j0 += 4)
    add_outer_group<kChunks, 4, kMasked>(m, k, width, j0, l0, rows, count);
  for (; j0 < rows_reaching; ++j0) add_outer_group<kChunks, 1, kMasked>(m, k, width, j0, l0, rows, count);
}

// m += u u' over the count rows u of `rows`, in pieces of at most four
// vectors of columns; elements below the diagonal are formed where a block
// crosses it and never read.
[[gnu::always_inline]] inline void add_outer_products_body(double* m, std::size_t k,
                                                           std::size_t width, const double* rows,
                                                           std::size_t count) {
  constexpr std::size_t kPiece = 4 * kOuterLanes;
  for (std::size_t l0 = 0; l0 < width; l0 += kPiece) {
    const bool masked = width != k && l0 + kPiece >= width;
    switch (std::min<std::size_t>(4, (width - l0) / kOuterLanes)) {
      case 1:
        masked ? add_outer_columns<1, true>(m, k, width, l0, rows, count)
               : add_outer_columns<1, false>(m, k, width, l0, rows, count);
        break;
      case 2:
        masked ? add_outer_columns<2, true>(m, k, width, l0, rows, count)
               : add_outer_columns<2, false>(m, k, width, l0, rows, count);
        break;
      case 3:
        masked ? add_outer_columns<3, true>(m, k, width, l0, rows, count)
               : add_outer_columns<3, false>(m, k, width, l0, rows, count);
        break;
      default:
        masked ? add_outer_columns<4, true>(m, k, width, l0, rows, count)
               : add_outer_columns<4, false>(m, k, width, l0, rows, count);
        break;
    }
  }
}
QUILLON_FOR_EACH_UNIT(add_outer_products,
                      (double* m, std::size_t k, std::size_t width, const double* rows,
                       std::size_t count),
                      add_outer_products_body, (m, k, width, rows, count))

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
// order, s pointing at their count x k scores lambda_i x_i, row-major, each
// multiplied by m(v_i) when there are weights v; the observations are taken
// a range at a time, so that no n x k score matrix is held.
template <class Multiplier, class Visit>
void for_each_score(const ProbitData& data, const std::vector<double>& beta,
                    const RowWeights& weights, Multiplier&& m, Visit&& visit) {
  constexpr std::size_t kRange = 1024;
  static_assert(kRowsPerPoll % kRange == 0);
  if (weights && weights->size != data.nobs()) {
    panic(std::to_string(weights->size) + " weights for " + std::to_string(data.nobs()) +
          " observations");
  }
  const std::size_t k = data.nparams();
  // Four doubles past the last row, zeros: a vector of four from the last
  // row's last columns stays inside.
  std::vector<double> scores(std::min(kRange, data.nobs()) * k + kOuterLanes, 0.0);
  std::vector<double> multipliers(weights ? std::min(kRange, data.nobs()) : 0);
  for (std::size_t first = 0; first < data.nobs(); first += kRange) {
    if (first % kRowsPerPoll == 0 && first != 0) data.interrupt();
    const std::size_t count = std::min(kRange, data.nobs() - first);
    RowWeights range_weights;
    if (weights) {
      for (std::size_t i = 0; i < count; ++i) multipliers[i] = m((*weights)[first + i]);
      range_weights = VectorView(multipliers.data(), count, 1);
    }
    data.rows(first, count).score_rows(beta, scores.data(), range_weights);
    visit(first, count, scores.data());
  }
}

double identity(double v) { return v; }

Matrix upper_sums_to_matrix(const std::vector<double>& sums, std::size_t k, std::size_t width) {
  Matrix m(k, k);
  for (std::size_t r = 0; r < k; ++r) {
    for (std::size_t c = r; c < k; ++c) m(r, c) = sums[r * width + c];
  }
  mirror_upper(m);
  return m;
}

}  // namespace

ClassicalCovariance classical_covariance(const Matrix& hessian) {
  const std::optional<Matrix> h_inv = invert_matrix(hessian.view());
  if (!h_inv) {
    write_diagnostic(texts::kHessianSingularForCov);
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

Matrix score_cross_product(const ProbitData& data, const std::vector<double>& beta,
                           const RowWeights& weights, WeightKind kind) {
  const std::size_t k = data.nparams();
  const std::size_t width = (k + kOuterLanes - 1) / kOuterLanes * kOuterLanes;
  std::vector<double> sums(k * width, 0.0);
  const auto visit = [&](std::size_t, std::size_t count, const double* s) {
    add_outer_products(sums.data(), k, width, s, count);
  };
  if (kind == WeightKind::kFrequency) {
    for_each_score(data, beta, weights, [](double v) { return std::sqrt(v); }, visit);
  } else {
    for_each_score(data, beta, weights, identity, visit);
  }
  return upper_sums_to_matrix(sums, k, width);
}

Matrix cluster_score_sums(const ProbitData& data, const std::vector<double>& beta,
                          const ClusterIds& clusters, const RowWeights& weights) {
  if (clusters.of_row.size() != data.nobs()) {
    panic("clusters given for " + std::to_string(clusters.of_row.size()) + " rows, but there are " +
          std::to_string(data.nobs()) + " observations");
  }
  const std::size_t k = data.nparams();
  Matrix sums(clusters.count, k);
  for_each_score(data, beta, weights, identity,
                 [&](std::size_t first, std::size_t count, const double* s) {
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
