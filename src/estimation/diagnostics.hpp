// One-line numerical diagnostics, written straight to the process's standard
// error descriptor: unbuffered, and unaffected by redirections of sys.stderr.
#pragma once

#include <string_view>

namespace quillon {

void write_diagnostic(std::string_view line);

}  // namespace quillon
