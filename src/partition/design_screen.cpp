#include "partition/design_screen.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>

#include "numerics/simd/code_paths.hpp"

namespace quillon {
namespace {

constexpr std::uint64_t kExponent = 0x7ff0000000000000;

// NaN and the infinities are the doubles whose exponent bits are all set.
inline bool not_finite(double x) { return (std::bit_cast<std::uint64_t>(x) & kExponent) == kExponent; }

// Whether any of the n doubles from x on is NaN or infinite. The or of
// integer flags may be taken in any order, so the loop runs on vectors of
// the process's unit (a read of X at about twice the baseline's speed).
[[gnu::always_inline]] inline void flag_not_finite(const double* x, std::size_t n, bool& bad) {
  std::uint64_t flags = 0;
  for (std::size_t i = 0; i < n; ++i) flags |= static_cast<std::uint64_t>(not_finite(x[i]));
  bad = flags != 0;
}
QUILLON_FOR_EACH_UNIT(flag_not_finite_on_unit, (const double* x, std::size_t n, bool& bad),
                      flag_not_finite, (x, n, bad))

bool any_not_finite(const double* x, std::size_t n) {
  bool bad = false;
  flag_not_finite_on_unit(x, n, bad);
  return bad;
}

bool any_not_finite(const VectorView& v) {
  if (v.step == kDoubleBytes) return any_not_finite(reinterpret_cast<const double*>(v.bytes), v.size);
  for (std::size_t i = 0; i < v.size; ++i) {
    if (not_finite(v[i])) return true;
  }
  return false;
}

// Whether v[i] == value for every i in [first, end).
bool all_equal(const VectorView& v, std::size_t first, std::size_t end, double value) {
  for (std::size_t i = first; i < end; ++i) {
    if (!(v[i] == value)) return false;
  }
  return true;
}

// The counts of ones and of values neither 0 nor 1, and whether any value
// is NaN or infinite, in one read of n contiguous outcomes (integer sums,
// taken in any order, so on vectors of the process's unit).
[[gnu::always_inline]] inline void count_outcomes(const double* y, std::size_t n,
                                                  DesignScreen& out) {
  std::uint64_t ones = 0, outside = 0, flags = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double v = y[i];
    ones += static_cast<std::uint64_t>(v == 1.0);
    outside += static_cast<std::uint64_t>(v != 0.0 && v != 1.0);
    flags |= static_cast<std::uint64_t>(not_finite(v));
  }
  out.ones = ones;
  out.outside = outside;
  out.finite = flags == 0;
}
QUILLON_FOR_EACH_UNIT(count_outcomes_on_unit, (const double* y, std::size_t n, DesignScreen& out),
                      count_outcomes, (y, n, out))

void screen_outcome(const VectorView& endog, DesignScreen& out) {
  if (endog.step == kDoubleBytes) {
    count_outcomes_on_unit(reinterpret_cast<const double*>(endog.bytes), endog.size, out);
    return;
  }
  for (std::size_t i = 0; i < endog.size; ++i) {
    const double y = endog[i];
    out.ones += y == 1.0;
    out.outside += y != 0.0 && y != 1.0;
  }
  out.finite = !any_not_finite(endog);
}

// The columns whose first rows repeat a finite, nonzero first value: the
// only ones that may be constant, so the only ones read in full.
std::vector<std::size_t> constant_candidates(const MatrixView& exog) {
  const std::size_t head = std::min<std::size_t>(exog.rows, 64);
  std::vector<std::size_t> candidates;
  for (std::size_t j = 0; j < exog.cols; ++j) {
    const double first = exog(0, j);
    if (first != 0.0 && !not_finite(first) && all_equal(exog.column(j), 1, head, first)) {
      candidates.push_back(j);
    }
  }
  return candidates;
}

// Rows a block at a time, so that the candidates are compared while the
// block's lines are still in the cache: the finiteness of a block of
// consecutive rows is one flat read.
void screen_rows(const MatrixView& exog, std::vector<std::size_t> candidates,
                 DesignScreen& out) {
  constexpr std::size_t kBlock = 2048;
  const bool dense = exog.col_step == kDoubleBytes &&
                     exog.row_step == static_cast<std::ptrdiff_t>(exog.cols) * kDoubleBytes;
  for (std::size_t start = 0; start < exog.rows; start += kBlock) {
    const std::size_t end = std::min(exog.rows, start + kBlock);
    if (out.finite) {
      if (dense) {
        const auto* x = reinterpret_cast<const double*>(exog.bytes) + start * exog.cols;
        out.finite = !any_not_finite(x, (end - start) * exog.cols);
      } else {
        for (std::size_t i = start; i < end && out.finite; ++i) {
          out.finite = !any_not_finite(VectorView::of_bytes(
              exog.bytes + static_cast<std::ptrdiff_t>(i) * exog.row_step, exog.cols, exog.col_step));
        }
      }
    }
    std::erase_if(candidates, [&](std::size_t j) {
      return !all_equal(exog.column(j), start, end, exog(0, j));
    });
  }
  for (const std::size_t j : candidates) out.constant[j] = true;
}

// A column at a time: the layout of a frame's columns.
void screen_columns(const MatrixView& exog, const std::vector<std::size_t>& candidates,
                    DesignScreen& out) {
  for (std::size_t j = 0; j < exog.cols && out.finite; ++j) {
    out.finite = !any_not_finite(exog.column(j));
  }
  for (const std::size_t j : candidates) {
    out.constant[j] = all_equal(exog.column(j), 0, exog.rows, exog(0, j));
  }
}

}  // namespace

DesignScreen screen_design(const VectorView& endog, const MatrixView& exog) {
  DesignScreen out;
  out.constant.assign(exog.cols, false);
  screen_outcome(endog, out);
  if (exog.rows == 0 || exog.cols == 0) return out;
  const std::vector<std::size_t> candidates = constant_candidates(exog);
  if (exog.row_step == kDoubleBytes && exog.col_step != kDoubleBytes) {
    screen_columns(exog, candidates, out);
  } else {
    screen_rows(exog, candidates, out);
  }
  return out;
}

}  // namespace quillon
