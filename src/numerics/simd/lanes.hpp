// The lane vocabulary of all the vector code, in GCC vector types: kLanes
// doubles (a register of the target where it has one; GCC and clang split
// wider vectors), as many 64-bit integers for masks and for the bits of
// doubles, copies between vectors and memory, masking of padding lanes,
// four rows turned into four columns, and prefetching a line at a time.
// This part is portable and serves the batch loops, which are compiled for
// every vector unit: no vector crosses a call by value here (that would
// depend on the target's calling convention), every helper takes
// references. The four-lane kernels add the x86-64 part, lanes_avx2.hpp.
#pragma once

#include <algorithm>
#include <cstddef>

namespace quillon::simd {

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

// The same number of 64-bit integers, for masks. Unsigned, so that their
// arithmetic wraps as the machine's does (signed overflow would be undefined)
// and >> shifts zeros in.
template <std::size_t kLanes>
struct MaskType;
template <>
struct MaskType<4> {
  typedef unsigned long long Bits __attribute__((vector_size(32)));
};
template <>
struct MaskType<8> {
  typedef unsigned long long Bits __attribute__((vector_size(64)));
};
template <std::size_t kLanes>
using Mask = typename MaskType<kLanes>::Bits;
// The same type, where its lanes hold the bits of doubles or integers.
template <std::size_t kLanes>
using Bits = Mask<kLanes>;

// keep: all ones in the lanes of columns l0 + i < k, zero in the others.
// Through references, as below.
template <std::size_t kLanes>
[[gnu::always_inline]] inline void columns_below(Mask<kLanes>& keep, std::size_t k,
                                                 std::size_t l0) {
  Mask<kLanes> m;
  for (std::size_t i = 0; i < kLanes; ++i) m[i] = l0 + i < k ? ~0ull : 0;
  keep = m;
}

// v's lanes outside `keep` set to +0.0: a bitwise and, no arithmetic.
template <std::size_t kLanes>
[[gnu::always_inline]] inline void mask(Lanes<kLanes>& v, const Mask<kLanes>& keep) {
  v = (Lanes<kLanes>)((Mask<kLanes>)v & keep);
}

// all's lanes kept where v's lane is 0.0 (either sign) or 1.0, cleared
// elsewhere (NaN included): quiet comparisons, as the scalar v == 0.0 ||
// v == 1.0.
template <std::size_t kLanes>
[[gnu::always_inline]] inline void keep_zero_or_one(Mask<kLanes>& all, const Lanes<kLanes>& v) {
  const Lanes<kLanes> zero = {}, one = zero + 1.0;
  all = all & ((Mask<kLanes>)(v == zero) | (Mask<kLanes>)(v == one));
}

// Prefetches of up to two ranges of memory (the next batch's rows of X and
// outcomes), one cache line per step, so that the lines arrive while the
// current batch is computed rather than in a burst when the batch starts.
struct LinePrefetcher {
  const char* next[2] = {nullptr, nullptr};
  const char* end[2] = {nullptr, nullptr};
  [[gnu::always_inline]] inline void step() {
    for (int r = 0; r < 2; ++r) {
      if (next[r] < end[r]) {
        __builtin_prefetch(next[r], 0, 2);
        next[r] += 64;
        return;
      }
    }
  }
  // The lines still to fetch.
  std::size_t lines() const {
    std::size_t n = 0;
    for (int r = 0; r < 2; ++r) {
      if (next[r] < end[r]) n += static_cast<std::size_t>(end[r] - next[r] + 63) / 64;
    }
    return n;
  }
};

// The same lines spread evenly over the steps of a batch whose count the
// caller knows (spread_over): one line every `every` steps, or two a step
// where the lines outnumber the steps. Issued back to back, prefetches wait
// for the line fill buffers, and the arithmetic waits with them.
struct SpreadPrefetcher {
  LinePrefetcher lines;
  std::size_t every = 1;
  std::size_t steps = 0;  // steps taken
  std::size_t wait = 0;   // steps until the next line
  bool twice = false;
  [[gnu::always_inline]] inline void step() {
    ++steps;
    if (wait != 0) {
      --wait;
      return;
    }
    wait = every - 1;
    lines.step();
    if (twice) lines.step();
  }
  void spread_over(std::size_t steps_per_batch) {
    const std::size_t n = lines.lines();
    every = n == 0 ? 1 : std::max<std::size_t>(1, steps_per_batch / n);
    twice = steps_per_batch < n;
  }
};

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

// columns[j] = {r0[j], r1[j], r2[j], r3[j]}: four rows of four turned into
// four columns, in registers.
[[gnu::always_inline]] inline void rows_to_columns(const Lanes<4>& r0, const Lanes<4>& r1,
                                                   const Lanes<4>& r2, const Lanes<4>& r3,
                                                   Lanes<4> (&columns)[4]) {
  const Lanes<4> t0 = __builtin_shufflevector(r0, r1, 0, 4, 2, 6);
  const Lanes<4> t1 = __builtin_shufflevector(r0, r1, 1, 5, 3, 7);
  const Lanes<4> t2 = __builtin_shufflevector(r2, r3, 0, 4, 2, 6);
  const Lanes<4> t3 = __builtin_shufflevector(r2, r3, 1, 5, 3, 7);
  columns[0] = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
  columns[1] = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
  columns[2] = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
  columns[3] = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
}

// Rows i .. i + 3 of four columns, each a contiguous run of doubles, as
// four rows of four doubles at out, `stride` doubles apart: loaded along
// the columns (column t's four values into loaded[t]) and turned in
// registers.
[[gnu::always_inline]] inline void columns_to_rows(const double* const (&c)[4], std::size_t i,
                                                   double* out, std::size_t stride,
                                                   Lanes<4> (&loaded)[4]) {
  for (std::size_t t = 0; t < 4; ++t) load<4>(loaded[t], c[t] + i);
  Lanes<4> rows[4];
  rows_to_columns(loaded[0], loaded[1], loaded[2], loaded[3], rows);
  for (std::size_t r = 0; r < 4; ++r) store<4>(out + r * stride, rows[r]);
}

}  // namespace quillon::simd
