// The x86-64 part of the lane vocabulary (lanes.hpp), for the four-lane
// kernels (exp4, log4, the normal cdf and pdf): Lanes<4> and Bits<4> by
// value, and the operations that GCC's vector operators do not spell as one
// AVX2 or FMA instruction: broadcasts, fused multiply-adds (for the kernels
// that reproduce a glibc routine with one at that step, and nowhere else),
// quiet comparisons to masks (no flag for NaN), blends, a mask's lanes as
// bits, signed comparisons and shifts of the integer lanes, conversions,
// gathers of table pairs, and lanes handed back to the scalar function.
// Everything else is written with the vector operators (+ - * / on
// Lanes<4>; + - & | ^ ~ << >> on Bits<4>, which are unsigned: wrapping
// arithmetic, logical shifts), the same single instructions under
// -ffp-contract=off. __m256d is Lanes<4>'s very type and __m256i differs
// from Bits<4> only in signedness, so nothing is copied between them. Every
// helper is inlined into functions compiled for AVX2 and FMA (QUILLON_AVX2),
// the only calls through which vectors pass by value. x86-64 only.
#pragma once

#if defined(__x86_64__)

#include <immintrin.h>

#include <cmath>
#include <cstdint>

#include "numerics/simd/lanes.hpp"

#define QUILLON_AVX2 __attribute__((target("avx2,fma")))
#define QUILLON_AVX2_INLINE __attribute__((target("avx2,fma"), always_inline)) inline

namespace quillon::simd {

QUILLON_AVX2_INLINE Lanes<4> broadcast(double v) { return _mm256_set1_pd(v); }
QUILLON_AVX2_INLINE Bits<4> broadcast_bits(std::uint64_t v) {
  return (Bits<4>)_mm256_set1_epi64x(static_cast<std::int64_t>(v));
}

// The same 256 bits seen as doubles or as 64-bit integers.
QUILLON_AVX2_INLINE Bits<4> as_bits(Lanes<4> v) { return (Bits<4>)_mm256_castpd_si256(v); }
QUILLON_AVX2_INLINE Lanes<4> as_lanes(Bits<4> v) { return _mm256_castsi256_pd((__m256i)v); }

// a b + c and c - a b, each rounded once.
QUILLON_AVX2_INLINE Lanes<4> fmadd(Lanes<4> a, Lanes<4> b, Lanes<4> c) {
  return _mm256_fmadd_pd(a, b, c);
}
QUILLON_AVX2_INLINE Lanes<4> fnmadd(Lanes<4> a, Lanes<4> b, Lanes<4> c) {
  return _mm256_fnmadd_pd(a, b, c);
}

// Masks: all ones in the lanes where the comparison holds. Quiet: NaN
// compares unordered without raising a flag.
QUILLON_AVX2_INLINE Mask<4> less(Lanes<4> a, Lanes<4> b) {
  return (Mask<4>)_mm256_castpd_si256(_mm256_cmp_pd(a, b, _CMP_LT_OQ));
}
QUILLON_AVX2_INLINE Mask<4> not_less(Lanes<4> a, Lanes<4> b) {  // NaN included
  return (Mask<4>)_mm256_castpd_si256(_mm256_cmp_pd(a, b, _CMP_NLT_UQ));
}
QUILLON_AVX2_INLINE Mask<4> equal(Lanes<4> a, Lanes<4> b) {
  return (Mask<4>)_mm256_castpd_si256(_mm256_cmp_pd(a, b, _CMP_EQ_OQ));
}
// a > b, the lanes compared as signed 64-bit integers.
QUILLON_AVX2_INLINE Mask<4> greater(Bits<4> a, Bits<4> b) {
  return (Mask<4>)_mm256_cmpgt_epi64((__m256i)a, (__m256i)b);
}

// Lane by lane, `if_set` where the mask is set and `otherwise` elsewhere.
QUILLON_AVX2_INLINE Lanes<4> select(Mask<4> m, Lanes<4> if_set, Lanes<4> otherwise) {
  return _mm256_blendv_pd(otherwise, if_set, _mm256_castsi256_pd((__m256i)m));
}

// Bit i set where lane i of the mask is set.
QUILLON_AVX2_INLINE int lane_bits(Mask<4> m) {
  return _mm256_movemask_pd(_mm256_castsi256_pd((__m256i)m));
}

// (double)(v >> kShift), v and the shift signed, for 32 <= kShift < 64:
// exact, as the shifted value fits in 32 bits.
template <int kShift>
QUILLON_AVX2_INLINE Lanes<4> shifted_to_double(Bits<4> v) {
  static_assert(kShift >= 32 && kShift < 64);
  const __m256i high = _mm256_srai_epi32((__m256i)v, kShift - 32);
  const __m256i odd = _mm256_permutevar8x32_epi32(high, _mm256_setr_epi32(1, 3, 5, 7, 1, 3, 5, 7));
  return _mm256_cvtepi32_pd(_mm256_castsi256_si128(odd));
}

// The low 32 bits of each lane as a signed integer, clamped to [lo, hi],
// stored as out[0..3].
QUILLON_AVX2_INLINE void store_low_words_clamped(std::uint32_t* out, Bits<4> v, int lo, int hi) {
  const __m256i clamped = _mm256_min_epi32(_mm256_max_epi32((__m256i)v, _mm256_set1_epi32(lo)),
                                           _mm256_set1_epi32(hi));
  const __m256i even =
      _mm256_permutevar8x32_epi32(clamped, _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(even));
}

// Pairs of doubles from four places (each 16-byte aligned): first = {p0[0],
// p1[0], p2[0], p3[0]}, second = {p0[1], p1[1], p2[1], p3[1]}.
QUILLON_AVX2_INLINE void gather_pairs(const double* p0, const double* p1, const double* p2,
                                      const double* p3, Lanes<4>& first, Lanes<4>& second) {
  const __m256d a =
      _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_load_pd(p0)), _mm_load_pd(p2), 1);
  const __m256d b =
      _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_load_pd(p1)), _mm_load_pd(p3), 1);
  first = _mm256_unpacklo_pd(a, b);
  second = _mm256_unpackhi_pd(a, b);
}

// Rows i[0..3] of a 16-byte aligned table of pairs of doubles (or of their
// bits): first = the first of each pair, second = the second.
QUILLON_AVX2_INLINE void gather_pairs(const void* table, Bits<4> i, Lanes<4>& first,
                                      Lanes<4>& second) {
  alignas(32) std::int64_t row[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(row), (__m256i)i);
  const auto* pairs = static_cast<const double*>(table);
  gather_pairs(pairs + 2 * row[0], pairs + 2 * row[1], pairs + 2 * row[2], pairs + 2 * row[3],
               first, second);
}

// The lanes whose bit is set in `lanes` recomputed one at a time by the
// scalar function f.
template <double (*f)(double)>
QUILLON_AVX2_INLINE Lanes<4> redo_lanes(Lanes<4> x, Lanes<4> result, int lanes) {
  alignas(32) double in[4];
  alignas(32) double out[4];
  _mm256_store_pd(in, x);
  _mm256_store_pd(out, result);
  for (int lane = 0; lane < 4; ++lane) {
    if ((lanes >> lane) & 1) out[lane] = f(in[lane]);
  }
  return _mm256_load_pd(out);
}

inline double scalar_exp(double x) { return std::exp(x); }
inline double scalar_log(double x) { return std::log(x); }

// out[i] = f(x[i]) for n values: four at a time by the kernel f4, the last
// n mod 4 by the scalar f, whose bits f4 reproduces.
template <Lanes<4> (*f4)(Lanes<4>), double (*f)(double)>
QUILLON_AVX2_INLINE void apply_to_array(const double* x, double* out, std::size_t n) {
  const std::size_t whole = n / 4 * 4;
  for (std::size_t i = 0; i < whole; i += 4) {
    Lanes<4> v;
    load<4>(v, x + i);
    store<4>(out + i, f4(v));
  }
  for (std::size_t i = whole; i < n; ++i) out[i] = f(x[i]);
}

}  // namespace quillon::simd

#endif  // __x86_64__
