// Text across the border: UTF-8 of Python str objects, new str objects, and
// the one TypeError shape for an object that cannot be converted.
#pragma once

#include <Python.h>

#include <string>

namespace quillon {

// The UTF-8 text of a str object. `fallback` when there is none: `text` is
// null (a call that failed) or cannot be encoded; the exception is cleared,
// since the text only goes into a message.
std::string utf8_or(PyObject* text, const char* fallback);

// UTF-8 text of str(obj), or "?".
std::string str_of(PyObject* obj);

// A new str object holding the UTF-8 text, or nullptr with an exception set.
PyObject* new_str(const std::string& text);

// TypeError "'{type}' object cannot be converted to '{target}'", {type} the
// __qualname__ of the object's type. Returns -1.
int raise_conversion_failure(PyObject* obj, const char* target);

}  // namespace quillon
