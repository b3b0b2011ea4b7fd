// The products of the fit's sweep over a batch of rows of X (the indices
// x_b . beta are row_batches.hpp's): the score's update by the rows scaled
// by lambda_b and the Hessian's by their weighted outer products. Each row is read as `width`
// doubles (k rounded up to a whole number of vector lanes), `xstride`
// doubles after the previous one: rows copied into a buffer padded with
// zeros, or X's own rows in place, whose padding lanes then hold the next
// row's first values and are masked to zero as they are loaded (kMasked),
// so that they take part in no arithmetic and raise no floating-point flag.
// Vector lanes hold different sums, and every sum takes its terms in index
// order, with separate multiplies and adds or (Subtract) fused ones, so the
// results are bit for bit those of plain loops of the same operations.
// Everything here is inlined into the sweeps, which are compiled for several
// vector units.
#pragma once

#include <algorithm>
#include <cstddef>

#include "numerics/simd/lanes.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace quillon::batch {

using simd::columns_below;
using simd::Lanes;
using simd::SpreadPrefetcher;
using simd::load;
using simd::Mask;
using simd::mask;
using simd::store;

// How an update H - (x_bj w_b) x_bl is rounded: the product and then the
// subtraction (the engine's Hessian), or both at once, a fused
// multiply-subtract (the part kernels' mirrored Hessian). A fused operation
// is exact before its one rounding, so every form of it gives the same
// bits: the vector unit's instruction (AVX-512F, FMA), or the C library's
// fma lane by lane elsewhere.
enum class Subtract { kSeparate, kFusedLanes, kFusedAvx2, kFusedAvx512 };

// acc = acc - a x, each lane rounded once. Always inlined into the sweeps
// compiled for the unit it names, so its vectors never cross a call (GCC
// warns of the calling convention of a vector builtin outside them).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
#endif
template <Subtract kHow, std::size_t kLanes>
[[gnu::always_inline]] inline void subtract_fused(Lanes<kLanes>& acc, const Lanes<kLanes>& a,
                                                  const Lanes<kLanes>& x) {
#if defined(__x86_64__) && !defined(__clang__)
  if constexpr (kHow == Subtract::kFusedAvx512 && kLanes == 8) {
    acc = __builtin_ia32_vfnmaddpd512_mask(a, x, acc, 0xff, _MM_FROUND_CUR_DIRECTION);
  } else if constexpr (kHow == Subtract::kFusedAvx2 && kLanes == 4) {
    acc = __builtin_ia32_vfmaddpd256(-a, x, acc);
  } else
#endif
  {
    Lanes<kLanes> out;
    for (std::size_t i = 0; i < kLanes; ++i) out[i] = __builtin_fma(-a[i], x[i], acc[i]);
    acc = out;
  }
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

// H[j][l] = H[j][l] - (x_bj w_b) x_bl for the batch's rows b in order, for
// the kGroup rows j0 <= j < j0 + kGroup of H and the kChunks * kLanes
// columns from l0 (padding columns collect zeros and are never read). Those
// parts of H stay in registers for the whole batch: kGroup * kChunks
// independent chains of subtractions, each still taking the observations in
// index order. Each row step is also a step of the prefetches of the next batch.
template <std::size_t kLanes, std::size_t kChunks, std::size_t kGroup, bool kMasked,
          Subtract kHow>
[[gnu::always_inline]] inline void subtract_outer_group(double* __restrict h, std::size_t k,
                                                        std::size_t width, std::size_t j0,
                                                        std::size_t l0, const double* __restrict x,
                                                        std::ptrdiff_t xstride,
                                                        const double* __restrict w,
                                                        std::size_t rows, SpreadPrefetcher& pf) {
  Lanes<kLanes> acc[kGroup][kChunks];
  for (std::size_t g = 0; g < kGroup; ++g) {
    for (std::size_t c = 0; c < kChunks; ++c)
      load<kLanes>(acc[g][c], h + (j0 + g) * width + l0 + c * kLanes);
  }
  Mask<kLanes> keep;
  columns_below<kLanes>(keep, k, l0 + (kChunks - 1) * kLanes);
  for (std::size_t b = 0; b < rows; ++b) {
    pf.step();
    const double* xb = x + static_cast<std::ptrdiff_t>(b) * xstride;
    Lanes<kLanes> xl[kChunks];
    for (std::size_t c = 0; c < kChunks; ++c) load<kLanes>(xl[c], xb + l0 + c * kLanes);
    if constexpr (kMasked) mask<kLanes>(xl[kChunks - 1], keep);
    for (std::size_t g = 0; g < kGroup; ++g) {
      const double a = xb[j0 + g] * w[b];
      if constexpr (kHow == Subtract::kSeparate) {
        for (std::size_t c = 0; c < kChunks; ++c) acc[g][c] = acc[g][c] - a * xl[c];
      } else {
        // a in every lane: a - 0.0 is a itself (-0.0 included), which the
        // compiler reduces to a broadcast.
        const Lanes<kLanes> zero = {};
        const Lanes<kLanes> av = a - zero;
        for (std::size_t c = 0; c < kChunks; ++c) {
          subtract_fused<kHow, kLanes>(acc[g][c], av, xl[c]);
        }
      }
    }
  }
  for (std::size_t g = 0; g < kGroup; ++g) {
    for (std::size_t c = 0; c < kChunks; ++c)
      store<kLanes>(h + (j0 + g) * width + l0 + c * kLanes, acc[g][c]);
  }
}

// The update of columns [l0, l0 + kChunks * kLanes) of the rows
// j_begin <= j < j_end of H, the rows in groups as large as the registers
// allow. Only the last piece of columns can hold padding lanes.
template <std::size_t kLanes, std::size_t kChunks, bool kMasked, Subtract kHow>
[[gnu::always_inline]] inline void subtract_outer_columns(double* h, std::size_t k,
                                                          std::size_t width, std::size_t j_begin,
                                                          std::size_t j_end, std::size_t l0,
                                                          const double* x, std::ptrdiff_t xstride,
                                                          const double* w, std::size_t rows,
                                                          SpreadPrefetcher& pf) {
  // Accumulators of kGroup x kChunks vectors, the row's kChunks vectors
  // and a broadcast held in registers: 16 of them with four lanes (AVX2),
  // 32 with eight (AVX-512). With eight lanes, 6 x 2 and 4 x 4 took 0.92 to
  // 0.95 of the time of 4 x 2 and 3 x 4 at k = 30 and 80; 8 x 2 and 6 x 4
  // gained no more (benchmarks/part_kernels.py's machine).
  constexpr std::size_t kGroup = kLanes == 8 ? (kChunks <= 2 ? 6 : 4) : (kChunks <= 2 ? 4 : 3);
  std::size_t j0 = j_begin;
  for (; j0 + kGroup <= j_end; j0 += kGroup)
    subtract_outer_group<kLanes, kChunks, kGroup, kMasked, kHow>(h, k, width, j0, l0, x, xstride,
                                                                 w, rows, pf);
  for (; j0 + 2 <= j_end; j0 += 2)
    subtract_outer_group<kLanes, kChunks, 2, kMasked, kHow>(h, k, width, j0, l0, x, xstride, w,
                                                            rows, pf);
  for (; j0 < j_end; ++j0)
    subtract_outer_group<kLanes, kChunks, 1, kMasked, kHow>(h, k, width, j0, l0, x, xstride, w,
                                                            rows, pf);
}

// The update of rows [j_begin, j_end) of H (k x width, row-major) by the
// batch's rows, over the columns from l_begin (a multiple of kLanes) on, in
// pieces of at most four vectors; only the last one holds padding lanes.
// kPaddingInX: the rows' padding lanes hold other values, to be masked.
template <std::size_t kLanes, bool kPaddingInX, Subtract kHow>
[[gnu::always_inline]] inline void subtract_outer_rows(double* h, std::size_t k,
                                                       std::size_t width, std::size_t j_begin,
                                                       std::size_t j_end, std::size_t l_begin,
                                                       const double* x, std::ptrdiff_t xstride,
                                                       const double* w, std::size_t rows,
                                                       SpreadPrefetcher& pf) {
  for (std::size_t l0 = l_begin; l0 < width; l0 += 4 * kLanes) {
    const bool last = l0 + 4 * kLanes >= width;
    switch (std::min<std::size_t>(4, (width - l0) / kLanes)) {
      case 1:
        subtract_outer_columns<kLanes, 1, kPaddingInX, kHow>(h, k, width, j_begin, j_end, l0, x,
                                                       xstride, w, rows, pf);
        break;
      case 2:
        subtract_outer_columns<kLanes, 2, kPaddingInX, kHow>(h, k, width, j_begin, j_end, l0, x,
                                                       xstride, w, rows, pf);
        break;
      case 3:
        subtract_outer_columns<kLanes, 3, kPaddingInX, kHow>(h, k, width, j_begin, j_end, l0, x,
                                                       xstride, w, rows, pf);
        break;
      default:
        if (last) {
          subtract_outer_columns<kLanes, 4, kPaddingInX, kHow>(h, k, width, j_begin, j_end, l0, x,
                                                         xstride, w, rows, pf);
        } else {
          subtract_outer_columns<kLanes, 4, false, kHow>(h, k, width, j_begin, j_end, l0, x,
                                                         xstride, w, rows, pf);
        }
        break;
    }
  }
}

// The whole update of H (k x width, row-major) by the batch's rows.
template <std::size_t kLanes, bool kPaddingInX>
[[gnu::always_inline]] inline void subtract_weighted_outer(double* h, std::size_t k,
                                                           std::size_t width, const double* x,
                                                           std::ptrdiff_t xstride,
                                                           const double* w, std::size_t rows,
                                                           SpreadPrefetcher& pf) {
  subtract_outer_rows<kLanes, kPaddingInX, Subtract::kSeparate>(h, k, width, 0, k, 0, x, xstride,
                                                                w, rows, pf);
}

// The upper update of H's last rows, from j0 (a multiple of kLanes) to k,
// when they fill one or two vectors: in one loop over the batch instead of
// one per group of rows, every accumulator in a register. Two vectors
// (kLanes < k - j0 <= 2 kLanes): rows j0 .. j0 + kLanes - 1 over both
// vectors of columns from j0, and the rows after them (the tail) over the
// second; with eight lanes, up to 24 of the 32 registers, with four, up to
// 12 of 16. One vector (k <= kLanes): every row over it. The counts of
// rows are the loop's, not the compiler's: each possible row is unrolled
// and skipped when absent (a branch taken the same way on every row), so
// that one body serves every k. Every element takes the same operations in
// the same order as in subtract_outer_group, so the same bits.
template <std::size_t kLanes, bool kMasked, Subtract kHow>
[[gnu::always_inline]] inline void subtract_outer_two_vectors(double* __restrict h, std::size_t k,
                                                              std::size_t width, std::size_t j0,
                                                              const double* __restrict x,
                                                              std::ptrdiff_t xstride,
                                                              const double* __restrict w,
                                                              std::size_t rows,
                                                              SpreadPrefetcher& pf) {
  const std::size_t tails = k - j0 - kLanes;
  double* hj = h + j0 * width + j0;  // H[j0][j0]
  const Lanes<kLanes> zero = {};
  Lanes<kLanes> head[kLanes][2];
  Lanes<kLanes> tail[kLanes];
  for (std::size_t j = 0; j < kLanes; ++j) {
    load<kLanes>(head[j][0], hj + j * width);
    load<kLanes>(head[j][1], hj + j * width + kLanes);
    tail[j] = zero;
    if (j < tails) load<kLanes>(tail[j], hj + (kLanes + j) * width + kLanes);
  }
  Mask<kLanes> keep;
  columns_below<kLanes>(keep, k, j0 + kLanes);
  for (std::size_t b = 0; b < rows; ++b) {
    pf.step();
    const double* xb = x + static_cast<std::ptrdiff_t>(b) * xstride + j0;
    Lanes<kLanes> low, high;
    load<kLanes>(low, xb);
    load<kLanes>(high, xb + kLanes);
    if constexpr (kMasked) mask<kLanes>(high, keep);
    for (std::size_t j = 0; j < kLanes; ++j) {
      const Lanes<kLanes> a = xb[j] * w[b] - zero;
      subtract_fused<kHow, kLanes>(head[j][0], a, low);
      subtract_fused<kHow, kLanes>(head[j][1], a, high);
    }
    for (std::size_t t = 0; t < kLanes; ++t) {
      if (t < tails) {
        const Lanes<kLanes> a = xb[kLanes + t] * w[b] - zero;
        subtract_fused<kHow, kLanes>(tail[t], a, high);
      }
    }
  }
  for (std::size_t j = 0; j < kLanes; ++j) {
    store<kLanes>(hj + j * width, head[j][0]);
    store<kLanes>(hj + j * width + kLanes, head[j][1]);
    if (j < tails) store<kLanes>(hj + (kLanes + j) * width + kLanes, tail[j]);
  }
}

template <std::size_t kLanes, bool kMasked, Subtract kHow>
[[gnu::always_inline]] inline void subtract_outer_one_vector(double* __restrict h, std::size_t k,
                                                             const double* __restrict x,
                                                             std::ptrdiff_t xstride,
                                                             const double* __restrict w,
                                                             std::size_t rows,
                                                             SpreadPrefetcher& pf) {
  const Lanes<kLanes> zero = {};
  Lanes<kLanes> acc[kLanes];
  for (std::size_t j = 0; j < kLanes; ++j) {
    acc[j] = zero;
    if (j < k) load<kLanes>(acc[j], h + j * kLanes);
  }
  Mask<kLanes> keep;
  columns_below<kLanes>(keep, k, 0);
  for (std::size_t b = 0; b < rows; ++b) {
    pf.step();
    const double* xb = x + static_cast<std::ptrdiff_t>(b) * xstride;
    Lanes<kLanes> row;
    load<kLanes>(row, xb);
    if constexpr (kMasked) mask<kLanes>(row, keep);
    for (std::size_t j = 0; j < kLanes; ++j) {
      if (j < k) {
        const Lanes<kLanes> a = xb[j] * w[b] - zero;
        subtract_fused<kHow, kLanes>(acc[j], a, row);
      }
    }
  }
  for (std::size_t j = 0; j < kLanes; ++j) {
    if (j < k) store<kLanes>(h + j * kLanes, acc[j]);
  }
}

// The update of the elements of H on and above the diagonal (with those
// below it that share their vectors): the rows kLanes at a time, each block
// of rows from the vector holding its first diagonal element on. Every
// element so formed takes the terms of subtract_weighted_outer in the same
// order, each by the update kHow says (the part kernels: fused, the same
// bits on every unit); the elements below the diagonal are to be taken from
// their mirror images. At k = 10 (four lanes) this is 22 vector updates per
// row of X instead of 30; at k = 80 (eight lanes) 440 instead of 800, each
// one fused operation instead of two.
template <std::size_t kLanes, bool kPaddingInX, Subtract kHow>
[[gnu::always_inline]] inline void subtract_weighted_outer_upper(double* h, std::size_t k,
                                                                 std::size_t width,
                                                                 const double* x,
                                                                 std::ptrdiff_t xstride,
                                                                 const double* w,
                                                                 std::size_t rows,
                                                                 SpreadPrefetcher& pf) {
  static_assert(kHow != Subtract::kSeparate, "the upper form is the part kernels' fused one");
  // The blocks of rows in register tiles, the last one or two in one loop.
  if (width == kLanes) {
    subtract_outer_one_vector<kLanes, kPaddingInX, kHow>(h, k, x, xstride, w, rows, pf);
    return;
  }
  const std::size_t j_last = width - 2 * kLanes;
  for (std::size_t j0 = 0; j0 < j_last; j0 += kLanes) {
    subtract_outer_rows<kLanes, kPaddingInX, kHow>(h, k, width, j0, j0 + kLanes, j0, x, xstride,
                                                   w, rows, pf);
  }
  subtract_outer_two_vectors<kLanes, kPaddingInX, kHow>(h, k, width, j_last, x, xstride, w, rows,
                                                        pf);
}

// g_l = x_bl lambda_b + g_l for the batch's rows b in order, for the
// kChunks * kLanes columns from l0, g held in registers over the batch.
template <std::size_t kLanes, std::size_t kChunks, bool kMasked>
[[gnu::always_inline]] inline void add_scaled_rows_piece(double* __restrict g, std::size_t k,
                                                         std::size_t l0,
                                                         const double* __restrict x,
                                                         std::ptrdiff_t xstride,
                                                         const double* __restrict lambda,
                                                         std::size_t rows) {
  Lanes<kLanes> acc[kChunks];
  for (std::size_t c = 0; c < kChunks; ++c) load<kLanes>(acc[c], g + l0 + c * kLanes);
  Mask<kLanes> keep;
  columns_below<kLanes>(keep, k, l0 + (kChunks - 1) * kLanes);
  for (std::size_t b = 0; b < rows; ++b) {
    const double* xb = x + static_cast<std::ptrdiff_t>(b) * xstride;
    const double lb = lambda[b];
    Lanes<kLanes> xl[kChunks];
    for (std::size_t c = 0; c < kChunks; ++c) load<kLanes>(xl[c], xb + l0 + c * kLanes);
    if constexpr (kMasked) mask<kLanes>(xl[kChunks - 1], keep);
    for (std::size_t c = 0; c < kChunks; ++c) acc[c] = xl[c] * lb + acc[c];
  }
  for (std::size_t c = 0; c < kChunks; ++c) store<kLanes>(g + l0 + c * kLanes, acc[c]);
}

// The score's update by the batch, g padded to `width` (padding lanes
// collect zeros and are never read).
template <std::size_t kLanes, bool kPaddingInX>
[[gnu::always_inline]] inline void add_scaled_rows(double* g, std::size_t k, std::size_t width,
                                                   const double* x, std::ptrdiff_t xstride,
                                                   const double* lambda, std::size_t rows) {
  for (std::size_t l0 = 0; l0 < width; l0 += 4 * kLanes) {
    const bool last = l0 + 4 * kLanes >= width;
    switch (std::min<std::size_t>(4, (width - l0) / kLanes)) {
      case 1:
        add_scaled_rows_piece<kLanes, 1, kPaddingInX>(g, k, l0, x, xstride, lambda, rows);
        break;
      case 2:
        add_scaled_rows_piece<kLanes, 2, kPaddingInX>(g, k, l0, x, xstride, lambda, rows);
        break;
      case 3:
        add_scaled_rows_piece<kLanes, 3, kPaddingInX>(g, k, l0, x, xstride, lambda, rows);
        break;
      default:
        if (last) {
          add_scaled_rows_piece<kLanes, 4, kPaddingInX>(g, k, l0, x, xstride, lambda, rows);
        } else {
          add_scaled_rows_piece<kLanes, 4, false>(g, k, l0, x, xstride, lambda, rows);
        }
        break;
    }
  }
}

}  // namespace quillon::batch
