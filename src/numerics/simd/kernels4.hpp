// The four-lane (AVX2 and FMA) kernels over arrays, and their eight-lane
// (AVX-512F) forms: the standard normal cdf and pdf (normal_cdf4.cpp,
// normal_pdf4.cpp) and exp and log (exp4 and exp8, log4 and log8),
// element by element bit for bit the scalar NormalDistribution{0, 1} and the
// process's exp and log where the start-up check has passed. Built on x86-64
// only; callers reach them through kernels.hpp, which uses them only on a
// CPU with AVX2 and FMA and after that check.
#pragma once

#include <cstddef>
#include <vector>

namespace quillon::avx2 {

#if defined(__x86_64__)
// out[i] = f(x[i]) for i < n; out may be x.
void cdf(const double* x, double* out, std::size_t n);
// The same with its polynomial pass on eight lanes; needs AVX-512F too.
void cdf_wide(const double* x, double* out, std::size_t n);
void pdf(const double* x, double* out, std::size_t n);
void exp(const double* x, double* out, std::size_t n);
void log(const double* x, double* out, std::size_t n);
// The same on eight lanes (exp8.hpp, log8.hpp); need AVX-512F too.
void pdf_wide(const double* x, double* out, std::size_t n);
void exp_wide(const double* x, double* out, std::size_t n);
void log_wide(const double* x, double* out, std::size_t n);

// The inputs of the start-up comparisons of exp4 and log4 with the
// process's exp and log.
std::vector<double> exp4_check_inputs();
std::vector<double> log4_check_inputs();
#endif

}  // namespace quillon::avx2
