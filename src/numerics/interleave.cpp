#include "numerics/interleave.hpp"

#include <algorithm>
#include <cstdint>

#include "numerics/simd/code_paths.hpp"
#include "numerics/simd/lanes.hpp"

namespace quillon {
namespace {

// Rows a block at a time, so that the lines of every column and of the
// output stay in the cache between the block's columns.
constexpr std::size_t kBlockRows = 256;

const double* contiguous(const VectorView& v) {
  const auto address = reinterpret_cast<std::uintptr_t>(v.bytes);
  return v.step == kDoubleBytes && address % alignof(double) == 0
             ? reinterpret_cast<const double*>(v.bytes)
             : nullptr;
}

// Columns j .. j + 3, all contiguous, over rows [first, end): four rows of
// the four read along the columns and turned into four rows in registers.
[[gnu::always_inline]] inline void four_columns(const double* const (&c)[4], std::size_t first, std::size_t end, double* out,
                  std::size_t k, std::size_t j) {
  std::size_t i = first;
  for (; i + 4 <= end; i += 4) {
    simd::Lanes<4> v[4];
    for (std::size_t t = 0; t < 4; ++t) simd::load<4>(v[t], c[t] + i);
    simd::Lanes<4> rows[4];
    simd::rows_to_columns(v[0], v[1], v[2], v[3], rows);
    for (std::size_t r = 0; r < 4; ++r) simd::store<4>(out + (i + r) * k + j, rows[r]);
  }
  for (; i < end; ++i) {
    for (std::size_t t = 0; t < 4; ++t) out[i * k + j + t] = c[t][i];
  }
}

// The columns from j on that four_columns leaves, row by row.
[[gnu::always_inline]] inline void other_columns(const std::vector<VectorView>& columns, std::size_t j, std::size_t first,
                   std::size_t end, double* out) {
  const std::size_t k = columns.size();
  for (std::size_t i = first; i < end; ++i) {
    for (std::size_t l = j; l < k; ++l) out[i * k + l] = columns[l][i];
  }
}

// The rows [first, end) of every column into out. A copy: the same bits on
// every vector unit, compiled for each.
[[gnu::always_inline]] inline void block_of_rows(const std::vector<VectorView>& columns,
                                                 const std::vector<const double*>& flat,
                                                 std::size_t first, std::size_t end,
                                                 double* out) {
  const std::size_t k = columns.size();
  std::size_t j = 0;
  for (; j + 4 <= k && std::all_of(flat.begin() + j, flat.begin() + j + 4,
                                   [](const double* c) { return c != nullptr; });
       j += 4) {
    const double* const c[4] = {flat[j], flat[j + 1], flat[j + 2], flat[j + 3]};
    four_columns(c, first, end, out, k, j);
  }
  other_columns(columns, j, first, end, out);
}
QUILLON_FOR_EACH_UNIT(block_of_rows_on_unit,
                      (const std::vector<VectorView>& columns,
                       const std::vector<const double*>& flat, std::size_t first,
                       std::size_t end, double* out),
                      block_of_rows, (columns, flat, first, end, out))

}  // namespace

OwnedArray rows_from_columns(const std::vector<VectorView>& columns, std::size_t rows) {
  const std::size_t k = columns.size();
  OwnedArray array;
  array.ndim = 2;
  array.extents[0] = rows;
  array.extents[1] = k;
  array.strides[0] = static_cast<std::ptrdiff_t>(k);
  array.strides[1] = 1;
  array.values.resize(rows * k);
  double* out = array.values.data();
  std::vector<const double*> flat(k);
  for (std::size_t j = 0; j < k; ++j) flat[j] = contiguous(columns[j]);
  for (std::size_t first = 0; first < rows; first += kBlockRows) {
    const std::size_t end = std::min(rows, first + kBlockRows);
    block_of_rows_on_unit(columns, flat, first, end, out);
  }
  return array;
}

}  // namespace quillon
