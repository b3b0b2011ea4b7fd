// Covariance estimators of the probit estimates: classical, robust (HC0)
// and cluster-robust sandwiches, without small-sample factors.
#pragma once

#include <vector>

#include "estimation/probit.hpp"
#include "numerics/cluster_ids.hpp"
#include "numerics/matrix.hpp"

namespace quillon {

// A = -H^-1 for the Hessian H at the estimates: the inverse of the observed
// information. When H has no inverse, a diagnostic goes to standard error
// and A is the identity.
struct ClassicalCovariance {
  Matrix matrix;
  bool inverted = false;  // false when the identity stands in for -H^-1
};
ClassicalCovariance classical_covariance(const Matrix& hessian);

// Whether the estimates are a maximum that can be used: every estimate is
// finite and A = -H^-1 (not the identity) has every variance positive and
// finite. A fit whose log-likelihood settled can still fail this, with NaN
// estimates from NaN data, or with negative variances from a collinear design.
bool usable_maximum(const std::vector<double>& params, const ClassicalCovariance& a);

// How row weights v_i enter the middle factor: frequency weights count row i
// v_i times (M = sum_i v_i s_i s_i', formed from sqrt(v_i) s_i); sampling
// weights scale its score (M = sum_i (v_i s_i)(v_i s_i)').
enum class WeightKind { kFrequency, kSampling };

// M = sum_i s_i s_i' over the per-observation scores s_i = lambda_i x_i,
// with row weights as `kind` says.
Matrix score_cross_product(const ProbitData& data, const std::vector<double>& beta,
                           const RowWeights& weights = std::nullopt,
                           WeightKind kind = WeightKind::kFrequency);

// Per-cluster score sums u_g = sum of s_i (v_i s_i with weights, of either
// kind) over the observations whose key is g, each summed in observation
// order from 0.0; one row per cluster, in the order in which the clusters
// are first seen, so results are reproducible.
Matrix cluster_score_sums(const ProbitData& data, const std::vector<double>& beta,
                          const ClusterIds& clusters, const RowWeights& weights = std::nullopt);

// M = sum_g u_g u_g' over the rows of the cluster sums, in row order.
Matrix cluster_cross_product(const Matrix& sums);

// The cluster-robust middle factor M = sum_g u_g u_g': the rows of
// `clusters` (one per observation) numbered into clusters, then the
// per-cluster score sums and their cross product, as above.
Matrix cluster_robust_middle(const ProbitData& data, const std::vector<double>& beta,
                             const MatrixView& clusters);

// (A M) A.
Matrix sandwich(const Matrix& a, const Matrix& m);

}  // namespace quillon
