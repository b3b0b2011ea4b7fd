// The clusters of a cluster-robust fit, numbered in order of first appearance.
#pragma once

#include <cstddef>
#include <vector>

#include "numerics/interrupt.hpp"
#include "numerics/matrix.hpp"

namespace quillon {

struct ClusterIds {
  std::vector<std::size_t> of_row;  // cluster of each row, 0 ... count - 1
  std::size_t count = 0;
};

// Two rows share a cluster exactly when their keys (cluster_keys.hpp) are
// equal; clusters are numbered in the order in which they are first seen.
// Each pass over the rows asks `interrupt` every kRowsPerPoll rows whether
// to stop.
ClusterIds number_clusters(const MatrixView& clusters, const InterruptPoll& interrupt = {});

}  // namespace quillon
