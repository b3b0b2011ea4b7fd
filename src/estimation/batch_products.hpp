// The two products of the fit's sweep over a batch of rows of X, each copied
// into a row padded with zeros to a whole number of vector lanes (`width`
// doubles): the indices x_b . beta and the update of the Hessian by the
// weighted outer products of the rows. Vector lanes hold different sums, and
// every sum takes its terms in index order with separate multiplies and
// adds, so the results are bit for bit those of plain loops. Everything here
// is inlined into the sweeps, which are compiled for several vector units.
#pragma once

#include <algorithm>
#include <cstddef>

namespace quillon::batch {

// kLanes doubles side by side: a vector register of the target where it has
// one (GCC and clang split wider vectors).
template <std::size_t kLanes>
struct VectorType;
template <>
struct VectorType<4> {
  typedef double Lanes __attribute__((vector_size(32)));
};
template <>
struct VectorType<8> {
  typedef double Lanes __attribute__((vector_size(64)));
};
template <std::size_t kLanes>
using Lanes = typename VectorType<kLanes>::Lanes;

// Copies between vectors and doubles anywhere in memory (aligned to 8 bytes
// only). Through references, so that no vector crosses a call by value.
template <std::size_t kLanes>
[[gnu::always_inline]] inline void load(Lanes<kLanes>& v, const double* p) {
  Lanes<kLanes> t;  // v itself may sit in registers: its address is not taken
  __builtin_memcpy(&t, p, sizeof t);
  v = t;
}
template <std::size_t kLanes>
[[gnu::always_inline]] inline void store(double* p, const Lanes<kLanes>& v) {
  const Lanes<kLanes> t = v;
  __builtin_memcpy(p, &t, sizeof t);
}

// H[j][l] = H[j][l] - (x_bj w_b) x_bl for the batch's rows b in order, for
// the kGroup rows j0 <= j < j0 + kGroup of H and the kChunks * kLanes
// columns from l0 (padding columns collect zeros and are never read). Those
// parts of H stay in registers for the whole batch: kGroup * kChunks
// independent chains of subtractions, each still taking the observations in
// index order.
template <std::size_t kLanes, std::size_t kChunks, std::size_t kGroup>
[[gnu::always_inline]] inline void subtract_outer_group(double* __restrict h, std::size_t width,
                                                        std::size_t j0, std::size_t l0,
                                                        const double* __restrict x,
                                                        const double* __restrict w,
                                                        std::size_t rows) {
  Lanes<kLanes> acc[kGroup][kChunks];
  for (std::size_t g = 0; g < kGroup; ++g) {
    for (std::size_t c = 0; c < kChunks; ++c)
      load<kLanes>(acc[g][c], h + (j0 + g) * width + l0 + c * kLanes);
  }
  for (std::size_t b = 0; b < rows; ++b) {
    const double* xb = x + b * width;
    Lanes<kLanes> xl[kChunks];
    for (std::size_t c = 0; c < kChunks; ++c) load<kLanes>(xl[c], xb + l0 + c * kLanes);
    for (std::size_t g = 0; g < kGroup; ++g) {
      const double a = xb[j0 + g] * w[b];
      for (std::size_t c = 0; c < kChunks; ++c) acc[g][c] = acc[g][c] - a * xl[c];
    }
  }
  for (std::size_t g = 0; g < kGroup; ++g) {
    for (std::size_t c = 0; c < kChunks; ++c)
      store<kLanes>(h + (j0 + g) * width + l0 + c * kLanes, acc[g][c]);
  }
}

// The update of columns [l0, l0 + kChunks * kLanes) of every row of H, the
// rows in groups as large as the registers allow.
template <std::size_t kLanes, std::size_t kChunks>
[[gnu::always_inline]] inline void subtract_outer_columns(double* h, std::size_t k,
                                                          std::size_t width, std::size_t l0,
                                                          const double* x, const double* w,
                                                          std::size_t rows) {
  constexpr std::size_t kGroup = kChunks <= 2 ? 4 : 3;
  std::size_t j0 = 0;
  for (; j0 + kGroup <= k; j0 += kGroup)
    subtract_outer_group<kLanes, kChunks, kGroup>(h, width, j0, l0, x, w, rows);
  for (; j0 < k; ++j0) subtract_outer_group<kLanes, kChunks, 1>(h, width, j0, l0, x, w, rows);
}

// The whole update, in pieces of at most four vectors of columns.
template <std::size_t kLanes>
[[gnu::always_inline]] inline void subtract_weighted_outer(double* h, std::size_t k,
                                                           std::size_t width, const double* x,
                                                           const double* w, std::size_t rows) {
  for (std::size_t l0 = 0; l0 < width; l0 += 4 * kLanes) {
    switch (std::min<std::size_t>(4, (width - l0) / kLanes)) {
      case 1:
        subtract_outer_columns<kLanes, 1>(h, k, width, l0, x, w, rows);
        break;
      case 2:
        subtract_outer_columns<kLanes, 2>(h, k, width, l0, x, w, rows);
        break;
      case 3:
        subtract_outer_columns<kLanes, 3>(h, k, width, l0, x, w, rows);
        break;
      default:
        subtract_outer_columns<kLanes, 4>(h, k, width, l0, x, w, rows);
        break;
    }
  }
}

// eta_b = x_b . beta for the batch's rows b < rows (rows padded to `width`),
// each sum formed in column order from 0.0. Four rows at a time are turned
// into four columns in registers, so that the four sums advance side by side.
[[gnu::always_inline]] inline void linear_indices(const double* __restrict x, std::size_t width,
                                                  std::size_t k, const double* __restrict beta,
                                                  std::size_t rows, double* __restrict eta) {
  std::size_t b = 0;
  for (; b + 4 <= rows; b += 4) {
    const double* r = x + b * width;
    Lanes<4> sum = {0.0, 0.0, 0.0, 0.0};
    for (std::size_t j0 = 0; j0 < k; j0 += 4) {
      Lanes<4> r0;
      load<4>(r0, r + j0);
      Lanes<4> r1;
      load<4>(r1, r + width + j0);
      Lanes<4> r2;
      load<4>(r2, r + 2 * width + j0);
      Lanes<4> r3;
      load<4>(r3, r + 3 * width + j0);
      const Lanes<4> t0 = __builtin_shufflevector(r0, r1, 0, 4, 2, 6);
      const Lanes<4> t1 = __builtin_shufflevector(r0, r1, 1, 5, 3, 7);
      const Lanes<4> t2 = __builtin_shufflevector(r2, r3, 0, 4, 2, 6);
      const Lanes<4> t3 = __builtin_shufflevector(r2, r3, 1, 5, 3, 7);
      const Lanes<4> columns[4] = {
          __builtin_shufflevector(t0, t2, 0, 1, 4, 5), __builtin_shufflevector(t1, t3, 0, 1, 4, 5),
          __builtin_shufflevector(t0, t2, 2, 3, 6, 7), __builtin_shufflevector(t1, t3, 2, 3, 6, 7)};
      const std::size_t count = std::min<std::size_t>(4, k - j0);
      for (std::size_t t = 0; t < count; ++t) {
        const double c = beta[j0 + t];
        sum = sum + columns[t] * c;
      }
    }
    store<4>(eta + b, sum);
  }
  for (; b < rows; ++b) {
    const double* r = x + b * width;
    double sum = 0.0;
    for (std::size_t j = 0; j < k; ++j) sum = sum + r[j] * beta[j];
    eta[b] = sum;
  }
}

}  // namespace quillon::batch
