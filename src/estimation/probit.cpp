#include "estimation/probit.hpp"

#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "estimation/diagnostics.hpp"
#include "estimation/sweep.hpp"
#include "numerics/invert.hpp"
#include "numerics/panic.hpp"
#include "numerics/simd/code_paths.hpp"
#include "public_texts.hpp"

namespace quillon {

namespace {

using namespace sweeps;

// The sweeps the estimation needs (the fit's, the partition kernels' with
// the mirrored Hessian, the score rows), in two widths of vector: four lanes
// (compiled for the baseline and AVX2, here) and eight (AVX-512, in
// sweep_wide.cpp), from as many regressors as the process's paths say
// (code_paths.cpp, with the measurements). Vector lanes only ever hold different elements of one
// update, never parts of one sum, and a multiply-add is fused only in the
// mirrored Hessian's updates, there on every form, so every form gives the
// same bits. No exception may leave them: a stop is reported
// in the output and thrown by throw_if_interrupted once the sweep has
// returned.
#define QUILLON_SWEEP(name, link, what)                                                           \
  QUILLON_TARGET_AVX2 void name##_avx2(const ProbitData& data, const double* beta,            \
                                       SweepOutput& out) {                                    \
    sweep<link, what, 4, batch::Subtract::kFusedAvx2>(data, beta, out);                             \
  }                                                                                           \
  void name##_baseline(const ProbitData& data, const double* beta, SweepOutput& out) {        \
    sweep<link, what, 4, batch::Subtract::kFusedLanes>(data, beta, out);                            \
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
QUILLON_SWEEPS(QUILLON_SWEEP)
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

void require_weights(const ProbitData& data, const RowWeights& weights) {
  require_rows(data);
  if (weights && weights->size != data.endog.size) {
    panic(std::to_string(weights->size) + " weights for " + std::to_string(data.endog.size) +
          " observations");
  }
}

}  // namespace

ProbitEvaluation ProbitData::evaluate(const std::vector<double>& beta, HessianForm form,
                                      const RowWeights& weights) const {
  require_weights(*this, weights);
  if (weights && form != HessianForm::kMirrored) panic("row weights take the mirrored Hessian");
  ProbitEvaluation e{0.0, std::vector<double>(nparams(), 0.0), Matrix(nparams(), nparams())};
  SweepOutput out{0.0, e.score.data(), e.hessian.row(0)};
  if (weights) {
    out.weights = *weights;
    sweep_weighted_mirrored(*this, beta.data(), out);
  } else if (form == HessianForm::kMirrored) {
    sweep_all_mirrored(*this, beta.data(), out);
  } else {
    sweep_all(*this, beta.data(), out);
  }
  throw_if_interrupted(out);
  e.loglike = out.loglike;
  return e;
}

void ProbitData::score_rows(const std::vector<double>& beta, double* out,
                            const RowWeights& weights) const {
  require_weights(*this, weights);
  SweepOutput sweep_out;
  sweep_out.score_rows = out;
  if (weights) {
    sweep_out.weights = *weights;
    sweep_weighted_score_rows(*this, beta.data(), sweep_out);
  } else {
    sweep_score_rows(*this, beta.data(), sweep_out);
  }
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
