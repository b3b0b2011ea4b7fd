// The four-lane and eight-lane kernels against the scalar reference and the
// live libm, bit for bit, NaN payloads included. QUILLON_KERNEL_SAMPLES
// scales the random part (the long soak runs it at 10^8 and more).
#include "numerics/kernels.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "numerics/normal.hpp"

#if defined(__x86_64__)
#include <xmmintrin.h>
#endif

namespace quillon {
namespace {

using Batch = void (*)(const double*, double*, std::size_t, Kernels);

std::size_t random_samples() {
  const char* text = std::getenv("QUILLON_KERNEL_SAMPLES");
  return text != nullptr ? std::strtoull(text, nullptr, 10) : 1000000;
}

double step_ulps(double x, int ulps) {
  for (; ulps > 0; --ulps) x = std::nextafter(x, std::numeric_limits<double>::infinity());
  for (; ulps < 0; ++ulps) x = std::nextafter(x, -std::numeric_limits<double>::infinity());
  return x;
}

// Every input with 4 ulps either side, and both signs.
std::vector<double> around(const std::vector<double>& centres) {
  std::vector<double> v;
  for (double c : centres) {
    for (int u = -4; u <= 4; ++u) {
      v.push_back(step_ulps(c, u));
      v.push_back(-step_ulps(c, u));
    }
  }
  return v;
}

std::vector<double> specials() {
  const double inf = std::numeric_limits<double>::infinity();
  return {0.0,
          -0.0,
          inf,
          -inf,
          std::numeric_limits<double>::quiet_NaN(),
          -std::numeric_limits<double>::quiet_NaN(),
          std::bit_cast<double>(0x7ff4000000000123ull),
          std::bit_cast<double>(0xfff8000000000456ull),
          std::numeric_limits<double>::denorm_min(),
          std::numeric_limits<double>::min(),
          std::numeric_limits<double>::max(),
          -std::numeric_limits<double>::max()};
}

// Inputs of the same group, run in odd lengths and at odd offsets so that every
// lane position and remainder is taken.
void expect_same(Batch f, double (*reference)(double), const std::vector<double>& x,
                 const std::string& group, Kernels kernels = Kernels::kVector) {
  std::vector<double> vector(x.size());
  std::vector<double> scalar(x.size());
  for (std::size_t start = 0; start < x.size(); start += 1021) {
    const std::size_t count = std::min<std::size_t>(1021, x.size() - start);
    f(x.data() + start, vector.data() + start, count, kernels);
    f(x.data() + start, scalar.data() + start, count, Kernels::kScalar);
  }
  std::size_t mismatches = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const std::uint64_t want = std::bit_cast<std::uint64_t>(reference(x[i]));
    if (std::bit_cast<std::uint64_t>(vector[i]) != want ||
        std::bit_cast<std::uint64_t>(scalar[i]) != want) {
      if (++mismatches <= 5) {
        ADD_FAILURE() << group << ": x = " << std::hexfloat << x[i] << " vector " << vector[i]
                      << " scalar " << scalar[i] << " reference " << reference(x[i]);
      }
    }
  }
  EXPECT_EQ(mismatches, 0u) << group << " of " << x.size();
}

// random_samples() inputs from draw(i), compared a million at a time (so
// that the soak's 10^9 fit in memory).
template <class Draw>
void expect_same_random(Batch f, double (*reference)(double), Draw draw, const std::string& group,
                        Kernels kernels = Kernels::kVector) {
  const std::size_t total = random_samples();
  std::vector<double> x;
  for (std::size_t done = 0; done < total; done += x.size()) {
    x.clear();
    const std::size_t count = std::min<std::size_t>(std::size_t{1} << 20, total - done);
    for (std::size_t i = 0; i < count; ++i) x.push_back(draw(done + i));
    expect_same(f, reference, x, group + " (random)", kernels);
  }
}

double live_exp(double x) { return std::exp(x); }
double live_log(double x) { return std::log(x); }
double normal_cdf(double x) { return kStandardNormal.cdf(x); }
double normal_pdf(double x) { return kStandardNormal.pdf(x); }

class VectorKernels : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!vector_kernels_supported()) GTEST_SKIP() << "no AVX2 and FMA, or a C library not audited";
  }
  std::mt19937_64 rng{20261208};
  double uniform(double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng);
  }
  double random_bits() { return std::bit_cast<double>(rng()); }
};

bool avx512f() {
#if defined(__x86_64__)
  return __builtin_cpu_supports("avx512f");
#else
  return false;
#endif
}

class VectorKernelsByWidth : public VectorKernels, public ::testing::WithParamInterface<Kernels> {
 protected:
  void SetUp() override {
    VectorKernels::SetUp();
    if (GetParam() == Kernels::kVectorWide && !avx512f()) GTEST_SKIP() << "no AVX-512F";
  }
};

TEST_P(VectorKernelsByWidth, ExpMatchesLiveLibm) {
  std::vector<double> x = specials();
  const double step = std::log(2.0) / 128;
  std::vector<double> edges{0x1p-54, 512.0, 709.78, 745.1332191019411, 1.0, 0.5};
  for (int i = 0; i < 128; ++i) {  // every table entry, its middle and both ends
    for (double f : {-0.5, 0.0, 0.5}) edges.push_back((i + f) * step);
  }
  x.insert(x.end(), edges.begin(), edges.end());
  const std::vector<double> near = around(edges);
  x.insert(x.end(), near.begin(), near.end());
  expect_same(exp_values, live_exp, x, "exp", GetParam());
  expect_same_random(
      exp_values, live_exp,
      [&](std::size_t i) {
        return i % 3 == 0   ? -uniform(0.0, 745.0)
               : i % 3 == 1 ? -std::pow(uniform(-8, 8), 2)
                            : random_bits();
      },
      "exp", GetParam());
}

TEST_P(VectorKernelsByWidth, LogMatchesLiveLibm) {
  std::vector<double> x = specials();
  std::vector<double> edges{1.0, 1e-15, 0.999999999999999, 1.0 - 0x1p-4, 1.0 + 0x1.09p-4, 0.5};
  for (std::uint64_t i = 0; i < 128; ++i) {  // every table entry, both ends
    const double low = std::bit_cast<double>(0x3fe6000000000000ull + (i << 45));
    edges.push_back(low);
    edges.push_back(low * 0x1p-40);
  }
  const std::vector<double> near = around(edges);
  x.insert(x.end(), near.begin(), near.end());
  expect_same(log_values, live_log, x, "log", GetParam());
  expect_same_random(
      log_values, live_log,
      [&](std::size_t i) {
        return i % 3 == 0   ? uniform(1e-15, 1.0)
               : i % 3 == 1 ? 1.0 - std::exp(-uniform(0, 35))
                            : random_bits();
      },
      "log", GetParam());
}

// x = -z sqrt 2 at every edge of the error function's pieces.
std::vector<double> piece_edges() {
  std::vector<double> x;
  for (double z :
       {1e-10, 0.5, 0.75, 1.25, 2.25, 3.5, 5.25, 8.0, 11.5, 17.0, 24.0, 38.0, 60.0, 85.0, 110.0}) {
    x.push_back(z * 1.4142135623730951);
  }
  return x;
}

std::vector<double> normal_edges() {
  std::vector<double> x = specials();
  const std::vector<double> edges = around(piece_edges());
  x.insert(x.end(), edges.begin(), edges.end());
  return x;
}

// Indices of fitted models, tiny ones, the whole range of both tails, and
// random bit patterns.
double normal_input(std::mt19937_64& rng, std::size_t i) {
  switch (i % 4) {
    case 0:
      return std::uniform_real_distribution<double>(-160.0, 160.0)(rng);
    case 1:
      return std::normal_distribution<double>(0.0, 2.0)(rng);
    case 2:
      return std::ldexp(std::normal_distribution<double>(0.0, 2.0)(rng), -30);
    default:
      return std::bit_cast<double>(rng());
  }
}

TEST_P(VectorKernelsByWidth, CdfMatchesScalar) {
  expect_same(cdf_values, normal_cdf, normal_edges(), "cdf", GetParam());
  expect_same_random(
      cdf_values, normal_cdf, [&](std::size_t i) { return normal_input(rng, i); }, "cdf",
      GetParam());
}

TEST_P(VectorKernelsByWidth, PdfMatchesScalar) {
  expect_same(pdf_values, normal_pdf, normal_edges(), "pdf", GetParam());
  expect_same_random(
      pdf_values, normal_pdf, [&](std::size_t i) { return normal_input(rng, i); }, "pdf",
      GetParam());
}

INSTANTIATE_TEST_SUITE_P(FourAndEightLanes, VectorKernelsByWidth,
                         ::testing::Values(Kernels::kVector, Kernels::kVectorWide));

TEST_F(VectorKernels, StartUpCheckPasses) {
  // Fails when glibc is made to run its exp and log without FMA
  // (GLIBC_TUNABLES=glibc.cpu.hwcaps=-FMA): the process then keeps the scalar path.
  EXPECT_TRUE(vector_kernels_agree_with_libm());
  EXPECT_EQ(wide_kernels_agree_with_libm(), avx512f());
}

#if defined(__x86_64__)
// The check passes whatever environment its caller runs in (under
// FE_DOWNWARD, log(1) is -0 and the comparison used to fail for good), and
// leaves that environment as it found it.
TEST_F(VectorKernels, StartUpCheckPassesInAnyCallerEnvironment) {
  for (const int rounding : {FE_DOWNWARD, FE_UPWARD, FE_TOWARDZERO}) {
    SCOPED_TRACE(rounding);
    std::fesetround(rounding);
    EXPECT_TRUE(vector_kernels_agree_with_libm());
    EXPECT_EQ(wide_kernels_agree_with_libm(), avx512f());
    EXPECT_EQ(std::fegetround(), rounding);
    std::fesetround(FE_TONEAREST);
  }
  const unsigned csr = _mm_getcsr();
  _mm_setcsr(csr | 0x8040u);  // flush-to-zero and denormals-are-zero
  EXPECT_TRUE(vector_kernels_agree_with_libm());
  EXPECT_EQ(_mm_getcsr() & 0x8040u, 0x8040u);
  _mm_setcsr(csr);
}
#endif

}  // namespace
}  // namespace quillon
