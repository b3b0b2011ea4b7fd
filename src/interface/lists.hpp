// Python lists across the border: lists built from native values, and the
// lists of regressor names read from and handed to Python.
#pragma once

#include <Python.h>

#include <cstddef>
#include <string>
#include <vector>

#include "interface/py_ref.hpp"

namespace quillon {

// A new list with one new object per item, made by `make` (which returns a
// new reference, or nullptr with an exception set). Returns nullptr with an
// exception set on failure.
template <class Item, class Make>
PyObject* new_list(const std::vector<Item>& items, Make make) {
  PyRef list(PyList_New(static_cast<Py_ssize_t>(items.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < items.size(); ++i) {
    PyObject* item = make(items[i]);
    if (item == nullptr) return nullptr;
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);  // steals item
  }
  return list.release();
}

// A list of flags as a new list of bool.
inline PyObject* bools_to_python(const std::vector<bool>& flags) {
  return new_list(flags, [](bool flag) { return PyBool_FromLong(flag ? 1 : 0); });
}

// Any sequence of str (not a str itself) to UTF-8 names. Returns 0 or -1.
int names_from_python(PyObject* obj, std::vector<std::string>& names);
// A new list of new str objects.
PyObject* names_to_python(const std::vector<std::string>& names);

}  // namespace quillon
