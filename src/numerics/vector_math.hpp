// exp and log for four doubles at a time (AVX2), bit for bit what glibc's own
// exp and log return on a machine with FMA.
//
// glibc (2.28 and later) computes both with Arm's optimized-routines
// algorithms, and on x86-64 with FMA its ifunc runs variants built with
// -mfma, in which the compiler fused some of the multiply-adds. The routines
// below take the same steps on the same tables (exp_log_tables.hpp), with a
// fused multiply-add exactly where the machine code of glibc 2.36's
// __exp_fma and __log_fma has one and separately rounded operations
// everywhere else; every line follows one statement of the C source of
// math/exp.c and math/log.c. Lanes that those routines send to their rare
// paths (huge, infinite, NaN, subnormal or non-positive arguments) are
// passed to the process's own exp and log, one at a time, so only the main
// paths are replicated.
//
// Whether the replicas agree with the running libm is not assumed: the
// kernels are used only after a start-up check (kernels.cpp).
#pragma once

#if defined(__x86_64__)

#include <immintrin.h>

#include <cmath>
#include <cstdint>

#include "numerics/exp_log_tables.hpp"

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

// exp(x). Main path for 2^-54 <= |x| < 512; below, 1 + x, as glibc rounds.
QUILLON_AVX2_INLINE __m256d exp4(__m256d x) {
  using namespace exp_log_tables;
  // kd = round(x * 128 / ln2), ki its integer bits; fused in glibc's build.
  __m256d kd = _mm256_fmadd_pd(x, broadcast(kExpInvLn2N), broadcast(kExpShift));
  const __m256i ki = _mm256_castpd_si256(kd);
  kd = _mm256_sub_pd(kd, broadcast(kExpShift));
  // r = x - kd ln2/128, in two fused steps.
  __m256d r = _mm256_fmadd_pd(kd, broadcast(kExpNegLn2HiN), x);
  r = _mm256_fmadd_pd(kd, broadcast(kExpNegLn2LoN), r);
  __m256d tail;
  __m256d sbits;
  load_pairs(kExpTable, _mm256_and_si256(ki, broadcast_bits(127)), tail, sbits);
  const __m256d scale =
      _mm256_castsi256_pd(_mm256_add_epi64(_mm256_castpd_si256(sbits), _mm256_slli_epi64(ki, 45)));
  // tmp = tail + r + r2 (C2 + r C3) + r2 r2 (C4 + r C5)
  const __m256d c23 = _mm256_fmadd_pd(r, broadcast(kExpC3), broadcast(kExpC2));
  const __m256d tr = _mm256_add_pd(r, tail);
  const __m256d r2 = _mm256_mul_pd(r, r);
  const __m256d c45 = _mm256_fmadd_pd(r, broadcast(kExpC5), broadcast(kExpC4));
  const __m256d t1 = _mm256_fmadd_pd(c23, r2, tr);
  const __m256d r4 = _mm256_mul_pd(r2, r2);
  const __m256d tmp = _mm256_fmadd_pd(r4, c45, t1);
  __m256d y = _mm256_fmadd_pd(scale, tmp, scale);

  const __m256i abs_bits =
      _mm256_and_si256(_mm256_castpd_si256(x), broadcast_bits(0x7fffffffffffffff));
  const __m256i tiny = _mm256_cmpgt_epi64(broadcast_bits(0x3c90000000000000), abs_bits);
  y = _mm256_blendv_pd(y, _mm256_add_pd(x, broadcast(1.0)), _mm256_castsi256_pd(tiny));
  const __m256i big = _mm256_cmpgt_epi64(abs_bits, broadcast_bits(0x407fffffffffffff));
  const int rare = _mm256_movemask_pd(_mm256_castsi256_pd(big));
  if (__builtin_expect(rare != 0, 0)) return redo_lanes<scalar_exp>(x, y, rare);
  return y;
}

// log(x) for x = 2^k z, z in [0x1.6p-1, 0x1.6p0): the table path.
QUILLON_AVX2_INLINE __m256d log4_table(__m256i ix) {
  using namespace exp_log_tables;
  const __m256i tmp = _mm256_sub_epi64(ix, broadcast_bits(0x3fe6000000000000));
  const __m256i i = _mm256_and_si256(_mm256_srli_epi64(tmp, 45), broadcast_bits(127));
  // k = (int64) tmp >> 52, exact in 32 bits: the high halves shifted by 20.
  const __m256i k_high = _mm256_srai_epi32(tmp, 20);
  const __m128i k32 = _mm256_castsi256_si128(
      _mm256_permutevar8x32_epi32(k_high, _mm256_setr_epi32(1, 3, 5, 7, 1, 3, 5, 7)));
  const __m256d kd = _mm256_cvtepi32_pd(k32);
  const __m256d z = _mm256_castsi256_pd(_mm256_sub_epi64(
      ix, _mm256_and_si256(tmp, broadcast_bits(static_cast<std::int64_t>(0xfff0000000000000ull)))));
  __m256d invc;
  __m256d logc;
  load_pairs(kLogTable, i, invc, logc);
  const __m256d w = _mm256_fmadd_pd(kd, broadcast(kLogLn2Hi), logc);
  const __m256d r = _mm256_fmadd_pd(z, invc, broadcast(-1.0));
  const __m256d a12 = _mm256_fmadd_pd(r, broadcast(kLogA[2]), broadcast(kLogA[1]));
  const __m256d hi = _mm256_add_pd(r, w);
  const __m256d r2 = _mm256_mul_pd(r, r);
  __m256d lo = _mm256_sub_pd(w, hi);
  lo = _mm256_add_pd(lo, r);
  lo = _mm256_fmadd_pd(kd, broadcast(kLogLn2Lo), lo);
  const __m256d r3 = _mm256_mul_pd(r, r2);
  const __m256d a34 = _mm256_fmadd_pd(r, broadcast(kLogA[4]), broadcast(kLogA[3]));
  const __m256d lo2 = _mm256_fmadd_pd(r2, broadcast(kLogA[0]), lo);
  const __m256d p = _mm256_fmadd_pd(a34, r2, a12);
  const __m256d y = _mm256_fmadd_pd(r3, p, lo2);
  return _mm256_add_pd(y, hi);
}

// log(x) for 1 - 2^-4 <= x < 1 + 0x1.09p-4, where the table path would lose
// accuracy: r = x - 1, log1p(r) by the degree-11 polynomial, with r^2 B0
// split so that its leading part is exact.
QUILLON_AVX2_INLINE __m256d log4_near_one(__m256d x) {
  using namespace exp_log_tables;
  const __m256d r = _mm256_sub_pd(x, broadcast(1.0));
  __m256d b21 = _mm256_fmadd_pd(r, broadcast(kLogB[2]), broadcast(kLogB[1]));
  __m256d b54 = _mm256_fmadd_pd(r, broadcast(kLogB[5]), broadcast(kLogB[4]));
  const __m256d r2 = _mm256_mul_pd(r, r);
  const __m256d b87 = _mm256_fmadd_pd(r, broadcast(kLogB[8]), broadcast(kLogB[7]));
  b21 = _mm256_fmadd_pd(r2, broadcast(kLogB[3]), b21);
  b54 = _mm256_fmadd_pd(r2, broadcast(kLogB[6]), b54);
  const __m256d r3 = _mm256_mul_pd(r, r2);
  __m256d p = _mm256_fmadd_pd(r2, broadcast(kLogB[9]), b87);
  p = _mm256_fmadd_pd(r3, broadcast(kLogB[10]), p);
  p = _mm256_fmadd_pd(p, r3, b54);
  p = _mm256_fmadd_pd(p, r3, b21);
  const __m256d two27 = broadcast(0x1p27);
  const __m256d t = _mm256_fmadd_pd(r, two27, r);
  const __m256d rhi = _mm256_fnmadd_pd(two27, r, t);
  const __m256d rr = _mm256_mul_pd(rhi, rhi);
  const __m256d rlo = _mm256_sub_pd(r, rhi);
  const __m256d hi = _mm256_fmadd_pd(rr, broadcast(kLogB[0]), r);
  __m256d lo = _mm256_sub_pd(r, hi);
  const __m256d rs = _mm256_add_pd(r, rhi);
  lo = _mm256_fmadd_pd(rr, broadcast(kLogB[0]), lo);
  const __m256d bl = _mm256_mul_pd(broadcast(kLogB[0]), rlo);
  lo = _mm256_fmadd_pd(bl, rs, lo);
  const __m256d y = _mm256_fmadd_pd(p, r3, lo);
  return _mm256_add_pd(hi, y);
}

// log(x). Subnormal, zero, negative, infinite and NaN lanes go to the scalar log.
QUILLON_AVX2_INLINE __m256d log4(__m256d x) {
  const __m256i ix = _mm256_castpd_si256(x);
  const __m256i d = _mm256_sub_epi64(ix, broadcast_bits(0x3fee000000000000));
  const __m256i near_one =
      _mm256_andnot_si256(_mm256_cmpgt_epi64(_mm256_setzero_si256(), d),
                          _mm256_cmpgt_epi64(broadcast_bits(0x3090000000000), d));
  const int near_mask = _mm256_movemask_pd(_mm256_castsi256_pd(near_one));
  __m256d y;
  if (near_mask == 0) {
    y = log4_table(ix);
  } else if (near_mask == 0xf) {
    y = log4_near_one(x);
  } else {
    y = _mm256_blendv_pd(log4_table(ix), log4_near_one(x), _mm256_castsi256_pd(near_one));
  }
  // As signed integers: below the smallest normal (negatives included), or
  // at least infinity (NaN included).
  const __m256i rare = _mm256_or_si256(_mm256_cmpgt_epi64(broadcast_bits(0x0010000000000000), ix),
                                       _mm256_cmpgt_epi64(ix, broadcast_bits(0x7fefffffffffffff)));
  const int rare_mask = _mm256_movemask_pd(_mm256_castsi256_pd(rare));
  if (__builtin_expect(rare_mask != 0, 0)) return redo_lanes<scalar_log>(x, y, rare_mask);
  return y;
}

}  // namespace quillon::avx2

#endif  // __x86_64__
