// Text keys whose byte equality defines the clusters of a cluster-robust fit.
#pragma once

#include <string>
#include <vector>

#include "numerics/interrupt.hpp"
#include "numerics/matrix.hpp"

namespace quillon {

// Appends one value as fixed-point text with four decimals, rounded from the
// exact binary value with ties to even, never with an exponent, always with
// a full stop as decimal point; "-0.0000" for negative zero, "NaN", "inf",
// "-inf" for the special values.
void append_cluster_value(std::string& key, double value);

// One key per row: the rendered values of the row joined by '|'. Asks
// `interrupt` every kRowsPerPoll rows whether to stop.
std::vector<std::string> build_cluster_keys(const MatrixView& clusters,
                                            const InterruptPoll& interrupt = {});

}  // namespace quillon
