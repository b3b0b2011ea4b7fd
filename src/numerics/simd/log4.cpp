#include "numerics/simd/log4.hpp"

#if defined(__x86_64__)

#include <bit>
#include <cstddef>

#include "numerics/simd/kernels4.hpp"
#include "numerics/simd/log8.hpp"

namespace quillon::avx2 {

using namespace exp_log_tables;

// Arguments for log: every table interval in fifteen binades, both sides of
// 1 down to the probability ceiling, the edges of the near-1 path, special
// values and the witnesses of glibc's FMA build.
std::vector<double> log4_check_inputs() {
  std::vector<double> v;
  for (std::int64_t e = -52; e <= 4; e += 4) {
    for (std::uint64_t i = 0; i < 128; ++i) {
      const std::uint64_t bits =
          0x3fe6000000000000ull + (i << 45) + (static_cast<std::uint64_t>(e) << 52);
      v.push_back(std::bit_cast<double>(bits + 1));
      v.push_back(std::bit_cast<double>(bits + (1ull << 44)));
    }
  }
  for (int i = 1; i <= 400; ++i) {
    const double d = std::pow(10.0, -0.035 * i - 1.2);
    v.push_back(1.0 - d);
    v.push_back(1.0 + 0.5 * d);
  }
  for (std::uint64_t bits :
       {0x3fee000000000000ull, 0x3fedffffffffffffull, 0x3ff1090000000000ull, 0x3ff108ffffffffffull,
        0x3ff0000000000000ull, 0x000fffffffffffffull, 0x0010000000000000ull, 0x7fefffffffffffffull,
        0x7ff0000000000000ull, 0x7ff8000000000000ull, 0x0000000000000000ull}) {
    v.push_back(std::bit_cast<double>(bits));
    v.push_back(-std::bit_cast<double>(bits));
  }
  v.push_back(1e-15);
  v.push_back(0.999999999999999);
  for (std::uint64_t bits : kLogFmaWitnesses)
    v.push_back(std::bit_cast<double>(bits));
  return v;
}

QUILLON_AVX2 void log(const double* x, double* out, std::size_t n) {
  apply_to_array<log4, scalar_log>(x, out, n);
}

QUILLON_AVX512_KERNEL void log_wide(const double* x, double* out, std::size_t n) {
  apply_to_array<log8, scalar_log>(x, out, n);
}

}  // namespace quillon::avx2

#endif  // __x86_64__
