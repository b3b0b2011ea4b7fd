#include "numerics/kernels.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "numerics/float_environment.hpp"
#include "numerics/normal.hpp"
#include "numerics/simd/kernels4.hpp"

#if defined(__GLIBC__)
#include <gnu/libc-version.h>
#endif

namespace quillon {
namespace {

// The reference: one value at a time, the C library's exp and log.
double scalar_cdf(double x) { return kStandardNormal.cdf(x); }
double scalar_pdf(double x) { return kStandardNormal.pdf(x); }
double scalar_log(double x) { return std::log(x); }
double scalar_exp(double x) { return std::exp(x); }

#if defined(__x86_64__) && defined(__GLIBC__)

// C library versions whose exp and log were read instruction by instruction
// and found to be the algorithms and fused multiply-adds that
// simd/exp4.hpp and simd/log4.hpp replicate. The start-up comparison cannot see every
// fusion site (one changes a result by about 2^-30 ulp), so a version not
// on this list keeps the scalar kernels even if the comparison passes.
constexpr const char* kAuditedLibcVersions[] = {"2.36"};

bool libc_audited() {
  const char* version = gnu_get_libc_version();
  for (const char* audited : kAuditedLibcVersions) {
    if (std::strcmp(version, audited) == 0) return true;
  }
  return false;
}

// Each vector result against the scalar function's, bit for bit.
bool same_as_scalar(const std::vector<double>& x,
                    void (*vector)(const double*, double*, std::size_t), double (*scalar)(double)) {
  std::vector<double> y(x.size());
  vector(x.data(), y.data(), x.size());
  for (std::size_t i = 0; i < x.size(); ++i) {
    if (std::bit_cast<std::uint64_t>(y[i]) != std::bit_cast<std::uint64_t>(scalar(x[i])))
      return false;
  }
  return true;
}

#endif

}  // namespace

bool vector_kernels_supported() {
#if defined(__x86_64__) && defined(__GLIBC__)
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") && libc_audited();
#else
  return false;
#endif
}

bool vector_kernels_agree_with_libm() {
#if defined(__x86_64__) && defined(__GLIBC__)
  // Compared in the environment the kernels run in, whatever the caller's.
  const DefaultFloatEnvironment environment;
  return vector_kernels_supported() &&
         same_as_scalar(avx2::exp4_check_inputs(), avx2::exp, scalar_exp) &&
         same_as_scalar(avx2::log4_check_inputs(), avx2::log, scalar_log);
#else
  return false;
#endif
}

bool wide_kernels_agree_with_libm() {
#if defined(__x86_64__) && defined(__GLIBC__)
  const DefaultFloatEnvironment environment;
  return vector_kernels_supported() && __builtin_cpu_supports("avx512f") &&
         same_as_scalar(avx2::exp4_check_inputs(), avx2::exp_wide, scalar_exp) &&
         same_as_scalar(avx2::log4_check_inputs(), avx2::log_wide, scalar_log);
#else
  return false;
#endif
}

namespace {

using VectorForm = void (*)(const double*, double*, std::size_t);

#if defined(__x86_64__)
constexpr VectorForm kWideCdf = avx2::cdf_wide;
constexpr VectorForm kWidePdf = avx2::pdf_wide;
constexpr VectorForm kWideLog = avx2::log_wide;
constexpr VectorForm kWideExp = avx2::exp_wide;
constexpr VectorForm kVectorCdf = avx2::cdf;
constexpr VectorForm kVectorPdf = avx2::pdf;
constexpr VectorForm kVectorLog = avx2::log;
constexpr VectorForm kVectorExp = avx2::exp;
#else
constexpr VectorForm kWideCdf = nullptr;
constexpr VectorForm kWidePdf = nullptr;
constexpr VectorForm kWideLog = nullptr;
constexpr VectorForm kWideExp = nullptr;
constexpr VectorForm kVectorCdf = nullptr;
constexpr VectorForm kVectorPdf = nullptr;
constexpr VectorForm kVectorLog = nullptr;
constexpr VectorForm kVectorExp = nullptr;
#endif

// The scalar form, the four-lane one or the eight-lane one.
template <double (*scalar)(double)>
void apply(const double* x, double* out, std::size_t n, Kernels kernels, VectorForm vector,
           VectorForm wide) {
  if (kernels == Kernels::kVectorWide && wide != nullptr) return wide(x, out, n);
  if (kernels != Kernels::kScalar && vector != nullptr) return vector(x, out, n);
  for (std::size_t i = 0; i < n; ++i) out[i] = scalar(x[i]);
}

}  // namespace

void cdf_values(const double* x, double* out, std::size_t n, Kernels kernels) {
  apply<scalar_cdf>(x, out, n, kernels, kVectorCdf, kWideCdf);
}

void pdf_values(const double* x, double* out, std::size_t n, Kernels kernels) {
  apply<scalar_pdf>(x, out, n, kernels, kVectorPdf, kWidePdf);
}

void log_values(const double* x, double* out, std::size_t n, Kernels kernels) {
  apply<scalar_log>(x, out, n, kernels, kVectorLog, kWideLog);
}

void exp_values(const double* x, double* out, std::size_t n, Kernels kernels) {
  apply<scalar_exp>(x, out, n, kernels, kVectorExp, kWideExp);
}

}  // namespace quillon
