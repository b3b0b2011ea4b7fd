#include "partition/partition_sums.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "estimation/covariance.hpp"
#include "numerics/cluster_ids.hpp"
#include "numerics/panic.hpp"

namespace quillon {
namespace {

// The first row of each cluster, in cluster order.
std::vector<std::size_t> first_rows(const ClusterIds& ids) {
  std::vector<std::size_t> first(ids.count);
  std::size_t seen = 0;
  for (std::size_t i = 0; i < ids.of_row.size() && seen < ids.count; ++i) {
    if (ids.of_row[i] == seen) first[seen++] = i;
  }
  return first;
}

// The codes of each cluster (its first row of `clusters`), in cluster order.
Matrix cluster_codes(const ClusterIds& ids, const MatrixView& clusters) {
  Matrix codes(ids.count, clusters.cols);
  const std::vector<std::size_t> first = first_rows(ids);
  for (std::size_t g = 0; g < first.size(); ++g) {
    for (std::size_t c = 0; c < clusters.cols; ++c) codes(g, c) = clusters(first[g], c);
  }
  return codes;
}

}  // namespace

KeyedClusterSums keyed_cluster_sums(const ProbitData& data, const std::vector<double>& beta,
                                    const MatrixView& clusters, const RowWeights& weights) {
  const ClusterIds ids = number_clusters(clusters);
  KeyedClusterSums out;
  out.sums = cluster_score_sums(data, beta, ids, weights);
  out.codes = cluster_codes(ids, clusters);
  return out;
}

std::vector<bool> binary_columns(const MatrixView& exog) {
  const std::vector<std::string> unnamed(exog.cols);
  std::vector<bool> flags(exog.cols, false);
  for (const std::size_t j : find_binary(exog, unnamed, {})) flags[j] = true;
  return flags;
}

namespace {

RegressorKinds part_kinds(std::size_t k, const std::vector<std::string>& names,
                          const std::vector<bool>& binary) {
  if (binary.size() != k) {
    panic(std::to_string(binary.size()) + " binary flags for " + std::to_string(k) +
          " columns");
  }
  std::vector<std::size_t> intercepts = find_intercepts(names);
  std::vector<std::size_t> binary_positions;
  for (std::size_t j = 0; j < binary.size(); ++j) {
    const bool intercept = std::find(intercepts.begin(), intercepts.end(), j) != intercepts.end();
    if (binary[j] && !intercept) binary_positions.push_back(j);
  }
  return regressor_kinds(k, std::move(intercepts), std::move(binary_positions));
}

}  // namespace

EffectSums partition_effect_sums(const std::vector<double>& beta, const MatrixView& exog,
                                 const std::vector<std::string>& names,
                                 const std::vector<bool>& binary, const RowWeights& weights) {
  return effect_sums(beta, exog, part_kinds(exog.cols, names, binary), std::nullopt, weights);
}

}  // namespace quillon
