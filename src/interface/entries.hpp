// The module-level functions, in the fast-call convention with keywords.
#pragma once

#include <Python.h>

namespace quillon {

PyObject* fit_probit(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

PyObject* ame(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

inline constexpr const char* kAmeDoc =
    "ame(probit_model, chunk_size=...)\n--\n\n"
    "Calculates Average Marginal Effects (AME) for a Probit model";

inline constexpr const char* kFitProbitDoc =
    "fit_probit(endog_py, exog_py, max_iter=..., tol=..., robust=..., cluster_vars=...)\n--\n\n";

}  // namespace quillon
