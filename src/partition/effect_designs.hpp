// The sums behind the effects of variables, over one part's rows, by group:
// the slope sums of a derivative design D = dx/dv and the contrast sums of a
// counterfactual pair of designs (X1, X0). Each group's sums are added row
// by row in row order, so a part gives the same bits however it is run.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "numerics/matrix.hpp"

namespace quillon {

// G effect sums and G x k Jacobian sums (row-major).
struct GroupedEffectSums {
  std::vector<double> effects;
  Matrix jacobian;
};

// Row i belongs to group groups[i] (0 <= code < n_groups), or to group 0
// when there are no groups.
using GroupCodes = std::optional<VectorView>;

// Sums of phi(x b) (d b) and of phi(x b) (d - (x b)(d b) x), d the row of D.
GroupedEffectSums slope_sums(const MatrixView& exog, const MatrixView& derivative,
                             const std::vector<double>& beta, const GroupCodes& groups,
                             std::size_t n_groups);

// Sums of Phi(x1 b) - Phi(x0 b) and of phi(x1 b) x1 - phi(x0 b) x0; without
// `low`, of Phi(x1 b) and phi(x1 b) x1 (the average prediction).
GroupedEffectSums contrast_sums(const MatrixView& high, const std::optional<MatrixView>& low,
                                const std::vector<double>& beta, const GroupCodes& groups,
                                std::size_t n_groups);

}  // namespace quillon
