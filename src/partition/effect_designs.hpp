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

// A design that differs from X in a few columns: row i is X's, with
// the columns at `positions` taken from row i of `columns` (n x m); without
// `columns`, X itself. A variable's designs differ from X only in the
// columns of the terms it enters, so only those are built and passed.
struct ColumnsOver {
  MatrixView exog;
  std::optional<MatrixView> columns;
  std::vector<std::size_t> positions;
};

// The sums of several effects over the same rows, asked at once: the slope
// of each derivative design in `slopes`, and the contrast of each pair of
// `designs` in `contrasts` (high and low by their place among the designs;
// no low: the average prediction of the high one), every design over `exog`.
// A pass reads each row of X once for all the effects, and forms each
// design's linear index once however many contrasts read it.
struct SlopeDesign {
  MatrixView derivative;  // n x m: the derivative at the positions
  std::vector<std::size_t> positions;
};
struct ContrastPair {
  std::size_t high;
  std::optional<std::size_t> low;
};
struct EffectRequests {
  std::vector<ColumnsOver> designs;
  std::vector<SlopeDesign> slopes;
  std::vector<ContrastPair> contrasts;
};

// The slopes' sums, then the contrasts', in the order asked; each is the
// same bits as slope_sums or contrast_sums on its own.
std::vector<GroupedEffectSums> joint_sums(const MatrixView& exog, const EffectRequests& requests,
                                          const std::vector<double>& beta,
                                          const GroupCodes& groups, std::size_t n_groups,
                                          bool relative = false,
                                          const RowWeights& weights = std::nullopt);

// Sums of phi(x b) (d b) and of phi(x b) (d - (x b)(d b) x), x the row of X
// and d that of D = dx/dv, which is zero but at `positions`, where it is
// `derivative` (n x m). With `relative`, of the change of log P instead:
// lambda (d b) and lambda (d - (x b + lambda)(d b) x), lambda = phi / Phi.
GroupedEffectSums slope_sums(const MatrixView& exog, const MatrixView& derivative,
                             const std::vector<std::size_t>& positions,
                             const std::vector<double>& beta, const GroupCodes& groups,
                             std::size_t n_groups, bool relative = false,
                             const RowWeights& weights = std::nullopt);

// Sums of Phi(x1 b) - Phi(x0 b) and of phi(x1 b) x1 - phi(x0 b) x0; without
// `low`, of Phi(x1 b) and phi(x1 b) x1 (the average prediction). With
// `relative`, of log Phi(x1 b) - log Phi(x0 b) and lambda1 x1 - lambda0 x0.
GroupedEffectSums contrast_sums(const ColumnsOver& high, const std::optional<ColumnsOver>& low,
                                const std::vector<double>& beta, const GroupCodes& groups,
                                std::size_t n_groups, bool relative = false,
                                const RowWeights& weights = std::nullopt);

// Per column: the sum, the least and the greatest value, and whether every
// value is a whole number.
struct ColumnSummary {
  std::vector<double> sums, mins, maxs;
  std::vector<bool> whole;
};
ColumnSummary column_summary(const MatrixView& exog);

// Per column, the median (the mean of the two middle values of an even
// count), as NumPy's median takes it.
std::vector<double> column_medians(const MatrixView& exog);

}  // namespace quillon
