#include "numerics/owned_array.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <vector>

namespace quillon {
namespace {

// Distinct bit patterns, signed zero and a NaN with a payload among them, so
// that a value copied to the wrong place or through arithmetic shows.
std::vector<double> storage() {
  std::vector<double> v(24);
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = 1.0 + 0.125 * static_cast<double>(i);
  v[1] = -0.0;
  v[5] = std::bit_cast<double>(std::uint64_t{0x7ff8'0000'0000'0abc});
  v[6] = std::numeric_limits<double>::infinity();
  return v;
}

bool same_bits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

struct Layout {
  const char* name;
  std::ptrdiff_t first;  // element (0, 0) in the storage
  std::size_t rows, cols;
  std::ptrdiff_t row_stride, col_stride;
  bool kept;  // the copy keeps these strides; otherwise it is row-major
};

void PrintTo(const Layout& c, std::ostream* os) { *os << c.name; }

class CopyMatrix : public testing::TestWithParam<Layout> {};

TEST_P(CopyMatrix, SameBitsInTheSourcesOrderWhenItIsOneBlock) {
  const Layout& c = GetParam();
  const std::vector<double> data = storage();
  const MatrixView source{data.data() + c.first, c.rows, c.cols, c.row_stride, c.col_stride};
  const OwnedArray copy = copy_matrix(source);
  ASSERT_EQ(copy.ndim, 2);
  ASSERT_EQ(copy.values.size(), c.rows * c.cols);
  EXPECT_EQ(copy.strides[0], c.kept ? c.row_stride : static_cast<std::ptrdiff_t>(c.cols));
  EXPECT_EQ(copy.strides[1], c.kept ? c.col_stride : 1);
  const MatrixView view = copy.matrix();
  ASSERT_EQ(view.rows, c.rows);
  ASSERT_EQ(view.cols, c.cols);
  for (std::size_t i = 0; i < c.rows; ++i) {
    for (std::size_t j = 0; j < c.cols; ++j) {
      EXPECT_TRUE(same_bits(view(i, j), source(i, j))) << i << ", " << j;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, CopyMatrix,
                         testing::Values(Layout{"RowMajor", 0, 3, 4, 4, 1, true},
                                         Layout{"ColumnMajor", 0, 3, 4, 1, 3, true},
                                         Layout{"RowsReversed", 8, 3, 4, -4, 1, true},
                                         Layout{"ColumnMajorBothReversed", 11, 3, 4, -1, -3, true},
                                         Layout{"EveryOtherColumn", 0, 3, 2, 4, 2, false},
                                         Layout{"OneColumnOfMany", 2, 3, 1, 4, 1, false},
                                         Layout{"OneRowAnyColumnStride", 3, 1, 4, 99, 1, true},
                                         Layout{"Empty", 0, 0, 4, 4, 1, false}),
                         [](const testing::TestParamInfo<Layout>& info) {
                           return info.param.name;
                         });

TEST(CopyVector, KeepsUnitStridesEitherWayAndGathersOthers) {
  const std::vector<double> data = storage();
  for (const std::ptrdiff_t stride : {1, -1, 3, -2}) {
    const std::ptrdiff_t first = stride > 0 ? 0 : 23;
    const VectorView source{data.data() + first, 7, stride};
    const OwnedArray copy = copy_vector(source);
    ASSERT_EQ(copy.values.size(), 7u) << stride;
    EXPECT_EQ(copy.strides[0], std::abs(stride) == 1 ? stride : 1) << stride;
    const VectorView view = copy.vector();
    ASSERT_EQ(view.size, 7u);
    for (std::size_t i = 0; i < 7; ++i) {
      EXPECT_TRUE(same_bits(view[i], source[i])) << stride << ": " << i;
    }
  }
}

}  // namespace
}  // namespace quillon
