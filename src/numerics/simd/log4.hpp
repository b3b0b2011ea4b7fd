// log4: log of four doubles at a time (AVX2 and FMA, in the lane vocabulary
// of lanes_avx2.hpp), bit for bit what
// glibc's own log returns on a machine with FMA.
//
// Algorithm: Arm's optimized-routines log (math/log.c, MIT licence,
// Copyright (c) 2018 Arm Limited), glibc's log since 2.28. x = 2^k z with z
// near c_i, one of 128 centres; log(x) = k ln2 + log(c_i) + log1p(z/c_i - 1),
// with 1/c_i and log(c_i) from a table and log1p from a degree-5 polynomial;
// for 1 - 2^-4 <= x < 1 + 0x1.09p-4, log1p(x - 1) by a degree-11 polynomial.
// Reproduces: glibc 2.36's __log_fma, the variant its ifunc runs on x86-64
// with FMA, built with -mfma: a fused multiply-add exactly where its machine
// code has one, separately rounded operations everywhere else. Subnormal,
// zero, negative, infinite and NaN lanes go to the process's log.
// Error: the routine's bound, 0.52 ulp of the true log; against glibc's log,
// no difference in 10^9 random inputs (make soak) nor on the start-up inputs.
// Start-up check (log4_check_inputs): every table interval in fifteen
// binades, both sides of 1 down to the probability ceiling, the edges of the
// near-1 path, special values, and 96 inputs on which glibc built without
// fused multiply-adds gives other bits (kLogFmaWitnesses).
#pragma once

#if defined(__x86_64__)

#include <cstdint>
#include <vector>

#include "numerics/simd/lanes_avx2.hpp"

namespace quillon::exp_log_tables {

// log
inline constexpr double kLogLn2Hi = 0x1.62e42fefa3800p-1;
inline constexpr double kLogLn2Lo = 0x1.ef35793c76730p-45;
// log1p(r) - r ~ A0 r^2 + A1 r^3 + ... + A4 r^6, for |r| < 1/256
inline constexpr double kLogA[5] = {-0x1.0000000000001p-1, 0x1.555555551305bp-2,
                                    -0x1.fffffffeb4590p-3, 0x1.999b324f10111p-3,
                                    -0x1.55575e506c89fp-3};
// log1p(r) - r ~ B0 r^2 + ... + B10 r^12, for x within [1 - 2^-4, 1 + 0x1.09p-4)
inline constexpr double kLogB[11] = {
    -0x1.0000000000000p-1, 0x1.5555555555577p-2, -0x1.ffffffffffdcbp-3, 0x1.999999995dd0cp-3,
    -0x1.55555556745a7p-3, 0x1.24924a344de30p-3, -0x1.fffffa4423d65p-4, 0x1.c7184282ad6cap-4,
    -0x1.999eb43b068ffp-4, 0x1.78182f7afd085p-4, -0x1.5521375d145cdp-4};
// Pairs (1/c_i, log c_i) for i = 0 ... 127, the centres c_i spanning [0x1.6p-1, 0x1.6p0).
alignas(16) inline constexpr double kLogTable[256] = {
    0x1.734f0c3e0de9fp+0, -0x1.7cc7f79e69000p-2, 0x1.713786a2ce91fp+0, -0x1.76feec20d0000p-2,
    0x1.6f26008fab5a0p+0, -0x1.713e31351e000p-2, 0x1.6d1a61f138c7dp+0, -0x1.6b85b38287800p-2,
    0x1.6b1490bc5b4d1p+0, -0x1.65d5590807800p-2, 0x1.69147332f0cbap+0, -0x1.602d076180000p-2,
    0x1.6719f18224223p+0, -0x1.5a8ca86909000p-2, 0x1.6524f99a51ed9p+0, -0x1.54f4356035000p-2,
    0x1.63356aa8f24c4p+0, -0x1.4f637c36b4000p-2, 0x1.614b36b9ddc14p+0, -0x1.49da7fda85000p-2,
    0x1.5f66452c65c4cp+0, -0x1.445923989a800p-2, 0x1.5d867b5912c4fp+0, -0x1.3edf439b0b800p-2,
    0x1.5babccb5b90dep+0, -0x1.396ce448f7000p-2, 0x1.59d61f2d91a78p+0, -0x1.3401e17bda000p-2,
    0x1.5805612465687p+0, -0x1.2e9e2ef468000p-2, 0x1.56397cee76bd3p+0, -0x1.2941b3830e000p-2,
    0x1.54725e2a77f93p+0, -0x1.23ec58cda8800p-2, 0x1.52aff42064583p+0, -0x1.1e9e129279000p-2,
    0x1.50f22dbb2bddfp+0, -0x1.1956d2b48f800p-2, 0x1.4f38f4734ded7p+0, -0x1.141679ab9f800p-2,
    0x1.4d843cfde2840p+0, -0x1.0edd094ef9800p-2, 0x1.4bd3ec078a3c8p+0, -0x1.09aa518db1000p-2,
    0x1.4a27fc3e0258ap+0, -0x1.047e65263b800p-2, 0x1.4880524d48434p+0, -0x1.feb224586f000p-3,
    0x1.46dce1b192d0bp+0, -0x1.f474a7517b000p-3, 0x1.453d9d3391854p+0, -0x1.ea4443d103000p-3,
    0x1.43a2744b4845ap+0, -0x1.e020d44e9b000p-3, 0x1.420b54115f8fbp+0, -0x1.d60a22977f000p-3,
    0x1.40782da3ef4b1p+0, -0x1.cc00104959000p-3, 0x1.3ee8f5d57fe8fp+0, -0x1.c202956891000p-3,
    0x1.3d5d9a00b4ce9p+0, -0x1.b81178d811000p-3, 0x1.3bd60c010c12bp+0, -0x1.ae2c9ccd3d000p-3,
    0x1.3a5242b75dab8p+0, -0x1.a45402e129000p-3, 0x1.38d22cd9fd002p+0, -0x1.9a877681df000p-3,
    0x1.3755bc5847a1cp+0, -0x1.90c6d69483000p-3, 0x1.35dce49ad36e2p+0, -0x1.87120a645c000p-3,
    0x1.34679984dd440p+0, -0x1.7d68fb4143000p-3, 0x1.32f5cceffcb24p+0, -0x1.73cb83c627000p-3,
    0x1.3187775a10d49p+0, -0x1.6a39a9b376000p-3, 0x1.301c8373e3990p+0, -0x1.60b3154b7a000p-3,
    0x1.2eb4ebb95f841p+0, -0x1.5737d76243000p-3, 0x1.2d50a0219a9d1p+0, -0x1.4dc7b8fc23000p-3,
    0x1.2bef9a8b7fd2ap+0, -0x1.4462c51d20000p-3, 0x1.2a91c7a0c1babp+0, -0x1.3b08abc830000p-3,
    0x1.293726014b530p+0, -0x1.31b996b490000p-3, 0x1.27dfa5757a1f5p+0, -0x1.2875490a44000p-3,
    0x1.268b39b1d3bbfp+0, -0x1.1f3b9f879a000p-3, 0x1.2539d838ff5bdp+0, -0x1.160c8252ca000p-3,
    0x1.23eb7aac9083bp+0, -0x1.0ce7f57f72000p-3, 0x1.22a012ba940b6p+0, -0x1.03cdc49fea000p-3,
    0x1.2157996cc4132p+0, -0x1.f57bdbc4b8000p-4, 0x1.201201dd2fc9bp+0, -0x1.e370896404000p-4,
    0x1.1ecf4494d480bp+0, -0x1.d17983ef94000p-4, 0x1.1d8f5528f6569p+0, -0x1.bf9674ed8a000p-4,
    0x1.1c52311577e7cp+0, -0x1.adc79202f6000p-4, 0x1.1b17c74cb26e9p+0, -0x1.9c0c3e7288000p-4,
    0x1.19e010c2c1ab6p+0, -0x1.8a646b372c000p-4, 0x1.18ab07bb670bdp+0, -0x1.78d01b3ac0000p-4,
    0x1.1778a25efbcb6p+0, -0x1.674f145380000p-4, 0x1.1648d354c31dap+0, -0x1.55e0e6d878000p-4,
    0x1.151b990275fddp+0, -0x1.4485cdea1e000p-4, 0x1.13f0ea432d24cp+0, -0x1.333d94d6aa000p-4,
    0x1.12c8b7210f9dap+0, -0x1.22079f8c56000p-4, 0x1.11a3028ecb531p+0, -0x1.10e4698622000p-4,
    0x1.107fbda8434afp+0, -0x1.ffa6c6ad20000p-5, 0x1.0f5ee0f4e6bb3p+0, -0x1.dda8d4a774000p-5,
    0x1.0e4065d2a9fcep+0, -0x1.bbcece4850000p-5, 0x1.0d244632ca521p+0, -0x1.9a1894012c000p-5,
    0x1.0c0a77ce2981ap+0, -0x1.788583302c000p-5, 0x1.0af2f83c636d1p+0, -0x1.5715e67d68000p-5,
    0x1.09ddb98a01339p+0, -0x1.35c8a49658000p-5, 0x1.08cabaf52e7dfp+0, -0x1.149e364154000p-5,
    0x1.07b9f2f4e28fbp+0, -0x1.e72c082eb8000p-6, 0x1.06ab58c358f19p+0, -0x1.a55f152528000p-6,
    0x1.059eea5ecf92cp+0, -0x1.63d62cf818000p-6, 0x1.04949cdd12c90p+0, -0x1.228fb8caa0000p-6,
    0x1.038c6c6f0ada9p+0, -0x1.c317b20f90000p-7, 0x1.02865137932a9p+0, -0x1.419355daa0000p-7,
    0x1.0182427ea7348p+0, -0x1.81203c2ec0000p-8, 0x1.008040614b195p+0, -0x1.0040979240000p-9,
    0x1.fe01ff726fa1ap-1, 0x1.feff384900000p-9,  0x1.fa11cc261ea74p-1, 0x1.7dc41353d0000p-7,
    0x1.f6310b081992ep-1, 0x1.3cea3c4c28000p-6,  0x1.f25f63ceeadcdp-1, 0x1.b9fc114890000p-6,
    0x1.ee9c8039113e7p-1, 0x1.1b0d8ce110000p-5,  0x1.eae8078cbb1abp-1, 0x1.58a5bd001c000p-5,
    0x1.e741aa29d0c9bp-1, 0x1.95c8340d88000p-5,  0x1.e3a91830a99b5p-1, 0x1.d276aef578000p-5,
    0x1.e01e009609a56p-1, 0x1.07598e598c000p-4,  0x1.dca01e577bb98p-1, 0x1.253f5e30d2000p-4,
    0x1.d92f20b7c9103p-1, 0x1.42edd8b380000p-4,  0x1.d5cac66fb5ccep-1, 0x1.606598757c000p-4,
    0x1.d272caa5ede9dp-1, 0x1.7da76356a0000p-4,  0x1.cf26e3e6b2ccdp-1, 0x1.9ab434e1c6000p-4,
    0x1.cbe6da2a77902p-1, 0x1.b78c7bb0d6000p-4,  0x1.c8b266d37086dp-1, 0x1.d431332e72000p-4,
    0x1.c5894bd5d5804p-1, 0x1.f0a3171de6000p-4,  0x1.c26b533bb9f8cp-1, 0x1.067152b914000p-3,
    0x1.bf583eeece73fp-1, 0x1.147858292b000p-3,  0x1.bc4fd75db96c1p-1, 0x1.2266ecdca3000p-3,
    0x1.b951e0c864a28p-1, 0x1.303d7a6c55000p-3,  0x1.b65e2c5ef3e2cp-1, 0x1.3dfc33c331000p-3,
    0x1.b374867c9888bp-1, 0x1.4ba366b7a8000p-3,  0x1.b094b211d304ap-1, 0x1.5933928d1f000p-3,
    0x1.adbe885f2ef7ep-1, 0x1.66acd2418f000p-3,  0x1.aaf1d31603da2p-1, 0x1.740f8ec669000p-3,
    0x1.a82e63fd358a7p-1, 0x1.815c0f51af000p-3,  0x1.a5740ef09738bp-1, 0x1.8e92954f68000p-3,
    0x1.a2c2a90ab4b27p-1, 0x1.9bb3602f84000p-3,  0x1.a01a01393f2d1p-1, 0x1.a8bed1c2c0000p-3,
    0x1.9d79f24db3c1bp-1, 0x1.b5b515c01d000p-3,  0x1.9ae2505c7b190p-1, 0x1.c2967ccbcc000p-3,
    0x1.9852ef297ce2fp-1, 0x1.cf635d5486000p-3,  0x1.95cbaeea44b75p-1, 0x1.dc1bd3446c000p-3,
    0x1.934c69de74838p-1, 0x1.e8c01b8cfe000p-3,  0x1.90d4f2f6752e6p-1, 0x1.f5509c0179000p-3,
    0x1.8e6528effd79dp-1, 0x1.00e6c121fb800p-2,  0x1.8bfce9fcc007cp-1, 0x1.071b80e93d000p-2,
    0x1.899c0dabec30ep-1, 0x1.0d46b9e867000p-2,  0x1.87427aa2317fbp-1, 0x1.13687334bd000p-2,
    0x1.84f00acb39a08p-1, 0x1.1980d67234800p-2,  0x1.82a49e8653e55p-1, 0x1.1f8ffe0cc8000p-2,
    0x1.8060195f40260p-1, 0x1.2595fd7636800p-2,  0x1.7e22563e0a329p-1, 0x1.2b9300914a800p-2,
    0x1.7beb377dcb5adp-1, 0x1.3187210436000p-2,  0x1.79baa679725c2p-1, 0x1.377266dec1800p-2,
    0x1.77907f2170657p-1, 0x1.3d54ffbaf3000p-2,  0x1.756cadbd6130cp-1, 0x1.432eee32fe000p-2,
};

// Inputs on which glibc's log built without fused multiply-adds gives other
// bits than the variant with them.
inline constexpr std::uint64_t kLogFmaWitnesses[96] = {
    0x3feb89a685c4885eull, 0x3fc6b3aae3182ad6ull, 0x3fed8d2d84125652ull, 0x3feb527dddbccbf2ull,
    0x3fee1732ccbb2f35ull, 0x3fdf6c7cdb03567full, 0x3fec1296d86b9a9aull, 0x3fedc9667e9d16cdull,
    0x3fe5ab29366ee7a8ull, 0x3fed8bba6febc42eull, 0x3feaeda9eab4de07ull, 0x3fe937583342982eull,
    0x3fed0238f7c1fb4dull, 0x3fec8399270bbfa9ull, 0x3fec672d742cbc2aull, 0x3fed8d247e98e123ull,
    0x3fe8abb849b7590aull, 0x3feac3054eb844c8ull, 0x3fe913aaf171c1d7ull, 0x3fe55d3c49744fb6ull,
    0x3fe618fe11e315a9ull, 0x3fee6a4a11b8c7faull, 0x3fee40067f5d51b4ull, 0x3fec76a562d7d1f8ull,
    0x3fec12be60af36c1ull, 0x3fde62815f20ce85ull, 0x3fed21dd36262f46ull, 0x3fed4edf8c2ec69full,
    0x3fe8f706345f07ecull, 0x3fd2dbcf1271e8e1ull, 0x3fec7618bdba3172ull, 0x3fe979690effe236ull,
    0x3fee40d9e03cf71cull, 0x3fe85a371834e15full, 0x3fd1dac5021fdd0bull, 0x3fe95fbced701112ull,
    0x3feeb5f6f11d59e7ull, 0x3fec0595bcc4cb43ull, 0x3fe6764b5706f65aull, 0x3fd0ef60f9eb70edull,
    0x3fed1de79c0bdb54ull, 0x3fed1a7410559fbbull, 0x3fe2b1f8d4021a3eull, 0x3fec1aa51c1dcd14ull,
    0x3fe9c9fa16c349aeull, 0x3fef5b81a930c29aull, 0x3fed0d741728389eull, 0x4030e4af0c9514e3ull,
    0x3fea21b6f1831a6aull, 0x3feec20cfd29d46bull, 0x3fededa253923d1dull, 0x3fe000c6ea9d7b44ull,
    0x3fee36220c46f977ull, 0x3feba674630b6e2dull, 0x3fe235c905927ba7ull, 0x3fecc5ac31de213eull,
    0x3fe7238efe11ae22ull, 0x3fed852f6d38da82ull, 0x3fe7babede954790ull, 0x3fcbaa2c2f591bfcull,
    0x3fe00e10e8940a72ull, 0x3fe0e3c0612b4dd0ull, 0x3fef1d6b5617b7c0ull, 0x3fed5485f11752b1ull,
    0x3fee1d716a0ca6a3ull, 0x3fecf24f39de4e33ull, 0x3fe1caa52f807abdull, 0x3fdffd897df609dfull,
    0x3fec47f49d03bff3ull, 0x3feccdec22d352f4ull, 0x3feec6a7e34f2c49ull, 0x3fe9112832d5bfceull,
    0x3feb348be7e870baull, 0x3fe9d89b5694a523ull, 0x3fed8c3a93701c80ull, 0x3fe429b4a32714c9ull,
    0x3fe7a4c448413a4aull, 0x3fe16d4e9c04ad88ull, 0x3fe180ec67a96238ull, 0x3fef24eb5aa228fdull,
    0x3fe8e7005d809eedull, 0x3fec72f553d82da5ull, 0x3fed28b1516bc4a2ull, 0x3feafb93464a47fdull,
    0x3fe3e3fc37874279ull, 0x3fe6c60c76c42072ull, 0x3fec6e64b144e77dull, 0x3fb271dd81529cfbull,
    0x3fece3fc00d2eff5ull, 0x3fe86199b7424411ull, 0x3fc6ab5c8fc90f8eull, 0x3fedd3c9efc8c833ull,
    0x3fec1fe291fd74bcull, 0x3fec71a9a0e178d0ull, 0x3fe97a33a98f2fccull, 0x3fb019f3574be03bull,
};

}  // namespace quillon::exp_log_tables

namespace quillon::avx2 {

using namespace quillon::simd;

// log(x) for x = 2^k z, z in [0x1.6p-1, 0x1.6p0): the table path.
QUILLON_AVX2_INLINE Lanes<4> log4_table(Bits<4> ix) {
  using namespace exp_log_tables;
  const Bits<4> tmp = ix - 0x3fe6000000000000;
  const Bits<4> i = (tmp >> 45) & 127;
  const Lanes<4> kd = shifted_to_double<52>(tmp);  // k = (int64) tmp >> 52
  const Lanes<4> z = as_lanes(ix - (tmp & 0xfff0000000000000));
  Lanes<4> invc;
  Lanes<4> logc;
  gather_pairs(kLogTable, i, invc, logc);
  const Lanes<4> w = fmadd(kd, broadcast(kLogLn2Hi), logc);
  const Lanes<4> r = fmadd(z, invc, broadcast(-1.0));
  const Lanes<4> a12 = fmadd(r, broadcast(kLogA[2]), broadcast(kLogA[1]));
  const Lanes<4> hi = r + w;
  const Lanes<4> r2 = r * r;
  Lanes<4> lo = w - hi;
  lo = lo + r;
  lo = fmadd(kd, broadcast(kLogLn2Lo), lo);
  const Lanes<4> r3 = r * r2;
  const Lanes<4> a34 = fmadd(r, broadcast(kLogA[4]), broadcast(kLogA[3]));
  const Lanes<4> lo2 = fmadd(r2, broadcast(kLogA[0]), lo);
  const Lanes<4> p = fmadd(a34, r2, a12);
  const Lanes<4> y = fmadd(r3, p, lo2);
  return y + hi;
}

// log(x) for 1 - 2^-4 <= x < 1 + 0x1.09p-4, where the table path would lose
// accuracy: r = x - 1, log1p(r) by the degree-11 polynomial, with r^2 B0
// split so that its leading part is exact.
QUILLON_AVX2_INLINE Lanes<4> log4_near_one(Lanes<4> x) {
  using namespace exp_log_tables;
  const Lanes<4> r = x - broadcast(1.0);
  Lanes<4> b21 = fmadd(r, broadcast(kLogB[2]), broadcast(kLogB[1]));
  Lanes<4> b54 = fmadd(r, broadcast(kLogB[5]), broadcast(kLogB[4]));
  const Lanes<4> r2 = r * r;
  const Lanes<4> b87 = fmadd(r, broadcast(kLogB[8]), broadcast(kLogB[7]));
  b21 = fmadd(r2, broadcast(kLogB[3]), b21);
  b54 = fmadd(r2, broadcast(kLogB[6]), b54);
  const Lanes<4> r3 = r * r2;
  Lanes<4> p = fmadd(r2, broadcast(kLogB[9]), b87);
  p = fmadd(r3, broadcast(kLogB[10]), p);
  p = fmadd(p, r3, b54);
  p = fmadd(p, r3, b21);
  const Lanes<4> two27 = broadcast(0x1p27);
  const Lanes<4> t = fmadd(r, two27, r);
  const Lanes<4> rhi = fnmadd(two27, r, t);
  const Lanes<4> rr = rhi * rhi;
  const Lanes<4> rlo = r - rhi;
  const Lanes<4> hi = fmadd(rr, broadcast(kLogB[0]), r);
  Lanes<4> lo = r - hi;
  const Lanes<4> rs = r + rhi;
  lo = fmadd(rr, broadcast(kLogB[0]), lo);
  const Lanes<4> bl = broadcast(kLogB[0]) * rlo;
  lo = fmadd(bl, rs, lo);
  const Lanes<4> y = fmadd(p, r3, lo);
  return hi + y;
}

// log(x). Subnormal, zero, negative, infinite and NaN lanes go to the scalar log.
QUILLON_AVX2_INLINE Lanes<4> log4(Lanes<4> x) {
  const Bits<4> ix = as_bits(x);
  const Bits<4> d = ix - 0x3fee000000000000;
  const Mask<4> near_one =
      ~greater(broadcast_bits(0), d) & greater(broadcast_bits(0x3090000000000), d);
  const int near_mask = lane_bits(near_one);
  Lanes<4> y;
  if (near_mask == 0) {
    y = log4_table(ix);
  } else if (near_mask == 0xf) {
    y = log4_near_one(x);
  } else {
    y = select(near_one, log4_near_one(x), log4_table(ix));
  }
  // As signed integers: below the smallest normal (negatives included), or
  // at least infinity (NaN included).
  const Mask<4> rare = greater(broadcast_bits(0x0010000000000000), ix) |
                       greater(ix, broadcast_bits(0x7fefffffffffffff));
  const int rare_mask = lane_bits(rare);
  if (__builtin_expect(rare_mask != 0, 0)) return redo_lanes<scalar_log>(x, y, rare_mask);
  return y;
}

// The inputs of the start-up check.
std::vector<double> log4_check_inputs();

}  // namespace quillon::avx2

#endif  // __x86_64__
