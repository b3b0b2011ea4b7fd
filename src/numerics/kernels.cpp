#include "numerics/kernels.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "numerics/float_environment.hpp"
#include "numerics/normal.hpp"
#include "numerics/vector_normal.hpp"

#if defined(__x86_64__)
#include "numerics/exp_log_tables.hpp"
#endif
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
// vector_math.hpp replicates. The start-up comparison cannot see every
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

// Arguments for exp: every table entry at both ends and the middle of its
// interval over the whole range the kernels use, the edges of the main path,
// special values and the witnesses of glibc's FMA build.
std::vector<double> exp_check_inputs() {
  std::vector<double> v;
  const double step = 0.0054152123481245725;  // ln 2 / 128
  for (int k = -137700; k <= 0; k += 37) {
    for (double f : {-0.49, -0.25, 0.0, 0.25, 0.49}) v.push_back(k * step + f * step);
  }
  for (int i = 0; i < 128; ++i) {
    v.push_back(i * step - 0.37);
    v.push_back(-(i * step) + 0.0001);
  }
  for (std::uint64_t bits : {0x3c8fffffffffffffull, 0x3c90000000000000ull, 0x407fffffffffffffull,
                             0x4080000000000000ull, 0x7ff0000000000000ull, 0x7ff8000000000000ull,
                             0x0000000000000001ull, 0x0000000000000000ull}) {
    v.push_back(std::bit_cast<double>(bits));
    v.push_back(-std::bit_cast<double>(bits));
  }
  for (std::uint64_t bits : exp_log_tables::kExpFmaWitnesses)
    v.push_back(std::bit_cast<double>(bits));
  return v;
}

// Arguments for log: every table interval in fifteen binades, both sides of
// 1 down to the probability ceiling, the edges of the near-1 path, special
// values and the witnesses of glibc's FMA build.
std::vector<double> log_check_inputs() {
  std::vector<double> v;
  for (std::int64_t e = -52; e <= 4; e += 4) {
    for (std::uint64_t i = 0; i < 128; ++i) {
      const std::uint64_t bits =
          0x3fe6000000000000ull + (i << 45) + (static_cast<std::uint64_t>(e) << 52);
      v.push_back(std::bit_cast<double>(bits + 1));
      v.push_back(std::bit_cast<double>(bits + (1ull << 44)));
    }
  }
  for (int i = 1; i <= 400; ++i) {
    const double d = std::pow(10.0, -0.035 * i - 1.2);
    v.push_back(1.0 - d);
    v.push_back(1.0 + 0.5 * d);
  }
  for (std::uint64_t bits :
       {0x3fee000000000000ull, 0x3fedffffffffffffull, 0x3ff1090000000000ull, 0x3ff108ffffffffffull,
        0x3ff0000000000000ull, 0x000fffffffffffffull, 0x0010000000000000ull, 0x7fefffffffffffffull,
        0x7ff0000000000000ull, 0x7ff8000000000000ull, 0x0000000000000000ull}) {
    v.push_back(std::bit_cast<double>(bits));
    v.push_back(-std::bit_cast<double>(bits));
  }
  v.push_back(1e-15);
  v.push_back(0.999999999999999);
  for (std::uint64_t bits : exp_log_tables::kLogFmaWitnesses)
    v.push_back(std::bit_cast<double>(bits));
  return v;
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
  return vector_kernels_supported() && same_as_scalar(exp_check_inputs(), avx2::exp, scalar_exp) &&
         same_as_scalar(log_check_inputs(), avx2::log, scalar_log);
#else
  return false;
#endif
}

namespace {

using VectorForm = void (*)(const double*, double*, std::size_t);

#if defined(__x86_64__)
constexpr VectorForm kVectorCdf = avx2::cdf;
constexpr VectorForm kVectorPdf = avx2::pdf;
constexpr VectorForm kVectorLog = avx2::log;
constexpr VectorForm kVectorExp = avx2::exp;
#else
constexpr VectorForm kVectorCdf = nullptr;
constexpr VectorForm kVectorPdf = nullptr;
constexpr VectorForm kVectorLog = nullptr;
constexpr VectorForm kVectorExp = nullptr;
#endif

template <double (*scalar)(double)>
void apply(const double* x, double* out, std::size_t n, Kernels kernels, VectorForm vector) {
  if (kernels == Kernels::kVector && vector != nullptr) return vector(x, out, n);
  for (std::size_t i = 0; i < n; ++i) out[i] = scalar(x[i]);
}

}  // namespace

void cdf_values(const double* x, double* out, std::size_t n, Kernels kernels) {
  apply<scalar_cdf>(x, out, n, kernels, kVectorCdf);
}

void pdf_values(const double* x, double* out, std::size_t n, Kernels kernels) {
  apply<scalar_pdf>(x, out, n, kernels, kVectorPdf);
}

void log_values(const double* x, double* out, std::size_t n, Kernels kernels) {
  apply<scalar_log>(x, out, n, kernels, kVectorLog);
}

void exp_values(const double* x, double* out, std::size_t n, Kernels kernels) {
  apply<scalar_exp>(x, out, n, kernels, kVectorExp);
}

}  // namespace quillon
