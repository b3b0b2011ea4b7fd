#include "numerics/owned_array.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

namespace quillon {

OwnedArray OwnedArray::from_vector(std::vector<double> values) {
  OwnedArray array;
  array.ndim = 1;
  array.extents[0] = values.size();
  array.values.assign(values.begin(), values.end());
  return array;
}

OwnedArray OwnedArray::from_matrix(Matrix matrix) {
  OwnedArray array;
  array.ndim = 2;
  array.extents[0] = matrix.rows();
  array.extents[1] = matrix.cols();
  array.strides[0] = static_cast<std::ptrdiff_t>(matrix.cols());
  array.strides[1] = 1;
  const std::vector<double> values = std::move(matrix).release();
  array.values.assign(values.begin(), values.end());
  return array;
}

namespace {

// A stride in elements for a byte stride that is a whole number of doubles;
// 0 (which never describes a block of two or more elements) otherwise.
std::ptrdiff_t element_stride(std::ptrdiff_t step) {
  return step % kDoubleBytes == 0 ? step / kDoubleBytes : 0;
}

}  // namespace

OwnedArray copy_vector(const VectorView& source) {
  OwnedArray copy;
  copy.ndim = 1;
  copy.extents[0] = source.size;
  copy.values.resize(source.size);
  const std::ptrdiff_t stride = element_stride(source.step);
  if (source.size > 0 && (stride == 1 || stride == -1)) {
    // One block: copy it as it lies in memory and keep the direction.
    const std::ptrdiff_t last = static_cast<std::ptrdiff_t>(source.size) - 1;
    const std::byte* lowest = stride == 1 ? source.bytes : source.bytes - last * kDoubleBytes;
    std::memcpy(copy.values.data(), lowest, source.size * sizeof(double));
    copy.offset = stride == 1 ? 0 : last;
    copy.strides[0] = stride;
    return copy;
  }
  for (std::size_t i = 0; i < source.size; ++i) copy.values[i] = source[i];
  return copy;
}

OwnedArray copy_matrix(const MatrixView& source) {
  const std::size_t rows = source.rows;
  const std::size_t cols = source.cols;
  const std::ptrdiff_t rs = element_stride(source.row_step);
  const std::ptrdiff_t cs = element_stride(source.col_step);
  OwnedArray copy;
  copy.ndim = 2;
  copy.extents[0] = rows;
  copy.extents[1] = cols;
  copy.values.resize(rows * cols);
  const auto srows = static_cast<std::ptrdiff_t>(rows);
  const auto scols = static_cast<std::ptrdiff_t>(cols);
  // An axis of extent 1 never moves, so its stride does not matter.
  const bool row_major_block =
      (cols == 1 || cs == 1 || cs == -1) && (rows == 1 || rs == scols || rs == -scols);
  const bool col_major_block =
      (rows == 1 || rs == 1 || rs == -1) && (cols == 1 || cs == srows || cs == -srows);
  if (rows > 0 && cols > 0 && (row_major_block || col_major_block)) {
    const std::ptrdiff_t low = std::min<std::ptrdiff_t>(0, (srows - 1) * rs) +
                               std::min<std::ptrdiff_t>(0, (scols - 1) * cs);
    std::memcpy(copy.values.data(), source.bytes + low * kDoubleBytes,
                rows * cols * sizeof(double));
    copy.offset = -low;
    copy.strides[0] = rs;
    copy.strides[1] = cs;
    return copy;
  }
  copy.strides[0] = scols;
  copy.strides[1] = 1;
  for (std::size_t i = 0; i < rows; ++i) source.copy_row(i, copy.values.data() + i * cols);
  return copy;
}

}  // namespace quillon
