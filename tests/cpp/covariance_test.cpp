// The covariance kernels against sums formed here, one observation and one
// element at a time in the documented order: every result must have the same
// bits.
#include "estimation/covariance.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "numerics/cluster_keys.hpp"
#include "numerics/invert.hpp"
#include "numerics/normal.hpp"
#include "test_data.hpp"

namespace quillon {
namespace {

using test_data::Design;
using test_data::flat;
using test_data::random_design;
using test_data::same_doubles;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Row i is lambda_i x_i with q = 2y - 1, z = q x'beta and
// lambda = q phi(z) / clip(Phi(z)).
Matrix scores(const Design& d, const std::vector<double>& beta) {
  Matrix s(d.n, d.k);
  for (std::size_t i = 0; i < d.n; ++i) {
    const double* x = d.x.data() + i * d.k;
    double eta = 0.0;
    for (std::size_t j = 0; j < d.k; ++j) eta = eta + x[j] * beta[j];
    const double q = 2.0 * d.y[i] - 1.0;
    const double z = q * eta;
    const double lambda = (q * kStandardNormal.pdf(z)) / clip_probability(kStandardNormal.cdf(z));
    for (std::size_t j = 0; j < d.k; ++j) s(i, j) = x[j] * lambda;
  }
  return s;
}

// sum_i u_i u_i' over the rows u_i, every element summed in row order from 0.0.
Matrix cross_product(const Matrix& rows) {
  const std::size_t k = rows.cols();
  Matrix m(k, k);
  for (std::size_t i = 0; i < rows.rows(); ++i)
    for (std::size_t r = 0; r < k; ++r)
      for (std::size_t c = 0; c < k; ++c) m(r, c) = rows(i, r) * rows(i, c) + m(r, c);
  return m;
}

// Row g sums the score rows of cluster g in observation order from 0.0.
Matrix sums_by_cluster(const Matrix& s, const ClusterIds& ids) {
  Matrix u(ids.count, s.cols());
  for (std::size_t i = 0; i < s.rows(); ++i)
    for (std::size_t j = 0; j < s.cols(); ++j) u(ids.of_row[i], j) = s(i, j) + u(ids.of_row[i], j);
  return u;
}

Matrix square(std::size_t k, const std::vector<double>& values) {
  Matrix m(k, k);
  for (std::size_t i = 0; i < values.size(); ++i) m(i / k, i % k) = values[i];
  return m;
}

TEST(ClassicalCovariance, NegatedInverseOrIdentity) {
  struct Case {
    const char* name;
    std::size_t k;
    std::vector<double> hessian;
    bool inverted;
  };
  const Case cases[] = {
      {"definite", 3, {-4, 1, 0.5, 1, -2, 0.25, 0.5, 0.25, -3}, true},
      // An all-NaN Hessian passes the pivot test; its NaN reaches the caller.
      {"nan", 2, {kNaN, kNaN, kNaN, kNaN}, true},
      {"zero_column", 2, {-1, 0, 0, 0}, false},
      {"below_threshold", 1, {-5e-15}, false},
      {"no_parameters", 0, {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Matrix h = square(c.k, c.hessian);
    CaptureStderr();
    const ClassicalCovariance a = classical_covariance(h);
    EXPECT_EQ(GetCapturedStderr(),
              c.inverted ? "" : "Hessian singular => using identity for Cov\n");
    EXPECT_EQ(a.inverted, c.inverted);
    ASSERT_EQ(a.matrix.rows(), c.k);
    ASSERT_EQ(a.matrix.cols(), c.k);
    std::vector<double> want = flat(Matrix::identity(c.k));
    if (c.inverted) {
      want = flat(*invert_matrix(h.view()));
      for (double& v : want) v = -v;
    }
    EXPECT_PRED2(same_doubles, flat(a.matrix), want);
  }
}

TEST(UsableMaximum, FiniteEstimatesAndPositiveFiniteVariances) {
  struct Case {
    const char* name;
    std::vector<double> params, variances;
    bool inverted, usable;
  };
  const double tiny = std::numeric_limits<double>::denorm_min();
  const Case cases[] = {
      {"usable", {0.5, -2}, {1, 3}, true, true},
      {"tiny_variance", {0.5, -2}, {tiny, 3}, true, true},
      {"no_parameters", {}, {}, true, true},
      {"identity_fallback", {0.5, -2}, {1, 1}, false, false},
      {"nan_estimate", {kNaN, -2}, {1, 3}, true, false},
      {"infinite_estimate", {0.5, -kInf}, {1, 3}, true, false},
      {"zero_variance", {0.5, -2}, {1, 0}, true, false},
      {"negative_variance", {0.5, -2}, {-1, 3}, true, false},
      {"nan_variance", {0.5, -2}, {1, kNaN}, true, false},
      {"infinite_variance", {0.5, -2}, {kInf, 3}, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ClassicalCovariance a{Matrix(c.variances.size(), c.variances.size()), c.inverted};
    for (std::size_t j = 0; j < c.variances.size(); ++j) {
      a.matrix(j, j) = c.variances[j];
      // Off the diagonal anything goes: covariances may be negative or NaN.
      if (j > 0) {
        a.matrix(j - 1, j) = -5.0;
        a.matrix(j, j - 1) = kNaN;
      }
    }
    EXPECT_EQ(usable_maximum(c.params, a), c.usable);
  }
}

// The observations are taken 1024 at a time: sizes on either side of that.
class ScoreSums : public testing::TestWithParam<std::size_t> {
 protected:
  const Design design = random_design(GetParam(), 4, 20261208 + GetParam());
};

TEST_P(ScoreSums, CrossProductSumsOuterProductsInOrder) {
  // The last probes clip probabilities at both ends and make every score NaN.
  for (const std::vector<double>& beta :
       {std::vector<double>{0.4, 0.6, -0.3, 0.2}, {0, 0, 0, 0}, {1, 9, -9, 4}, {kNaN, 0, 0, 0}}) {
    const Matrix m = score_cross_product(design.data(), beta);
    ASSERT_EQ(m.rows(), 4u);
    EXPECT_PRED2(same_doubles, flat(m), flat(cross_product(scores(design, beta))));
  }
}

TEST_P(ScoreSums, OneClusterPerObservationGivesTheRobustMiddle) {
  const std::vector<double> beta{0.4, 0.6, -0.3, 0.2};
  ClusterIds singletons{{}, design.n};
  for (std::size_t i = 0; i < design.n; ++i) singletons.of_row.push_back(i);
  const Matrix sums = cluster_score_sums(design.data(), beta, singletons);
  EXPECT_PRED2(same_doubles, flat(sums), flat(sums_by_cluster(scores(design, beta), singletons)));
  // The sums differ from the scores at most in the sign of a zero, which a
  // running sum from 0.0 cannot tell apart.
  EXPECT_PRED2(same_doubles, flat(cluster_cross_product(sums)),
               flat(score_cross_product(design.data(), beta)));
}

INSTANTIATE_TEST_SUITE_P(Sizes, ScoreSums, testing::Values(0, 1, 1023, 1024, 1025, 2500));

struct ClusterCase {
  const char* name;
  std::size_t cols;
  double (*value)(std::size_t row, std::size_t col);
};

void PrintTo(const ClusterCase& c, std::ostream* os) { *os << c.name; }

class ClusterSums : public testing::TestWithParam<ClusterCase> {};

// Clusters numbered in order of first appearance of their keys, their score
// sums, and the cross product of the sums, each against its own loop here.
TEST_P(ClusterSums, SumInObservationOrderPerClusterOfEqualKeys) {
  const ClusterCase& c = GetParam();
  const std::size_t n = 2500;
  std::vector<double> values;
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < c.cols; ++j) values.push_back(c.value(i, j));
  const MatrixView view{values.data(), n, c.cols, static_cast<std::ptrdiff_t>(c.cols), 1};
  const ClusterIds ids = number_clusters(view);

  std::map<std::string, std::size_t> first_seen;
  std::vector<std::size_t> want_ids;
  for (const std::string& key : build_cluster_keys(view))
    want_ids.push_back(first_seen.try_emplace(key, first_seen.size()).first->second);
  EXPECT_EQ(ids.of_row, want_ids);
  ASSERT_EQ(ids.count, first_seen.size());

  const Design d = random_design(n, 3, 7);
  const std::vector<double> beta{0.4, 0.6, -0.3};
  const Matrix sums = cluster_score_sums(d.data(), beta, ids);
  const Matrix want_sums = sums_by_cluster(scores(d, beta), ids);
  EXPECT_PRED2(same_doubles, flat(sums), flat(want_sums));
  EXPECT_PRED2(same_doubles, flat(cluster_cross_product(sums)), flat(cross_product(want_sums)));
}

INSTANTIATE_TEST_SUITE_P(
    Keys, ClusterSums,
    testing::Values(
        // -0.0 and 0.0 have different keys.
        ClusterCase{"integers", 1,
                    [](std::size_t i, std::size_t) { return i % 5 == 0 ? -0.0 : (i * 7919) % 37; }},
        ClusterCase{"integer_pairs", 2,
                    [](std::size_t i, std::size_t j) { return double((i + j) * 31 % 11); }},
        // 1.00001 and 1.00002 agree to four decimals: one key.
        ClusterCase{"fractions", 1,
                    [](std::size_t i, std::size_t) { return 1.0 + (i * 13 % 6) * 1e-5; }},
        ClusterCase{"one_cluster", 1, [](std::size_t, std::size_t) { return 3.0; }}),
    [](const testing::TestParamInfo<ClusterCase>& info) { return info.param.name; });

// (A M) A, each element summed over the inner index in order from 0.0.
TEST(Sandwich, MiddleTimesOuterThenOuter) {
  const std::size_t k = 4;
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> uniform(-2.0, 2.0);
  Matrix a(k, k), m(k, k);
  for (std::size_t r = 0; r < k; ++r)
    for (std::size_t c = 0; c < k; ++c) {
      a(r, c) = uniform(rng);
      m(r, c) = uniform(rng);
    }
  auto product = [](const Matrix& x, const Matrix& y) {
    Matrix p(x.rows(), y.cols());
    for (std::size_t r = 0; r < x.rows(); ++r)
      for (std::size_t c = 0; c < y.cols(); ++c) {
        double sum = 0.0;
        for (std::size_t l = 0; l < x.cols(); ++l) sum = sum + x(r, l) * y(l, c);
        p(r, c) = sum;
      }
    return p;
  };
  EXPECT_PRED2(same_doubles, flat(sandwich(a, m)), flat(product(product(a, m), a)));
  // With the identity for a singular Hessian, the covariance is M itself.
  EXPECT_PRED2(same_doubles, flat(sandwich(Matrix::identity(k), m)), flat(m));
}

}  // namespace
}  // namespace quillon
