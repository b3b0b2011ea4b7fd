// Dense matrix inversion by Gauss-Jordan elimination with partial pivoting.
#pragma once

#include <optional>

#include "numerics/matrix.hpp"

namespace quillon {

// Pivots whose absolute value falls below this are treated as zero. The
// threshold is absolute: it does not scale with the size or norm of the input.
inline constexpr double kSingularPivot = 1e-14;

// The inverse of a square matrix, or nothing when the input is not square or
// a pivot falls below kSingularPivot. The input is only read; any strides.
std::optional<Matrix> invert_matrix(const MatrixView& a);

}  // namespace quillon
