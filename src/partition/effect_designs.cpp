#include "partition/effect_designs.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "numerics/kernels.hpp"

namespace quillon {
namespace {

// Rows taken at a time, so that the normal kernels see whole lanes.
constexpr std::size_t kBatchRows = 512;

// x'b summed in column order from 0.0.
double dot(const double* x, const std::vector<double>& beta) {
  double sum = 0.0;
  for (std::size_t j = 0; j < beta.size(); ++j) sum += x[j] * beta[j];
  return sum;
}

std::size_t group_of(const GroupCodes& groups, std::size_t row) {
  return groups ? static_cast<std::size_t>((*groups)[row]) : 0;
}

GroupedEffectSums empty_sums(std::size_t n_groups, std::size_t k) {
  return {std::vector<double>(n_groups, 0.0), Matrix(n_groups, k)};
}

// A batch of rows of a design, row-major, with their linear index.
struct RowBatch {
  std::vector<double> rows, index;
  RowBatch(std::size_t k) : rows(kBatchRows * k), index(kBatchRows) {}
  const double* row(std::size_t r, std::size_t k) const { return rows.data() + r * k; }
};

// The linear index of `count` rows of a batch: each summed in column order
// from 0.0, as dot() does, four rows at a time so that their four chains of
// additions overlap.
void batch_index(const double* rows, std::size_t count, const std::vector<double>& beta,
                 double* out) {
  const std::size_t k = beta.size();
  std::size_t r = 0;
  for (; r + 4 <= count; r += 4) {
    const double* x = rows + r * k;
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    for (std::size_t j = 0; j < k; ++j) {
      s0 += x[j] * beta[j];
      s1 += x[k + j] * beta[j];
      s2 += x[2 * k + j] * beta[j];
      s3 += x[3 * k + j] * beta[j];
    }
    out[r] = s0;
    out[r + 1] = s1;
    out[r + 2] = s2;
    out[r + 3] = s3;
  }
  for (; r < count; ++r) out[r] = dot(rows + r * k, beta);
}

void fill(const ColumnsOver& design, const std::vector<double>& beta, std::size_t first,
          std::size_t count, RowBatch& batch) {
  const std::size_t k = beta.size();
  for (std::size_t r = 0; r < count; ++r) design.row(first + r, batch.rows.data() + r * k);
  batch_index(batch.rows.data(), count, beta, batch.index.data());
}

}  // namespace

void ColumnsOver::row(std::size_t i, double* out) const {
  exog.copy_row(i, out);
  if (!columns) return;
  for (std::size_t m = 0; m < positions.size(); ++m) out[positions[m]] = (*columns)(i, m);
}

namespace {

// The per-batch values of one counterfactual design: its rows and linear
// index, the normal cdf and density of the index and, for a pair under
// `relative`, the density over the cdf and the log of the cdf.
struct DesignBatch {
  RowBatch rows;
  std::vector<double> cdf, pdf, ratio, log_cdf;
  bool used = false, relative = false;
  DesignBatch(std::size_t k, bool used, bool relative)
      : rows(used ? k : 0),
        cdf(used ? kBatchRows : 0),
        pdf(used ? kBatchRows : 0),
        ratio(relative ? kBatchRows : 0),
        log_cdf(relative ? kBatchRows : 0),
        used(used),
        relative(relative) {}

  void compute(const ColumnsOver& design, const std::vector<double>& beta, std::size_t first,
               std::size_t count) {
    if (!used) return;
    fill(design, beta, first, count, rows);
    cdf_values(rows.index.data(), cdf.data(), count);
    pdf_values(rows.index.data(), pdf.data(), count);
    if (!relative) return;
    for (std::size_t r = 0; r < count; ++r) ratio[r] = pdf[r] / cdf[r];
    log_values(cdf.data(), log_cdf.data(), count);
  }
};

// The slope sums of one batch of rows of X (index, density as the slopes
// read it) for one derivative design.
void add_slope_batch(const SlopeDesign& slope_design, const RowBatch& batch,
                     const double* density, std::size_t first, std::size_t count,
                     const std::vector<double>& beta, const GroupCodes& groups, bool relative,
                     const RowWeights& weights, std::vector<double>& slope,
                     std::vector<double>& d, GroupedEffectSums& out) {
  const std::size_t k = beta.size();
  const MatrixView& derivative = slope_design.derivative;
  const std::vector<std::size_t>& positions = slope_design.positions;
  for (std::size_t r = 0; r < count; ++r) {
    // d is zero but at the positions: d'b over them, in their order.
    double sum = 0.0;
    for (std::size_t m = 0; m < positions.size(); ++m) {
      sum += derivative(first + r, m) * beta[positions[m]];
    }
    slope[r] = sum;
  }
  for (std::size_t r = 0; r < count; ++r) {
    const std::size_t i = first + r, g = group_of(groups, i);
    const double shift = (relative ? batch.index[r] + density[r] : batch.index[r]) * slope[r];
    for (std::size_t m = 0; m < positions.size(); ++m) d[positions[m]] = derivative(i, m);
    const double* x = batch.row(r, k);
    double* sums = out.jacobian.row(g);
    if (!weights) {
      out.effects[g] += density[r] * slope[r];
      for (std::size_t j = 0; j < k; ++j) sums[j] += density[r] * (d[j] - shift * x[j]);
      continue;
    }
    const double w = (*weights)[i];
    out.effects[g] += density[r] * slope[r] * w;
    for (std::size_t j = 0; j < k; ++j) sums[j] += density[r] * (d[j] - shift * x[j]) * w;
  }
}

// The contrast sums of one batch for one pair of designs (or one design's
// prediction, without `low`).
void add_contrast_batch(const DesignBatch& high, const DesignBatch* low, std::size_t first,
                        std::size_t count, std::size_t k, const GroupCodes& groups,
                        bool relative, const RowWeights& weights, GroupedEffectSums& out) {
  const bool pair_relative = relative && low != nullptr;
  const double* cdf1 = pair_relative ? high.log_cdf.data() : high.cdf.data();
  const double* pdf1 = pair_relative ? high.ratio.data() : high.pdf.data();
  const double* cdf0 = low == nullptr ? nullptr : relative ? low->log_cdf.data() : low->cdf.data();
  const double* pdf0 = low == nullptr ? nullptr : relative ? low->ratio.data() : low->pdf.data();
  for (std::size_t r = 0; r < count; ++r) {
    const std::size_t g = group_of(groups, first + r);
    double* sums = out.jacobian.row(g);
    const double* x1 = high.rows.row(r, k);
    if (weights) {
      const double w = (*weights)[first + r];
      if (low) {
        const double* x0 = low->rows.row(r, k);
        out.effects[g] += (cdf1[r] - cdf0[r]) * w;
        for (std::size_t j = 0; j < k; ++j) sums[j] += (pdf1[r] * x1[j] - pdf0[r] * x0[j]) * w;
      } else {
        out.effects[g] += cdf1[r] * w;
        for (std::size_t j = 0; j < k; ++j) sums[j] += pdf1[r] * x1[j] * w;
      }
    } else if (low) {
      const double* x0 = low->rows.row(r, k);
      out.effects[g] += cdf1[r] - cdf0[r];
      for (std::size_t j = 0; j < k; ++j) sums[j] += pdf1[r] * x1[j] - pdf0[r] * x0[j];
    } else {
      out.effects[g] += cdf1[r];
      for (std::size_t j = 0; j < k; ++j) sums[j] += pdf1[r] * x1[j];
    }
  }
}

}  // namespace

std::vector<GroupedEffectSums> joint_sums(const MatrixView& exog, const EffectRequests& requests,
                                          const std::vector<double>& beta,
                                          const GroupCodes& groups, std::size_t n_groups,
                                          bool relative, const RowWeights& weights) {
  const std::size_t k = beta.size();
  const std::size_t n = exog.rows;
  const std::size_t n_designs = requests.designs.size();
  std::vector<GroupedEffectSums> out;
  out.reserve(requests.slopes.size() + requests.contrasts.size());
  for (std::size_t e = 0; e < requests.slopes.size() + requests.contrasts.size(); ++e) {
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
  std::vector<DesignBatch> batches;
  batches.reserve(n_designs);
  for (std::size_t s = 0; s < n_designs; ++s) batches.emplace_back(k, used[s], related[s]);

  const bool slopes = !requests.slopes.empty();
  const ColumnsOver design{exog, std::nullopt, {}};
  RowBatch batch(slopes ? k : 0);
  std::vector<double> slope(kBatchRows), density(kBatchRows), probability(kBatchRows);
  std::vector<std::vector<double>> d(requests.slopes.size(), std::vector<double>(k, 0.0));
  for (std::size_t first = 0; first < n; first += kBatchRows) {
    const std::size_t count = std::min(kBatchRows, n - first);
    if (slopes) {
      fill(design, beta, first, count, batch);
      pdf_values(batch.index.data(), density.data(), count);
      if (relative) {
        cdf_values(batch.index.data(), probability.data(), count);
        for (std::size_t r = 0; r < count; ++r) density[r] /= probability[r];
      }
    }
    for (std::size_t s = 0; s < requests.slopes.size(); ++s) {
      add_slope_batch(requests.slopes[s], batch, density.data(), first, count, beta, groups,
                      relative, weights, slope, d[s], out[s]);
    }
    for (std::size_t s = 0; s < n_designs; ++s) {
      batches[s].compute(requests.designs[s], beta, first, count);
    }
    for (std::size_t c = 0; c < requests.contrasts.size(); ++c) {
      const ContrastPair& pair = requests.contrasts[c];
      add_contrast_batch(batches[pair.high], pair.low ? &batches[*pair.low] : nullptr, first,
                         count, k, groups, relative, weights, out[requests.slopes.size() + c]);
    }
  }
  return out;
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
