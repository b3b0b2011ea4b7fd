// Columns held apart (a data frame's, one array each) as the rows of one
// new row-major array: the layout the sweeps read in place.
#pragma once

#include <cstddef>
#include <vector>

#include "numerics/matrix.hpp"
#include "numerics/owned_array.hpp"

namespace quillon {

// A rows x columns.size() row-major array whose column j holds columns[j]
// (each of `rows` doubles), bit for bit.
OwnedArray rows_from_columns(const std::vector<VectorView>& columns, std::size_t rows);

}  // namespace quillon
