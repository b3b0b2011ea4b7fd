// Panic: thrown when an internal invariant breaks (inconsistent sizes, say).
// The entry points turn it into the module's PanicException.
#pragma once

#include <string>
#include <utility>

namespace quillon {

// The file and line that raised a panic. libstdc++ offers std::source_location
// only to compilers with __builtin_source_location, which clang 14 lacks; the
// builtins used here are understood by g++ and clang alike, and as default
// arguments they name the caller's position.
class SourceLocation {
 public:
  static constexpr SourceLocation current(const char* file = __builtin_FILE(),
                                          unsigned line = __builtin_LINE()) noexcept {
    return SourceLocation(file, line);
  }
  constexpr const char* file_name() const noexcept { return file_; }
  constexpr unsigned line() const noexcept { return line_; }

 private:
  constexpr SourceLocation(const char* file, unsigned line) noexcept : file_(file), line_(line) {}
  const char* file_;
  unsigned line_;
};

struct Panic {
  std::string message;
  SourceLocation where;
};

[[noreturn]] inline void panic(std::string message,
                               SourceLocation where = SourceLocation::current()) {
  throw Panic{std::move(message), where};
}

}  // namespace quillon
