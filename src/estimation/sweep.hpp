// One sweep over the rows of a fit: the log-likelihood, the score, the
// Hessian (the engine's, or the part kernels' mirrored one) or the rows'
// scores, as a template over the response function (a link policy, such as
// ProbitLink), what it sums and the width of its vectors.
// Compiled in two files: the eight-lane sweeps (AVX-512) in sweep_wide.cpp,
// the four-lane ones with the dispatch in probit.cpp, so that the two
// largest bodies of the library build side by side.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <vector>

#include "estimation/batch_products.hpp"
#include "estimation/probit.hpp"
#include "estimation/probit_link.hpp"
#include "numerics/kernels.hpp"
#include "numerics/row_batches.hpp"
#include "numerics/simd/code_paths.hpp"

namespace quillon::sweeps {

using batch::add_scaled_rows;
using batch::subtract_weighted_outer;
using batch::subtract_weighted_outer_upper;
using simd::SpreadPrefetcher;

// 2 y - 1: +1 for y = 1, -1 for y = 0.
inline double sign_of_outcome(double y) { return (y + y) + (-1.0); }

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

template <class Link, unsigned kWhat, std::size_t kLanes, batch::Subtract kFused>
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
      const std::byte* y =
          data.endog.bytes + static_cast<std::ptrdiff_t>(start + rows) * kDoubleBytes;
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
    double log_p[kBatch];
    double lambda[kBatch];
    double w[kBatch];
    Link::template values<kBatch, (kWhat & kLogLikelihood) != 0, kDerivatives>(
        eta, q, z, rows, log_p, lambda, w);
    if constexpr ((kWhat & kLogLikelihood) != 0) {
      if constexpr (kRowWeights) {
        for (std::size_t b = 0; b < rows; ++b) loglike = loglike + v[b] * log_p[b];
      } else {
        for (std::size_t b = 0; b < rows; ++b) loglike = loglike + log_p[b];
      }
    }
    // Each row's score and Hessian terms counted v_b times: a weight of 1
    // leaves their bits as they are.
    if constexpr (kDerivatives && kRowWeights) {
      for (std::size_t b = 0; b < rows; ++b) {
        lambda[b] = v[b] * lambda[b];
        w[b] = v[b] * w[b];
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


// The sweeps the library runs, each a name, its link and the sums it forms:
// X(name, link, sums) for each.
#define QUILLON_SWEEPS(X)                                                                 \
  X(sweep_all, ProbitLink, kLogLikelihood | kScore | kHessian)                            \
  X(sweep_all_mirrored, ProbitLink, kLogLikelihood | kScore | kMirroredHessian)           \
  X(sweep_score_rows, ProbitLink, kScoreRows)                                             \
  X(sweep_weighted_mirrored, ProbitLink, kLogLikelihood | kScore | kMirroredHessian | kWeighted) \
  X(sweep_weighted_score_rows, ProbitLink, kScoreRows | kWeighted)

// Their eight-lane forms (sweep_wide.cpp).
#define QUILLON_DECLARE_WIDE_SWEEP(name, link, what)                                     \
  QUILLON_TARGET_AVX512 void name##_wide(const ProbitData& data, const double* beta, \
                                         SweepOutput& out);
QUILLON_SWEEPS(QUILLON_DECLARE_WIDE_SWEEP)
#undef QUILLON_DECLARE_WIDE_SWEEP

}  // namespace quillon::sweeps
