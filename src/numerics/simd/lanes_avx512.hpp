// The AVX-512 part of the lane vocabulary (lanes.hpp), for the eight-lane
// kernels: Lanes<8> and Bits<8> by value, and the operations that GCC's
// vector operators do not spell as one AVX-512F instruction: broadcasts,
// fused multiply-adds (where the replicated glibc routine has one, and
// nowhere else), quiet comparisons (no flag for NaN) into the mask
// registers' lane bits (LaneBits), blends, signed comparisons, clamps and
// conversions of the integer lanes, gathers from tables, the lookup of a
// lane's value in a table of sixteen doubles held in two registers, and
// lanes handed back to the scalar function. Everything else is written with
// the vector operators (+ - * / on Lanes<8>; + - & | ^ ~ << >> on Bits<8>),
// the same single instructions under -ffp-contract=off. __m512d is
// Lanes<8>'s very type. Every helper is inlined into functions compiled for
// AVX-512F (QUILLON_AVX512_KERNEL), the only calls through which these
// vectors pass by value; nothing here needs more than AVX-512F. x86-64 only.
#pragma once

#if defined(__x86_64__)

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "numerics/simd/lanes.hpp"

#define QUILLON_AVX512_KERNEL __attribute__((target("avx512f")))
#define QUILLON_AVX512_INLINE __attribute__((target("avx512f"), always_inline)) inline

namespace quillon::simd {

QUILLON_AVX512_INLINE Lanes<8> broadcast8(double v) { return _mm512_set1_pd(v); }
QUILLON_AVX512_INLINE Bits<8> broadcast_bits8(std::uint64_t v) {
  return (Bits<8>)_mm512_set1_epi64(static_cast<long long>(v));
}

// The same 512 bits seen as doubles or as 64-bit integers.
QUILLON_AVX512_INLINE Bits<8> as_bits(Lanes<8> v) { return (Bits<8>)_mm512_castpd_si512(v); }
QUILLON_AVX512_INLINE Lanes<8> as_lanes(Bits<8> v) { return _mm512_castsi512_pd((__m512i)v); }

// a b + c and c - a b, each rounded once.
QUILLON_AVX512_INLINE Lanes<8> fmadd(Lanes<8> a, Lanes<8> b, Lanes<8> c) {
  return _mm512_fmadd_pd(a, b, c);
}
QUILLON_AVX512_INLINE Lanes<8> fnmadd(Lanes<8> a, Lanes<8> b, Lanes<8> c) {
  return _mm512_fnmadd_pd(a, b, c);
}

// Bit i set where the comparison holds in lane i: the mask registers' form.
// Quiet: NaN compares unordered without raising a flag.
using LaneBits = __mmask8;
QUILLON_AVX512_INLINE LaneBits less(Lanes<8> a, Lanes<8> b) {
  return _mm512_cmp_pd_mask(a, b, _CMP_LT_OQ);
}
QUILLON_AVX512_INLINE LaneBits not_less(Lanes<8> a, Lanes<8> b) {  // NaN included
  return _mm512_cmp_pd_mask(a, b, _CMP_NLT_UQ);
}
QUILLON_AVX512_INLINE LaneBits equal(Lanes<8> a, Lanes<8> b) {
  return _mm512_cmp_pd_mask(a, b, _CMP_EQ_OQ);
}
// a > b, the lanes compared as signed 64-bit integers.
QUILLON_AVX512_INLINE LaneBits greater(Bits<8> a, Bits<8> b) {
  return _mm512_cmpgt_epi64_mask((__m512i)a, (__m512i)b);
}

// Lane by lane, `if_set` where the bit is set and `otherwise` elsewhere.
QUILLON_AVX512_INLINE Lanes<8> select(LaneBits m, Lanes<8> if_set, Lanes<8> otherwise) {
  return _mm512_mask_blend_pd(m, otherwise, if_set);
}
// v where the bit is set, +0.0 elsewhere (a move, no arithmetic).
QUILLON_AVX512_INLINE Lanes<8> keep(LaneBits m, Lanes<8> v) { return _mm512_maskz_mov_pd(m, v); }

// (double)(v >> 52), v and the shift signed: exact, as the shifted value
// fits in 32 bits.
QUILLON_AVX512_INLINE Lanes<8> exponent_field_to_double(Bits<8> v) {
  typedef long long Signed __attribute__((vector_size(64)));
  typedef int Words __attribute__((vector_size(32)));
  const Words k = __builtin_convertvector((Signed)v >> 52, Words);  // vpsraq, vpmovqd
  return __builtin_convertvector(k, Lanes<8>);                        // vcvtdq2pd
}

// v's lanes as signed integers clamped to [lo, hi]. (The masked forms here
// and below: the plain ones start from an undefined vector that GCC 12's
// -Wmaybe-uninitialized reports.)
QUILLON_AVX512_INLINE Bits<8> clamp_signed(Bits<8> v, long long lo, long long hi) {
  const __m512i above =
      _mm512_mask_max_epi64((__m512i)v, 0xff, (__m512i)v, _mm512_set1_epi64(lo));
  return (Bits<8>)_mm512_mask_min_epi64(above, 0xff, above, _mm512_set1_epi64(hi));
}

// Lane j holds table[i[j]]: one hardware gather.
QUILLON_AVX512_INLINE Bits<8> gather(const std::uint64_t* table, Bits<8> i) {
  return (Bits<8>)_mm512_mask_i64gather_epi64(_mm512_setzero_si512(), 0xff, (__m512i)i, table, 8);
}

// Rows i[0..7] of a table of pairs of doubles (or of their bits): first =
// the first of each pair, second = the second. Two hardware gathers.
QUILLON_AVX512_INLINE void gather_pairs(const void* table, Bits<8> i, Lanes<8>& first,
                                        Lanes<8>& second) {
  const __m512i at = (__m512i)(i + i);
  const auto* pairs = static_cast<const double*>(table);
  first = _mm512_mask_i64gather_pd(_mm512_setzero_pd(), 0xff, at, pairs, 8);
  second = _mm512_mask_i64gather_pd(_mm512_setzero_pd(), 0xff, at, pairs + 1, 8);
}

// The lanes whose bit is set in `lanes` recomputed one at a time by the
// scalar function f.
template <double (*f)(double)>
QUILLON_AVX512_INLINE Lanes<8> redo_lanes(Lanes<8> x, Lanes<8> result, LaneBits lanes) {
  alignas(64) double in[8];
  alignas(64) double out[8];
  _mm512_store_pd(in, x);
  _mm512_store_pd(out, result);
  for (int lane = 0; lane < 8; ++lane) {
    if ((lanes >> lane) & 1) out[lane] = f(in[lane]);
  }
  return _mm512_load_pd(out);
}

// out[i] = f(x[i]) for n values: eight at a time by the kernel f8, the last
// n mod 8 by the scalar f, whose bits f8 reproduces.
template <Lanes<8> (*f8)(Lanes<8>), double (*f)(double)>
QUILLON_AVX512_INLINE void apply_to_array(const double* x, double* out, std::size_t n) {
  const std::size_t whole = n / 8 * 8;
  for (std::size_t i = 0; i < whole; i += 8) {
    Lanes<8> v;
    load<8>(v, x + i);
    store<8>(out + i, f8(v));
  }
  for (std::size_t i = whole; i < n; ++i) out[i] = f(x[i]);
}

// Lane i holds table[index[i]] for the table of sixteen doubles low[0..7],
// high[0..7] (each 64-byte aligned): only the low four bits of each index
// count. One two-register permute, no load per lane.
QUILLON_AVX512_INLINE Lanes<8> lookup16(const double* low, const double* high, Bits<8> index) {
  return _mm512_permutex2var_pd(_mm512_load_pd(low), (__m512i)index, _mm512_load_pd(high));
}

}  // namespace quillon::simd

#endif  // __x86_64__
