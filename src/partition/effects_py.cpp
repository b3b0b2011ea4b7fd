// The effect kernels of variables: one part's derivative or counterfactual
// designs read in place, the grouped sums formed with the interpreter lock
// released.
#include <algorithm>
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

// Columns (n x m) for the design positions `positions` of a part with k
// columns, read in place. Returns 0 or -1.
int read_columns(PyObject* obj, const char* what, const PartArrays& part,
                 const std::vector<std::size_t>& positions, ArrayRead& read) {
  if (capture_array(obj, 2, read) < 0) return -1;
  if (read.view.rows != part.exog.view.rows || read.view.cols != positions.size()) {
    PyErr_Format(PyExc_ValueError, "%s is %zu x %zu but exog has %zu rows and %zu positions "
                 "are given", what, read.view.rows, read.view.cols, part.exog.view.rows,
                 positions.size());
    return -1;
  }
  return 0;
}

// Distinct column positions in [0, k). Returns 0 or -1.
int read_positions(PyObject* obj, std::size_t k, std::vector<std::size_t>& out) {
  PyRef list(PySequence_List(obj));
  if (!list) return -1;
  for (Py_ssize_t i = 0; i < PyList_Size(list.get()); ++i) {
    const Py_ssize_t j = PyNumber_AsSsize_t(PyList_GetItem(list.get(), i), PyExc_OverflowError);
    if (j == -1 && PyErr_Occurred()) return -1;
    const bool repeated =
        std::find(out.begin(), out.end(), static_cast<std::size_t>(j)) != out.end();
    if (j < 0 || static_cast<std::size_t>(j) >= k || repeated) {
      PyErr_Format(PyExc_ValueError, "positions must be distinct columns in [0, %zu), got %zd",
                   k, j);
      return -1;
    }
    out.push_back(static_cast<std::size_t>(j));
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

// Optional row weights (None: none), one per row.
int optional_weights(PyObject* obj, std::size_t rows, ArrayRead& read, RowWeights& weights) {
  if (obj == Py_None) return 0;
  if (read_weights(obj, rows, read) < 0) return -1;
  weights = read.view.column(0);
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
    PyObject *exog, *derivative_py, *positions_py, *params, *groups_py, *weights_py = Py_None;
    Py_ssize_t n_groups;
    int relative = 0;
    if (!PyArg_ParseTuple(args, "OOOOOn|pO:slope_sums", &exog, &derivative_py, &positions_py,
                          &params, &groups_py, &n_groups, &relative, &weights_py)) {
      return nullptr;
    }
    PartArrays part;
    if (read_part(nullptr, exog, params, part) < 0) return nullptr;
    std::vector<std::size_t> positions;
    if (read_positions(positions_py, part.exog.view.cols, positions) < 0) return nullptr;
    ArrayRead derivative, groups_read;
    if (read_columns(derivative_py, "derivative", part, positions, derivative) < 0) {
      return nullptr;
    }
    GroupCodes codes;
    if (read_groups(groups_py, n_groups, part.exog.view.rows, groups_read, codes) < 0) {
      return nullptr;
    }
    ArrayRead weights_read;
    RowWeights weights;
    if (optional_weights(weights_py, part.exog.view.rows, weights_read, weights) < 0) {
      return nullptr;
    }
    GroupedEffectSums sums = without_interpreter_lock([&] {
      return quillon::slope_sums(part.exog.view, derivative.view, positions, part.params, codes,
                                 static_cast<std::size_t>(n_groups), relative != 0, weights);
    });
    return sums_to_python(std::move(sums));
  });
}

PyObject* contrast_sums(PyObject*, PyObject* args) {
  return guard_native([&]() -> PyObject* {
    PyObject *exog, *positions_py, *high_py, *low_py, *params, *groups_py, *weights_py = Py_None;
    Py_ssize_t n_groups;
    int relative = 0;
    if (!PyArg_ParseTuple(args, "OOOOOOn|pO:contrast_sums", &exog, &positions_py, &high_py,
                          &low_py, &params, &groups_py, &n_groups, &relative, &weights_py)) {
      return nullptr;
    }
    PartArrays part;
    if (read_part(nullptr, exog, params, part) < 0) return nullptr;
    std::vector<std::size_t> positions;
    if (read_positions(positions_py, part.exog.view.cols, positions) < 0) return nullptr;
    ArrayRead high, low, groups_read;
    ColumnsOver high_design{part.exog.view, std::nullopt, positions};
    std::optional<ColumnsOver> low_design;
    if (high_py != Py_None) {
      if (read_columns(high_py, "high", part, positions, high) < 0) return nullptr;
      high_design.columns = high.view;
    }
    if (low_py != Py_None) {
      if (read_columns(low_py, "low", part, positions, low) < 0) return nullptr;
      low_design = ColumnsOver{part.exog.view, low.view, positions};
    }
    GroupCodes codes;
    if (read_groups(groups_py, n_groups, part.exog.view.rows, groups_read, codes) < 0) {
      return nullptr;
    }
    ArrayRead weights_read;
    RowWeights weights;
    if (optional_weights(weights_py, part.exog.view.rows, weights_read, weights) < 0) {
      return nullptr;
    }
    GroupedEffectSums sums = without_interpreter_lock([&] {
      return quillon::contrast_sums(high_design, low_design, part.params, codes,
                                    static_cast<std::size_t>(n_groups), relative != 0, weights);
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
