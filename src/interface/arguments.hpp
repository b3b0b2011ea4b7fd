// Binding and conversion of the arguments of the module-level functions,
// which use the fast-call convention with keywords.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace quillon {

// Positional-or-keyword parameters; the first `required` must be supplied.
struct Signature {
  const char* function;
  std::span<const char* const> parameters;
  std::size_t required;
};

// Fills bound[p] with the argument given for parameter p (a borrowed
// reference), or nullptr when it was not given, following the interpreter's
// rules and messages. Returns 0, or -1 with TypeError set.
int bind_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames, std::span<PyObject*> bound);

// Conversions of optional arguments: a missing argument or None leaves the
// value absent. A TypeError of the conversion is re-raised with the prefix
// "argument '{name}': "; any other exception is left as it is. Each returns
// 0, or -1 with an exception set.
int convert_count(PyObject* obj, const char* name, std::optional<std::uint64_t>& value);
int convert_real(PyObject* obj, const char* name, std::optional<double>& value);
int convert_flag(PyObject* obj, const char* name, std::optional<bool>& value);

// Re-raises a pending TypeError (exactly that type) as one whose message is
// prefixed with "argument '{name}': " and whose __cause__ is the original's
// cause. Returns -1.
int prefix_argument_error(const char* name);

}  // namespace quillon
