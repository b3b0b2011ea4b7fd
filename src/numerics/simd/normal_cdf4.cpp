// The standard normal cdf four observations at a time (AVX2), bit for bit
// what NormalDistribution{0, 1}.cdf returns one at a time: 0.5 erfc(-x/sqrt 2)
// on the module's own piecewise rational error function, the erfc pieces
// times exp4(-z z).
//
// Each lane takes its own piece of the error function, chosen by its own |z|:
// the piece's coefficients are loaded as rows and transposed into lanes, and
// both polynomials run Horner's rule over eight coefficients with separate
// multiplies and adds. Shorter polynomials are padded with leading zeros,
// which leaves every Horner step's value unchanged (0 t + c == c for finite t
// and c != 0), so each lane passes through exactly the scalar chain's values.
// The scalar code's branches become blends; the few lanes the blends do not
// cover (|z| >= 110, infinities, NaN, and |z| == 0.5 with z < 0, where erf
// is formed as 1 - erfc) are recomputed by the scalar code.
//
// The work runs as passes over blocks of observations, each pass a loop of
// independent iterations, so that the divisions and table loads of many
// observations overlap instead of forming one long chain per four.
//
// Exact to the scalar form wherever exp4 is to glibc's exp (see exp4.hpp):
// compared with it on every piece edge, special values and 10^6 random
// inputs by the C++ tests (10^9 in make soak), with no difference; it needs
// no start-up check of its own beyond exp4's.
#include "numerics/simd/kernels4.hpp"

#if defined(__x86_64__)

#include <array>
#include <bit>
#include <cstdint>

#include "numerics/normal.hpp"
#include "numerics/simd/exp4.hpp"

namespace quillon::avx2 {
namespace {

using namespace erf_detail;

// One row per piece: P0..P7, Q1..Q7 (Q0 is 1 in every piece), shift, offset,
// and padding to a multiple of four. Row 0 is erf on [0, 0.5), rows 1..13
// the erfc pieces in order.
constexpr std::size_t kRowWidth = 20;
constexpr std::size_t kPieces = 14;
constexpr std::size_t kShiftColumn = 15;
constexpr std::size_t kOffsetColumn = 16;

struct PieceTable {
  alignas(64) double rows[16][kRowWidth] = {};
  // The piece of |z| from the bits of |z| shifted right by 46 (sign, exponent
  // and six mantissa bits: every piece edge lies on that grid): slot 0 below
  // 0.5, slots 1..512 for [0.5, 128), slot 513 above.
  std::uint8_t piece_of_slot[514] = {};
};

template <std::size_t NP, std::size_t NQ>
constexpr void put_piece(PieceTable& t, std::size_t row, const std::array<double, NP>& p,
                         const std::array<double, NQ>& q, double shift, double offset) {
  static_assert(NP <= 8 && NQ <= 8);
  for (std::size_t i = 0; i < NP; ++i) t.rows[row][i] = p[i];
  for (std::size_t i = 1; i < NQ; ++i) t.rows[row][7 + i] = q[i];
  t.rows[row][kShiftColumn] = shift;
  t.rows[row][kOffsetColumn] = offset;
}

template <class Piece>
constexpr void put_piece(PieceTable& t, std::size_t row, const Piece& piece) {
  put_piece(t, row, piece.p, piece.q, piece.shift, piece.offset);
}

constexpr PieceTable make_piece_table() {
  PieceTable t;
  put_piece(t, 0, kErfSmallP, kErfSmallQ, 0.0, 0.0);
  put_piece(t, 1, kErfcPiece0);
  put_piece(t, 2, kErfcPiece1);
  put_piece(t, 3, kErfcPiece2);
  put_piece(t, 4, kErfcPiece3);
  put_piece(t, 5, kErfcPiece4);
  put_piece(t, 6, kErfcPiece5);
  put_piece(t, 7, kErfcPiece6);
  put_piece(t, 8, kErfcPiece7);
  put_piece(t, 9, kErfcPiece8);
  put_piece(t, 10, kErfcPiece9);
  put_piece(t, 11, kErfcPiece10);
  put_piece(t, 12, kErfcPiece11);
  put_piece(t, 13, kErfcPiece12);
  for (std::size_t slot = 1; slot < 513; ++slot) {
    const double a = std::bit_cast<double>(static_cast<std::uint64_t>(0xff7f + slot) << 46);
    std::uint8_t piece = 0;
    for (std::size_t row = 1; row < kPieces; ++row) {
      if (a >= t.rows[row][kShiftColumn]) piece = static_cast<std::uint8_t>(row);
    }
    t.piece_of_slot[slot] = piece;
  }
  t.piece_of_slot[513] = kPieces - 1;
  return t;
}

constexpr PieceTable kPieceTable = make_piece_table();

constexpr std::size_t kBlock = 256;

struct alignas(32) CdfScratch {
  double z[kBlock], a[kBlock], num[kBlock], den[kBlock], offset[kBlock], e[kBlock];
  std::uint32_t slot[kBlock];
  std::uint32_t rare[kBlock / 4];  // first observation of each vector with a rare lane
};

// Four rows of the piece table side by side: c[j] holds coefficient j of each
// lane's row.
QUILLON_AVX2_INLINE void transpose_rows(const double* r0, const double* r1, const double* r2,
                                        const double* r3, __m256d (&c)[17]) {
  for (std::size_t o = 0; o < 16; o += 4) {
    const __m256d a =
        _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_load_pd(r0 + o)), _mm_load_pd(r2 + o), 1);
    const __m256d b =
        _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_load_pd(r1 + o)), _mm_load_pd(r3 + o), 1);
    const __m256d c2 = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_load_pd(r0 + o + 2)),
                                            _mm_load_pd(r2 + o + 2), 1);
    const __m256d d2 = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_load_pd(r1 + o + 2)),
                                            _mm_load_pd(r3 + o + 2), 1);
    c[o + 0] = _mm256_unpacklo_pd(a, b);
    c[o + 1] = _mm256_unpackhi_pd(a, b);
    c[o + 2] = _mm256_unpacklo_pd(c2, d2);
    c[o + 3] = _mm256_unpackhi_pd(c2, d2);
  }
  const __m256d a =
      _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_load_pd(r0 + 16)), _mm_load_pd(r2 + 16), 1);
  const __m256d b =
      _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_load_pd(r1 + 16)), _mm_load_pd(r3 + 16), 1);
  c[16] = _mm256_unpacklo_pd(a, b);
}

// z = (0 - x) / sqrt 2, |z|, the piece slot of |z|; returns the number of
// vectors with a lane the blends do not cover, listed in s.rare.
QUILLON_AVX2 std::size_t cdf_prepare(const double* x, std::size_t n, CdfScratch& s) {
  std::size_t rare_count = 0;
  for (std::size_t i = 0; i < n; i += 4) {
    const __m256d z = _mm256_div_pd(_mm256_sub_pd(_mm256_setzero_pd(), _mm256_loadu_pd(x + i)),
                                    broadcast(1.4142135623730951));
    const __m256d a = _mm256_andnot_pd(broadcast(-0.0), z);
    _mm256_store_pd(s.z + i, z);
    _mm256_store_pd(s.a + i, a);
    __m256i key = _mm256_srli_epi64(_mm256_castpd_si256(a), 46);
    key = _mm256_sub_epi32(key, _mm256_set1_epi32(0xff7f));
    key = _mm256_min_epi32(_mm256_max_epi32(key, _mm256_setzero_si256()), _mm256_set1_epi32(513));
    key = _mm256_permutevar8x32_epi32(key, _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(s.slot + i), _mm256_castsi256_si128(key));
    const __m256d rare = _mm256_or_pd(_mm256_cmp_pd(a, broadcast(110.0), _CMP_NLT_UQ),
                                      _mm256_cmp_pd(a, broadcast(0.5), _CMP_EQ_OQ));
    s.rare[rare_count] = static_cast<std::uint32_t>(i);
    rare_count += _mm256_movemask_pd(rare) != 0;
  }
  return rare_count;
}

// The two polynomials of each lane's piece, and its offset.
QUILLON_AVX2 void cdf_polynomials(std::size_t n, CdfScratch& s) {
  const __m256d one = broadcast(1.0);
  for (std::size_t i = 0; i < n; i += 4) {
    __m256d c[17];
    transpose_rows(kPieceTable.rows[kPieceTable.piece_of_slot[s.slot[i + 0]]],
                   kPieceTable.rows[kPieceTable.piece_of_slot[s.slot[i + 1]]],
                   kPieceTable.rows[kPieceTable.piece_of_slot[s.slot[i + 2]]],
                   kPieceTable.rows[kPieceTable.piece_of_slot[s.slot[i + 3]]], c);
    const __m256d a = _mm256_load_pd(s.a + i);
    const __m256d t = _mm256_sub_pd(a, c[kShiftColumn]);
    __m256d num = c[7];
    __m256d den = c[14];
    for (int j = 6; j >= 0; --j) {
      num = _mm256_add_pd(_mm256_mul_pd(num, t), c[j]);
      den = _mm256_add_pd(_mm256_mul_pd(den, t), j == 0 ? one : c[7 + j]);
    }
    // The erf piece's numerator is z P(z).
    const __m256d small = _mm256_cmp_pd(a, broadcast(0.5), _CMP_LT_OQ);
    _mm256_store_pd(s.num + i, _mm256_blendv_pd(num, _mm256_mul_pd(a, num), small));
    _mm256_store_pd(s.den + i, den);
    _mm256_store_pd(s.offset + i, c[kOffsetColumn]);
  }
}

// exp(-z z) for the erfc pieces (the erf piece needs none: any argument will do).
QUILLON_AVX2 void cdf_exponentials(std::size_t n, CdfScratch& s) {
  for (std::size_t i = 0; i < n; i += 4) {
    const __m256d a = _mm256_load_pd(s.a + i);
    const __m256d small = _mm256_cmp_pd(a, broadcast(0.5), _CMP_LT_OQ);
    const __m256d arg = _mm256_blendv_pd(_mm256_mul_pd(_mm256_xor_pd(a, broadcast(-0.0)), a),
                                         broadcast(-1.0), small);
    _mm256_store_pd(s.e + i, exp4(arg));
  }
}

// erf_impl's outcomes as blends, then 0.5 erfc(z):
//   |z| < 0.5:  z >= 0: 1 - r   z < 0: 1 + r   (r = erf |z|)
//   |z| >= 0.5: z >= 0: 0 + r   z < 0: 2 - r   (r = erfc |z|)
QUILLON_AVX2 void cdf_combine(std::size_t n, const CdfScratch& s, double* out) {
  const __m256d zero = _mm256_setzero_pd();
  const __m256d one = broadcast(1.0);
  for (std::size_t i = 0; i < n; i += 4) {
    const __m256d a = _mm256_load_pd(s.a + i);
    const __m256d z = _mm256_load_pd(s.z + i);
    const __m256d small = _mm256_cmp_pd(a, broadcast(0.5), _CMP_LT_OQ);
    const __m256d ratio = _mm256_div_pd(_mm256_load_pd(s.num + i), _mm256_load_pd(s.den + i));
    const __m256d tiny = _mm256_cmp_pd(a, broadcast(1e-10), _CMP_LT_OQ);
    const __m256d r_small =
        _mm256_add_pd(_mm256_mul_pd(broadcast(1.125), a),
                      _mm256_blendv_pd(ratio, _mm256_mul_pd(broadcast(kErfTinySlope), a), tiny));
    const __m256d g = _mm256_div_pd(_mm256_load_pd(s.e + i), a);
    const __m256d r_tail =
        _mm256_add_pd(_mm256_mul_pd(g, ratio), _mm256_mul_pd(g, _mm256_load_pd(s.offset + i)));
    const __m256d r = _mm256_blendv_pd(r_tail, r_small, small);
    const __m256d negative = _mm256_cmp_pd(z, zero, _CMP_LT_OQ);
    const __m256d flip = _mm256_and_pd(_mm256_xor_pd(small, negative), broadcast(-0.0));
    const __m256d base = _mm256_blendv_pd(_mm256_and_pd(negative, broadcast(2.0)), one, small);
    _mm256_storeu_pd(out + i,
                     _mm256_mul_pd(broadcast(0.5), _mm256_add_pd(base, _mm256_xor_pd(r, flip))));
  }
}

// cdf for n <= kBlock observations, n a multiple of 4; out may be x.
QUILLON_AVX2 void cdf_block(const double* x, double* out, std::size_t n) {
  CdfScratch s;
  const std::size_t rare_count = cdf_prepare(x, n, s);
  cdf_polynomials(n, s);
  cdf_exponentials(n, s);
  // The rare vectors' inputs, before out (which may be x) is written.
  double rare_x[kBlock];
  for (std::size_t r = 0; r < rare_count; ++r) {
    for (std::size_t lane = 0; lane < 4; ++lane) rare_x[4 * r + lane] = x[s.rare[r] + lane];
  }
  cdf_combine(n, s, out);
  for (std::size_t r = 0; r < rare_count; ++r) {
    for (std::size_t lane = 0; lane < 4; ++lane) {
      out[s.rare[r] + lane] = kStandardNormal.cdf(rare_x[4 * r + lane]);
    }
  }
}

}  // namespace

QUILLON_AVX2 void cdf(const double* x, double* out, std::size_t n) {
  const std::size_t whole = n / 4 * 4;
  for (std::size_t start = 0; start < whole; start += kBlock) {
    const std::size_t count = whole - start < kBlock ? whole - start : kBlock;
    cdf_block(x + start, out + start, count);
  }
  for (std::size_t i = whole; i < n; ++i) out[i] = kStandardNormal.cdf(x[i]);
}

}  // namespace quillon::avx2

#endif  // __x86_64__
