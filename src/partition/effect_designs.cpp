#include "partition/effect_designs.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <utility>

#include "estimation/probit_link.hpp"
#include "numerics/kernels.hpp"

namespace quillon {
namespace {

// Rows taken at a time, so that the normal kernels see whole lanes.
constexpr std::size_t kBatchRows = 512;

std::size_t group_of(const GroupCodes& groups, std::size_t row) {
  return groups ? static_cast<std::size_t>((*groups)[row]) : 0;
}

GroupedEffectSums empty_sums(std::size_t n_groups, std::size_t k) {
  return {std::vector<double>(n_groups, 0.0), Matrix(n_groups, k)};
}

// The elements [first, first + count) of `values` side by side: in place
// when they lie so, else copied into `buffer` (kBatchRows long).
const double* batch_of(const VectorView& values, std::size_t first, std::size_t count,
                       double* buffer) {
  const std::byte* start = values.bytes + static_cast<std::ptrdiff_t>(first) * values.step;
  if (values.step == kDoubleBytes &&
      reinterpret_cast<std::uintptr_t>(start) % alignof(double) == 0) {
    return reinterpret_cast<const double*>(start);
  }
  for (std::size_t r = 0; r < count; ++r) buffer[r] = values[first + r];
  return buffer;
}

// Buffers of kBatchRows doubles, one per column read.
struct ColumnBuffers {
  std::vector<double> data;
  explicit ColumnBuffers(std::size_t columns) : data(columns * kBatchRows) {}
  double* operator[](std::size_t c) { return data.data() + c * kBatchRows; }
};

// The linear index of `count` rows given column by column: each row's sum
// in column order from 0.0, as the dot product of the row forms it.
void batch_index(const std::vector<const double*>& columns, const std::vector<double>& beta,
                 std::size_t count, double* __restrict out) {
  std::fill_n(out, count, 0.0);
  for (std::size_t j = 0; j < beta.size(); ++j) {
    const double* __restrict x = columns[j];
    const double b = beta[j];
    for (std::size_t r = 0; r < count; ++r) out[r] += x[r] * b;
  }
}

// *sums[c] += terms[c][r] for r = 0 .. count in order, W sums at once held
// in registers, so that their chains of additions overlap.
template <std::size_t W>
void add_in_order(const double* const* terms, double* const* sums, std::size_t count) {
  double s[W];
  for (std::size_t c = 0; c < W; ++c) s[c] = *sums[c];
  for (std::size_t r = 0; r < count; ++r) {
    for (std::size_t c = 0; c < W; ++c) s[c] += terms[c][r];
  }
  for (std::size_t c = 0; c < W; ++c) *sums[c] = s[c];
}

constexpr std::size_t kChains = 12;
using Adder = void (*)(const double* const*, double* const*, std::size_t);

template <std::size_t... W>
constexpr std::array<Adder, sizeof...(W)> adders(std::index_sequence<W...>) {
  return {&add_in_order<W + 1>...};
}
constexpr std::array<Adder, kChains> kAdders = adders(std::make_index_sequence<kChains>{});

// One effect's terms for the rows of a batch: the effect's in column 0,
// the Jacobian's in columns 1 .. k.
struct Terms {
  ColumnBuffers columns;
  std::vector<const double*> read;
  std::vector<double*> targets;
  explicit Terms(std::size_t k) : columns(k + 1), read(k + 1), targets(k + 1) {}

  // Each group's sums plus the batch's rows of that group, in row order.
  void add_to(GroupedEffectSums& out, const GroupCodes& groups, std::size_t first,
              std::size_t count) {
    const std::size_t width = read.size();
    for (std::size_t c = 0; c < width; ++c) read[c] = columns[c];
    if (!groups) {
      targets[0] = out.effects.data();
      for (std::size_t c = 1; c < width; ++c) targets[c] = out.jacobian.row(0) + (c - 1);
      for (std::size_t c = 0; c < width; c += kChains) {
        kAdders[std::min(kChains, width - c) - 1](read.data() + c, targets.data() + c, count);
      }
      return;
    }
    for (std::size_t r = 0; r < count; ++r) {
      const std::size_t g = group_of(groups, first + r);
      double* __restrict sums = out.jacobian.row(g);
      out.effects[g] += read[0][r];
      for (std::size_t c = 1; c < width; ++c) sums[c - 1] += read[c][r];
    }
  }
};

// The per-batch values of one counterfactual design: its columns (X's, with
// its own at its positions), its linear index, the link's response and
// density at the index and, for a pair under `relative`, the density over
// the response and the log of the response.
struct DesignBatch {
  std::vector<const double*> columns;
  ColumnBuffers own;
  std::vector<double> index, cdf, pdf, ratio, log_cdf;
  bool used = false, relative = false;
  DesignBatch(std::size_t k, std::size_t m, bool used, bool relative)
      : columns(k),
        own(used ? m : 0),
        index(used ? kBatchRows : 0),
        cdf(used ? kBatchRows : 0),
        pdf(used ? kBatchRows : 0),
        ratio(relative ? kBatchRows : 0),
        log_cdf(relative ? kBatchRows : 0),
        used(used),
        relative(relative) {}

  template <class Link>
  void compute(const ColumnsOver& design, const std::vector<const double*>& x,
               const std::vector<double>& beta, std::size_t first, std::size_t count) {
    if (!used) return;
    columns = x;
    if (design.columns) {
      for (std::size_t m = 0; m < design.positions.size(); ++m) {
        columns[design.positions[m]] =
            batch_of(design.columns->column(m), first, count, own[m]);
      }
    }
    batch_index(columns, beta, count, index.data());
    Link::response(index.data(), cdf.data(), count);
    Link::density(index.data(), pdf.data(), count);
    if (!relative) return;
    for (std::size_t r = 0; r < count; ++r) ratio[r] = pdf[r] / cdf[r];
    log_values(cdf.data(), log_cdf.data(), count);
  }
};

// A slope's terms for a batch of rows of X (columns `x`, the density's
// decay c = -f'/f at the index, the density as the slopes read it): f (d b)
// and f (d - shift x), d zero but at the positions, shift = c (d b) (or
// (c + lambda) (d b), relative).
void slope_terms(const SlopeDesign& slope_design, const std::vector<const double*>& x,
                 const double* decay, const double* density, const double* weights,
                 std::size_t first, std::size_t count, const std::vector<double>& beta,
                 bool relative, ColumnBuffers& derivative, double* slope, double* shift,
                 Terms& out) {
  const std::size_t k = beta.size();
  const std::vector<std::size_t>& positions = slope_design.positions;
  // d'b over the positions, in their order, from 0.0.
  std::vector<const double*> d(k, nullptr);
  std::fill_n(slope, count, 0.0);
  for (std::size_t m = 0; m < positions.size(); ++m) {
    const double* __restrict column =
        batch_of(slope_design.derivative.column(m), first, count, derivative[m]);
    d[positions[m]] = column;
    const double b = beta[positions[m]];
    for (std::size_t r = 0; r < count; ++r) slope[r] += column[r] * b;
  }
  for (std::size_t r = 0; r < count; ++r) {
    shift[r] = (relative ? decay[r] + density[r] : decay[r]) * slope[r];
  }
  double* __restrict effect = out.columns[0];
  if (weights) {
    for (std::size_t r = 0; r < count; ++r) effect[r] = density[r] * slope[r] * weights[r];
  } else {
    for (std::size_t r = 0; r < count; ++r) effect[r] = density[r] * slope[r];
  }
  for (std::size_t j = 0; j < k; ++j) {
    double* __restrict term = out.columns[j + 1];
    const double* __restrict xj = x[j];
    const double* __restrict dj = d[j];
    if (dj) {
      for (std::size_t r = 0; r < count; ++r) term[r] = density[r] * (dj[r] - shift[r] * xj[r]);
    } else {
      for (std::size_t r = 0; r < count; ++r) term[r] = density[r] * (0.0 - shift[r] * xj[r]);
    }
    if (weights) {
      for (std::size_t r = 0; r < count; ++r) term[r] *= weights[r];
    }
  }
}

// A contrast's terms for a batch (or a prediction's, without `low`):
// Phi1 - Phi0 and phi1 x1 - phi0 x0, or under `relative` the differences of
// log Phi and of lambda x.
void contrast_terms(const DesignBatch& high, const DesignBatch* low, const double* weights,
                    std::size_t count, std::size_t k, bool relative, Terms& out) {
  const bool pair_relative = relative && low != nullptr;
  const double* __restrict cdf1 = pair_relative ? high.log_cdf.data() : high.cdf.data();
  const double* __restrict pdf1 = pair_relative ? high.ratio.data() : high.pdf.data();
  double* __restrict effect = out.columns[0];
  if (!low) {
    for (std::size_t r = 0; r < count; ++r) effect[r] = cdf1[r];
  } else {
    const double* __restrict cdf0 = relative ? low->log_cdf.data() : low->cdf.data();
    for (std::size_t r = 0; r < count; ++r) effect[r] = cdf1[r] - cdf0[r];
  }
  if (weights) {
    for (std::size_t r = 0; r < count; ++r) effect[r] *= weights[r];
  }
  for (std::size_t j = 0; j < k; ++j) {
    double* __restrict term = out.columns[j + 1];
    const double* __restrict x1 = high.columns[j];
    if (!low) {
      for (std::size_t r = 0; r < count; ++r) term[r] = pdf1[r] * x1[r];
    } else {
      const double* __restrict pdf0 = relative ? low->ratio.data() : low->pdf.data();
      const double* __restrict x0 = low->columns[j];
      for (std::size_t r = 0; r < count; ++r) term[r] = pdf1[r] * x1[r] - pdf0[r] * x0[r];
    }
    if (weights) {
      for (std::size_t r = 0; r < count; ++r) term[r] *= weights[r];
    }
  }
}

template <class Link>
std::vector<GroupedEffectSums> joint_sums_of(const MatrixView& exog,
                                             const EffectRequests& requests,
                                             const std::vector<double>& beta,
                                             const GroupCodes& groups, std::size_t n_groups,
                                             bool relative, const RowWeights& weights) {
  const std::size_t k = beta.size();
  const std::size_t n = exog.rows;
  const std::size_t n_designs = requests.designs.size();
  const std::size_t n_slopes = requests.slopes.size();
  std::vector<GroupedEffectSums> out;
  out.reserve(n_slopes + requests.contrasts.size());
  for (std::size_t e = 0; e < n_slopes + requests.contrasts.size(); ++e) {
    out.push_back(empty_sums(n_groups, k));
  }
  // Each design read by a contrast is computed once per batch, however
  // many contrasts read it.
  std::vector<bool> used(n_designs, false), related(n_designs, false);
  for (const ContrastPair& pair : requests.contrasts) {
    used[pair.high] = true;
    if (!pair.low) continue;
    used[*pair.low] = true;
    if (relative) related[pair.high] = related[*pair.low] = true;
  }
  std::vector<DesignBatch> designs;
  designs.reserve(n_designs);
  for (std::size_t s = 0; s < n_designs; ++s) {
    designs.emplace_back(k, requests.designs[s].positions.size(), used[s], related[s]);
  }
  std::size_t widest = 0;
  for (const SlopeDesign& slope : requests.slopes) {
    widest = std::max(widest, slope.positions.size());
  }
  ColumnBuffers x_buffers(k), derivative(widest), weight_buffer(1);
  std::vector<const double*> x(k);
  std::vector<double> index(kBatchRows), density(kBatchRows), probability(kBatchRows);
  std::vector<double> decay_buffer(kBatchRows);
  std::vector<double> slope(kBatchRows), shift(kBatchRows);
  Terms terms(k);
  for (std::size_t first = 0; first < n; first += kBatchRows) {
    const std::size_t count = std::min(kBatchRows, n - first);
    for (std::size_t j = 0; j < k; ++j) x[j] = batch_of(exog.column(j), first, count, x_buffers[j]);
    const double* w = weights ? batch_of(*weights, first, count, weight_buffer[0]) : nullptr;
    const double* decay = nullptr;
    if (n_slopes > 0) {
      batch_index(x, beta, count, index.data());
      Link::density(index.data(), density.data(), count);
      decay = Link::density_decay(index.data(), decay_buffer.data(), count);
      if (relative) {
        Link::response(index.data(), probability.data(), count);
        for (std::size_t r = 0; r < count; ++r) density[r] /= probability[r];
      }
    }
    for (std::size_t s = 0; s < n_slopes; ++s) {
      slope_terms(requests.slopes[s], x, decay, density.data(), w, first, count, beta,
                  relative, derivative, slope.data(), shift.data(), terms);
      terms.add_to(out[s], groups, first, count);
    }
    for (std::size_t s = 0; s < n_designs; ++s) {
      designs[s].template compute<Link>(requests.designs[s], x, beta, first, count);
    }
    for (std::size_t c = 0; c < requests.contrasts.size(); ++c) {
      const ContrastPair& pair = requests.contrasts[c];
      contrast_terms(designs[pair.high], pair.low ? &designs[*pair.low] : nullptr, w, count, k,
                     relative, terms);
      terms.add_to(out[n_slopes + c], groups, first, count);
    }
  }
  return out;
}

}  // namespace

std::vector<GroupedEffectSums> joint_sums(const MatrixView& exog, const EffectRequests& requests,
                                          const std::vector<double>& beta,
                                          const GroupCodes& groups, std::size_t n_groups,
                                          bool relative, const RowWeights& weights) {
  return joint_sums_of<ProbitLink>(exog, requests, beta, groups, n_groups, relative, weights);
}

GroupedEffectSums slope_sums(const MatrixView& exog, const MatrixView& derivative,
                             const std::vector<std::size_t>& positions,
                             const std::vector<double>& beta, const GroupCodes& groups,
                             std::size_t n_groups, bool relative, const RowWeights& weights) {
  EffectRequests requests;
  requests.slopes.push_back({derivative, positions});
  return std::move(joint_sums(exog, requests, beta, groups, n_groups, relative, weights).front());
}

GroupedEffectSums contrast_sums(const ColumnsOver& high, const std::optional<ColumnsOver>& low,
                                const std::vector<double>& beta, const GroupCodes& groups,
                                std::size_t n_groups, bool relative, const RowWeights& weights) {
  EffectRequests requests;
  requests.designs.push_back(high);
  if (low) requests.designs.push_back(*low);
  requests.contrasts.push_back({0, low ? std::optional<std::size_t>(1) : std::nullopt});
  return std::move(
      joint_sums(high.exog, requests, beta, groups, n_groups, relative, weights).front());
}

ColumnSummary column_summary(const MatrixView& exog) {
  const std::size_t k = exog.cols;
  ColumnSummary out{std::vector<double>(k, 0.0), std::vector<double>(k, INFINITY),
                    std::vector<double>(k, -INFINITY), std::vector<bool>(k, true)};
  for (std::size_t i = 0; i < exog.rows; ++i) {
    for (std::size_t j = 0; j < k; ++j) {
      const double v = exog(i, j);
      out.sums[j] += v;
      out.mins[j] = std::min(out.mins[j], v);
      out.maxs[j] = std::max(out.maxs[j], v);
      if (out.whole[j] && std::floor(v) != v) out.whole[j] = false;
    }
  }
  return out;
}

std::vector<double> column_medians(const MatrixView& exog) {
  std::vector<double> out(exog.cols, NAN), values(exog.rows);
  if (exog.rows == 0) return out;
  const std::size_t middle = exog.rows / 2;
  for (std::size_t j = 0; j < exog.cols; ++j) {
    for (std::size_t i = 0; i < exog.rows; ++i) values[i] = exog(i, j);
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle),
                     values.end());
    const double upper = values[middle];
    if (exog.rows % 2) {
      out[j] = upper;
    } else {
      const double lower =
          *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle));
      out[j] = lower + (upper - lower) * 0.5;
    }
  }
  return out;
}

}  // namespace quillon
