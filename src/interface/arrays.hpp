// The NumPy border: accepting float64 arrays, reading them in place through
// strided views, and handing owned arrays back to Python as NumPy arrays that
// own their memory.
#pragma once

#include <Python.h>

#include "interface/py_ref.hpp"
#include "numerics/matrix.hpp"
#include "numerics/owned_array.hpp"
#include "public_texts.hpp"

namespace quillon {

inline constexpr const char* kArrayTarget = texts::kArrayTarget;

// The strict test for a declared array parameter: a NumPy array (or subtype)
// with `ndim` dimensions and a float64-equivalent element type, each failure
// with its own message. Returns 0, or -1 with TypeError set.
int check_array_argument(PyObject* obj, int ndim);

// The lenient test for arrays met inside a function: the same conditions,
// every failure reported as the one conversion failure. Returns 0 or -1.
int downcast_array(PyObject* obj, int ndim);

// 1 when obj is a pandas Series or DataFrame, 0 when not, -1 with an
// exception set. Never imports pandas: without it no such object exists.
int is_pandas_series_or_frame(PyObject* obj);

// The downcast for the arrays of a fitted model read by `ame`: a pandas
// Series or DataFrame (what statsmodels keeps for a model fitted on pandas
// data) is replaced by the array of its to_numpy(), which then meets the same
// conditions; a refusal still names the type of the original object. Other
// objects are downcast as they are. Returns 0, or -1 with an exception set.
int downcast_array_or_pandas(PyRef& obj, int ndim);

// An accepted array (after a check or downcast succeeded) seen as doubles,
// in place, whatever the alignment of its data and strides (elements are
// read through 8-byte copies). A 1-dimensional array is one column.
struct ArrayRead {
  MatrixView view;
  int ndim = 1;
};
ArrayRead read_array(PyObject* array);

// Python code (an attribute read, a conversion, a signal handler) can change
// an array's shape, strides, element type or memory after it was checked, so
// an array is checked again where it is read: the check of downcast_array
// (capture_array) or of check_array_argument (capture_array_argument), and
// the read, with no Python code in between. Returns 0, or -1 with the
// check's TypeError set.
int capture_array(PyObject* obj, int ndim, ArrayRead& read);
int capture_array_argument(PyObject* obj, int ndim, ArrayRead& read);

// True while reading through `read` still reads what the array holds: the
// array has the data, layout and element type it had when read. Runs no
// Python code.
bool unchanged_since_read(PyObject* array, const ArrayRead& read);

// A new float64 NumPy array that takes over the owned buffer through a
// private owner object set as its base. Returns nullptr with an exception set.
PyObject* to_numpy(OwnedArray array);

}  // namespace quillon
