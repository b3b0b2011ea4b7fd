// The vocabulary of the loops that run several observations or columns side
// by side in GCC vector types: kLanes doubles (a register of the target where
// it has one; GCC and clang split wider vectors), masks of as many 64-bit
// integers, copies between vectors and memory, masking of padding lanes, and
// prefetching a line at a time. No vector crosses a call by value (that would
// depend on the target's calling convention): every helper takes references.
#pragma once

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

// The same number of 64-bit integers, for masks.
template <std::size_t kLanes>
struct MaskType;
template <>
struct MaskType<4> {
  typedef long long Bits __attribute__((vector_size(32)));
};
template <>
struct MaskType<8> {
  typedef long long Bits __attribute__((vector_size(64)));
};
template <std::size_t kLanes>
using Mask = typename MaskType<kLanes>::Bits;

// keep: all ones in the lanes of columns l0 + i < k, zero in the others.
// Through references, as below.
template <std::size_t kLanes>
[[gnu::always_inline]] inline void columns_below(Mask<kLanes>& keep, std::size_t k,
                                                 std::size_t l0) {
  Mask<kLanes> m;
  for (std::size_t i = 0; i < kLanes; ++i) m[i] = l0 + i < k ? -1 : 0;
  keep = m;
}

// v's lanes outside `keep` set to +0.0: a bitwise and, no arithmetic.
template <std::size_t kLanes>
[[gnu::always_inline]] inline void mask(Lanes<kLanes>& v, const Mask<kLanes>& keep) {
  v = (Lanes<kLanes>)((Mask<kLanes>)v & keep);
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

}  // namespace quillon::simd
