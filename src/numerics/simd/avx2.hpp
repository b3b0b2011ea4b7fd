// The vocabulary of the four-lane kernels (exp4, log4, the normal cdf and
// pdf), in AVX2 and FMA intrinsics: broadcasts, table rows gathered by index,
// and lanes handed back to the scalar function. Built on x86-64 only.
#pragma once

#if defined(__x86_64__)

#include <immintrin.h>

#include <cmath>
#include <cstdint>

#define QUILLON_AVX2 __attribute__((target("avx2,fma")))
#define QUILLON_AVX2_INLINE __attribute__((target("avx2,fma"), always_inline)) inline

namespace quillon::avx2 {

QUILLON_AVX2_INLINE __m256d broadcast(double v) { return _mm256_set1_pd(v); }
QUILLON_AVX2_INLINE __m256i broadcast_bits(std::int64_t v) { return _mm256_set1_epi64x(v); }

// Lanes whose mask is set are recomputed with the scalar function f.
template <double (*f)(double)>
QUILLON_AVX2_INLINE __m256d redo_lanes(__m256d x, __m256d result, int mask) {
  alignas(32) double in[4];
  alignas(32) double out[4];
  _mm256_store_pd(in, x);
  _mm256_store_pd(out, result);
  for (int lane = 0; lane < 4; ++lane) {
    if ((mask >> lane) & 1) out[lane] = f(in[lane]);
  }
  return _mm256_load_pd(out);
}

inline double scalar_exp(double x) { return std::exp(x); }
inline double scalar_log(double x) { return std::log(x); }

// Table rows i[0..3] of a table of pairs: lo = first of each pair, hi = second.
QUILLON_AVX2_INLINE void load_pairs(const void* table, __m256i i, __m256d& lo, __m256d& hi) {
  alignas(32) std::int64_t idx[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(idx), i);
  const auto* pairs = static_cast<const __m128d*>(table);
  const __m256d a = _mm256_insertf128_pd(
      _mm256_castpd128_pd256(_mm_load_pd(reinterpret_cast<const double*>(pairs + idx[0]))),
      _mm_load_pd(reinterpret_cast<const double*>(pairs + idx[2])), 1);
  const __m256d b = _mm256_insertf128_pd(
      _mm256_castpd128_pd256(_mm_load_pd(reinterpret_cast<const double*>(pairs + idx[1]))),
      _mm_load_pd(reinterpret_cast<const double*>(pairs + idx[3])), 1);
  lo = _mm256_unpacklo_pd(a, b);
  hi = _mm256_unpackhi_pd(a, b);
}

}  // namespace quillon::avx2

#endif  // __x86_64__
