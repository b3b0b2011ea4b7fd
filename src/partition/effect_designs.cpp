#include "partition/effect_designs.hpp"

#include <algorithm>
#include <cmath>

#include "numerics/kernels.hpp"

namespace quillon {
namespace {

// Rows taken at a time, so that the normal kernels see whole lanes.
constexpr std::size_t kBatchRows = 512;

// x_i'b summed in column order from 0.0, for rows [first, first + count).
void linear_index(const MatrixView& x, const std::vector<double>& beta, std::size_t first,
                  std::size_t count, double* out) {
  for (std::size_t r = 0; r < count; ++r) {
    double sum = 0.0;
    for (std::size_t j = 0; j < x.cols; ++j) sum += x(first + r, j) * beta[j];
    out[r] = sum;
  }
}

std::size_t group_of(const GroupCodes& groups, std::size_t row) {
  return groups ? static_cast<std::size_t>((*groups)[row]) : 0;
}

GroupedEffectSums empty_sums(std::size_t n_groups, std::size_t k) {
  return {std::vector<double>(n_groups, 0.0), Matrix(n_groups, k)};
}

}  // namespace

GroupedEffectSums slope_sums(const MatrixView& exog, const MatrixView& derivative,
                             const std::vector<double>& beta, const GroupCodes& groups,
                             std::size_t n_groups, bool relative) {
  const std::size_t k = exog.cols;
  GroupedEffectSums out = empty_sums(n_groups, k);
  std::vector<double> index(kBatchRows), slope(kBatchRows), density(kBatchRows);
  std::vector<double> probability(kBatchRows);
  for (std::size_t first = 0; first < exog.rows; first += kBatchRows) {
    const std::size_t count = std::min(kBatchRows, exog.rows - first);
    linear_index(exog, beta, first, count, index.data());
    linear_index(derivative, beta, first, count, slope.data());
    pdf_values(index.data(), density.data(), count);
    if (relative) {
      cdf_values(index.data(), probability.data(), count);
      for (std::size_t r = 0; r < count; ++r) density[r] /= probability[r];
    }
    for (std::size_t r = 0; r < count; ++r) {
      const std::size_t i = first + r, g = group_of(groups, i);
      out.effects[g] += density[r] * slope[r];
      const double shift = (relative ? index[r] + density[r] : index[r]) * slope[r];
      double* row = out.jacobian.row(g);
      for (std::size_t j = 0; j < k; ++j) {
        row[j] += density[r] * (derivative(i, j) - shift * exog(i, j));
      }
    }
  }
  return out;
}

GroupedEffectSums contrast_sums(const MatrixView& high, const std::optional<MatrixView>& low,
                                const std::vector<double>& beta, const GroupCodes& groups,
                                std::size_t n_groups, bool relative) {
  const std::size_t k = high.cols;
  GroupedEffectSums out = empty_sums(n_groups, k);
  std::vector<double> index1(kBatchRows), cdf1(kBatchRows), pdf1(kBatchRows);
  std::vector<double> index0(kBatchRows, 0.0), cdf0(kBatchRows, 0.0), pdf0(kBatchRows, 0.0);
  for (std::size_t first = 0; first < high.rows; first += kBatchRows) {
    const std::size_t count = std::min(kBatchRows, high.rows - first);
    linear_index(high, beta, first, count, index1.data());
    cdf_values(index1.data(), cdf1.data(), count);
    pdf_values(index1.data(), pdf1.data(), count);
    if (low) {
      linear_index(*low, beta, first, count, index0.data());
      cdf_values(index0.data(), cdf0.data(), count);
      pdf_values(index0.data(), pdf0.data(), count);
    }
    if (relative && low) {
      for (std::size_t r = 0; r < count; ++r) {
        pdf1[r] /= cdf1[r];
        pdf0[r] /= cdf0[r];
      }
      log_values(cdf1.data(), cdf1.data(), count);
      log_values(cdf0.data(), cdf0.data(), count);
    }
    for (std::size_t r = 0; r < count; ++r) {
      const std::size_t i = first + r, g = group_of(groups, i);
      double* row = out.jacobian.row(g);
      if (low) {
        out.effects[g] += cdf1[r] - cdf0[r];
        for (std::size_t j = 0; j < k; ++j) {
          row[j] += pdf1[r] * high(i, j) - pdf0[r] * (*low)(i, j);
        }
      } else {
        out.effects[g] += cdf1[r];
        for (std::size_t j = 0; j < k; ++j) row[j] += pdf1[r] * high(i, j);
      }
    }
  }
  return out;
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
