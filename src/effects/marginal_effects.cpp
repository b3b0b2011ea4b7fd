#include "effects/marginal_effects.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>

#include "numerics/kernels.hpp"
#include "numerics/panic.hpp"
#include "numerics/row_batches.hpp"
#include "numerics/simd/code_paths.hpp"
#include "numerics/simd/lanes.hpp"

namespace quillon {
namespace {

// The sums over columns run two vectors of four lanes at a time, in
// registers; rows of a batch and those sums are padded with zeros to a
// whole number of such pairs.
constexpr std::size_t kSumLanes = 4;
constexpr std::size_t kSumPiece = 2 * kSumLanes;
std::size_t padded_width(std::size_t k) { return (k + kSumPiece - 1) / kSumPiece * kSumPiece; }

// Per-chunk sums, each formed from 0.0 over the chunk's rows in order.
struct ChunkSums {
  std::size_t k;
  std::size_t width;               // k padded (padding columns are never read)
  double density = 0.0;            // sum phi_i
  std::vector<double> index_xphi;  // width: sum (q_i x_il) phi_i
  // For each binary regressor b, with q1/q0 the index at x_ij = 1 / 0:
  std::vector<double> cdf1, cdf0, pdf1;  // sum Phi(q1_i), sum Phi(q0_i), sum phi(q1_i)
  std::vector<double> pdf_diff_x;        // B x width: sum (phi(q1_i) - phi(q0_i)) x_il

  ChunkSums(std::size_t k, std::size_t binaries)
      : k(k),
        width(padded_width(k)),
        index_xphi(width, 0.0),
        cdf1(binaries, 0.0),
        cdf0(binaries, 0.0),
        pdf1(binaries, 0.0),
        pdf_diff_x(binaries * width, 0.0) {}
};

// Rows are taken this many at a time, so that the normal kernels see the
// indices of many observations at once.
constexpr std::size_t kBatch = 128;

// The index q of every row of a batch, with Phi(q) and phi(q); the rows are
// read `width` doubles each from `x`, `stride` apart (row_batches.hpp): past
// column k in place they hold other values (padding_in_x), which the column
// sums mask.
struct Batch {
  std::size_t count = 0;
  std::size_t k = 0;
  std::size_t width = 0;
  const double* x = nullptr;
  std::ptrdiff_t stride = 0;
  bool padding_in_x = false;
  // The next batch's rows, fetched a line per row step of the column sums.
  simd::LinePrefetcher* prefetch = nullptr;
  double q[kBatch], cdf[kBatch], pdf[kBatch];
  // With row weights, every row's terms are multiplied by its weight v.
  bool weighted = false;
  double v[kBatch];
};

// Phi and phi at the index with binary regressor j set to 1 (q1 = q + (1 -
// x_j) b) and to 0 (q0 = q + (-x_j) b), for every row of the batch.
struct Shifted {
  double cdf1[kBatch], cdf0[kBatch], pdf1[kBatch], pdf0[kBatch];
};

// Compiled for every vector unit (lanes hold different rows): the choices
// between the two shifts become blends rather than branches, which random
// 0/1 values would mispredict.
[[gnu::always_inline]] inline void shift_index_body(const Batch& batch, std::size_t j, double b,
                                                    Shifted& s) {
  const std::size_t n = batch.count;
  double xj[kBatch];
  for (std::size_t i = 0; i < n; ++i) xj[i] = batch.x[static_cast<std::ptrdiff_t>(i) * batch.stride + j];
  if (std::isfinite(b)) {
    // x_j is 0 or 1, and the shift to its own value is (+-0) b = +-0, which
    // leaves q unchanged (up to the sign of a zero q, where Phi and phi
    // agree): only the other shift needs new values.
    double other[kBatch];
    for (std::size_t i = 0; i < n; ++i) {
      const double down = batch.q[i] + (-xj[i]) * b;
      const double up = batch.q[i] + (1.0 - xj[i]) * b;
      other[i] = xj[i] == 1.0 ? down : up;
    }
    double other_cdf[kBatch];
    double other_pdf[kBatch];
    cdf_values(other, other_cdf, n);
    pdf_values(other, other_pdf, n);
    for (std::size_t i = 0; i < n; ++i) {
      const bool at_one = xj[i] == 1.0;
      s.cdf1[i] = at_one ? batch.cdf[i] : other_cdf[i];
      s.pdf1[i] = at_one ? batch.pdf[i] : other_pdf[i];
      s.cdf0[i] = at_one ? other_cdf[i] : batch.cdf[i];
      s.pdf0[i] = at_one ? other_pdf[i] : batch.pdf[i];
    }
    return;
  }
  double q1[kBatch];
  double q0[kBatch];
  for (std::size_t i = 0; i < n; ++i) {
    q1[i] = batch.q[i] + (1.0 - xj[i]) * b;
    q0[i] = batch.q[i] + (-xj[i]) * b;
  }
  cdf_values(q1, s.cdf1, n);
  cdf_values(q0, s.cdf0, n);
  pdf_values(q1, s.pdf1, n);
  pdf_values(q0, s.pdf0, n);
}
QUILLON_FOR_EACH_UNIT(shift_index, (const Batch& batch, std::size_t j, double b, Shifted& s),
                      shift_index_body, (batch, j, b, s))

// sums_l = sums_l + (a_i x_il) c_i (kWithA) or sums_l + c_i x_il over the
// batch's rows in order, kSumPiece columns at a time held in registers.
template <bool kWithA, bool kMasked>
[[gnu::always_inline]] inline void add_column_piece(double* __restrict sums, std::size_t l0,
                                                    const Batch& batch,
                                                    const double* __restrict a,
                                                    const double* __restrict c,
                                                    simd::LinePrefetcher& prefetch) {
  using V = simd::Lanes<kSumLanes>;
  const double* __restrict rows = batch.x;
  const std::ptrdiff_t stride = batch.stride;
  const std::size_t count = batch.count;
  simd::Mask<kSumLanes> keep0, keep1;
  simd::columns_below<kSumLanes>(keep0, batch.k, l0);
  simd::columns_below<kSumLanes>(keep1, batch.k, l0 + kSumLanes);
  V acc0, acc1;
  simd::load<kSumLanes>(acc0, sums + l0);
  simd::load<kSumLanes>(acc1, sums + l0 + kSumLanes);
  for (std::size_t i = 0; i < count; ++i) {
    prefetch.step();
    const double* x = rows + static_cast<std::ptrdiff_t>(i) * stride + l0;
    V x0, x1;
    simd::load<kSumLanes>(x0, x);
    simd::load<kSumLanes>(x1, x + kSumLanes);
    if constexpr (kMasked) {
      simd::mask<kSumLanes>(x0, keep0);
      simd::mask<kSumLanes>(x1, keep1);
    }
    if constexpr (kWithA) {
      acc0 = acc0 + (a[i] * x0) * c[i];
      acc1 = acc1 + (a[i] * x1) * c[i];
    } else {
      acc0 = acc0 + c[i] * x0;
      acc1 = acc1 + c[i] * x1;
    }
  }
  simd::store<kSumLanes>(sums + l0, acc0);
  simd::store<kSumLanes>(sums + l0 + kSumLanes, acc1);
}

// sums_l = sums_l + (a_i x_il) c_i (kWithA) or sums_l + c_i x_il over the
// batch's rows in order, kSumPiece columns at a time held in registers; the
// last piece masks the lanes past column k when they are not zeros.
template <bool kWithA>
[[gnu::always_inline]] inline void add_column_sums(double* __restrict sums, const Batch& batch,
                                                   const double* __restrict a,
                                                   const double* __restrict c) {
  simd::LinePrefetcher prefetch = *batch.prefetch;  // in registers over the loops
  for (std::size_t l0 = 0; l0 < batch.width; l0 += kSumPiece) {
    if (batch.padding_in_x && l0 + kSumPiece >= batch.width) {
      add_column_piece<kWithA, true>(sums, l0, batch, a, c, prefetch);
    } else {
      add_column_piece<kWithA, false>(sums, l0, batch, a, c, prefetch);
    }
  }
  *batch.prefetch = prefetch;
}

// The batch's rows added, in order, to the chunk's sums, each row's terms
// multiplied by its weight v_i when kWeighted (the weighted sums of a weight
// of 1 are the unweighted sums' bits; without weights no multiply is made).
template <bool kWeighted>
[[gnu::always_inline]] inline void add_batch_terms(ChunkSums& sums, const Batch& batch,
                                                   const std::vector<double>& beta,
                                                   const std::vector<std::size_t>& binary) {
  const auto weigh = [&](std::size_t i, double term) {
    if constexpr (kWeighted) {
      return batch.v[i] * term;
    } else {
      return term;
    }
  };
  const double* pdf = batch.pdf;
  double vpdf[kBatch];
  if constexpr (kWeighted) {
    for (std::size_t i = 0; i < batch.count; ++i) vpdf[i] = weigh(i, batch.pdf[i]);
    pdf = vpdf;
  }
  double density = sums.density;
  for (std::size_t i = 0; i < batch.count; ++i) density = density + pdf[i];
  sums.density = density;
  add_column_sums<true>(sums.index_xphi.data(), batch, batch.q, pdf);
  Shifted s;
  for (std::size_t b = 0; b < binary.size(); ++b) {
    shift_index(batch, binary[b], beta[binary[b]], s);
    double cdf1 = sums.cdf1[b], cdf0 = sums.cdf0[b], pdf1 = sums.pdf1[b];
    double d[kBatch];
    for (std::size_t i = 0; i < batch.count; ++i) {
      cdf1 = cdf1 + weigh(i, s.cdf1[i]);
      cdf0 = cdf0 + weigh(i, s.cdf0[i]);
      pdf1 = pdf1 + weigh(i, s.pdf1[i]);
      d[i] = weigh(i, s.pdf1[i] - s.pdf0[i]);
    }
    sums.cdf1[b] = cdf1;
    sums.cdf0[b] = cdf0;
    sums.pdf1[b] = pdf1;
    add_column_sums<false>(sums.pdf_diff_x.data() + b * sums.width, batch, nullptr, d);
  }
}

// Compiled for every vector unit: lanes hold different sums, so every unit
// gives the same bits.
[[gnu::always_inline]] inline void add_batch_body(ChunkSums& sums, const Batch& batch,
                                                  const std::vector<double>& beta,
                                                  const std::vector<std::size_t>& binary) {
  if (batch.weighted) {
    add_batch_terms<true>(sums, batch, beta, binary);
  } else {
    add_batch_terms<false>(sums, batch, beta, binary);
  }
}
QUILLON_FOR_EACH_UNIT(add_batch,
                      (ChunkSums& sums, const Batch& batch, const std::vector<double>& beta,
                       const std::vector<std::size_t>& binary),
                      add_batch_body, (sums, batch, beta, binary))

// q = sum x_j beta_j in column order from 0.0 for the batch's rows, four
// rows at a time; compiled for every vector unit (lanes hold different rows).
[[gnu::always_inline]] inline void batch_indices_body(Batch& batch,
                                                      const std::vector<double>& beta) {
  linear_indices(batch.x, batch.stride, beta.size(), beta.data(), batch.count, batch.q);
}
QUILLON_FOR_EACH_UNIT(batch_indices, (Batch& batch, const std::vector<double>& beta),
                      batch_indices_body, (batch, beta))

// One visit of the chunk's rows, forming every sum that the effects of the
// chunk need. Sums that do not depend on the regressor being differentiated
// are formed once and shared by all of them. `first` is the position of the
// chunk's first row in X: polls fall every kRowsPerPoll rows of X, whatever
// the chunk size.
// zero_one[l] for the kVectors * kSumLanes columns l from l0: whether every
// value of column l among the rows is 0.0 or 1.0 (true for padding columns).
// Four columns side by side, the rows in chains of one bitwise and each.
template <std::size_t kVectors>
[[gnu::always_inline]] inline void zero_one_piece(const BatchRows& rows, std::size_t k,
                                                  std::size_t l0, std::uint8_t* zero_one,
                                                  simd::LinePrefetcher& prefetch) {
  using V = simd::Lanes<kSumLanes>;
  using M = simd::Mask<kSumLanes>;
  M keep[kVectors], all[kVectors];
  for (std::size_t v = 0; v < kVectors; ++v) {
    simd::columns_below<kSumLanes>(keep[v], k, l0 + v * kSumLanes);
    all[v] = ~M{};
  }
  for (std::size_t i = 0; i < rows.count; ++i) {
    const double* row = rows.x + static_cast<std::ptrdiff_t>(i) * rows.stride + l0;
    for (std::size_t line = 0; line < kVectors / 2; ++line) prefetch.step();
    for (std::size_t v = 0; v < kVectors; ++v) {
      V x;
      simd::load<kSumLanes>(x, row + v * kSumLanes);
      simd::mask<kSumLanes>(x, keep[v]);  // padding lanes: other rows' values, or zeros
      simd::keep_zero_or_one<kSumLanes>(all[v], x);
    }
  }
  for (std::size_t v = 0; v < kVectors; ++v) {
    for (std::size_t lane = 0; lane < kSumLanes; ++lane)
      zero_one[l0 + v * kSumLanes + lane] = all[v][lane] != 0 ? 1 : 0;
  }
}

// zero_one[l] for the columns l < width (k padded to a whole number of
// kSumPiece): four vectors of columns at a time over the rows, then two,
// each row step fetching a line of `prefetch` (the next rows) per 64 bytes
// read. Compiled for every vector unit (lanes hold different columns).
[[gnu::always_inline]] inline void zero_one_columns_body(const BatchRows& rows, std::size_t k,
                                                         std::size_t width,
                                                         std::uint8_t* zero_one,
                                                         simd::LinePrefetcher prefetch) {
  std::size_t l0 = 0;
  for (; l0 + 4 * kSumLanes <= width; l0 += 4 * kSumLanes)
    zero_one_piece<4>(rows, k, l0, zero_one, prefetch);
  if (l0 < width) zero_one_piece<2>(rows, k, l0, zero_one, prefetch);
}
QUILLON_FOR_EACH_UNIT(zero_one_columns,
                      (const BatchRows& rows, std::size_t k, std::size_t width,
                       std::uint8_t* zero_one, const simd::LinePrefetcher& prefetch),
                      zero_one_columns_body, (rows, k, width, zero_one, prefetch))

// Drops from `binary`, with their sums, the columns that hold a value other
// than 0.0 and 1.0 among the batch's rows; zero_one holds batch.width flags.
void drop_non_binary(const Batch& batch, std::vector<std::size_t>& binary, ChunkSums& sums,
                     std::vector<std::uint8_t>& zero_one) {
  if (binary.empty()) return;
  // The next rows are fetched by the sums that follow.
  zero_one_columns({0, batch.count, batch.x, batch.stride, batch.padding_in_x}, batch.k,
                   batch.width, zero_one.data(), simd::LinePrefetcher{});
  for (std::size_t b = binary.size(); b-- > 0;) {
    if (zero_one[binary[b]] != 0) continue;
    const auto at = static_cast<std::ptrdiff_t>(b);
    binary.erase(binary.begin() + at);
    sums.cdf1.erase(sums.cdf1.begin() + at);
    sums.cdf0.erase(sums.cdf0.begin() + at);
    sums.pdf1.erase(sums.pdf1.begin() + at);
    const auto width = static_cast<std::ptrdiff_t>(sums.width);
    sums.pdf_diff_x.erase(sums.pdf_diff_x.begin() + at * width,
                          sums.pdf_diff_x.begin() + (at + 1) * width);
  }
}

// With `find_binary_too`, `binary` starts as the candidates and the visit
// drops each at its first value other than 0.0 and 1.0, before any of its
// sums take that batch: what remains are the binary regressors of the rows,
// with their sums, without a pass of their own over X.
ChunkSums sum_chunk(const MatrixView& rows, std::size_t first, const std::vector<double>& beta,
                    std::vector<std::size_t>& binary, bool find_binary_too,
                    const InterruptPoll& interrupt, const VectorView* weights = nullptr) {
  const std::size_t k = beta.size();
  ChunkSums sums(k, binary.size());
  Batch batch;
  batch.k = k;
  batch.width = padded_width(k);
  RowBatches batches(rows, batch.width, kBatch, first);
  std::vector<std::uint8_t> zero_one(batch.width);
  for (std::size_t start = 0; start < rows.rows; start += kBatch) {
    if (batches.poll_due(start)) interrupt();
    const BatchRows read = batches.batch(start);
    batch.count = read.count;
    batch.x = read.x;
    batch.stride = read.stride;
    batch.padding_in_x = read.padding_in_x;
    if (weights != nullptr) {
      batch.weighted = true;
      for (std::size_t i = 0; i < read.count; ++i) batch.v[i] = (*weights)[start + i];
    }
    simd::LinePrefetcher prefetch = batches.prefetch_after(start);
    batch.prefetch = &prefetch;
    if (find_binary_too) drop_non_binary(batch, binary, sums, zero_one);
    batch_indices(batch, beta);
    pdf_values(batch.q, batch.pdf, batch.count);
    // Phi(q) once per row: with the regressor at its own value (0 or 1) the
    // shifted index is q itself, bit for bit, whenever beta_j is finite.
    if (!binary.empty()) cdf_values(batch.q, batch.cdf, batch.count);
    add_batch(sums, batch, beta, binary);
  }
  return sums;
}

void add_chunk(EffectSums& total, const ChunkSums& chunk, const std::vector<double>& beta,
               const std::vector<std::size_t>& binary, const std::vector<bool>& continuous) {
  const std::size_t k = beta.size();
  for (std::size_t b = 0; b < binary.size(); ++b) {
    const std::size_t j = binary[b];
    total.ame[j] = (chunk.cdf1[b] - chunk.cdf0[b]) + total.ame[j];
    const double* diff = chunk.pdf_diff_x.data() + b * chunk.width;
    for (std::size_t l = 0; l < k; ++l) {
      const double term = l == j ? chunk.pdf1[b] : diff[l];
      total.jac(j, l) = term + total.jac(j, l);
    }
  }
  for (std::size_t c = 0; c < k; ++c) {
    if (!continuous[c]) continue;
    const double b = beta[c];
    total.ame[c] = chunk.density * b + total.ame[c];
    for (std::size_t l = 0; l < k; ++l) {
      const double slope = b * chunk.index_xphi[l];
      const double term = l == c ? chunk.density - slope : -slope;
      total.jac(c, l) = term + total.jac(c, l);
    }
  }
}

std::vector<double> delta_method_std_errors(const Matrix& jacobian, const MatrixView& cov) {
  const std::size_t k = jacobian.rows();
  if (cov.rows != k || cov.cols != k) {
    panic("covariance is " + std::to_string(cov.rows) + " x " + std::to_string(cov.cols) +
          " but there are " + std::to_string(k) + " coefficients");
  }
  // V = (J C) J'; only its diagonal is needed, and each diagonal entry is
  // summed exactly as in the full product.
  Matrix jc(k, k);
  for (std::size_t r = 0; r < k; ++r) {
    for (std::size_t c = 0; c < k; ++c) {
      double sum = 0.0;
      for (std::size_t l = 0; l < k; ++l) sum = sum + jacobian(r, l) * cov(l, c);
      jc(r, c) = sum;
    }
  }
  std::vector<double> se(k);
  for (std::size_t r = 0; r < k; ++r) {
    double variance = 0.0;
    for (std::size_t c = 0; c < k; ++c) variance = variance + jc(r, c) * jacobian(r, c);
    se[r] = std::sqrt(variance > 0.0 ? variance : 0.0);
  }
  return se;
}

}  // namespace

bool is_intercept_name(std::string_view name) {
  // Full Unicode lower-casing maps no character outside ASCII onto the
  // letters of these two words (the only non-ASCII character that lowers to
  // a plain ASCII letter is the Kelvin sign, to 'k'), so an ASCII case
  // folding of the UTF-8 bytes decides the same.
  auto equals_folded = [name](std::string_view word) {
    if (name.size() != word.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
      char c = name[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != word[i]) return false;
    }
    return true;
  };
  return equals_folded("intercept") || equals_folded("const");
}

std::vector<std::size_t> binary_candidates(const std::vector<std::string>& names,
                                           const std::vector<std::size_t>& intercepts,
                                           std::size_t cols) {
  std::vector<std::size_t> candidates;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (std::binary_search(intercepts.begin(), intercepts.end(), i)) continue;
    if (i >= cols) {
      panic("regressor name " + std::to_string(i) + " has no column: exog has " +
            std::to_string(cols) + " columns");
    }
    candidates.push_back(i);
  }
  return candidates;
}

std::vector<std::size_t> find_intercepts(const std::vector<std::string>& names) {
  std::vector<std::size_t> positions;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (is_intercept_name(names[i])) positions.push_back(i);
  }
  return positions;
}

std::vector<std::size_t> find_binary(const MatrixView& exog, const std::vector<std::string>& names,
                                     const std::vector<std::size_t>& intercepts,
                                     const InterruptPoll& interrupt) {
  std::vector<std::size_t> candidates = binary_candidates(names, intercepts, exog.cols);
  // One pass over the rows a batch at a time, read in place when X's memory
  // allows, dropping a column after the first batch in which it holds a
  // value other than 0.0 and 1.0.
  const std::size_t width = padded_width(exog.cols);
  RowBatches batches(exog, width, kBatch);
  std::vector<std::uint8_t> zero_one(width);
  for (std::size_t start = 0; start < exog.rows && !candidates.empty(); start += kBatch) {
    if (batches.poll_due(start)) interrupt();
    zero_one_columns(batches.batch(start), exog.cols, width, zero_one.data(),
                     batches.prefetch_after(start));
    std::erase_if(candidates, [&zero_one](std::size_t j) { return zero_one[j] == 0; });
  }
  return candidates;
}

RegressorKinds regressor_kinds(std::size_t k, std::vector<std::size_t> intercepts,
                               std::vector<std::size_t> binary) {
  RegressorKinds kinds{std::move(intercepts), std::move(binary), std::vector<bool>(k, true)};
  for (std::size_t i : kinds.intercepts) {
    if (i < k) kinds.continuous[i] = false;
  }
  for (std::size_t i : kinds.binary) kinds.continuous[i] = false;
  return kinds;
}

EffectSums effect_sums(const std::vector<double>& beta, const MatrixView& exog,
                       const RegressorKinds& kinds, std::optional<std::uint64_t> chunk_size,
                       const RowWeights& weights, const InterruptPoll& interrupt) {
  const std::size_t n = exog.rows;
  const std::size_t k = exog.cols;
  EffectSums total(k);
  const std::uint64_t step = chunk_size.value_or(n);
  if (step == 0 && n > 0) panic("chunk size 0 cannot advance through the observations");
  if (weights && weights->size != n) {
    panic(std::to_string(weights->size) + " weights for " + std::to_string(n) + " rows");
  }
  if (n > 0 && beta.size() != k) {
    panic("params has " + std::to_string(beta.size()) + " values but exog has " +
          std::to_string(k) + " columns");
  }
  // The kinds are settled: no chunk drops a binary regressor.
  std::vector<std::size_t> binary = kinds.binary;
  for (std::size_t start = 0; start < n;) {
    const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(step, n - start));
    std::optional<VectorView> chunk_weights;
    if (weights) chunk_weights = weights->range(start, count);
    add_chunk(total,
              sum_chunk(exog.row_range(start, count), start, beta, binary, false, interrupt,
                        chunk_weights ? &*chunk_weights : nullptr),
              beta, binary, kinds.continuous);
    start += count;
  }
  return total;
}

MarginalEffects effects_from_sums(const EffectSums& sums, std::size_t nobs, const MatrixView& cov,
                                  std::vector<std::size_t> intercepts) {
  const std::size_t k = sums.k;
  const double n = static_cast<double>(nobs);
  MarginalEffects result;
  result.intercept_indices = std::move(intercepts);
  result.effects.resize(k);
  Matrix jacobian(k, k);
  for (std::size_t r = 0; r < k; ++r) {
    result.effects[r] = sums.ame[r] / n;
    for (std::size_t c = 0; c < k; ++c) jacobian(r, c) = sums.jac(r, c) / n;
  }
  result.std_errors = delta_method_std_errors(jacobian, cov);
  return result;
}

MarginalEffects average_marginal_effects(const VectorView& beta_view, const MatrixView& cov,
                                         const MatrixView& exog,
                                         const std::vector<std::string>& names,
                                         std::optional<std::uint64_t> chunk_size,
                                         const InterruptPoll& interrupt) {
  const std::size_t n = exog.rows;
  const std::size_t k = exog.cols;
  std::vector<std::size_t> intercepts = find_intercepts(names);
  const std::uint64_t step = chunk_size.value_or(n);
  // In one chunk, the binary regressors are found in the pass that sums;
  // chunks added in turn need them before the first.
  const bool one_chunk = n > 0 && step >= n;
  if (!one_chunk) {
    RegressorKinds kinds =
        regressor_kinds(k, intercepts, find_binary(exog, names, intercepts, interrupt));
    std::vector<double> beta(beta_view.size);
    for (std::size_t j = 0; j < beta.size(); ++j) beta[j] = beta_view[j];
    return effects_from_sums(effect_sums(beta, exog, kinds, chunk_size, std::nullopt, interrupt), n, cov,
                             std::move(intercepts));
  }

  std::vector<std::size_t> binary = binary_candidates(names, intercepts, k);
  std::vector<double> beta(beta_view.size);
  for (std::size_t j = 0; j < beta.size(); ++j) beta[j] = beta_view[j];
  if (beta.size() != k) {
    panic("params has " + std::to_string(beta.size()) + " values but exog has " +
          std::to_string(k) + " columns");
  }
  const ChunkSums whole = sum_chunk(exog, 0, beta, binary, true, interrupt);
  const RegressorKinds kinds = regressor_kinds(k, intercepts, std::move(binary));
  EffectSums total(k);
  add_chunk(total, whole, beta, kinds.binary, kinds.continuous);
  return effects_from_sums(total, n, cov, std::move(intercepts));
}

}  // namespace quillon
