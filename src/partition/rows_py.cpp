// A design's columns, held apart as a data frame holds them, turned into
// the row-major array that the sweeps read in place, checked in the same
// read.
#include <vector>

#include "interface/arrays.hpp"
#include "interface/lists.hpp"
#include "interface/panic.hpp"
#include "interface/py_ref.hpp"
#include "numerics/interleave.hpp"
#include "partition/entries.hpp"
#include "partition/released_interpreter.hpp"

namespace quillon::partition {

PyObject* rows_from_columns(PyObject*, PyObject* args) {
  return guard_native([&]() -> PyObject* {
    PyObject* columns_py;
    if (!PyArg_ParseTuple(args, "O:rows_from_columns", &columns_py)) return nullptr;
    if (!PySequence_Check(columns_py)) {
      PyErr_SetString(PyExc_TypeError, "columns must be a sequence of 1-D float64 arrays");
      return nullptr;
    }
    // The tuple holds the arrays while the copy runs without the lock.
    PyRef items(PySequence_Tuple(columns_py));
    if (!items) return nullptr;
    const Py_ssize_t k = PyTuple_Size(items.get());
    std::vector<VectorView> columns;
    columns.reserve(static_cast<std::size_t>(k));
    for (Py_ssize_t j = 0; j < k; ++j) {
      ArrayRead read;
      if (capture_array(PyTuple_GetItem(items.get(), j), 1, read) < 0) return nullptr;
      columns.push_back(read.view.column(0));
      if (columns.back().size != columns.front().size) {
        PyErr_Format(PyExc_ValueError, "column %zd has %zu rows, column 0 has %zu", j,
                     columns.back().size, columns.front().size);
        return nullptr;
      }
    }
    const std::size_t rows = columns.empty() ? 0 : columns.front().size;
    LaidRows laid =
        without_interpreter_lock([&] { return quillon::rows_from_columns(columns, rows); });
    bool finite = true;
    std::vector<bool> constant(columns.size(), false);
    for (std::size_t j = 0; j < columns.size(); ++j) {
      const ColumnFlags& flags = laid.flags[j];
      finite = finite && !flags.not_finite;
      constant[j] = rows > 0 && !flags.differs && !flags.not_finite && columns[j][0] != 0.0;
    }
    PyRef array(to_numpy(std::move(laid.array)));
    if (!array) return nullptr;
    PyRef constant_py(bools_to_python(constant));
    if (!constant_py) return nullptr;
    return Py_BuildValue("(ONO)", array.get(), PyBool_FromLong(finite ? 1 : 0),
                         constant_py.get());
  });
}

}  // namespace quillon::partition
