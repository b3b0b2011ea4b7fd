#include "numerics/matrix.hpp"

#include <string>

#include "numerics/panic.hpp"

namespace quillon {

Matrix multiply(const Matrix& a, const Matrix& b) {
  if (a.cols() != b.rows()) {
    panic("cannot multiply a " + std::to_string(a.rows()) + " x " + std::to_string(a.cols()) +
          " matrix by a " + std::to_string(b.rows()) + " x " + std::to_string(b.cols()) + " one");
  }
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
