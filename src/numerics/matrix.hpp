// Dense real vectors and matrices: strided read-only views and owned,
// row-major matrices. Observations are rows, regressors are columns.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace quillon {

// A read-only vector with a signed element stride; data points at element 0.
struct VectorView {
  const double* data = nullptr;
  std::size_t size = 0;
  std::ptrdiff_t stride = 1;

  double operator[](std::size_t i) const { return data[static_cast<std::ptrdiff_t>(i) * stride]; }
};

// A read-only matrix with signed row and column strides counted in elements;
// data points at element (0, 0). Any memory order can be described, including
// column-major and reversed axes.
struct MatrixView {
  const double* data = nullptr;
  std::size_t rows = 0;
  std::size_t cols = 0;
  std::ptrdiff_t row_stride = 0;
  std::ptrdiff_t col_stride = 1;

  double operator()(std::size_t i, std::size_t j) const {
    return data[static_cast<std::ptrdiff_t>(i) * row_stride +
                static_cast<std::ptrdiff_t>(j) * col_stride];
  }
  const double* row_start(std::size_t i) const {
    return data + static_cast<std::ptrdiff_t>(i) * row_stride;
  }
  VectorView column(std::size_t j) const {
    return {data + static_cast<std::ptrdiff_t>(j) * col_stride, rows, row_stride};
  }
  // The rows [first, first + count) as a view of their own.
  MatrixView row_range(std::size_t first, std::size_t count) const {
    return {row_start(first), count, cols, row_stride, col_stride};
  }
};

// Hands out row i of a matrix as a contiguous array, in place when the columns are
// adjacent in memory and gathered into one reused buffer otherwise, so that
// the inner loops over columns run over contiguous memory.
class RowReader {
 public:
  explicit RowReader(const MatrixView& x) : x_(x) {
    if (x_.col_stride != 1) scratch_.resize(x_.cols);
  }

  const double* operator()(std::size_t i) {
    const double* src = x_.row_start(i);
    if (x_.col_stride == 1) return src;
    for (std::size_t j = 0; j < x_.cols; ++j) {
      scratch_[j] = src[static_cast<std::ptrdiff_t>(j) * x_.col_stride];
    }
    return scratch_.data();
  }

 private:
  MatrixView x_;
  std::vector<double> scratch_;
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
