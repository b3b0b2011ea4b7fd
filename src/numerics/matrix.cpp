#include "numerics/matrix.hpp"

#include <cassert>

namespace quillon {

Matrix multiply(const Matrix& a, const Matrix& b) {
  assert(a.cols() == b.rows());
  Matrix product(a.rows(), b.cols());
  for (std::size_t r = 0; r < a.rows(); ++r) {
    for (std::size_t c = 0; c < b.cols(); ++c) {
      double sum = 0.0;
      for (std::size_t j = 0; j < a.cols(); ++j) sum = sum + a(r, j) * b(j, c);
      product(r, c) = sum;
    }
  }
  return product;
}

}  // namespace quillon
