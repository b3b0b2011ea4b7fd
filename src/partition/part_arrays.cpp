#include "partition/part_arrays.hpp"

#include "interface/lists.hpp"
#include "interface/py_ref.hpp"

namespace quillon::partition {

int read_vector(PyObject* obj, std::vector<double>& out) {
  ArrayRead read;
  if (capture_array(obj, 1, read) < 0) return -1;
  out.resize(read.view.rows);
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = read.view(i, 0);
  return 0;
}

int read_matrix(PyObject* obj, Matrix& out) {
  ArrayRead read;
  if (capture_array(obj, 2, read) < 0) return -1;
  out = Matrix(read.view.rows, read.view.cols);
  for (std::size_t i = 0; i < out.rows(); ++i) {
    for (std::size_t j = 0; j < out.cols(); ++j) out(i, j) = read.view(i, j);
  }
  return 0;
}

int optional_weights(PyObject* obj, std::size_t rows, ArrayRead& read, RowWeights& weights) {
  if (obj == Py_None) return 0;
  if (read_weights(obj, rows, read) < 0) return -1;
  weights = read.view.column(0);
  return 0;
}

int read_clusters(PyObject* obj, std::size_t rows, ArrayRead& read) {
  if (capture_array(obj, 2, read) < 0) return -1;
  if (read.view.rows != rows) {
    PyErr_Format(PyExc_ValueError, "cluster shape mismatch. got %zu rows, nobs=%zu",
                 read.view.rows, rows);
    return -1;
  }
  return 0;
}

PyObject* keyed_sums_to_python(KeyedClusterSums sums) {
  PyRef keys(to_numpy(OwnedArray::from_matrix(std::move(sums.codes))));
  if (!keys) return nullptr;
  PyRef values(to_numpy(OwnedArray::from_matrix(std::move(sums.sums))));
  if (!values) return nullptr;
  return PyTuple_Pack(2, keys.get(), values.get());
}

int read_weights(PyObject* obj, std::size_t rows, ArrayRead& read) {
  if (capture_array(obj, 1, read) < 0) return -1;
  if (read.view.rows != rows) {
    PyErr_Format(PyExc_ValueError, "exog has %zu rows but weights has %zu elements", rows,
                 read.view.rows);
    return -1;
  }
  return 0;
}

int read_flags(PyObject* obj, std::vector<bool>& out) {
  PyRef list(PySequence_List(obj));
  if (!list) return -1;
  out.clear();
  for (Py_ssize_t i = 0; i < PyList_Size(list.get()); ++i) {
    const int flag = PyObject_IsTrue(PyList_GetItem(list.get(), i));
    if (flag < 0) return -1;
    out.push_back(flag == 1);
  }
  return 0;
}

int read_part(PyObject* endog, PyObject* exog, PyObject* params, PartArrays& part) {
  if (read_vector(params, part.params) < 0) return -1;
  if (capture_array(exog, 2, part.exog) < 0) return -1;
  if (part.params.size() != part.exog.view.cols) {
    PyErr_Format(PyExc_ValueError, "params has %zu values but exog has %zu columns",
                 part.params.size(), part.exog.view.cols);
    return -1;
  }
  if (endog == nullptr) return 0;
  if (capture_array(endog, 1, part.endog) < 0) return -1;
  if (part.endog.view.rows != part.exog.view.rows) {
    PyErr_Format(PyExc_ValueError, "exog has %zu rows but endog has %zu elements",
                 part.exog.view.rows, part.endog.view.rows);
    return -1;
  }
  return 0;
}

}  // namespace quillon::partition
