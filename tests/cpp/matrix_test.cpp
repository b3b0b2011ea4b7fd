#include "numerics/matrix.hpp"

#include <gtest/gtest.h>

#include "numerics/panic.hpp"

namespace quillon {
namespace {

// A size mismatch would read past the end of b: it must stop the call in
// every build, not only in those that keep assertions.
TEST(Multiply, PanicsWhenTheInnerSizesDiffer) {
  EXPECT_THROW(multiply(Matrix(2, 3), Matrix(2, 3)), Panic);
  EXPECT_THROW(multiply(Matrix(1, 0), Matrix(1, 1)), Panic);
  const Matrix empty_inner = multiply(Matrix(2, 0), Matrix(0, 3));
  EXPECT_EQ(empty_inner.rows(), 2u);
  EXPECT_EQ(empty_inner.cols(), 3u);
  EXPECT_EQ(empty_inner(1, 2), 0.0);
}

}  // namespace
}  // namespace quillon
