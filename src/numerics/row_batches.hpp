// The loop over the rows of X a batch at a time, shared by the fit's sweeps
// (the score rows of the robust covariances included) and ame's sums: each
// batch of rows is read in place when X's rows allow it, gathered into a
// buffer padded with zeros otherwise; the next batch's rows are prefetched
// while the current one is worked on; a poll for Ctrl-C falls due at every
// multiple of kRowsPerPoll rows; and the linear indices x_b . beta of a
// batch are formed in one place. Everything here is inlined into loops that
// are compiled for each vector unit.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "numerics/interrupt.hpp"
#include "numerics/matrix.hpp"
#include "numerics/simd/lanes.hpp"

namespace quillon {

// One batch as its loops read it: `count` rows, each `width` doubles read
// from `x`, `stride` doubles apart. In place, the lanes past a row's k
// values hold other values (padding_in_x) and must be masked before they
// take part in arithmetic; gathered, they are zeros.
struct BatchRows {
  std::size_t start = 0;
  std::size_t count = 0;
  const double* x = nullptr;
  std::ptrdiff_t stride = 0;
  bool padding_in_x = false;
};

class RowBatches {
 public:
  // The rows of `x`, `batch` at a time, each read as `width` >= x.cols
  // doubles; `first` is the position of x's row 0 in the whole X, on which
  // the polls fall.
  RowBatches(const MatrixView& x, std::size_t width, std::size_t batch, std::size_t first = 0)
      : x_(x), width_(width), batch_(batch), first_(first), buffer_(batch * width, 0.0) {
    const auto address = reinterpret_cast<std::uintptr_t>(x.bytes);
    in_place_ = x.adjacent_columns() && x.row_step % kDoubleBytes == 0 &&
                address % alignof(double) == 0;
    by_columns_ = !in_place_ && x.row_step == kDoubleBytes && x.col_step % kDoubleBytes == 0 &&
                  address % alignof(double) == 0;
    stride_ = x.row_step / kDoubleBytes;
  }

  std::size_t rows() const { return x_.rows; }

  // Whether a multiple of kRowsPerPoll (but 0) of the whole X falls among
  // the rows of the batch that starts at `start`.
  bool poll_due(std::size_t start) const {
    const std::size_t at = first_ + start;
    const std::size_t boundary = (at + kRowsPerPoll - 1) / kRowsPerPoll * kRowsPerPoll;
    return boundary != 0 && boundary < at + count(start);
  }

  // The batch that starts at `start`, readable until the next call.
  [[gnu::always_inline]] BatchRows batch(std::size_t start) {
    BatchRows b{start, count(start), buffer_.data(), static_cast<std::ptrdiff_t>(width_), false};
    if (readable_in_place(start, b.count)) {
      b.x = reinterpret_cast<const double*>(x_.row_bytes(start));
      b.stride = stride_;
      b.padding_in_x = width_ != x_.cols;
      return b;
    }
    if (by_columns_) {
      gather_from_columns(start, b.count);
    } else {
      for (std::size_t i = 0; i < b.count; ++i) x_.copy_row(start + i, buffer_.data() + i * width_);
    }
    return b;
  }

  // The rows of the batch after the one at `start`, to fetch a line at a
  // time (in place only: gathered rows are read in one go).
  simd::LinePrefetcher prefetch_after(std::size_t start) const {
    simd::LinePrefetcher prefetch;
    const std::size_t next = start + batch_;
    if (!in_place_ || next >= x_.rows) return prefetch;
    const std::byte* a = x_.row_bytes(next);
    const std::byte* b = x_.row_bytes(next + count(next) - 1);
    prefetch.next[0] = reinterpret_cast<const char*>(std::min(a, b));
    prefetch.end[0] = reinterpret_cast<const char*>(std::max(a, b)) + x_.cols * sizeof(double);
    return prefetch;
  }

 private:
  std::size_t count(std::size_t start) const { return std::min(batch_, x_.rows - start); }

  // Every load of `width` doubles from the rows stays inside X's own span:
  // past a row's k values only into the rows after it (or before it, when
  // the rows run backwards).
  bool readable_in_place(std::size_t first, std::size_t count) const {
    if (!in_place_ || count == 0) return false;
    const auto over = static_cast<std::ptrdiff_t>(width_ - x_.cols);
    if (over == 0) return true;
    const auto last = static_cast<std::ptrdiff_t>(x_.rows) - 1;
    if (stride_ > 0) return (last - static_cast<std::ptrdiff_t>(first + count - 1)) * stride_ >= over;
    if (stride_ < 0) return static_cast<std::ptrdiff_t>(first) * -stride_ >= over;
    return false;
  }

  // Rows ahead of the one read that gather_from_columns fetches.
  static constexpr std::size_t kColumnAhead = 512;

  // Rows [first, first + count) of an X whose columns each lie in one piece
  // of memory (a column-major array, a pandas frame's block) into the
  // buffer: four columns of four rows at a time, each column read along
  // its memory and the four turned into rows in registers.
  [[gnu::always_inline]] void gather_from_columns(std::size_t first, std::size_t count) {
    const std::byte* top = x_.row_bytes(first);
    double* out = buffer_.data();
    const auto column = [&](std::size_t j) {
      return reinterpret_cast<const double*>(top + static_cast<std::ptrdiff_t>(j) * x_.col_step);
    };
    std::size_t j = 0;
    for (; j + 4 <= x_.cols; j += 4) {
      const double* c[4] = {column(j), column(j + 1), column(j + 2), column(j + 3)};
      std::size_t i = 0;
      for (; i + 4 <= count; i += 4) {
        if (i % 8 == 0 && first + i + kColumnAhead < x_.rows) {
          for (std::size_t t = 0; t < 4; ++t) __builtin_prefetch(c[t] + i + kColumnAhead, 0, 2);
        }
        simd::Lanes<4> loaded[4];
        simd::columns_to_rows(c, i, out + i * width_ + j, width_, loaded);
      }
      for (; i < count; ++i) {
        for (std::size_t t = 0; t < 4; ++t) out[i * width_ + j + t] = c[t][i];
      }
    }
    for (; j < x_.cols; ++j) {
      const double* c = column(j);
      for (std::size_t i = 0; i < count; ++i) out[i * width_ + j] = c[i];
    }
  }

  MatrixView x_;
  std::size_t width_;
  std::size_t batch_;
  std::size_t first_;
  bool in_place_ = false;
  bool by_columns_ = false;  // gathered a column at a time
  std::ptrdiff_t stride_ = 0;
  std::vector<double> buffer_;
};

// eta_b = x_b . beta for the batch's rows b < rows (`width` doubles apart),
// each sum formed in column order from 0.0 over the k columns only. Four
// rows at a time are turned into four columns in registers, so that the four
// sums advance side by side; the loads past column k are never used.
[[gnu::always_inline]] inline void linear_indices(const double* __restrict x, std::ptrdiff_t width,
                                                  std::size_t k, const double* __restrict beta,
                                                  std::size_t rows, double* __restrict eta) {
  std::size_t b = 0;
  for (; b + 4 <= rows; b += 4) {
    const double* r = x + static_cast<std::ptrdiff_t>(b) * width;
    simd::Lanes<4> sum = {0.0, 0.0, 0.0, 0.0};
    for (std::size_t j0 = 0; j0 < k; j0 += 4) {
      simd::Lanes<4> r0;
      simd::load<4>(r0, r + j0);
      simd::Lanes<4> r1;
      simd::load<4>(r1, r + width + j0);
      simd::Lanes<4> r2;
      simd::load<4>(r2, r + 2 * width + j0);
      simd::Lanes<4> r3;
      simd::load<4>(r3, r + 3 * width + j0);
      simd::Lanes<4> columns[4];
      simd::rows_to_columns(r0, r1, r2, r3, columns);
      const std::size_t count = std::min<std::size_t>(4, k - j0);
      for (std::size_t t = 0; t < count; ++t) {
        const double c = beta[j0 + t];
        sum = sum + columns[t] * c;
      }
    }
    simd::store<4>(eta + b, sum);
  }
  for (; b < rows; ++b) {
    const double* r = x + static_cast<std::ptrdiff_t>(b) * width;
    double sum = 0.0;
    for (std::size_t j = 0; j < k; ++j) sum = sum + r[j] * beta[j];
    eta[b] = sum;
  }
}

}  // namespace quillon
