#include "numerics/simd/exp4.hpp"

#if defined(__x86_64__)

#include <bit>
#include <cstddef>

#include "numerics/simd/exp8.hpp"
#include "numerics/simd/kernels4.hpp"

namespace quillon::avx2 {

using namespace exp_log_tables;

// Arguments for exp: every table entry at both ends and the middle of its
// interval over the whole range the kernels use, the edges of the main path,
// special values and the witnesses of glibc's FMA build.
std::vector<double> exp4_check_inputs() {
  std::vector<double> v;
  const double step = 0.0054152123481245725;  // ln 2 / 128
  for (int k = -137700; k <= 0; k += 37) {
    for (double f : {-0.49, -0.25, 0.0, 0.25, 0.49}) v.push_back(k * step + f * step);
  }
  for (int i = 0; i < 128; ++i) {
    v.push_back(i * step - 0.37);
    v.push_back(-(i * step) + 0.0001);
  }
  for (std::uint64_t bits : {0x3c8fffffffffffffull, 0x3c90000000000000ull, 0x407fffffffffffffull,
                             0x4080000000000000ull, 0x7ff0000000000000ull, 0x7ff8000000000000ull,
                             0x0000000000000001ull, 0x0000000000000000ull}) {
    v.push_back(std::bit_cast<double>(bits));
    v.push_back(-std::bit_cast<double>(bits));
  }
  for (std::uint64_t bits : kExpFmaWitnesses)
    v.push_back(std::bit_cast<double>(bits));
  return v;
}

QUILLON_AVX2 void exp(const double* x, double* out, std::size_t n) {
  apply_to_array<exp4, scalar_exp>(x, out, n);
}

QUILLON_AVX512_KERNEL void exp_wide(const double* x, double* out, std::size_t n) {
  apply_to_array<exp8, scalar_exp>(x, out, n);
}

}  // namespace quillon::avx2

#endif  // __x86_64__
