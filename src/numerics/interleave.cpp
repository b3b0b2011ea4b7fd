#include "numerics/interleave.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>

#include "numerics/simd/code_paths.hpp"
#include "numerics/simd/lanes.hpp"

namespace quillon {
namespace {

// Rows a block at a time, so that the lines of every column and of the
// output stay in the cache between the block's columns.
constexpr std::size_t kBlockRows = 256;
// NaN and the infinities are the doubles whose exponent bits are all set.
constexpr std::uint64_t kExponent = 0x7ff0000000000000;

using Lanes4 = simd::Lanes<4>;
using Mask4 = simd::Mask<4>;

const double* contiguous(const VectorView& v) {
  const auto address = reinterpret_cast<std::uintptr_t>(v.bytes);
  return v.step == kDoubleBytes && address % alignof(double) == 0
             ? reinterpret_cast<const double*>(v.bytes)
             : nullptr;
}

// What one column's values so far say: one of them is NaN or infinite;
// one differs from the column's first value. Vector lanes hold different
// rows of the same column; flags are or-ed, so their order is free.
struct Flags4 {
  Mask4 not_finite = {};
  Mask4 differs = {};
  [[gnu::always_inline]] void add(const Lanes4& v, const Lanes4& first) {
    const Mask4 exponent = {kExponent, kExponent, kExponent, kExponent};
    not_finite |= (Mask4)(((Mask4)v & exponent) == exponent);
    differs |= (Mask4)(v != first);
  }
  [[gnu::always_inline]] void into(ColumnFlags& flags) const {
    for (std::size_t r = 0; r < 4; ++r) {
      flags.not_finite = flags.not_finite || not_finite[r] != 0;
      flags.differs = flags.differs || differs[r] != 0;
    }
  }
};

inline void add_value(double x, double first, ColumnFlags& flags) {
  flags.not_finite = flags.not_finite || (std::bit_cast<std::uint64_t>(x) & kExponent) == kExponent;
  flags.differs = flags.differs || x != first;
}

// Columns j .. j + 3, all contiguous, over rows [first, end): four rows of
// the four read along the columns and turned into four rows in registers.
[[gnu::always_inline]] inline void four_columns(const double* const (&c)[4], std::size_t first,
                                                std::size_t end, double* out, std::size_t k,
                                                std::size_t j, ColumnFlags* flags) {
  Flags4 seen[4];
  const Lanes4 zero = {};
  const Lanes4 head[4] = {zero + c[0][0], zero + c[1][0], zero + c[2][0], zero + c[3][0]};
  std::size_t i = first;
  for (; i + 4 <= end; i += 4) {
    Lanes4 v[4];
    simd::columns_to_rows(c, i, out + i * k + j, k, v);
    for (std::size_t t = 0; t < 4; ++t) seen[t].add(v[t], head[t]);
  }
  for (std::size_t t = 0; t < 4; ++t) seen[t].into(flags[j + t]);
  for (; i < end; ++i) {
    for (std::size_t t = 0; t < 4; ++t) {
      out[i * k + j + t] = c[t][i];
      add_value(c[t][i], c[t][0], flags[j + t]);
    }
  }
}

// One column, over rows [first, end): read four rows at a time where it is
// contiguous.
[[gnu::always_inline]] inline void one_column(const VectorView& column, const double* flat,
                                              std::size_t first, std::size_t end, double* out,
                                              std::size_t k, std::size_t j, ColumnFlags& flags) {
  const double head = column[0];
  std::size_t i = first;
  if (flat != nullptr) {
    Flags4 seen;
    const Lanes4 zero = {};
    const Lanes4 heads = zero + head;
    for (; i + 4 <= end; i += 4) {
      Lanes4 v;
      simd::load<4>(v, flat + i);
      seen.add(v, heads);
      for (std::size_t r = 0; r < 4; ++r) out[(i + r) * k + j] = v[r];
    }
    seen.into(flags);
  }
  for (; i < end; ++i) {
    const double x = column[i];
    out[i * k + j] = x;
    add_value(x, head, flags);
  }
}

// The rows [first, end) of every column into out, and their flags. A copy:
// the same bits on every vector unit, compiled for each.
[[gnu::always_inline]] inline void block_of_rows(const std::vector<VectorView>& columns,
                                                 const std::vector<const double*>& flat,
                                                 std::size_t first, std::size_t end,
                                                 double* out, ColumnFlags* flags) {
  const std::size_t k = columns.size();
  std::size_t j = 0;
  for (; j + 4 <= k && std::all_of(flat.begin() + j, flat.begin() + j + 4,
                                   [](const double* c) { return c != nullptr; });
       j += 4) {
    const double* const c[4] = {flat[j], flat[j + 1], flat[j + 2], flat[j + 3]};
    four_columns(c, first, end, out, k, j, flags);
  }
  for (; j < k; ++j) one_column(columns[j], flat[j], first, end, out, k, j, flags[j]);
}
QUILLON_FOR_EACH_UNIT(block_of_rows_on_unit,
                      (const std::vector<VectorView>& columns,
                       const std::vector<const double*>& flat, std::size_t first,
                       std::size_t end, double* out, ColumnFlags* flags),
                      block_of_rows, (columns, flat, first, end, out, flags))

}  // namespace

LaidRows rows_from_columns(const std::vector<VectorView>& columns, std::size_t rows) {
  const std::size_t k = columns.size();
  LaidRows laid;
  OwnedArray& array = laid.array;
  array.ndim = 2;
  array.extents[0] = rows;
  array.extents[1] = k;
  array.strides[0] = static_cast<std::ptrdiff_t>(k);
  array.strides[1] = 1;
  array.values.resize(rows * k);
  laid.flags.assign(k, ColumnFlags{});
  double* out = array.values.data();
  std::vector<const double*> flat(k);
  for (std::size_t j = 0; j < k; ++j) flat[j] = contiguous(columns[j]);
  for (std::size_t first = 0; first < rows; first += kBlockRows) {
    const std::size_t end = std::min(rows, first + kBlockRows);
    block_of_rows_on_unit(columns, flat, first, end, out, laid.flags.data());
  }
  return laid;
}

}  // namespace quillon
