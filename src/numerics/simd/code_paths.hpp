// The code paths of the process, chosen once, on first use, by one
// mechanism: the vector unit that the loops over observations run on (each
// such loop is compiled for every unit, QUILLON_FOR_EACH_UNIT), the kernels
// of the normal cdf and pdf and the logarithm (scalar, four-lane or
// eight-lane), and the number of regressors from which the fit's sweeps take
// eight lanes instead of four. Every path gives the same bits: vector lanes
// hold different sums, no multiply-add is fused, and the vector kernels
// replicate the scalar ones; the choice only decides speed. A build with the CMake option
// QUILLON_PLAINEST_FORMS takes the plainest path (for the test run that
// holds it to the same bits).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillon {

enum class VectorUnit { kBaseline, kAvx2, kAvx512 };
// kVectorWide: the kernels on eight lanes (needs AVX-512F).
enum class Kernels { kScalar, kVector, kVectorWide };

struct CodePaths {
  static constexpr std::size_t kNever = SIZE_MAX;
  VectorUnit unit = VectorUnit::kBaseline;
  Kernels kernels = Kernels::kScalar;
  std::size_t eight_lanes_from = kNever;  // regressors; eight-lane sweeps need kAvx512
};

// The process's paths.
const CodePaths& code_paths();

// The paths this machine and build can run, the process's own first, each
// unit with every choice of kernels and sweep width it allows: for tests
// that hold every path to the same bits.
std::vector<CodePaths> runnable_code_paths();

// For tests: the process runs on `paths` while the object lives.
class CodePathsOverride {
 public:
  explicit CodePathsOverride(const CodePaths& paths);
  ~CodePathsOverride();
  CodePathsOverride(const CodePathsOverride&) = delete;
  CodePathsOverride& operator=(const CodePathsOverride&) = delete;

 private:
  CodePaths paths_;
  const CodePaths* previous_;
};

}  // namespace quillon

// Target attributes for the vector units, where the build found them (x86-64
// under g++ and clang; see CMakeLists.txt); elsewhere every unit is built
// as the baseline and only the baseline is chosen.
#if defined(QUILLON_HAVE_X86_TARGETS)
#define QUILLON_TARGET_AVX2 [[gnu::target("avx2,fma")]]
#define QUILLON_TARGET_AVX512 [[gnu::target("avx512f")]]
#else
#define QUILLON_TARGET_AVX2
#define QUILLON_TARGET_AVX512
#endif

// Defines `void name params`, which runs `body args` (an always-inline
// function) compiled for each vector unit, on the process's unit. Only
// loops whose vector lanes hold different sums may be so compiled. No
// exception may leave them.
#define QUILLON_FOR_EACH_UNIT(name, params, body, args)    \
  QUILLON_TARGET_AVX512 void name##_avx512 params { body args; } \
  QUILLON_TARGET_AVX2 void name##_avx2 params { body args; }     \
  void name##_baseline params { body args; }                     \
  void name params {                                             \
    switch (code_paths().unit) {                                 \
      case VectorUnit::kAvx512:                                  \
        return name##_avx512 args;                               \
      case VectorUnit::kAvx2:                                    \
        return name##_avx2 args;                                 \
      default:                                                   \
        return name##_baseline args;                             \
    }                                                            \
  }
