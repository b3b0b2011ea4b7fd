// The module-level functions, in the fast-call convention with keywords.
#pragma once

#include <Python.h>

namespace quillon {

PyObject* fit_probit(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

PyObject* ame(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace quillon
