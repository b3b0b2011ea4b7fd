// Arrays of doubles owned by the module, and copies of strided views that keep
// the source's memory order, so that a column-major input stays column-major
// when it is handed back.
#pragma once

#include <cstddef>
#include <vector>

#include "numerics/bulk_buffer.hpp"
#include "numerics/matrix.hpp"

namespace quillon {

// A dense array of doubles: one or two extents with signed element strides,
// the logical first element at `offset` in `values`. The values are
// uninitialised until written: every element is written by the routine that
// makes the array.
struct OwnedArray {
  BulkBuffer values;
  std::ptrdiff_t offset = 0;
  int ndim = 1;
  std::size_t extents[2] = {0, 1};
  std::ptrdiff_t strides[2] = {1, 1};

  VectorView vector() const { return {values.data() + offset, extents[0], strides[0]}; }
  MatrixView matrix() const {
    return {values.data() + offset, extents[0], extents[1], strides[0], strides[1]};
  }
  static OwnedArray from_vector(std::vector<double> values);
  static OwnedArray from_matrix(Matrix matrix);
};

// Copies keeping the source's memory order when its elements form one
// contiguous block (any axis order, reversed or not), else in row-major
// order. The values are bit-for-bit those of the source.
OwnedArray copy_vector(const VectorView& source);
OwnedArray copy_matrix(const MatrixView& source);

}  // namespace quillon
