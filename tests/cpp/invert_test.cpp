#include "numerics/invert.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace quillon {
namespace {

struct InvertCase {
  std::string name;
  std::size_t rows, cols;
  std::vector<double> a;                       // row-major
  std::optional<std::vector<double>> inverse;  // nullopt: no inverse expected
};

void PrintTo(const InvertCase& c, std::ostream* os) { *os << c.name; }

MatrixView row_major(const std::vector<double>& a, std::size_t rows, std::size_t cols) {
  return {a.data(), rows, cols, static_cast<std::ptrdiff_t>(cols), 1};
}

class InvertTable : public testing::TestWithParam<InvertCase> {};

TEST_P(InvertTable, InverseOrNothing) {
  const InvertCase& c = GetParam();
  const std::vector<double> before = c.a;
  const std::optional<Matrix> inv = invert_matrix(row_major(c.a, c.rows, c.cols));
  EXPECT_EQ(c.a, before);  // the input is only read
  ASSERT_EQ(inv.has_value(), c.inverse.has_value());
  if (!inv) return;
  ASSERT_EQ(inv->rows(), c.rows);
  ASSERT_EQ(inv->cols(), c.cols);
  for (std::size_t i = 0; i < c.rows; ++i)
    for (std::size_t j = 0; j < c.cols; ++j) {
      const double want = (*c.inverse)[i * c.cols + j];
      EXPECT_NEAR((*inv)(i, j), want, 1e-12 * std::fabs(want) + 1e-13) << i << "," << j;
    }
}

const double kNoPivot = 1.0 / (1.0 - 1e-20);  // [[1e-20, 1], [1, 1]]^-1 scale

INSTANTIATE_TEST_SUITE_P(
    Cases, InvertTable,
    testing::Values(
        InvertCase{"empty", 0, 0, {}, std::vector<double>{}},
        InvertCase{"scalar", 1, 1, {4.0}, std::vector<double>{0.25}},
        InvertCase{"scalar_at_threshold", 1, 1, {-1e-14}, std::vector<double>{-1e14}},
        InvertCase{"scalar_below_threshold", 1, 1, {5e-15}, std::nullopt},
        InvertCase{"negative_scalar_below_threshold", 1, 1, {-5e-15}, std::nullopt},
        InvertCase{"wide", 2, 3, {1, 0, 0, 0, 1, 0}, std::nullopt},
        InvertCase{"tall", 3, 2, {1, 0, 0, 1, 0, 0}, std::nullopt},
        InvertCase{"swap", 2, 2, {0, 1, 1, 0}, std::vector<double>{0, 1, 1, 0}},
        InvertCase{"rank_one", 2, 2, {1, 2, 2, 4}, std::nullopt},
        // Perfectly conditioned, but the threshold is absolute.
        InvertCase{"tiny_scale", 2, 2, {2e-15, 1e-15, 1e-15, 3e-15}, std::nullopt},
        InvertCase{"small_pivot", 2, 2, {2e-14, 0, 0, 1}, std::vector<double>{5e13, 0, 0, 1}},
        // Without row exchanges the first pivot would be 1e-20.
        InvertCase{"needs_pivoting",
                   2,
                   2,
                   {1e-20, 1, 1, 1},
                   std::vector<double>{-kNoPivot, kNoPivot, kNoPivot, -1e-20 * kNoPivot}},
        InvertCase{"permutation",
                   3,
                   3,
                   {0, 1, 0, 0, 0, 1, 1, 0, 0},
                   std::vector<double>{0, 0, 1, 1, 0, 0, 0, 1, 0}},
        InvertCase{"integer_3x3",
                   3,
                   3,
                   {1, 2, 3, 0, 1, 4, 5, 6, 0},
                   std::vector<double>{-24, 18, 5, 20, -15, -4, -5, 4, 1}}),
    [](const testing::TestParamInfo<InvertCase>& info) { return info.param.name; });

// Rows 0 and 1 tie for the first pivot. Taking row 0: row 0 becomes
// [1, 1/3 | 1/3, 0], row 1 becomes [0, 4 | 1, 1] (fl(1/3) * 3 rounds to 1),
// and back substitution leaves -(1/3) / 4, which is exactly fl(-1/12). Taking
// row 1 instead would give -0.08333333333333331.
TEST(InvertMatrix, TiedPivotKeepsTheFirstRow) {
  const std::vector<double> a{3, 1, -3, 3};
  const auto inv = invert_matrix(row_major(a, 2, 2));
  ASSERT_TRUE(inv);
  EXPECT_EQ((*inv)(0, 0), 0.25);
  EXPECT_EQ((*inv)(0, 1), -1.0 / 12.0);
  EXPECT_EQ((*inv)(1, 0), 0.25);
  EXPECT_EQ((*inv)(1, 1), 0.25);
}

TEST(InvertMatrix, NaNPropagatesInsteadOfFailing) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const std::vector<double>& a :
       {std::vector<double>{nan, 1, 1, 1}, std::vector<double>{1, 2, 3, nan},
        std::vector<double>{1, nan, 0, 1}}) {
    const auto inv = invert_matrix(row_major(a, 2, 2));
    ASSERT_TRUE(inv);
    EXPECT_TRUE(std::isnan((*inv)(0, 0)) || std::isnan((*inv)(0, 1)));
  }
}

// The same 3x3 matrix read through column-major and reversed-axis views
// inverts to the same bits as through the row-major one.
TEST(InvertMatrix, StridesDoNotChangeTheResult) {
  const std::vector<double> a{4, -2, 1, 3, 6, -4, 2, 1, 8};
  std::vector<double> col_major(9), reversed(a.rbegin(), a.rend());
  for (std::size_t i = 0; i < 3; ++i)
    for (std::size_t j = 0; j < 3; ++j) col_major[j * 3 + i] = a[i * 3 + j];
  const auto expected = invert_matrix(row_major(a, 3, 3));
  ASSERT_TRUE(expected);
  for (const MatrixView& v :
       {MatrixView{col_major.data(), 3, 3, 1, 3}, MatrixView{reversed.data() + 8, 3, 3, -3, -1}}) {
    const auto inv = invert_matrix(v);
    ASSERT_TRUE(inv);
    for (std::size_t i = 0; i < 3; ++i)
      for (std::size_t j = 0; j < 3; ++j) EXPECT_EQ((*inv)(i, j), (*expected)(i, j));
  }
}

}  // namespace
}  // namespace quillon
