// The fit's sweeps on eight lanes (AVX-512F), in a file of their own so
// that they compile beside the four-lane ones (probit.cpp), which choose
// among them.
#include "estimation/sweep.hpp"

namespace quillon::sweeps {

#define QUILLON_WIDE_SWEEP(name, link, what)                                               \
  QUILLON_TARGET_AVX512 void name##_wide(const ProbitData& data, const double* beta,   \
                                         SweepOutput& out) {                           \
    sweep<link, what, 8, batch::Subtract::kFusedAvx512>(data, beta, out);                    \
  }
QUILLON_SWEEPS(QUILLON_WIDE_SWEEP)
#undef QUILLON_WIDE_SWEEP

}  // namespace quillon::sweeps
