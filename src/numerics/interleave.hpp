// Columns held apart (a data frame's, one array each) as the rows of one
// new row-major array, the layout the sweeps read in place, with the checks
// of a design's values made in the same read.
#pragma once

#include <cstddef>
#include <vector>

#include "numerics/matrix.hpp"
#include "numerics/owned_array.hpp"

namespace quillon {

// What a column's values say: one is NaN or infinite; one differs from the
// first (NaN included).
struct ColumnFlags {
  bool not_finite = false;
  bool differs = false;
};

struct LaidRows {
  OwnedArray array;
  std::vector<ColumnFlags> flags;  // one per column
};

// A rows x columns.size() row-major array whose column j holds columns[j]
// (each of `rows` doubles), bit for bit, and each column's flags.
LaidRows rows_from_columns(const std::vector<VectorView>& columns, std::size_t rows);

}  // namespace quillon
