#include "estimation/probit.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "estimation/batch_products.hpp"
#include "estimation/diagnostics.hpp"
#include "numerics/invert.hpp"
#include "numerics/kernels.hpp"
#include "numerics/normal.hpp"
#include "numerics/panic.hpp"
#include "numerics/row_batches.hpp"
#include "numerics/simd/code_paths.hpp"
#include "public_texts.hpp"

namespace quillon {
namespace {

using batch::add_scaled_rows;
using batch::subtract_weighted_outer;
using batch::subtract_weighted_outer_upper;
using simd::SpreadPrefetcher;

// 2 y - 1: +1 for y = 1, -1 for y = 0.
double sign_of_outcome(double y) { return (y + y) + (-1.0); }

// Which sums one sweep forms; kMirroredHessian is the Hessian formed on and
// above the diagonal and mirrored below it.
enum Sums : unsigned {
  kLogLikelihood = 1,
  kScore = 2,
  kHessian = 4,
  kScoreRows = 8,
  kMirroredHessian = 16,
  // Row i counts weights[i] times in every sum (SweepOutput::weights).
  kWeighted = 32
};

struct SweepOutput {
  double loglike = 0.0;
  double* score = nullptr;       // k values, zeroed by the caller
  double* hessian = nullptr;     // k x k row-major
  double* score_rows = nullptr;  // n x k row-major: row i is lambda_i x_i
  bool interrupted = false;      // the sweep stopped early on request
  VectorView weights{};          // n row weights, read by kWeighted sweeps
};

// The cdf and pdf of a batch of observations at once, so that the kernels
// can take them four at a time; the batch's rows stay in the first levels of
// the cache between the passes over them.
constexpr std::size_t kBatch = 128;
// Polls fall on batch boundaries.
static_assert(kRowsPerPoll % kBatch == 0);

// Phi and phi at +-0, the value of every index at beta = 0 (the first point
// of every fit): cdf(0) = 0.5 exactly, and pdf(+0) = pdf(-0); and the log
// of 0.5, which every kernel gives as the C library's log does.
const double kPdfAtZero = kStandardNormal.pdf(0.0);
const double kLogHalf = std::log(0.5);

// p_b = clip(Phi(z_b)) and, when wanted, phi_b = phi(z_b) for b < rows.
// Returns whether every z_b is zero (p_b = 0.5 for all).
bool normal_values(const double* z, std::size_t rows, double* p, double* phi) {
  bool all_zero = true;
  for (std::size_t b = 0; b < rows; ++b) all_zero = all_zero && z[b] == 0.0;
  if (all_zero) {
    std::fill(p, p + rows, 0.5);
    if (phi != nullptr) std::fill(phi, phi + rows, kPdfAtZero);
    return true;
  }
  cdf_values(z, p, rows);
  for (std::size_t b = 0; b < rows; ++b) p[b] = clip_probability(p[b]);
  if (phi != nullptr) pdf_values(z, phi, rows);
  return false;
}

template <unsigned kWhat, std::size_t kLanes, batch::Subtract kFused>
[[gnu::always_inline]] inline void sweep(const ProbitData& data, const double* __restrict beta,
                                         SweepOutput& out) {
  constexpr bool kAnyHessian = (kWhat & (kHessian | kMirroredHessian)) != 0;
  constexpr bool kDerivatives = kAnyHessian || (kWhat & (kScore | kScoreRows)) != 0;
  constexpr bool kRowWeights = (kWhat & kWeighted) != 0;
  const std::size_t n = data.nobs();
  const std::size_t k = data.nparams();
  // Rows are read as `width` doubles, k padded to a whole number of vector
  // lanes, so that the Hessian update runs over full vectors only.
  const std::size_t width = (k + kLanes - 1) / kLanes * kLanes;
  RowBatches batches(data.exog.row_range(0, n), width, kBatch);
  // The Hessian and the score, padded likewise; the score continues the
  // caller's sums.
  std::vector<double> h(kAnyHessian ? k * width : 0, 0.0);
  std::vector<double> g((kWhat & kScore) != 0 ? width : 0, 0.0);
  if constexpr ((kWhat & kScore) != 0) std::copy(out.score, out.score + k, g.data());
  double loglike = 0.0;
  // The Hessian's steps over a batch (counted on the first), over which the
  // next batch's lines are spread.
  std::size_t hessian_steps = 0;

  for (std::size_t start = 0; start < n; start += kBatch) {
    if (batches.poll_due(start) && data.interrupt.stop_requested()) {
      out.interrupted = true;
      return;
    }
    const BatchRows batch = batches.batch(start);
    const std::size_t rows = batch.count;
    const double* __restrict xs = batch.x;
    const std::ptrdiff_t xstride = batch.stride;
    const bool padding_in_x = batch.padding_in_x;
    // The next batch's rows and outcomes, fetched during this batch's Hessian.
    SpreadPrefetcher pf{batches.prefetch_after(start)};
    if (data.endog.step == kDoubleBytes && start + rows < n) {
      const std::byte* y = data.endog.bytes + static_cast<std::ptrdiff_t>(start + rows) * kDoubleBytes;
      pf.lines.next[1] = reinterpret_cast<const char*>(y);
      pf.lines.end[1] =
          reinterpret_cast<const char*>(y) + std::min(kBatch, n - start - rows) * sizeof(double);
    }
    pf.spread_over(hessian_steps);
    double eta[kBatch];
    linear_indices(xs, xstride, k, beta, rows, eta);

    double q[kBatch];
    double z[kBatch];
    for (std::size_t b = 0; b < rows; ++b) {
      q[b] = sign_of_outcome(data.endog[start + b]);
      z[b] = q[b] * eta[b];
    }
    double v[kBatch];
    if constexpr (kRowWeights) {
      if (out.weights.step == kDoubleBytes) {
        std::memcpy(v, out.weights.bytes + static_cast<std::ptrdiff_t>(start) * kDoubleBytes,
                    rows * sizeof(double));
      } else {
        for (std::size_t b = 0; b < rows; ++b) v[b] = out.weights[start + b];
      }
    }
    double p[kBatch];
    double phi[kBatch];
    const bool at_zero = normal_values(z, rows, p, kDerivatives ? phi : nullptr);
    if constexpr ((kWhat & kLogLikelihood) != 0) {
      double log_p[kBatch];
      if (at_zero) {
        std::fill(log_p, log_p + rows, kLogHalf);
      } else {
        log_values(p, log_p, rows);
      }
      if constexpr (kRowWeights) {
        for (std::size_t b = 0; b < rows; ++b) loglike = loglike + v[b] * log_p[b];
      } else {
        for (std::size_t b = 0; b < rows; ++b) loglike = loglike + log_p[b];
      }
    }
    double lambda[kBatch];
    double w[kBatch];
    if constexpr (kDerivatives) {
      for (std::size_t b = 0; b < rows; ++b) {
        lambda[b] = (q[b] * phi[b]) / p[b];
        w[b] = (eta[b] + lambda[b]) * lambda[b];
      }
      // Each row's score and Hessian terms counted v_b times: a weight of 1
      // leaves their bits as they are.
      if constexpr (kRowWeights) {
        for (std::size_t b = 0; b < rows; ++b) {
          lambda[b] = v[b] * lambda[b];
          w[b] = v[b] * w[b];
        }
      }
    }

    if constexpr ((kWhat & kScore) != 0) {
      // Observation by observation, all k sums side by side in registers.
      if (padding_in_x) {
        add_scaled_rows<kLanes, true>(g.data(), k, width, xs, xstride, lambda, rows);
      } else {
        add_scaled_rows<kLanes, false>(g.data(), k, width, xs, xstride, lambda, rows);
      }
    }
    if constexpr ((kWhat & kScoreRows) != 0) {
      for (std::size_t b = 0; b < rows; ++b) {
        double* s = out.score_rows + (start + b) * k;
        const double* xb = xs + static_cast<std::ptrdiff_t>(b) * xstride;
        for (std::size_t j = 0; j < k; ++j) s[j] = xb[j] * lambda[b];
      }
    }
    if constexpr ((kWhat & kHessian) != 0) {
      if (padding_in_x) {
        subtract_weighted_outer<kLanes, true>(h.data(), k, width, xs, xstride, w, rows, pf);
      } else {
        subtract_weighted_outer<kLanes, false>(h.data(), k, width, xs, xstride, w, rows, pf);
      }
    }
    if constexpr ((kWhat & kMirroredHessian) != 0) {
      if (padding_in_x) {
        subtract_weighted_outer_upper<kLanes, true, kFused>(h.data(), k, width, xs, xstride, w,
                                                            rows, pf);
      } else {
        subtract_weighted_outer_upper<kLanes, false, kFused>(h.data(), k, width, xs, xstride, w,
                                                             rows, pf);
      }
    }
    if (hessian_steps == 0 && rows == kBatch) hessian_steps = pf.steps;
  }
  out.loglike = loglike;
  if constexpr ((kWhat & kScore) != 0) std::copy(g.data(), g.data() + k, out.score);
  if constexpr ((kWhat & kHessian) != 0) {
    for (std::size_t j = 0; j < k; ++j) {
      std::copy(h.data() + j * width, h.data() + j * width + k, out.hessian + j * k);
    }
  }
  if constexpr ((kWhat & kMirroredHessian) != 0) {
    for (std::size_t j = 0; j < k; ++j) {
      for (std::size_t l = 0; l < k; ++l) {
        out.hessian[j * k + l] = l >= j ? h[j * width + l] : h[l * width + j];
      }
    }
  }
}

// The sweeps the estimation needs (the fit's, the partition kernels' with
// the mirrored Hessian, the score rows), in two widths of vector: four lanes
// (compiled for the baseline and AVX2) and eight (AVX-512), from as many
// regressors as the process's paths say (code_paths.cpp, with the
// measurements). Vector lanes only ever hold different elements of one
// update, never parts of one sum, and a multiply-add is fused only in the
// mirrored Hessian's updates, there on every form, so every form gives the
// same bits. No exception may leave them: a stop is reported
// in the output and thrown by throw_if_interrupted once the sweep has
// returned.
#define QUILLON_SWEEP(name, what)                                                             \
  QUILLON_TARGET_AVX512 void name##_wide(const ProbitData& data, const double* beta,          \
                                         SweepOutput& out) {                                  \
    sweep<what, 8, batch::Subtract::kFusedAvx512>(data, beta, out);                           \
  }                                                                                           \
  QUILLON_TARGET_AVX2 void name##_avx2(const ProbitData& data, const double* beta,            \
                                       SweepOutput& out) {                                    \
    sweep<what, 4, batch::Subtract::kFusedAvx2>(data, beta, out);                             \
  }                                                                                           \
  void name##_baseline(const ProbitData& data, const double* beta, SweepOutput& out) {        \
    sweep<what, 4, batch::Subtract::kFusedLanes>(data, beta, out);                            \
  }                                                                                           \
  void name(const ProbitData& data, const double* beta, SweepOutput& out) {                   \
    const CodePaths& paths = code_paths();                                                    \
    if (paths.unit == VectorUnit::kAvx512 && data.nparams() >= paths.eight_lanes_from) {      \
      name##_wide(data, beta, out);                                                           \
    } else if (paths.unit != VectorUnit::kBaseline) {                                         \
      name##_avx2(data, beta, out);                                                           \
    } else {                                                                                  \
      name##_baseline(data, beta, out);                                                       \
    }                                                                                         \
  }
QUILLON_SWEEP(sweep_all, kLogLikelihood | kScore | kHessian)
QUILLON_SWEEP(sweep_all_mirrored, kLogLikelihood | kScore | kMirroredHessian)
QUILLON_SWEEP(sweep_score_rows, kScoreRows)
QUILLON_SWEEP(sweep_weighted_mirrored, kLogLikelihood | kScore | kMirroredHessian | kWeighted)
QUILLON_SWEEP(sweep_weighted_score_rows, kScoreRows | kWeighted)
#undef QUILLON_SWEEP

void throw_if_interrupted(const SweepOutput& out) {
  if (out.interrupted) throw Interrupted{};
}

// The sweeps read rows 0..n-1 of X.
void require_rows(const ProbitData& data) {
  if (data.exog.rows < data.endog.size) {
    panic("exog has " + std::to_string(data.exog.rows) + " rows for " +
          std::to_string(data.endog.size) + " observations");
  }
}

void require_weights(const ProbitData& data, const VectorView& weights) {
  require_rows(data);
  if (weights.size != data.endog.size) {
    panic(std::to_string(weights.size) + " weights for " + std::to_string(data.endog.size) +
          " observations");
  }
}

}  // namespace

ProbitEvaluation ProbitData::evaluate(const std::vector<double>& beta, HessianForm form) const {
  require_rows(*this);
  ProbitEvaluation e{0.0, std::vector<double>(nparams(), 0.0), Matrix(nparams(), nparams())};
  SweepOutput out{0.0, e.score.data(), e.hessian.row(0)};
  if (form == HessianForm::kMirrored) {
    sweep_all_mirrored(*this, beta.data(), out);
  } else {
    sweep_all(*this, beta.data(), out);
  }
  throw_if_interrupted(out);
  e.loglike = out.loglike;
  return e;
}

void ProbitData::score_rows(const std::vector<double>& beta, double* out) const {
  require_rows(*this);
  SweepOutput sweep_out;
  sweep_out.score_rows = out;
  sweep_score_rows(*this, beta.data(), sweep_out);
  throw_if_interrupted(sweep_out);
}

ProbitEvaluation evaluate_weighted(const ProbitData& data, const VectorView& weights,
                                   const std::vector<double>& beta) {
  require_weights(data, weights);
  const std::size_t k = data.nparams();
  ProbitEvaluation e{0.0, std::vector<double>(k, 0.0), Matrix(k, k)};
  SweepOutput out{0.0, e.score.data(), e.hessian.row(0)};
  out.weights = weights;
  sweep_weighted_mirrored(data, beta.data(), out);
  throw_if_interrupted(out);
  e.loglike = out.loglike;
  return e;
}

void score_rows_weighted(const ProbitData& data, const VectorView& weights,
                         const std::vector<double>& beta, double* out) {
  require_weights(data, weights);
  SweepOutput sweep_out;
  sweep_out.score_rows = out;
  sweep_out.weights = weights;
  sweep_weighted_score_rows(data, beta.data(), sweep_out);
  throw_if_interrupted(sweep_out);
}

ProbitFit newton_raphson(const ProbitData& data, std::optional<std::uint64_t> max_iter,
                         std::optional<double> tol) {
  return newton_iterate(
      data.nparams(), [&data](const std::vector<double>& beta) { return data.evaluate(beta); },
      data.interrupt, max_iter, tol);
}

ProbitFit newton_iterate(std::size_t k, const Evaluate& evaluate, const InterruptPoll& interrupt,
                         std::optional<std::uint64_t> max_iter, std::optional<double> tol) {
  const std::uint64_t passes = max_iter.value_or(kDefaultMaxIter);
  const double tolerance = tol.value_or(kDefaultTol);

  ProbitFit fit;
  fit.params.assign(k, 0.0);
  ProbitEvaluation current = evaluate(fit.params);
  fit.loglike = current.loglike;

  std::vector<double> next(k);
  for (std::uint64_t t = 0; t < passes; ++t) {
    interrupt();
    fit.iterations = t;
    const std::optional<Matrix> h_inv = invert_matrix(current.hessian.view());
    if (!h_inv) {
      write_diagnostic(texts::kHessianNearSingular + std::to_string(t) + "\n");
      break;
    }
    // beta - H^-1 g, the full Newton step.
    for (std::size_t r = 0; r < k; ++r) {
      const double* inv_row = h_inv->row(r);
      double delta = 0.0;
      for (std::size_t c = 0; c < k; ++c) delta = delta + inv_row[c] * current.score[c];
      next[r] = fit.params[r] - delta;
    }
    ProbitEvaluation at_next = evaluate(next);
    const double change = std::fabs(at_next.loglike - fit.loglike);
    fit.params.swap(next);
    fit.loglike = at_next.loglike;
    current = std::move(at_next);
    if (tolerance > change) {
      fit.converged = true;
      break;
    }
  }
  fit.hessian = std::move(current.hessian);
  return fit;
}

}  // namespace quillon
