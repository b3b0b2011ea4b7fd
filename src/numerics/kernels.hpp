// The per-observation functions of the fit and of the marginal effects over
// arrays of values: the standard normal cdf and pdf and the logarithm.
//
// Three implementations give the same bits: the scalar one
// (NormalDistribution and the C library's log, one value at a time: the
// reference), a four-lane one and an eight-lane one (simd/kernels4.hpp).
// Which one runs is decided once per process, with its other code paths
// (code_paths.hpp): the four-lane one only on an x86-64 CPU with AVX2 and
// FMA, under a C library whose exp and log were checked to be the ones it
// replicates, and after a start-up comparison with them has passed; the
// eight-lane one where the CPU also has AVX-512F and the same comparison of
// its own exp and log has passed.
#pragma once

#include <cstddef>

#include "numerics/simd/code_paths.hpp"

namespace quillon {

// For tests only: in a build with the CMake option QUILLON_PLAINEST_FORMS,
// every run time choice between forms that give the same bits takes the
// plainest one (the scalar kernels, the four-lane sweeps of the fit), so
// that the test suite can show on one machine that the forms agree.
constexpr bool plainest_forms_forced() {
#if defined(QUILLON_PLAINEST_FORMS)
  return true;
#else
  return false;
#endif
}

// Whether the four-lane kernels may run here: an x86-64 build, a CPU with AVX2
// and FMA, and a C library on the audited list. The choice also needs the
// start-up comparison to pass.
bool vector_kernels_supported();

// The start-up comparison of the four-lane exp and log with the process's
// own, on inputs that reach every table entry and branch of them. False when
// the four-lane kernels are not supported.
bool vector_kernels_agree_with_libm();

// The same comparison for the eight-lane exp and log, on a CPU with
// AVX-512F; false elsewhere. The eight-lane kernels (Kernels::kVectorWide)
// need both comparisons to pass.
bool wide_kernels_agree_with_libm();

// out[i] = f(x[i]) for i < n, with the given kernels; out may be x.
void cdf_values(const double* x, double* out, std::size_t n, Kernels kernels);
void pdf_values(const double* x, double* out, std::size_t n, Kernels kernels);
void log_values(const double* x, double* out, std::size_t n, Kernels kernels);
void exp_values(const double* x, double* out, std::size_t n, Kernels kernels);

// The same with the process's kernels (code_paths.hpp).
inline void cdf_values(const double* x, double* out, std::size_t n) {
  cdf_values(x, out, n, code_paths().kernels);
}
inline void pdf_values(const double* x, double* out, std::size_t n) {
  pdf_values(x, out, n, code_paths().kernels);
}
inline void log_values(const double* x, double* out, std::size_t n) {
  log_values(x, out, n, code_paths().kernels);
}

}  // namespace quillon
