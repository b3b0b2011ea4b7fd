// The standard normal pdf four observations at a time (AVX2 and FMA, in the
// lane vocabulary of lanes_avx2.hpp), or eight (AVX-512F, lanes_avx512.hpp),
// bit for bit what NormalDistribution{0, 1}.pdf returns one at a time.
//
// Algorithm: exp((-0.5 x) x) / sqrt(2 pi), the scalar form's operations in
// its order, exp by exp4 or exp8; lanes that they hand to the scalar exp are
// the only ones off the vector path. Exact to the scalar form wherever exp4
// is to glibc's exp (see exp4.hpp), so it needs no start-up check of its
// own beyond exp4's and exp8's.
#include <cstddef>

#if defined(__x86_64__)

#include "numerics/normal.hpp"
#include "numerics/simd/exp4.hpp"
#include "numerics/simd/exp8.hpp"
#include "numerics/simd/kernels4.hpp"

namespace quillon::avx2 {

// exp((-0.5 x) x) / sqrt(2 pi)
QUILLON_AVX2 void pdf(const double* x, double* out, std::size_t n) {
  const std::size_t whole = n / 4 * 4;
  for (std::size_t i = 0; i < whole; i += 4) {
    Lanes<4> v;
    load<4>(v, x + i);
    const Lanes<4> arg = (broadcast(-0.5) * v) * v;
    store<4>(out + i, exp4(arg) / broadcast(kSqrtTwoPi));
  }
  for (std::size_t i = whole; i < n; ++i) out[i] = kStandardNormal.pdf(x[i]);
}

QUILLON_AVX512_KERNEL void pdf_wide(const double* x, double* out, std::size_t n) {
  const std::size_t whole = n / 8 * 8;
  for (std::size_t i = 0; i < whole; i += 8) {
    Lanes<8> v;
    load<8>(v, x + i);
    const Lanes<8> arg = (broadcast8(-0.5) * v) * v;
    store<8>(out + i, exp8(arg) / broadcast8(kSqrtTwoPi));
  }
  for (std::size_t i = whole; i < n; ++i) out[i] = kStandardNormal.pdf(x[i]);
}

}  // namespace quillon::avx2

#endif  // __x86_64__
