// The AVX-512 part of the lane vocabulary (lanes.hpp), for the eight-lane
// phases of the kernels: Lanes<8> and Bits<8> by value, and the operations
// that GCC's vector operators do not spell as one AVX-512F instruction:
// broadcasts, quiet comparisons to masks (no flag for NaN), blends, and the
// lookup of a lane's value in a table of sixteen doubles held in two
// registers. Everything else is written with the vector operators (+ - * /
// on Lanes<8>), the same single instructions under -ffp-contract=off.
// __m512d is Lanes<8>'s very type. Every helper is inlined into functions
// compiled for AVX-512F (QUILLON_AVX512_KERNEL), the only calls through
// which these vectors pass by value. x86-64 only.
#pragma once

#if defined(__x86_64__)

#include <immintrin.h>

#include <cstdint>

#include "numerics/simd/lanes.hpp"

#define QUILLON_AVX512_KERNEL __attribute__((target("avx512f")))
#define QUILLON_AVX512_INLINE __attribute__((target("avx512f"), always_inline)) inline

namespace quillon::simd {

QUILLON_AVX512_INLINE Lanes<8> broadcast8(double v) { return _mm512_set1_pd(v); }

// All ones in the lanes where a < b, quietly: NaN compares unordered
// without raising a flag.
QUILLON_AVX512_INLINE Mask<8> less(Lanes<8> a, Lanes<8> b) {
  const __mmask8 m = _mm512_cmp_pd_mask(a, b, _CMP_LT_OQ);
  return (Mask<8>)_mm512_maskz_mov_epi64(m, _mm512_set1_epi64(-1));
}

// Lane by lane, `if_set` where the mask is set and `otherwise` elsewhere.
QUILLON_AVX512_INLINE Lanes<8> select(Mask<8> m, Lanes<8> if_set, Lanes<8> otherwise) {
  const __mmask8 k = _mm512_test_epi64_mask((__m512i)m, (__m512i)m);
  return _mm512_mask_blend_pd(k, otherwise, if_set);
}

// Lane i holds table[index[i]] for the table of sixteen doubles low[0..7],
// high[0..7] (each 64-byte aligned): only the low four bits of each index
// count. One two-register permute, no load per lane.
QUILLON_AVX512_INLINE Lanes<8> lookup16(const double* low, const double* high, Bits<8> index) {
  return _mm512_permutex2var_pd(_mm512_load_pd(low), (__m512i)index, _mm512_load_pd(high));
}

}  // namespace quillon::simd

#endif  // __x86_64__
