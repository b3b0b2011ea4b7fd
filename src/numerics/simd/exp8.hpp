// exp8: exp4 (exp4.hpp) on eight lanes (AVX-512F): the same operations on
// the same tables in the same order, fused exactly where exp4 fuses, so each
// lane gives exp4's bits, which are glibc's. The only differences are in
// how lanes are moved: the table pairs are loaded eight at a time and the
// lanes' masks live in mask registers.
#pragma once

#if defined(__x86_64__)

#include "numerics/simd/exp4.hpp"
#include "numerics/simd/lanes_avx512.hpp"

namespace quillon::avx2 {

// exp(x). Main path for 2^-54 <= |x| < 512; below, 1 + x, as glibc rounds.
QUILLON_AVX512_INLINE Lanes<8> exp8(Lanes<8> x) {
  using namespace exp_log_tables;
  // kd = round(x * 128 / ln2), ki its integer bits; fused in glibc's build.
  Lanes<8> kd = fmadd(x, broadcast8(kExpInvLn2N), broadcast8(kExpShift));
  const Bits<8> ki = as_bits(kd);
  kd = kd - broadcast8(kExpShift);
  // r = x - kd ln2/128, in two fused steps.
  Lanes<8> r = fmadd(kd, broadcast8(kExpNegLn2HiN), x);
  r = fmadd(kd, broadcast8(kExpNegLn2LoN), r);
  Lanes<8> tail;
  Lanes<8> sbits;
  gather_pairs(kExpTable, ki & 127, tail, sbits);
  const Lanes<8> scale = as_lanes(as_bits(sbits) + (ki << 45));
  // tmp = tail + r + r2 (C2 + r C3) + r2 r2 (C4 + r C5)
  const Lanes<8> c23 = fmadd(r, broadcast8(kExpC3), broadcast8(kExpC2));
  const Lanes<8> tr = r + tail;
  const Lanes<8> r2 = r * r;
  const Lanes<8> c45 = fmadd(r, broadcast8(kExpC5), broadcast8(kExpC4));
  const Lanes<8> t1 = fmadd(c23, r2, tr);
  const Lanes<8> r4 = r2 * r2;
  const Lanes<8> tmp = fmadd(r4, c45, t1);
  Lanes<8> y = fmadd(scale, tmp, scale);

  const Bits<8> abs_bits = as_bits(x) & 0x7fffffffffffffff;
  y = select(greater(broadcast_bits8(0x3c90000000000000), abs_bits),
             x + broadcast8(1.0), y);
  const LaneBits rare = greater(abs_bits, broadcast_bits8(0x407fffffffffffff));
  if (__builtin_expect(rare != 0, 0)) return redo_lanes<scalar_exp>(x, y, rare);
  return y;
}

}  // namespace quillon::avx2

#endif  // __x86_64__
