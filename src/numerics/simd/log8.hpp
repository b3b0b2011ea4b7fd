// log8: log4 (log4.hpp) on eight lanes (AVX-512F): the same operations on
// the same tables in the same order, fused exactly where log4 fuses, so each
// lane gives log4's bits, which are glibc's. The only differences are in
// how lanes are moved: the table pairs are loaded eight at a time, the
// exponent converted without a permute, and the lanes' masks live in mask
// registers.
#pragma once

#if defined(__x86_64__)

#include "numerics/simd/lanes_avx512.hpp"
#include "numerics/simd/log4.hpp"

namespace quillon::avx2 {

// log(x) for x = 2^k z, z in [0x1.6p-1, 0x1.6p0): the table path.
QUILLON_AVX512_INLINE Lanes<8> log8_table(Bits<8> ix) {
  using namespace exp_log_tables;
  const Bits<8> tmp = ix - 0x3fe6000000000000;
  const Bits<8> i = (tmp >> 45) & 127;
  const Lanes<8> kd = exponent_field_to_double(tmp);  // k = (int64) tmp >> 52
  const Lanes<8> z = as_lanes(ix - (tmp & 0xfff0000000000000));
  Lanes<8> invc;
  Lanes<8> logc;
  gather_pairs(kLogTable, i, invc, logc);
  const Lanes<8> w = fmadd(kd, broadcast8(kLogLn2Hi), logc);
  const Lanes<8> r = fmadd(z, invc, broadcast8(-1.0));
  const Lanes<8> a12 = fmadd(r, broadcast8(kLogA[2]), broadcast8(kLogA[1]));
  const Lanes<8> hi = r + w;
  const Lanes<8> r2 = r * r;
  Lanes<8> lo = w - hi;
  lo = lo + r;
  lo = fmadd(kd, broadcast8(kLogLn2Lo), lo);
  const Lanes<8> r3 = r * r2;
  const Lanes<8> a34 = fmadd(r, broadcast8(kLogA[4]), broadcast8(kLogA[3]));
  const Lanes<8> lo2 = fmadd(r2, broadcast8(kLogA[0]), lo);
  const Lanes<8> p = fmadd(a34, r2, a12);
  const Lanes<8> y = fmadd(r3, p, lo2);
  return y + hi;
}

// log(x) for 1 - 2^-4 <= x < 1 + 0x1.09p-4, as log4_near_one.
QUILLON_AVX512_INLINE Lanes<8> log8_near_one(Lanes<8> x) {
  using namespace exp_log_tables;
  const Lanes<8> r = x - broadcast8(1.0);
  Lanes<8> b21 = fmadd(r, broadcast8(kLogB[2]), broadcast8(kLogB[1]));
  Lanes<8> b54 = fmadd(r, broadcast8(kLogB[5]), broadcast8(kLogB[4]));
  const Lanes<8> r2 = r * r;
  const Lanes<8> b87 = fmadd(r, broadcast8(kLogB[8]), broadcast8(kLogB[7]));
  b21 = fmadd(r2, broadcast8(kLogB[3]), b21);
  b54 = fmadd(r2, broadcast8(kLogB[6]), b54);
  const Lanes<8> r3 = r * r2;
  Lanes<8> p = fmadd(r2, broadcast8(kLogB[9]), b87);
  p = fmadd(r3, broadcast8(kLogB[10]), p);
  p = fmadd(p, r3, b54);
  p = fmadd(p, r3, b21);
  const Lanes<8> two27 = broadcast8(0x1p27);
  const Lanes<8> t = fmadd(r, two27, r);
  const Lanes<8> rhi = fnmadd(two27, r, t);
  const Lanes<8> rr = rhi * rhi;
  const Lanes<8> rlo = r - rhi;
  const Lanes<8> hi = fmadd(rr, broadcast8(kLogB[0]), r);
  Lanes<8> lo = r - hi;
  const Lanes<8> rs = r + rhi;
  lo = fmadd(rr, broadcast8(kLogB[0]), lo);
  const Lanes<8> bl = broadcast8(kLogB[0]) * rlo;
  lo = fmadd(bl, rs, lo);
  const Lanes<8> y = fmadd(p, r3, lo);
  return hi + y;
}

// log(x). Subnormal, zero, negative, infinite and NaN lanes go to the scalar log.
QUILLON_AVX512_INLINE Lanes<8> log8(Lanes<8> x) {
  const Bits<8> ix = as_bits(x);
  const Bits<8> d = ix - 0x3fee000000000000;
  const LaneBits near_one = static_cast<LaneBits>(
      ~greater(broadcast_bits8(0), d) & greater(broadcast_bits8(0x3090000000000), d));
  Lanes<8> y;
  if (near_one == 0) {
    y = log8_table(ix);
  } else if (near_one == 0xff) {
    y = log8_near_one(x);
  } else {
    y = select(near_one, log8_near_one(x), log8_table(ix));
  }
  // As signed integers: below the smallest normal (negatives included), or
  // at least infinity (NaN included).
  const LaneBits rare = greater(broadcast_bits8(0x0010000000000000), ix) |
                        greater(ix, broadcast_bits8(0x7fefffffffffffff));
  if (__builtin_expect(rare != 0, 0)) return redo_lanes<scalar_log>(x, y, rare);
  return y;
}

}  // namespace quillon::avx2

#endif  // __x86_64__
