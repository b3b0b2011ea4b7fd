#include "numerics/normal.hpp"
#include "test_data.hpp"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace quillon {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

using test_data::read_csv;

// |actual - expected| within rel * |expected|, plus a few subnormal steps for
// results that have underflowed into the subnormal range.
void expect_close(double actual, double expected, double rel, const std::string& what) {
  EXPECT_LE(std::fabs(actual - expected), rel * std::fabs(expected) + 1e-320)
      << what << ": got " << actual << ", exact " << expected;
}

// mpmath values on both sides of every piece edge, inside every piece and far
// past the last one; negative arguments exercise the reflections.
TEST(ErfImpl, MatchesHighPrecisionReference) {
  const auto rows = read_csv("erf_reference.csv");
  ASSERT_GT(rows.size(), 200u);
  for (const auto& r : rows) {
    const double z = r[0];
    const double rel = std::fabs(z) < 0.5 ? 1e-15 : 2e-10;
    const std::string at = "z = " + std::to_string(z);
    expect_close(erf_impl(z, false), r[1], rel, "erf at " + at);
    expect_close(erf_impl(z, true), r[2], rel, "erfc at " + at);
  }
}

TEST(NormalDistribution, MatchesHighPrecisionReference) {
  const auto rows = read_csv("normal_reference.csv");
  ASSERT_GT(rows.size(), 20u);
  for (const auto& r : rows) {
    const NormalDistribution normal{r[0], r[1]};
    const std::string at = "x = " + std::to_string(r[2]) + " mean " + std::to_string(r[0]);
    expect_close(normal.pdf(r[2]), r[3], 1e-12, "pdf at " + at);
    expect_close(normal.cdf(r[2]), r[4], 2e-10, "cdf at " + at);
  }
}

TEST(NormalDistribution, ExactValuesAtSpecialPoints) {
  const NormalDistribution n{0.0, 1.0};
  EXPECT_EQ(n.cdf(0.0), 0.5);
  EXPECT_EQ(n.cdf(kInf), 1.0);
  EXPECT_EQ(n.cdf(-kInf), 0.0);
  EXPECT_TRUE(std::isnan(n.cdf(kNaN)));
  EXPECT_EQ(n.pdf(0.0), 1.0 / 2.5066282746310007);
  EXPECT_EQ(n.pdf(kInf), 0.0);
  EXPECT_EQ(n.pdf(-kInf), 0.0);
  EXPECT_TRUE(std::isnan(n.pdf(kNaN)));
  // The last piece ends at 110, where erfc is exactly zero.
  EXPECT_EQ(erf_impl(110.0, true), 0.0);
  EXPECT_EQ(erf_impl(-110.0, true), 2.0);
  EXPECT_EQ(erf_impl(1e300, false), 1.0);
  EXPECT_EQ(erf_impl(-1e300, true), 2.0);
}

// Phi(x) rounds to 1 once 1 - Phi(x) <= 2^-54, which happens at x = 8.2924,
// and to 0 once Phi(x) <= 2^-1075, at x = -38.4854 (both by mpmath).
TEST(NormalDistribution, TailsSaturateExactly) {
  const NormalDistribution n{0.0, 1.0};
  for (double x : {8.3, 9.0, 40.0, 1e300, std::numeric_limits<double>::max()})
    EXPECT_EQ(n.cdf(x), 1.0) << x;
  for (double x : {-38.6, -40.0, -1e300, -std::numeric_limits<double>::max()})
    EXPECT_EQ(n.cdf(x), 0.0) << x;
  EXPECT_LT(n.cdf(8.28), 1.0);
  EXPECT_GT(n.cdf(-38.0), 0.0);
}

TEST(NormalDistribution, CdfIsSymmetric) {
  const NormalDistribution n{0.0, 1.0};
  for (double x : {1e-12, 0.3, 0.7071, 0.75, 1.1, 2.0, 3.3, 5.0, 7.9, 12.0, 30.0})
    EXPECT_NEAR(n.cdf(x) + n.cdf(-x), 1.0, 2 * std::numeric_limits<double>::epsilon()) << x;
}

}  // namespace
}  // namespace quillon
