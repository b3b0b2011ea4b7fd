// The probit's response function F = Phi as the kernels read it, a batch
// of rows at a time. A fit's sweep reads, from the signed index z = q eta
// (q = 2 y - 1), the probability of the observed outcome p = clip(Phi(z)),
// its log, and the first and second derivatives of ln p in eta that the
// score and the Hessian take,
//   lambda = q phi(z) / p,   w = (eta + lambda) lambda   (= -d lambda / d eta);
// the effects of variables read F(eta), its density f(eta) and the decay of
// the density, -f'(eta) / f(eta) (= eta). The sweep and the effect kernels
// are templates over such a policy, so that another response function is
// another policy of the same shape, and no other kernel. Inlined into each
// kernel, so that its loops take the kernel's vector unit.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "estimation/probit.hpp"
#include "numerics/kernels.hpp"
#include "numerics/normal.hpp"

namespace quillon {

struct ProbitLink {
  // Phi and phi at +-0, the value of every index at beta = 0 (the first
  // point of every fit): cdf(0) = 0.5 exactly, and pdf(+0) = pdf(-0); and
  // the log of 0.5, which every kernel gives as the C library's log does.
  static inline const double kPdfAtZero = kStandardNormal.pdf(0.0);
  static inline const double kLogHalf = std::log(0.5);

  // p_b = clip(Phi(z_b)) and, when wanted, phi_b = phi(z_b) for b < rows.
  // Returns whether every z_b is zero (p_b = 0.5 for all).
  [[gnu::always_inline]] static bool normal_values(const double* z, std::size_t rows, double* p,
                                                  double* phi) {
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

  // For b < rows (at most kRows): log_p_b = ln p_b when kLog, and lambda_b
  // and w_b when kDerivatives.
  template <std::size_t kRows, bool kLog, bool kDerivatives>
  [[gnu::always_inline]] static void values(const double* eta, const double* q, const double* z,
                                            std::size_t rows, double* log_p, double* lambda,
                                            double* w) {
    double p[kRows];
    double phi[kRows];
    const bool at_zero = normal_values(z, rows, p, kDerivatives ? phi : nullptr);
    if constexpr (kLog) {
      if (at_zero) {
        std::fill(log_p, log_p + rows, kLogHalf);
      } else {
        log_values(p, log_p, rows);
      }
    }
    if constexpr (kDerivatives) {
      for (std::size_t b = 0; b < rows; ++b) {
        lambda[b] = (q[b] * phi[b]) / p[b];
        w[b] = (eta[b] + lambda[b]) * lambda[b];
      }
    }
  }

  // F(eta_r) and f(eta_r) for r < count.
  [[gnu::always_inline]] static void response(const double* eta, double* out, std::size_t count) {
    cdf_values(eta, out, count);
  }
  [[gnu::always_inline]] static void density(const double* eta, double* out, std::size_t count) {
    pdf_values(eta, out, count);
  }
  // -f'(eta_r) / f(eta_r) for r < count: the index itself, read in place
  // (`buffer` unused).
  [[gnu::always_inline]] static const double* density_decay(const double* eta, double* buffer,
                                                           std::size_t count) {
    (void)buffer;
    (void)count;
    return eta;
  }
};

}  // namespace quillon
