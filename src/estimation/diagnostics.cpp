#include "estimation/diagnostics.hpp"

#include <unistd.h>

#include <cerrno>

namespace quillon {

void write_diagnostic(std::string_view line) {
  const char* data = line.data();
  std::size_t left = line.size();
  while (left > 0) {
    const ssize_t written = ::write(STDERR_FILENO, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return;  // nowhere left to report to
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
}

}  // namespace quillon
