// The checks a design needs before it is fitted, in one read of its arrays:
// whether every value is finite, how the outcome splits, and which columns
// hold one nonzero value throughout.
#pragma once

#include <cstddef>
#include <vector>

#include "numerics/matrix.hpp"

namespace quillon {

struct DesignScreen {
  bool finite = true;        // no NaN or infinity in the outcome or the regressors
  std::size_t ones = 0;      // outcomes equal to 1.0
  std::size_t outside = 0;   // outcomes neither 0.0 nor 1.0, NaN among them
  std::vector<bool> constant;  // the column repeats a finite, nonzero first value
};

DesignScreen screen_design(const VectorView& endog, const MatrixView& exog);

}  // namespace quillon
