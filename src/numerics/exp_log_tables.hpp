// Tables of the exponential and logarithm of Arm's optimized-routines
// (math/exp_data.c, math/log_data.c; MIT licence, Copyright (c) 2018 Arm
// Limited), which glibc has shipped as its exp and log since 2.28. The four-lane
// exp and log in vector_math.hpp follow those routines step by step, so they
// must use the very same numbers: these are the bits of glibc 2.36's
// __exp_data and __log_data, read from its libm.so.6.
//
// exp: x = k ln2/128 + r with |r| <= ln2/256; 2^(k/128) comes from the table
// (a pair per k mod 128: the low-order correction `tail` and the bits of
// 2^(i/128) with the exponent field shifted out), exp(r) - 1 from a degree-5
// polynomial; the result is within 0.511 ulp of exp(x).
// log: x = 2^k z with z near c_i, one of 128 centres; log(x) = k ln2 +
// log(c_i) + log1p(z/c_i - 1), with 1/c_i and log(c_i) from the table and
// log1p from a degree-5 polynomial (degree 11 near 1); within 0.52 ulp.
#pragma once

#include <cstdint>

namespace quillon::exp_log_tables {

// exp
inline constexpr double kExpInvLn2N = 0x1.71547652b82fep+7;      // 128 / ln 2
inline constexpr double kExpNegLn2HiN = -0x1.62e42fefa0000p-8;   // -ln 2 / 128, high part
inline constexpr double kExpNegLn2LoN = -0x1.cf79abc9e3b3ap-47;  // -ln 2 / 128, low part
inline constexpr double kExpShift = 0x1.8000000000000p+52;       // 1.5 * 2^52: rounds to an integer
// exp(r) - 1 ~ r + C2 r^2 + C3 r^3 + C4 r^4 + C5 r^5
inline constexpr double kExpC2 = 0x1.ffffffffffdbdp-2;
inline constexpr double kExpC3 = 0x1.555555555543cp-3;
inline constexpr double kExpC4 = 0x1.55555cf172b91p-5;
inline constexpr double kExpC5 = 0x1.1111167a4d017p-7;

// Pairs (bits of tail_i, sbits_i) for i = 0 ... 127.
alignas(16) inline constexpr std::uint64_t kExpTable[256] = {
    0x0000000000000000ull, 0x3ff0000000000000ull, 0x3c9b3b4f1a88bf6eull, 0x3feff63da9fb3335ull,
    0xbc7160139cd8dc5dull, 0x3fefec9a3e778061ull, 0xbc905e7a108766d1ull, 0x3fefe315e86e7f85ull,
    0x3c8cd2523567f613ull, 0x3fefd9b0d3158574ull, 0xbc8bce8023f98efaull, 0x3fefd06b29ddf6deull,
    0x3c60f74e61e6c861ull, 0x3fefc74518759bc8ull, 0x3c90a3e45b33d399ull, 0x3fefbe3ecac6f383ull,
    0x3c979aa65d837b6dull, 0x3fefb5586cf9890full, 0x3c8eb51a92fdeffcull, 0x3fefac922b7247f7ull,
    0x3c3ebe3d702f9cd1ull, 0x3fefa3ec32d3d1a2ull, 0xbc6a033489906e0bull, 0x3fef9b66affed31bull,
    0xbc9556522a2fbd0eull, 0x3fef9301d0125b51ull, 0xbc5080ef8c4eea55ull, 0x3fef8abdc06c31ccull,
    0xbc91c923b9d5f416ull, 0x3fef829aaea92de0ull, 0x3c80d3e3e95c55afull, 0x3fef7a98c8a58e51ull,
    0xbc801b15eaa59348ull, 0x3fef72b83c7d517bull, 0xbc8f1ff055de323dull, 0x3fef6af9388c8deaull,
    0x3c8b898c3f1353bfull, 0x3fef635beb6fcb75ull, 0xbc96d99c7611eb26ull, 0x3fef5be084045cd4ull,
    0x3c9aecf73e3a2f60ull, 0x3fef54873168b9aaull, 0xbc8fe782cb86389dull, 0x3fef4d5022fcd91dull,
    0x3c8a6f4144a6c38dull, 0x3fef463b88628cd6ull, 0x3c807a05b0e4047dull, 0x3fef3f49917ddc96ull,
    0x3c968efde3a8a894ull, 0x3fef387a6e756238ull, 0x3c875e18f274487dull, 0x3fef31ce4fb2a63full,
    0x3c80472b981fe7f2ull, 0x3fef2b4565e27cddull, 0xbc96b87b3f71085eull, 0x3fef24dfe1f56381ull,
    0x3c82f7e16d09ab31ull, 0x3fef1e9df51fdee1ull, 0xbc3d219b1a6fbffaull, 0x3fef187fd0dad990ull,
    0x3c8b3782720c0ab4ull, 0x3fef1285a6e4030bull, 0x3c6e149289cecb8full, 0x3fef0cafa93e2f56ull,
    0x3c834d754db0abb6ull, 0x3fef06fe0a31b715ull, 0x3c864201e2ac744cull, 0x3fef0170fc4cd831ull,
    0x3c8fdd395dd3f84aull, 0x3feefc08b26416ffull, 0xbc86a3803b8e5b04ull, 0x3feef6c55f929ff1ull,
    0xbc924aedcc4b5068ull, 0x3feef1a7373aa9cbull, 0xbc9907f81b512d8eull, 0x3feeecae6d05d866ull,
    0xbc71d1e83e9436d2ull, 0x3feee7db34e59ff7ull, 0xbc991919b3ce1b15ull, 0x3feee32dc313a8e5ull,
    0x3c859f48a72a4c6dull, 0x3feedea64c123422ull, 0xbc9312607a28698aull, 0x3feeda4504ac801cull,
    0xbc58a78f4817895bull, 0x3feed60a21f72e2aull, 0xbc7c2c9b67499a1bull, 0x3feed1f5d950a897ull,
    0x3c4363ed60c2ac11ull, 0x3feece086061892dull, 0x3c9666093b0664efull, 0x3feeca41ed1d0057ull,
    0x3c6ecce1daa10379ull, 0x3feec6a2b5c13cd0ull, 0x3c93ff8e3f0f1230ull, 0x3feec32af0d7d3deull,
    0x3c7690cebb7aafb0ull, 0x3feebfdad5362a27ull, 0x3c931dbdeb54e077ull, 0x3feebcb299fddd0dull,
    0xbc8f94340071a38eull, 0x3feeb9b2769d2ca7ull, 0xbc87deccdc93a349ull, 0x3feeb6daa2cf6642ull,
    0xbc78dec6bd0f385full, 0x3feeb42b569d4f82ull, 0xbc861246ec7b5cf6ull, 0x3feeb1a4ca5d920full,
    0x3c93350518fdd78eull, 0x3feeaf4736b527daull, 0x3c7b98b72f8a9b05ull, 0x3feead12d497c7fdull,
    0x3c9063e1e21c5409ull, 0x3feeab07dd485429ull, 0x3c34c7855019c6eaull, 0x3feea9268a5946b7ull,
    0x3c9432e62b64c035ull, 0x3feea76f15ad2148ull, 0xbc8ce44a6199769full, 0x3feea5e1b976dc09ull,
    0xbc8c33c53bef4da8ull, 0x3feea47eb03a5585ull, 0xbc845378892be9aeull, 0x3feea34634ccc320ull,
    0xbc93cedd78565858ull, 0x3feea23882552225ull, 0x3c5710aa807e1964ull, 0x3feea155d44ca973ull,
    0xbc93b3efbf5e2228ull, 0x3feea09e667f3bcdull, 0xbc6a12ad8734b982ull, 0x3feea012750bdabfull,
    0xbc6367efb86da9eeull, 0x3fee9fb23c651a2full, 0xbc80dc3d54e08851ull, 0x3fee9f7df9519484ull,
    0xbc781f647e5a3ecfull, 0x3fee9f75e8ec5f74ull, 0xbc86ee4ac08b7db0ull, 0x3fee9f9a48a58174ull,
    0xbc8619321e55e68aull, 0x3fee9feb564267c9ull, 0x3c909ccb5e09d4d3ull, 0x3feea0694fde5d3full,
    0xbc7b32dcb94da51dull, 0x3feea11473eb0187ull, 0x3c94ecfd5467c06bull, 0x3feea1ed0130c132ull,
    0x3c65ebe1abd66c55ull, 0x3feea2f336cf4e62ull, 0xbc88a1c52fb3cf42ull, 0x3feea427543e1a12ull,
    0xbc9369b6f13b3734ull, 0x3feea589994cce13ull, 0xbc805e843a19ff1eull, 0x3feea71a4623c7adull,
    0xbc94d450d872576eull, 0x3feea8d99b4492edull, 0x3c90ad675b0e8a00ull, 0x3feeaac7d98a6699ull,
    0x3c8db72fc1f0eab4ull, 0x3feeace5422aa0dbull, 0xbc65b6609cc5e7ffull, 0x3feeaf3216b5448cull,
    0x3c7bf68359f35f44ull, 0x3feeb1ae99157736ull, 0xbc93091fa71e3d83ull, 0x3feeb45b0b91ffc6ull,
    0xbc5da9b88b6c1e29ull, 0x3feeb737b0cdc5e5ull, 0xbc6c23f97c90b959ull, 0x3feeba44cbc8520full,
    0xbc92434322f4f9aaull, 0x3feebd829fde4e50ull, 0xbc85ca6cd7668e4bull, 0x3feec0f170ca07baull,
    0x3c71affc2b91ce27ull, 0x3feec49182a3f090ull, 0x3c6dd235e10a73bbull, 0x3feec86319e32323ull,
    0xbc87c50422622263ull, 0x3feecc667b5de565ull, 0x3c8b1c86e3e231d5ull, 0x3feed09bec4a2d33ull,
    0xbc91bbd1d3bcbb15ull, 0x3feed503b23e255dull, 0x3c90cc319cee31d2ull, 0x3feed99e1330b358ull,
    0x3c8469846e735ab3ull, 0x3feede6b5579fdbfull, 0xbc82dfcd978e9db4ull, 0x3feee36bbfd3f37aull,
    0x3c8c1a7792cb3387ull, 0x3feee89f995ad3adull, 0xbc907b8f4ad1d9faull, 0x3feeee07298db666ull,
    0xbc55c3d956dcaebaull, 0x3feef3a2b84f15fbull, 0xbc90a40e3da6f640ull, 0x3feef9728de5593aull,
    0xbc68d6f438ad9334ull, 0x3feeff76f2fb5e47ull, 0xbc91eee26b588a35ull, 0x3fef05b030a1064aull,
    0x3c74ffd70a5fddcdull, 0x3fef0c1e904bc1d2ull, 0xbc91bdfbfa9298acull, 0x3fef12c25bd71e09ull,
    0x3c736eae30af0cb3ull, 0x3fef199bdd85529cull, 0x3c8ee3325c9ffd94ull, 0x3fef20ab5fffd07aull,
    0x3c84e08fd10959acull, 0x3fef27f12e57d14bull, 0x3c63cdaf384e1a67ull, 0x3fef2f6d9406e7b5ull,
    0x3c676b2c6c921968ull, 0x3fef3720dcef9069ull, 0xbc808a1883ccb5d2ull, 0x3fef3f0b555dc3faull,
    0xbc8fad5d3ffffa6full, 0x3fef472d4a07897cull, 0xbc900dae3875a949ull, 0x3fef4f87080d89f2ull,
    0x3c74a385a63d07a7ull, 0x3fef5818dcfba487ull, 0xbc82919e2040220full, 0x3fef60e316c98398ull,
    0x3c8e5a50d5c192acull, 0x3fef69e603db3285ull, 0x3c843a59ac016b4bull, 0x3fef7321f301b460ull,
    0xbc82d52107b43e1full, 0x3fef7c97337b9b5full, 0xbc892ab93b470dc9ull, 0x3fef864614f5a129ull,
    0x3c74b604603a88d3ull, 0x3fef902ee78b3ff6ull, 0x3c83c5ec519d7271ull, 0x3fef9a51fbc74c83ull,
    0xbc8ff7128fd391f0ull, 0x3fefa4afa2a490daull, 0xbc8dae98e223747dull, 0x3fefaf482d8e67f1ull,
    0x3c8ec3bc41aa2008ull, 0x3fefba1bee615a27ull, 0x3c842b94c3a9eb32ull, 0x3fefc52b376bba97ull,
    0x3c8a64a931d185eeull, 0x3fefd0765b6e4540ull, 0xbc8e37bae43be3edull, 0x3fefdbfdad9cbe14ull,
    0x3c77893b4d91cd9dull, 0x3fefe7c1819e90d8ull, 0x3c5305c14160cc89ull, 0x3feff3c22b8f71f1ull,
};

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

// Inputs on which glibc's exp and log built without fused multiply-adds give
// other bits than the variants with them: the start-up check includes them
// so that it fails when the process's libm does not contract as these
// routines do.
inline constexpr std::uint64_t kExpFmaWitnesses[96] = {
    0xc07ea3182bb5e900ull, 0xc076993bceaeaefeull, 0xc07caf3e353afa61ull, 0xc042df8160f3e588ull,
    0xc07f0c40c1c1d806ull, 0xc069a61b7052d1b0ull, 0xc009fc516fd45e40ull, 0xc05f4293a1e71258ull,
    0xc06db39c86793e5aull, 0xc0789715ba92bbe9ull, 0x40318e1520d25d3cull, 0xc039a8fa85cb148aull,
    0xc036d3be8e649020ull, 0xc07be8f08b259b01ull, 0xc054c4e7127d9fa0ull, 0xc075dc515884df6bull,
    0xc07a9620dadb02c5ull, 0x402c644b2aee3800ull, 0xc024f7a79cb949c0ull, 0xc07c1ed00d7f613full,
    0xc041056a1aaff020ull, 0x403fe5d4247ee2bcull, 0xc041006e1d9c23a2ull, 0xc07c7987dfa75f46ull,
    0xc07448e5f2c503fcull, 0xc0518a087580e7f8ull, 0xc076b7076acfa83dull, 0xc028fe58775e3880ull,
    0xc073e11c8039bc66ull, 0x4032fd2a8336ea56ull, 0xc07379f0de7c5a83ull, 0xc075d9d3f0acb6a6ull,
    0x40272bbce9486578ull, 0xc07a486c0e481948ull, 0xc070e5e4c143ff00ull, 0xc0657b82d7059910ull,
    0xc036fdb0bd41c480ull, 0x40280a052fa9b4a4ull, 0xc072d13b2e47cdbcull, 0xc0560a2737f361f0ull,
    0x403e53dd30d14038ull, 0xc060e01fb5b2a0f0ull, 0x403a2825dfee6fc0ull, 0xc0717151a987c515ull,
    0xc07d40b1dd697c0cull, 0xc0026d22560af350ull, 0xc02f0e95b799cc24ull, 0xc028368a7779fa80ull,
    0xc05142b4c25bf880ull, 0xc05b1604cd7d9b70ull, 0xc03faa3d3acb65a0ull, 0xc07f40592f04fc37ull,
    0xc06a3834286f1d50ull, 0xc031de93be84dfeaull, 0xc068f5a5b476af80ull, 0xc07ed80e4fc7ddd4ull,
    0xc0780fb77ac7e6e8ull, 0xc07c3fc8c699d11full, 0xc03567d3194c91fcull, 0xc03371c0e39d3ac0ull,
    0xc0319e3b070d8b00ull, 0xc077dbfa9e62412dull, 0xc06e9de4f8a542f4ull, 0xc04249c83a2f1900ull,
    0xc038580aed07ab6eull, 0xc0796ed77ad50423ull, 0xc057e6ec9ddb2420ull, 0xc0711ff6722d7dcaull,
    0xc04ce4fde39e6ff0ull, 0xc064bea258f198a4ull, 0xc074ae095ffc8b8bull, 0xc076e14eea09d39aull,
    0xc077331af626c242ull, 0xc0661ec2b47725d8ull, 0xc06fc3e962ae49fcull, 0xc04032cbcd528a40ull,
    0xc0708f8044a790ecull, 0xc034138d870f63e0ull, 0xc0318231ef971adaull, 0xc02ad301e232fe48ull,
    0x40421c00da0c29e6ull, 0xc054f8910a358890ull, 0xc072b1770729c7caull, 0x4003c41614a413f0ull,
    0xc070af5dcd843cb2ull, 0x40333e0349fa68e8ull, 0xc07ecd5bdd4924ccull, 0xc025bedab4565f40ull,
    0x401ef789a471ff30ull, 0xc07ccbf43f428de1ull, 0x403f43d0dc4f5cccull, 0xc07f6dd7b74faa8eull,
    0x4032c006a92a956aull, 0xc053307059c90440ull, 0xc029011313d4ddd4ull, 0xc06210fb602f3a3cull,
};
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
