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

// What every effect entry reads beside the design: the rows' group codes
// and their optional weights.
struct RowsBy {
  ArrayRead groups_read, weights_read;
  GroupCodes codes;
  RowWeights weights;
};

int read_rows_by(PyObject* groups, Py_ssize_t n_groups, PyObject* weights, std::size_t rows,
                 RowsBy& out) {
  if (read_groups(groups, n_groups, rows, out.groups_read, out.codes) < 0) return -1;
  return optional_weights(weights, rows, out.weights_read, out.weights);
}

PyObject* sums_to_python(GroupedEffectSums sums) {
  PyRef effects(to_numpy(OwnedArray::from_vector(std::move(sums.effects))));
  if (!effects) return nullptr;
  PyRef jacobian(to_numpy(OwnedArray::from_matrix(std::move(sums.jacobian))));
  if (!jacobian) return nullptr;
  return PyTuple_Pack(2, effects.get(), jacobian.get());
}

// The items of a sequence as a tuple, which holds them while the kernel
// runs. Returns 0 or -1.
int items_of(PyObject* obj, const char* what, PyRef& out) {
  if (!PySequence_Check(obj)) {
    PyErr_Format(PyExc_TypeError, "%s must be a sequence", what);
    return -1;
  }
  out = PyRef(PySequence_Tuple(obj));
  return out ? 0 : -1;
}

// A pair (first, second) of a sequence of pairs, the pair held by `holder`.
// Returns 0 or -1.
int pair_of(PyObject* obj, const char* what, PyRef& holder, PyObject*& first,
            PyObject*& second) {
  if (items_of(obj, what, holder) < 0) return -1;
  if (PyTuple_Size(holder.get()) != 2) {
    PyErr_Format(PyExc_ValueError, "each of %s must be a pair", what);
    return -1;
  }
  first = PyTuple_GetItem(holder.get(), 0);
  second = PyTuple_GetItem(holder.get(), 1);
  return 0;
}

// An index of a design among `count`, or None (no low design). Returns 0
// or -1.
int read_design_index(PyObject* obj, std::size_t count, bool optional,
                      std::optional<std::size_t>& out) {
  if (obj == Py_None && optional) return 0;
  const Py_ssize_t index = PyNumber_AsSsize_t(obj, PyExc_OverflowError);
  if (index == -1 && PyErr_Occurred()) return -1;
  if (index < 0 || static_cast<std::size_t>(index) >= count) {
    PyErr_Format(PyExc_ValueError, "contrasts must name designs in [0, %zu), got %zd", count,
                 index);
    return -1;
  }
  out = static_cast<std::size_t>(index);
  return 0;
}

// What a joint pass reads, with the objects that hold its arrays.
struct JointArguments {
  EffectRequests requests;
  std::vector<PyRef> holders;
};

// read(first, second) for each pair of the sequence `obj` (`what` names it
// in messages), the pairs held in `holders` while the kernel runs. Returns 0
// or -1.
template <class Read>
int read_pairs(PyObject* obj, const char* what, std::vector<PyRef>& holders, Read read) {
  PyRef items;
  if (items_of(obj, what, items) < 0) return -1;
  for (Py_ssize_t i = 0; i < PyTuple_Size(items.get()); ++i) {
    PyRef pair;
    PyObject *first, *second;
    if (pair_of(PyTuple_GetItem(items.get(), i), what, pair, first, second) < 0) return -1;
    if (read(first, second) < 0) return -1;
    holders.push_back(std::move(pair));
  }
  return 0;
}

// The designs: pairs (positions, columns or None). Returns 0 or -1.
int read_designs(PyObject* obj, const PartArrays& part, JointArguments& args) {
  return read_pairs(obj, "designs", args.holders, [&](PyObject* positions_py,
                                                      PyObject* columns_py) {
    ColumnsOver design{part.exog.view, std::nullopt, {}};
    if (read_positions(positions_py, part.exog.view.cols, design.positions) < 0) return -1;
    if (columns_py != Py_None) {
      ArrayRead read;
      if (read_columns(columns_py, "a design's columns", part, design.positions, read) < 0) {
        return -1;
      }
      design.columns = read.view;
    }
    args.requests.designs.push_back(std::move(design));
    return 0;
  });
}

// The slopes: pairs (positions, derivative columns). Returns 0 or -1.
int read_slopes(PyObject* obj, const PartArrays& part, JointArguments& args) {
  return read_pairs(obj, "slopes", args.holders, [&](PyObject* positions_py,
                                                     PyObject* derivative_py) {
    SlopeDesign slope;
    if (read_positions(positions_py, part.exog.view.cols, slope.positions) < 0) return -1;
    ArrayRead read;
    if (read_columns(derivative_py, "derivative", part, slope.positions, read) < 0) return -1;
    slope.derivative = read.view;
    args.requests.slopes.push_back(std::move(slope));
    return 0;
  });
}

// The contrasts: pairs (high, low or None) of design indices. Returns 0 or
// -1.
int read_contrasts(PyObject* obj, JointArguments& args) {
  const std::size_t count = args.requests.designs.size();
  return read_pairs(obj, "contrasts", args.holders, [&](PyObject* high_py, PyObject* low_py) {
    std::optional<std::size_t> high, low;
    if (read_design_index(high_py, count, false, high) < 0) return -1;
    if (read_design_index(low_py, count, true, low) < 0) return -1;
    args.requests.contrasts.push_back({*high, low});
    return 0;
  });
}

}  // namespace

PyObject* joint_sums(PyObject*, PyObject* args) {
  return guard_native([&]() -> PyObject* {
    PyObject *exog, *params, *groups_py, *designs_py, *slopes_py, *contrasts_py;
    PyObject* weights_py = Py_None;
    Py_ssize_t n_groups;
    if (!PyArg_ParseTuple(args, "OOOnOOO|O:joint_sums", &exog, &params, &groups_py, &n_groups,
                          &designs_py, &slopes_py, &contrasts_py, &weights_py)) {
      return nullptr;
    }
    PartArrays part;
    if (read_part(nullptr, exog, params, part) < 0) return nullptr;
    JointArguments joint;
    if (read_designs(designs_py, part, joint) < 0) return nullptr;
    if (read_slopes(slopes_py, part, joint) < 0) return nullptr;
    if (read_contrasts(contrasts_py, joint) < 0) return nullptr;
    RowsBy by;
    if (read_rows_by(groups_py, n_groups, weights_py, part.exog.view.rows, by) < 0) return nullptr;
    std::vector<GroupedEffectSums> sums = without_interpreter_lock([&] {
      return quillon::joint_sums(part.exog.view, joint.requests, part.params, by.codes,
                                 static_cast<std::size_t>(n_groups), false, by.weights);
    });
    PyRef out(PyList_New(static_cast<Py_ssize_t>(sums.size())));
    if (!out) return nullptr;
    for (std::size_t e = 0; e < sums.size(); ++e) {
      PyObject* pair = sums_to_python(std::move(sums[e]));
      if (pair == nullptr) return nullptr;
      PyList_SetItem(out.get(), static_cast<Py_ssize_t>(e), pair);  // steals the pair
    }
    return out.release();
  });
}

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
    ArrayRead derivative;
    if (read_columns(derivative_py, "derivative", part, positions, derivative) < 0) {
      return nullptr;
    }
    RowsBy by;
    if (read_rows_by(groups_py, n_groups, weights_py, part.exog.view.rows, by) < 0) return nullptr;
    GroupedEffectSums sums = without_interpreter_lock([&] {
      return quillon::slope_sums(part.exog.view, derivative.view, positions, part.params,
                                 by.codes, static_cast<std::size_t>(n_groups), relative != 0,
                                 by.weights);
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
    ArrayRead high, low;
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
    RowsBy by;
    if (read_rows_by(groups_py, n_groups, weights_py, part.exog.view.rows, by) < 0) return nullptr;
    GroupedEffectSums sums = without_interpreter_lock([&] {
      return quillon::contrast_sums(high_design, low_design, part.params, by.codes,
                                    static_cast<std::size_t>(n_groups), relative != 0,
                                    by.weights);
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
    PyRef whole(bools_to_python(summary.whole));
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
