// Stopping a long computation on request (Ctrl-C): the numerical code asks at
// coarse boundaries whether to stop, and unwinds by throwing when it must.
// Everything a computation holds is owned by RAII, so unwinding releases it.
#pragma once

#include <cstddef>

namespace quillon {

// Thrown when a poll says stop. Whoever supplied the check has already
// recorded why (for the Python interface: the pending Python exception).
struct Interrupted {};

// Rows between two polls in the per-observation loops: rare enough that the
// poll costs nothing measurable, frequent enough to answer within a second.
inline constexpr std::size_t kRowsPerPoll = std::size_t{1} << 20;

// Asks a check whether to stop; a default-made poll never stops.
class InterruptPoll {
 public:
  using Check = bool (*)();

  InterruptPoll() = default;
  explicit InterruptPoll(Check check) : check_(check) {}

  // Throws Interrupted when the check says stop.
  void operator()() const {
    if (stop_requested()) throw Interrupted{};
  }
  // The same question without the throw, for code that must not throw (the
  // caller throws Interrupted once it is out of that code).
  bool stop_requested() const { return check_ != nullptr && check_(); }

 private:
  Check check_ = nullptr;
};

}  // namespace quillon
