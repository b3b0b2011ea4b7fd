#include "numerics/simd/code_paths.hpp"

#include "numerics/float_environment.hpp"
#include "numerics/kernels.hpp"

#if defined(__x86_64__)
#include <cpuid.h>

#include <cstring>
#endif

namespace quillon {
namespace {

VectorUnit widest_unit() {
#if defined(QUILLON_HAVE_X86_TARGETS)
  if (__builtin_cpu_supports("avx512f")) return VectorUnit::kAvx512;
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return VectorUnit::kAvx2;
#endif
  return VectorUnit::kBaseline;
}

// The processor family of an AMD x86-64 processor (base plus extended
// family), 0 for any other processor.
unsigned amd_family() {
#if defined(__x86_64__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(0, &eax, &ebx, &ecx, &edx) == 0) return 0;
  char vendor[12];
  std::memcpy(vendor, &ebx, 4);
  std::memcpy(vendor + 4, &edx, 4);
  std::memcpy(vendor + 8, &ecx, 4);
  if (std::memcmp(vendor, "AuthenticAMD", 12) != 0) return 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return 0;
  const unsigned base = (eax >> 8) & 0xf;
  return base == 0xf ? base + ((eax >> 20) & 0xff) : base;
#else
  return 0;
#endif
}

// Whether the processor is an Intel one with AVX512-FP16 (Sapphire Rapids
// and later cores, whose 512-bit instructions run at full width).
bool intel_with_avx512_fp16() {
#if defined(__x86_64__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(0, &eax, &ebx, &ecx, &edx) == 0 || eax < 7) return false;
  char vendor[12];
  std::memcpy(vendor, &ebx, 4);
  std::memcpy(vendor + 4, &edx, 4);
  std::memcpy(vendor + 8, &ecx, 4);
  if (std::memcmp(vendor, "GenuineIntel", 12) != 0) return false;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
  return ((edx >> 23) & 1) != 0;
#else
  return false;
#endif
}

// From how many regressors the eight-lane sweeps are faster, measured with
// fits of 3 * 10^5 and 10^6 rows forced to either width (same bits):
// - AMD family 1Ah (Zen 5, an EPYC VM; 512-bit units): eight lanes took
//   0.98 of the time at k = 4 and 6, 0.87 to 0.95 at 8 and 10, 0.83 at 12,
//   0.4 to 0.6 from 14 to 30;
// - AMD family 19h (Zen 4, 512-bit instructions on 256-bit units): 1.10 to
//   1.11 at k = 10 and 12, 0.90 at 14, 0.72 to 0.87 from 17 to 30;
// - Intel with AVX512-FP16 (a Xeon VM, family 6 model 167), one pass of
//   10^6 rows (benchmarks/kernels.cpp): eight lanes took 1.19 of the time
//   at k = 4, 0.92 at 6, 8 and 10, 0.89 at 12, 0.74 to 0.76 at 16 and 20;
// - elsewhere, an earlier measurement: less time from k = 24 (0.82 at 30),
//   more below.
std::size_t eight_lanes_from(unsigned family) {
  if (family == 0x1a) return 8;
  if (family == 0x19) return 14;
  if (intel_with_avx512_fp16()) return 6;
  return 24;
}

CodePaths choose_code_paths() {
  CodePaths paths;
  if (plainest_forms_forced()) return paths;
  // The start-up comparison runs in the default floating-point environment
  // whatever the caller's (vector_kernels_agree_with_libm sees to it).
  paths.unit = widest_unit();
  paths.kernels = vector_kernels_agree_with_libm() ? Kernels::kVector : Kernels::kScalar;
  if (paths.unit == VectorUnit::kAvx512) {
    paths.eight_lanes_from = eight_lanes_from(amd_family());
    if (paths.kernels == Kernels::kVector && wide_kernels_agree_with_libm())
      paths.kernels = Kernels::kVectorWide;
  }
  return paths;
}

const CodePaths* overridden = nullptr;

}  // namespace

const CodePaths& code_paths() {
  if (overridden != nullptr) return *overridden;
  static const CodePaths chosen = choose_code_paths();
  return chosen;
}

std::vector<CodePaths> runnable_code_paths() {
  std::vector<CodePaths> all{code_paths()};
  const VectorUnit widest = widest_unit();
  const bool vector_kernels = vector_kernels_agree_with_libm();
  const bool wide_kernels = vector_kernels && wide_kernels_agree_with_libm();
  for (const VectorUnit unit : {VectorUnit::kBaseline, VectorUnit::kAvx2, VectorUnit::kAvx512}) {
    if (unit > widest) continue;
    for (const Kernels kernels : {Kernels::kScalar, Kernels::kVector, Kernels::kVectorWide}) {
      if (kernels != Kernels::kScalar && !vector_kernels) continue;
      if (kernels == Kernels::kVectorWide && (unit != VectorUnit::kAvx512 || !wide_kernels))
        continue;
      all.push_back({unit, kernels, CodePaths::kNever});
      if (unit == VectorUnit::kAvx512) all.push_back({unit, kernels, 1});
    }
  }
  return all;
}

CodePathsOverride::CodePathsOverride(const CodePaths& paths)
    : paths_(paths), previous_(overridden) {
  overridden = &paths_;
}

CodePathsOverride::~CodePathsOverride() { overridden = previous_; }

}  // namespace quillon
