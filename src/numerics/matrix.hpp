// Dense real vectors and matrices: strided read-only views and owned,
// row-major matrices. Observations are rows, regressors are columns.
#pragma once

#include <cstddef>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

namespace quillon {

// One double read from any address: the element need not be aligned to 8
// bytes (a field of a packed record, say). Compiles to a plain load.
inline double load_double(const std::byte* at) {
  double value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

inline constexpr std::ptrdiff_t kDoubleBytes = sizeof(double);

// A read-only vector with a signed stride in bytes; `bytes` points at element
// 0. Neither the start nor the stride need be a multiple of 8 bytes.
struct VectorView {
  const std::byte* bytes = nullptr;
  std::size_t size = 0;
  std::ptrdiff_t step = kDoubleBytes;  // bytes from one element to the next

  VectorView() = default;
  // Doubles in memory, `stride` elements apart.
  VectorView(const double* data, std::size_t size, std::ptrdiff_t stride)
      : bytes(reinterpret_cast<const std::byte*>(data)), size(size), step(stride * kDoubleBytes) {}
  static VectorView of_bytes(const std::byte* first, std::size_t size, std::ptrdiff_t step) {
    VectorView v;
    v.bytes = first;
    v.size = size;
    v.step = step;
    return v;
  }

  double operator[](std::size_t i) const {
    return load_double(bytes + static_cast<std::ptrdiff_t>(i) * step);
  }
  // The elements [first, first + count) as a view of their own.
  VectorView range(std::size_t first, std::size_t count) const {
    return of_bytes(bytes + static_cast<std::ptrdiff_t>(first) * step, count, step);
  }
};

// Row weights v_i, one per row (finite, not negative): row i counts v_i
// times in a sum over rows. Absent, every row counts once and a sum keeps the
// bits it has without weights; a weighted term is the unweighted term
// multiplied by v_i last, so weights of 1 give those bits too.
using RowWeights = std::optional<VectorView>;

// A read-only matrix with signed row and column strides in bytes; `bytes`
// points at element (0, 0). Any memory order can be described, including
// column-major and reversed axes, and neither the start nor the strides need
// be multiples of 8 bytes.
struct MatrixView {
  const std::byte* bytes = nullptr;
  std::size_t rows = 0;
  std::size_t cols = 0;
  std::ptrdiff_t row_step = 0;            // bytes from one row to the next
  std::ptrdiff_t col_step = kDoubleBytes;  // bytes from one column to the next

  MatrixView() = default;
  // Doubles in memory, rows `row_stride` and columns `col_stride` elements
  // apart.
  MatrixView(const double* data, std::size_t rows, std::size_t cols, std::ptrdiff_t row_stride,
             std::ptrdiff_t col_stride)
      : bytes(reinterpret_cast<const std::byte*>(data)),
        rows(rows),
        cols(cols),
        row_step(row_stride * kDoubleBytes),
        col_step(col_stride * kDoubleBytes) {}
  static MatrixView of_bytes(const std::byte* first, std::size_t rows, std::size_t cols,
                             std::ptrdiff_t row_step, std::ptrdiff_t col_step) {
    MatrixView m;
    m.bytes = first;
    m.rows = rows;
    m.cols = cols;
    m.row_step = row_step;
    m.col_step = col_step;
    return m;
  }

  double operator()(std::size_t i, std::size_t j) const {
    return load_double(row_bytes(i) + static_cast<std::ptrdiff_t>(j) * col_step);
  }
  const std::byte* row_bytes(std::size_t i) const {
    return bytes + static_cast<std::ptrdiff_t>(i) * row_step;
  }
  // The columns of a row lie side by side, 8 bytes apart.
  bool adjacent_columns() const { return col_step == kDoubleBytes; }
  // Row i's values into out[0 .. cols).
  void copy_row(std::size_t i, double* out) const {
    const std::byte* src = row_bytes(i);
    if (adjacent_columns()) {
      if (cols > 0) std::memcpy(out, src, cols * sizeof(double));  // out may be null at 0
      return;
    }
    for (std::size_t j = 0; j < cols; ++j) {
      out[j] = load_double(src + static_cast<std::ptrdiff_t>(j) * col_step);
    }
  }
  VectorView column(std::size_t j) const {
    return VectorView::of_bytes(bytes + static_cast<std::ptrdiff_t>(j) * col_step, rows,
                                row_step);
  }
  // The rows [first, first + count) as a view of their own.
  MatrixView row_range(std::size_t first, std::size_t count) const {
    return of_bytes(row_bytes(first), count, cols, row_step, col_step);
  }
  bool operator==(const MatrixView&) const = default;
};

// An owned matrix, row-major and contiguous, zero-filled on creation.
class Matrix {
 public:
  Matrix() = default;
  Matrix(std::size_t rows, std::size_t cols) : rows_(rows), cols_(cols), values_(rows * cols) {}

  static Matrix identity(std::size_t n) {
    Matrix m(n, n);
    for (std::size_t i = 0; i < n; ++i) m(i, i) = 1.0;
    return m;
  }

  std::size_t rows() const { return rows_; }
  std::size_t cols() const { return cols_; }

  double& operator()(std::size_t i, std::size_t j) { return values_[i * cols_ + j]; }
  double operator()(std::size_t i, std::size_t j) const { return values_[i * cols_ + j]; }
  double* row(std::size_t i) { return values_.data() + i * cols_; }
  const double* row(std::size_t i) const { return values_.data() + i * cols_; }

  MatrixView view() const {
    return {values_.data(), rows_, cols_, static_cast<std::ptrdiff_t>(cols_), 1};
  }

  // Hands the row-major buffer over, leaving this matrix empty.
  std::vector<double> release() && {
    rows_ = cols_ = 0;
    return std::move(values_);
  }

 private:
  std::size_t rows_ = 0;
  std::size_t cols_ = 0;
  std::vector<double> values_;
};

// Dense product a * b, each element summed over the inner index in order
// from 0.0. Panics unless a.cols() == b.rows().
Matrix multiply(const Matrix& a, const Matrix& b);

}  // namespace quillon
