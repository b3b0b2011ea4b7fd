// The labels of the pandas objects of a fitted model (the index of params,
// both axes of cov_params(), the columns of model.exog) against the
// regressor names, model.exog_names: values are paired with regressors by
// label, not by position.
#pragma once

#include <Python.h>

#include <string>
#include <vector>

#include "interface/py_ref.hpp"

namespace quillon {

// The axes of a pandas object whose labels name the regressors.
enum class LabelledAxes { kIndex, kColumns, kIndexAndColumns };

// When `original` is a pandas Series or DataFrame whose labels on `axes` are
// the names in another order, `array` becomes the array of a copy of
// `original` with its values in the names' order on those axes. Labels equal
// to the names in the same order, and objects that are not pandas ones,
// leave `array` as it is. Labels missing, extra or duplicated raise
// ValueError naming `what` and those labels. Returns 0, or -1 with an
// exception set.
int order_by_names(PyObject* original, LabelledAxes axes, const std::vector<std::string>& names,
                   const char* what, PyRef& array);

}  // namespace quillon
