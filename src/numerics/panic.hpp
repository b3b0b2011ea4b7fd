// Panic: thrown when an internal invariant breaks (inconsistent sizes, say).
// The entry points turn it into the module's PanicException.
#pragma once

#include <source_location>
#include <string>
#include <utility>

namespace quillon {

struct Panic {
  std::string message;
  std::source_location where;
};

[[noreturn]] inline void panic(std::string message,
                               std::source_location where = std::source_location::current()) {
  throw Panic{std::move(message), where};
}

}  // namespace quillon
