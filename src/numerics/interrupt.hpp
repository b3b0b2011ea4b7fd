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
  // A check that needs state of its caller's, handed back as `context`.
  using ContextCheck = bool (*)(const void* context);

  InterruptPoll() = default;
  explicit InterruptPoll(Check check) : check_(check) {}
  InterruptPoll(ContextCheck check, const void* context)
      : context_check_(check), context_(context) {}

  // Throws Interrupted when the check says stop.
  void operator()() const {
    if (stop_requested()) throw Interrupted{};
  }
  // Throws Interrupted when `row` is a multiple of kRowsPerPoll (but 0) and
  // the check says stop: the poll of a loop over rows.
  void at_row(std::size_t row) const {
    if (row % kRowsPerPoll == 0 && row != 0) (*this)();
  }
  // The same question without the throw, for code that must not throw (the
  // caller throws Interrupted once it is out of that code).
  bool stop_requested() const {
    if (context_check_ != nullptr) return context_check_(context_);
    return check_ != nullptr && check_();
  }

 private:
  Check check_ = nullptr;
  ContextCheck context_check_ = nullptr;
  const void* context_ = nullptr;
};

}  // namespace quillon
