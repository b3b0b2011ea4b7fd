#include "numerics/invert.hpp"

#include <cmath>
#include <utility>

namespace quillon {
namespace {

// The row among first..n-1 with the largest |w[row][col]|. A later row wins
// only when strictly larger, so ties keep the earliest row and a NaN never
// displaces a number (nor is a NaN already in place displaced).
std::size_t pivot_row(const Matrix& w, std::size_t col, std::size_t first) {
  std::size_t best = first;
  double best_abs = std::fabs(w(first, col));
  for (std::size_t r = first + 1; r < w.rows(); ++r) {
    const double a = std::fabs(w(r, col));
    if (a > best_abs) {
      best = r;
      best_abs = a;
    }
  }
  return best;
}

// target[c] = target[c] - source[c] * f for c in [from, end): the product
// first, then the subtraction.
void subtract_scaled(double* __restrict target, const double* __restrict source, double f,
                     std::size_t from, std::size_t end) {
  for (std::size_t c = from; c < end; ++c) target[c] = target[c] - source[c] * f;
}

}  // namespace

std::optional<Matrix> invert_matrix(const MatrixView& a) {
  if (a.rows != a.cols) return std::nullopt;
  const std::size_t n = a.rows;
  const std::size_t width = 2 * n;

  // w = [a | I]
  Matrix w(n, width);
  for (std::size_t i = 0; i < n; ++i) {
    double* row = w.row(i);
    for (std::size_t j = 0; j < n; ++j) row[j] = a(i, j);
    row[n + i] = 1.0;
  }

  for (std::size_t l = 0; l < n; ++l) {
    const std::size_t p = pivot_row(w, l, l);
    if (std::fabs(w(p, l)) < kSingularPivot) return std::nullopt;
    if (p != l) {
      double* pr = w.row(p);
      double* lr = w.row(l);
      for (std::size_t c = 0; c < width; ++c) std::swap(pr[c], lr[c]);
    }
    double* pivot = w.row(l);
    const double k = pivot[l];
    for (std::size_t c = l; c < width; ++c) pivot[c] = pivot[c] / k;
    for (std::size_t r = l + 1; r < n; ++r) {
      double* row = w.row(r);
      subtract_scaled(row, pivot, row[l], l, width);
    }
  }

  for (std::size_t col = n; col-- > 1;) {
    const double* pivot = w.row(col);
    for (std::size_t r = 0; r < col; ++r) {
      double* row = w.row(r);
      subtract_scaled(row, pivot, row[col], col, width);
    }
  }

  Matrix inverse(n, n);
  for (std::size_t i = 0; i < n; ++i) {
    const double* row = w.row(i);
    for (std::size_t j = 0; j < n; ++j) inverse(i, j) = row[n + j];
  }
  return inverse;
}

}  // namespace quillon
