#include "estimation/probit.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <string>

#include "estimation/diagnostics.hpp"
#include "numerics/invert.hpp"
#include "numerics/kernels.hpp"
#include "numerics/variants.hpp"

namespace quillon {
namespace {

// 2 y - 1: +1 for y = 1, -1 for y = 0.
double sign_of_outcome(double y) { return (y + y) + (-1.0); }

// The Hessian is updated for blocks of this many rows at a time, so that
// each of its elements is loaded and stored once per block rather than once
// per observation. Within the block the element is still updated observation by
// observation, in index order: the results do not depend on the blocking.
constexpr std::size_t kBlock = 8;

// Which sums one sweep forms.
enum Sums : unsigned { kLogLikelihood = 1, kScore = 2, kHessian = 4, kScoreRows = 8 };

struct SweepOutput {
  double loglike = 0.0;
  double* score = nullptr;       // k values, zeroed by the caller
  double* hessian = nullptr;     // k x k row-major
  double* score_rows = nullptr;  // n x k row-major: row i is lambda_i x_i
  bool interrupted = false;      // the sweep stopped early on request
};

// Rows are copied into buffers padded with zeros to a whole number of these
// doubles, so that the Hessian update runs over full vector registers only.
constexpr std::size_t kLanes = 4;

// H[j][l] = H[j][l] - (x_bj w_b) x_bl for the block's observations b in
// order, for every j < k and every l < padded width (the padding columns
// of H collect zeros and are never read).
template <std::size_t kRows>
[[gnu::always_inline]] inline void subtract_weighted_outer(double* __restrict h, std::size_t k,
                                                           std::size_t width,
                                                           const double* __restrict x,
                                                           const double* w) {
  for (std::size_t j = 0; j < k; ++j) {
    double a[kRows];
    for (std::size_t b = 0; b < kRows; ++b) a[b] = x[b * width + j] * w[b];
    double* __restrict row = h + j * width;
    for (std::size_t l0 = 0; l0 < width; l0 += kLanes) {
      for (std::size_t l = l0; l < l0 + kLanes; ++l) {
        double v = row[l];
        for (std::size_t b = 0; b < kRows; ++b) v = v - a[b] * x[b * width + l];
        row[l] = v;
      }
    }
  }
}

// The cdf and pdf of a batch of observations at once, so that the kernels
// can take them four at a time; the batch's rows stay in the first levels of
// the cache between the passes over them.
constexpr std::size_t kBatch = 128;
static_assert(kBatch % kBlock == 0);
// Polls fall on batch boundaries.
static_assert(kRowsPerPoll % kBatch == 0);

// Phi and phi at +-0, the value of every index at beta = 0 (the first point
// of every fit): cdf(0) = 0.5 exactly, and pdf(+0) = pdf(-0).
const double kPdfAtZero = kStandardNormal.pdf(0.0);

// p_b = clip(Phi(z_b)) and, when wanted, phi_b = phi(z_b) for b < rows.
void normal_values(const double* z, std::size_t rows, double* p, double* phi) {
  bool all_zero = true;
  for (std::size_t b = 0; b < rows; ++b) all_zero = all_zero && z[b] == 0.0;
  if (all_zero) {
    std::fill(p, p + rows, 0.5);
    if (phi != nullptr) std::fill(phi, phi + rows, kPdfAtZero);
    return;
  }
  cdf_values(z, p, rows);
  for (std::size_t b = 0; b < rows; ++b) p[b] = clip_probability(p[b]);
  if (phi != nullptr) pdf_values(z, phi, rows);
}

template <unsigned kWhat>
[[gnu::always_inline]] inline void sweep(const ProbitData& data, const double* __restrict beta,
                                         SweepOutput& out) {
  constexpr bool kDerivatives = (kWhat & (kScore | kHessian | kScoreRows)) != 0;
  const std::size_t n = data.nobs();
  const std::size_t k = data.nparams();
  const std::size_t width = (k + kLanes - 1) / kLanes * kLanes;
  const MatrixView& x_all = data.exog;
  // The batch's rows, each padded with zeros to `width`.
  std::vector<double> rows_buffer(kBatch * width, 0.0);
  // The Hessian with rows padded likewise.
  std::vector<double> h((kWhat & kHessian) != 0 ? k * width : 0, 0.0);
  double* __restrict x = rows_buffer.data();
  double loglike = 0.0;

  for (std::size_t start = 0; start < n; start += kBatch) {
    if (start % kRowsPerPoll == 0 && start != 0 && data.interrupt.stop_requested()) {
      out.interrupted = true;
      return;
    }
    const std::size_t rows = std::min(kBatch, n - start);
    double eta[kBatch];
    for (std::size_t b = 0; b < rows; ++b) {
      const double* src = x_all.row_start(start + b);
      double* dst = x + b * width;
      for (std::size_t j = 0; j < k; ++j)
        dst[j] = src[static_cast<std::ptrdiff_t>(j) * x_all.col_stride];
      eta[b] = 0.0;
    }
    // x_i . beta for the batch's rows side by side: independent chains.
    for (std::size_t j = 0; j < k; ++j) {
      for (std::size_t b = 0; b < rows; ++b) eta[b] = eta[b] + x[b * width + j] * beta[j];
    }

    double q[kBatch];
    double z[kBatch];
    for (std::size_t b = 0; b < rows; ++b) {
      q[b] = sign_of_outcome(data.endog[start + b]);
      z[b] = q[b] * eta[b];
    }
    double p[kBatch];
    double phi[kBatch];
    normal_values(z, rows, p, kDerivatives ? phi : nullptr);
    if constexpr ((kWhat & kLogLikelihood) != 0) {
      double log_p[kBatch];
      log_values(p, log_p, rows);
      for (std::size_t b = 0; b < rows; ++b) loglike = loglike + log_p[b];
    }
    double lambda[kBatch];
    double w[kBatch];
    if constexpr (kDerivatives) {
      for (std::size_t b = 0; b < rows; ++b) {
        lambda[b] = (q[b] * phi[b]) / p[b];
        w[b] = (eta[b] + lambda[b]) * lambda[b];
      }
    }

    if constexpr ((kWhat & kScore) != 0) {
      // Observation by observation, all k sums side by side: k independent
      // chains rather than one long chain per sum.
      double* __restrict g = out.score;
      for (std::size_t b = 0; b < rows; ++b) {
        const double* xb = x + b * width;
        for (std::size_t j = 0; j < k; ++j) g[j] = xb[j] * lambda[b] + g[j];
      }
    }
    if constexpr ((kWhat & kScoreRows) != 0) {
      for (std::size_t b = 0; b < rows; ++b) {
        double* s = out.score_rows + (start + b) * k;
        for (std::size_t j = 0; j < k; ++j) s[j] = x[b * width + j] * lambda[b];
      }
    }
    if constexpr ((kWhat & kHessian) != 0) {
      std::size_t b = 0;
      for (; b + kBlock <= rows; b += kBlock) {
        subtract_weighted_outer<kBlock>(h.data(), k, width, x + b * width, w + b);
      }
      for (; b < rows; ++b) {
        subtract_weighted_outer<1>(h.data(), k, width, x + b * width, w + b);
      }
    }
  }
  out.loglike = loglike;
  if constexpr ((kWhat & kHessian) != 0) {
    for (std::size_t j = 0; j < k; ++j) {
      std::copy(h.data() + j * width, h.data() + j * width + k, out.hessian + j * k);
    }
  }
}

// The sweeps, each compiled for wider vector units as well and chosen at run
// time where the build found function multiversioning. Vector lanes only ever
// hold different elements of one update, never parts of one sum, and no
// multiply-add is fused, so every variant gives the same bits. No exception
// may leave them (GCC takes a call through the run time choice to be
// nothrow): a stop is reported in the output and thrown by
// throw_if_interrupted once the sweep has returned.
#define QUILLON_SWEEP(name, what)                                                            \
  QUILLON_VARIANTS void name(const ProbitData& data, const double* beta, SweepOutput& out) { \
    sweep<what>(data, beta, out);                                                            \
  }
QUILLON_SWEEP(sweep_loglike, kLogLikelihood)
QUILLON_SWEEP(sweep_score, kScore)
QUILLON_SWEEP(sweep_hessian, kHessian)
QUILLON_SWEEP(sweep_score_hessian, kScore | kHessian)
QUILLON_SWEEP(sweep_all, kLogLikelihood | kScore | kHessian)
QUILLON_SWEEP(sweep_score_rows, kScoreRows)
#undef QUILLON_SWEEP

void throw_if_interrupted(const SweepOutput& out) {
  if (out.interrupted) throw Interrupted{};
}

void require_rows(const ProbitData& data) {
  assert(data.exog.rows >= data.endog.size);
  (void)data;
}

}  // namespace

double ProbitData::log_likelihood(const std::vector<double>& beta) const {
  require_rows(*this);
  SweepOutput out;
  sweep_loglike(*this, beta.data(), out);
  throw_if_interrupted(out);
  return out.loglike;
}

std::vector<double> ProbitData::score(const std::vector<double>& beta) const {
  require_rows(*this);
  std::vector<double> g(nparams(), 0.0);
  SweepOutput out{0.0, g.data(), nullptr};
  sweep_score(*this, beta.data(), out);
  throw_if_interrupted(out);
  return g;
}

Matrix ProbitData::hessian(const std::vector<double>& beta) const {
  require_rows(*this);
  Matrix h(nparams(), nparams());
  SweepOutput out{0.0, nullptr, h.row(0)};
  sweep_hessian(*this, beta.data(), out);
  throw_if_interrupted(out);
  return h;
}

void ProbitData::score_and_hessian(const std::vector<double>& beta, std::vector<double>& g,
                                   Matrix& h) const {
  require_rows(*this);
  g.assign(nparams(), 0.0);
  h = Matrix(nparams(), nparams());
  SweepOutput out{0.0, g.data(), h.row(0)};
  sweep_score_hessian(*this, beta.data(), out);
  throw_if_interrupted(out);
}

ProbitEvaluation ProbitData::evaluate(const std::vector<double>& beta) const {
  require_rows(*this);
  ProbitEvaluation e{0.0, std::vector<double>(nparams(), 0.0), Matrix(nparams(), nparams())};
  SweepOutput out{0.0, e.score.data(), e.hessian.row(0)};
  sweep_all(*this, beta.data(), out);
  throw_if_interrupted(out);
  e.loglike = out.loglike;
  return e;
}

Matrix ProbitData::score_matrix(const std::vector<double>& beta) const {
  Matrix s(nobs(), nparams());
  score_rows(beta, s.row(0));
  return s;
}

void ProbitData::score_rows(const std::vector<double>& beta, double* out) const {
  require_rows(*this);
  SweepOutput sweep_out;
  sweep_out.score_rows = out;
  sweep_score_rows(*this, beta.data(), sweep_out);
  throw_if_interrupted(sweep_out);
}

ProbitFit newton_raphson(const ProbitData& data, std::optional<std::uint64_t> max_iter,
                         std::optional<double> tol) {
  const std::uint64_t passes = max_iter.value_or(kDefaultMaxIter);
  const double tolerance = tol.value_or(kDefaultTol);
  const std::size_t k = data.nparams();

  ProbitFit fit;
  fit.params.assign(k, 0.0);
  ProbitEvaluation current = data.evaluate(fit.params);
  fit.loglike = current.loglike;

  std::vector<double> next(k);
  for (std::uint64_t t = 0; t < passes; ++t) {
    data.interrupt();
    fit.iterations = t;
    const std::optional<Matrix> h_inv = invert_matrix(current.hessian.view());
    if (!h_inv) {
      write_diagnostic("Hessian near singular at iteration " + std::to_string(t) + "\n");
      break;
    }
    // beta - H^-1 g, the full Newton step.
    for (std::size_t r = 0; r < k; ++r) {
      const double* inv_row = h_inv->row(r);
      double delta = 0.0;
      for (std::size_t c = 0; c < k; ++c) delta = delta + inv_row[c] * current.score[c];
      next[r] = fit.params[r] - delta;
    }
    ProbitEvaluation at_next = data.evaluate(next);
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
