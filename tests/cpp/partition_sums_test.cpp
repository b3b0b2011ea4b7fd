// One part's sums against the engine's sums over all rows: the same bits
// when the part holds every row, and merged per-cluster sums that follow the
// clusters' first appearance.
#include "partition/partition_sums.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "estimation/covariance.hpp"
#include "numerics/cluster_ids.hpp"
#include "test_data.hpp"

namespace quillon {
namespace {

using test_data::random_design;

const std::vector<double> kBeta = {0.3, 0.4, -0.2, 0.5, 0.1};

TEST(PartitionSums, WholeDataGiveTheEngineEffects) {
  const auto d = random_design(700, 5, 21);
  const MatrixView x = d.data().exog;
  const std::vector<std::string> names = {"const", "a", "b", "c", "d"};
  const std::vector<bool> binary = binary_columns(x);
  EXPECT_EQ(binary, (std::vector<bool>{true, false, true, false, true}));
  const Matrix cov = Matrix::identity(5);
  const MarginalEffects whole = average_marginal_effects(
      {kBeta.data(), kBeta.size(), 1}, cov.view(), x, names, std::nullopt);
  const MarginalEffects part = effects_from_sums(partition_effect_sums(kBeta, x, names, binary),
                                                 d.n, cov.view(), find_intercepts(names));
  EXPECT_EQ(part.effects, whole.effects);
  EXPECT_EQ(part.std_errors, whole.std_errors);
}

TEST(PartitionSums, ClusterCodesInFirstSeenOrderWithTheEngineSums) {
  const auto d = random_design(300, 5, 4);
  std::vector<double> groups(d.n);
  for (std::size_t i = 0; i < d.n; ++i) groups[i] = static_cast<double>((d.n - i) % 7) + 0.5;
  const MatrixView g{groups.data(), d.n, 1, 1, 1};
  const KeyedClusterSums keyed = keyed_cluster_sums(d.data(), kBeta, g);
  ASSERT_EQ(keyed.codes.rows(), 7u);
  ASSERT_EQ(keyed.codes.cols(), 1u);
  EXPECT_EQ(keyed.codes(0, 0), 6.5);
  EXPECT_EQ(keyed.codes(1, 0), 5.5);
  const Matrix engine = cluster_score_sums(d.data(), kBeta, number_clusters(g));
  for (std::size_t r = 0; r < 7; ++r) {
    for (std::size_t c = 0; c < 5; ++c) EXPECT_EQ(keyed.sums(r, c), engine(r, c));
  }
}

}  // namespace
}  // namespace quillon
