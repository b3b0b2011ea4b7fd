// The floating-point environment that every result is defined in: rounding
// to nearest, every exception masked (no traps), subnormal numbers kept as
// they are (on x86-64, neither flush-to-zero nor denormals-are-zero). A
// caller may have changed any of these (fesetround, feenableexcept, or a
// library built with -ffast-math, which sets FTZ and DAZ at load time), so
// each call runs its numerical code inside a DefaultFloatEnvironment.
#pragma once

#include <cfenv>

#if defined(__x86_64__)
#include <xmmintrin.h>
#endif

namespace quillon {

// Saves the thread's floating-point environment, installs the default one for
// the object's lifetime and restores the saved one, exception flags
// included, when it ends, however the scope is left.
class DefaultFloatEnvironment {
 public:
  DefaultFloatEnvironment() noexcept {
    std::fegetenv(&saved_);
    std::fesetenv(FE_DFL_ENV);
#if defined(__x86_64__)
    // FTZ (bit 15) and DAZ (bit 6) of MXCSR, which not every C library's
    // default environment clears.
    _mm_setcsr(_mm_getcsr() & ~0x8040u);
#endif
  }
  ~DefaultFloatEnvironment() { std::fesetenv(&saved_); }

  DefaultFloatEnvironment(const DefaultFloatEnvironment&) = delete;
  DefaultFloatEnvironment& operator=(const DefaultFloatEnvironment&) = delete;

 private:
  std::fenv_t saved_;
};

}  // namespace quillon
