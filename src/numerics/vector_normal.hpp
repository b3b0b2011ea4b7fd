// Four-lane (AVX2) forms of the standard normal cdf and pdf and of exp and
// log, element by element bit for bit the scalar NormalDistribution{0, 1}
// and the process's exp and log (see vector_math.hpp for when that holds).
// Built on x86-64 only; callers reach them through kernels.hpp, which uses
// them only on a CPU with AVX2 and FMA and after its start-up check.
#pragma once

#include <cstddef>

namespace quillon::avx2 {

#if defined(__x86_64__)
// out[i] = f(x[i]) for i < n; out may be x.
void cdf(const double* x, double* out, std::size_t n);
void pdf(const double* x, double* out, std::size_t n);
void exp(const double* x, double* out, std::size_t n);
void log(const double* x, double* out, std::size_t n);
#endif

}  // namespace quillon::avx2
