// What one part of a data set split by rows contributes to a fit and to its
// marginal effects: sums over the part's rows, formed by the same sweeps as
// a fit over all rows, to be added part by part in a fixed order.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "effects/marginal_effects.hpp"
#include "estimation/probit.hpp"
#include "numerics/matrix.hpp"

namespace quillon {

// Per-cluster score sums of a part: one row per cluster in the order in which
// the part's rows first show it, with the cluster's codes (the values of its
// first row, one per column of the codes), so that parts can be merged by
// code.
struct KeyedClusterSums {
  Matrix codes;
  Matrix sums;
};
KeyedClusterSums keyed_cluster_sums(const ProbitData& data, const std::vector<double>& beta,
                                    const MatrixView& clusters,
                                    const RowWeights& weights = std::nullopt);

// For each column of X, whether all its values are exactly 0.0 or 1.0.
std::vector<bool> binary_columns(const MatrixView& exog);

// The marginal-effect sums of the part's rows, all in one chunk, for the
// regressors named `names` whose binary columns (over all parts) are flagged;
// with weights, row i's terms multiplied by weights[i].
EffectSums partition_effect_sums(const std::vector<double>& beta, const MatrixView& exog,
                                 const std::vector<std::string>& names,
                                 const std::vector<bool>& binary,
                                 const RowWeights& weights = std::nullopt);

}  // namespace quillon
