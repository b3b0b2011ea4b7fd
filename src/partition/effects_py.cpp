// The effect kernels of variables: one part's derivative or counterfactual
// designs read in place, the grouped sums formed with the interpreter lock
// released.
#include <cmath>
#include <optional>
#include <vector>

#include "interface/arrays.hpp"
#include "interface/lists.hpp"
#include "interface/panic.hpp"
#include "interface/py_ref.hpp"
#include "partition/effect_designs.hpp"
#include "partition/entries.hpp"
#include "partition/part_arrays.hpp"
#include "partition/released_interpreter.hpp"

namespace quillon::partition {
namespace {

// A design of the part's shape, read in place. Returns 0 or -1.
int read_design(PyObject* obj, const char* what, const PartArrays& part, ArrayRead& read) {
  if (capture_array(obj, 2, read) < 0) return -1;
  if (read.view.rows != part.exog.view.rows || read.view.cols != part.exog.view.cols) {
    PyErr_Format(PyExc_ValueError, "%s is %zu x %zu but exog is %zu x %zu", what, read.view.rows,
                 read.view.cols, part.exog.view.rows, part.exog.view.cols);
    return -1;
  }
  return 0;
}

// Group codes (None: every row in group 0), each a whole number in
// [0, n_groups). Returns 0 or -1.
int read_groups(PyObject* obj, Py_ssize_t n_groups, std::size_t rows, ArrayRead& read,
                GroupCodes& codes) {
  if (n_groups < 1) {
    PyErr_Format(PyExc_ValueError, "n_groups must be at least 1, got %zd", n_groups);
    return -1;
  }
  if (obj == Py_None) return 0;
  if (capture_array(obj, 1, read) < 0) return -1;
  if (read.view.rows != rows) {
    PyErr_Format(PyExc_ValueError, "groups has %zu rows but exog has %zu", read.view.rows, rows);
    return -1;
  }
  const VectorView column = read.view.column(0);
  for (std::size_t i = 0; i < rows; ++i) {
    const double code = column[i];
    if (!(code >= 0.0 && code < static_cast<double>(n_groups)) || std::floor(code) != code) {
      PyErr_Format(PyExc_ValueError, "groups must hold whole numbers in [0, %zd)", n_groups);
      return -1;
    }
  }
  codes = column;
  return 0;
}

PyObject* sums_to_python(GroupedEffectSums sums) {
  PyRef effects(to_numpy(OwnedArray::from_vector(std::move(sums.effects))));
  if (!effects) return nullptr;
  PyRef jacobian(to_numpy(OwnedArray::from_matrix(std::move(sums.jacobian))));
  if (!jacobian) return nullptr;
  return PyTuple_Pack(2, effects.get(), jacobian.get());
}

}  // namespace

PyObject* slope_sums(PyObject*, PyObject* args) {
  return guard_native([&]() -> PyObject* {
    PyObject *exog, *derivative_py, *params, *groups_py;
    Py_ssize_t n_groups;
    int relative = 0;
    if (!PyArg_ParseTuple(args, "OOOOn|p:slope_sums", &exog, &derivative_py, &params, &groups_py,
                          &n_groups, &relative)) {
      return nullptr;
    }
    PartArrays part;
    if (read_part(nullptr, exog, params, part) < 0) return nullptr;
    ArrayRead derivative, groups_read;
    if (read_design(derivative_py, "derivative", part, derivative) < 0) return nullptr;
    GroupCodes codes;
    if (read_groups(groups_py, n_groups, part.exog.view.rows, groups_read, codes) < 0) {
      return nullptr;
    }
    GroupedEffectSums sums = without_interpreter_lock([&] {
      return quillon::slope_sums(part.exog.view, derivative.view, part.params, codes,
                                 static_cast<std::size_t>(n_groups), relative != 0);
    });
    return sums_to_python(std::move(sums));
  });
}

PyObject* contrast_sums(PyObject*, PyObject* args) {
  return guard_native([&]() -> PyObject* {
    PyObject *high_py, *low_py, *params, *groups_py;
    Py_ssize_t n_groups;
    int relative = 0;
    if (!PyArg_ParseTuple(args, "OOOOn|p:contrast_sums", &high_py, &low_py, &params, &groups_py,
                          &n_groups, &relative)) {
      return nullptr;
    }
    PartArrays part;
    if (read_part(nullptr, high_py, params, part) < 0) return nullptr;
    ArrayRead low, groups_read;
    std::optional<MatrixView> low_view;
    if (low_py != Py_None) {
      if (read_design(low_py, "low", part, low) < 0) return nullptr;
      low_view = low.view;
    }
    GroupCodes codes;
    if (read_groups(groups_py, n_groups, part.exog.view.rows, groups_read, codes) < 0) {
      return nullptr;
    }
    GroupedEffectSums sums = without_interpreter_lock([&] {
      return quillon::contrast_sums(part.exog.view, low_view, part.params, codes,
                                    static_cast<std::size_t>(n_groups), relative != 0);
    });
    return sums_to_python(std::move(sums));
  });
}

PyObject* column_summary(PyObject*, PyObject* args) {
  return guard_native([&]() -> PyObject* {
    PyObject* exog;
    if (!PyArg_ParseTuple(args, "O:column_summary", &exog)) return nullptr;
    ArrayRead x;
    if (capture_array(exog, 2, x) < 0) return nullptr;
    ColumnSummary summary =
        without_interpreter_lock([&] { return quillon::column_summary(x.view); });
    PyRef sums(to_numpy(OwnedArray::from_vector(std::move(summary.sums))));
    if (!sums) return nullptr;
    PyRef mins(to_numpy(OwnedArray::from_vector(std::move(summary.mins))));
    if (!mins) return nullptr;
    PyRef maxs(to_numpy(OwnedArray::from_vector(std::move(summary.maxs))));
    if (!maxs) return nullptr;
    PyRef whole(new_list(summary.whole, [](bool flag) { return PyBool_FromLong(flag ? 1 : 0); }));
    if (!whole) return nullptr;
    return PyTuple_Pack(4, sums.get(), mins.get(), maxs.get(), whole.get());
  });
}

PyObject* column_medians(PyObject*, PyObject* args) {
  return guard_native([&]() -> PyObject* {
    PyObject* exog;
    if (!PyArg_ParseTuple(args, "O:column_medians", &exog)) return nullptr;
    ArrayRead x;
    if (capture_array(exog, 2, x) < 0) return nullptr;
    std::vector<double> medians =
        without_interpreter_lock([&] { return quillon::column_medians(x.view); });
    return to_numpy(OwnedArray::from_vector(std::move(medians)));
  });
}

}  // namespace quillon::partition
