// One part's arrays as the partition kernels read them: the outcome, the
// regressors and the coefficients, checked against each other.
#pragma once

#include <Python.h>

#include <string>
#include <vector>

#include "estimation/probit.hpp"
#include "interface/arrays.hpp"
#include "numerics/matrix.hpp"
#include "partition/partition_sums.hpp"

namespace quillon::partition {

struct PartArrays {
  ArrayRead endog;
  ArrayRead exog;
  std::vector<double> params;

  ProbitData data() const { return {endog.view.column(0), exog.view}; }
};

// Reads exog (n x k, float64, in place when its memory allows), params (k)
// and, unless endog is nullptr, endog (n). Returns 0, or -1 with TypeError
// or ValueError set.
int read_part(PyObject* endog, PyObject* exog, PyObject* params, PartArrays& part);

// Row weights: a 1-dimensional array of `rows` values, read in place.
// Returns 0, or -1 with TypeError or ValueError set.
int read_weights(PyObject* obj, std::size_t rows, ArrayRead& read);

// Optional row weights: None for none, else read_weights' array, viewed by
// `weights`. Returns 0, or -1 with TypeError or ValueError set.
int optional_weights(PyObject* obj, std::size_t rows, ArrayRead& read, RowWeights& weights);

// A part's cluster codes: a 2-dimensional array with the part's `rows`.
// Returns 0, or -1 with TypeError or ValueError set.
int read_clusters(PyObject* obj, std::size_t rows, ArrayRead& read);

// A part's per-cluster sums as the tuple (codes, sums), two arrays. Returns a new
// reference, or nullptr with an exception set.
PyObject* keyed_sums_to_python(KeyedClusterSums sums);

// A sequence of truth values (the 0/1 flags of the columns). Returns 0 or -1.
int read_flags(PyObject* obj, std::vector<bool>& out);

// A float64 vector copied out of a 1-dimensional array. Returns 0 or -1.
int read_vector(PyObject* obj, std::vector<double>& out);
// A float64 matrix copied out of a 2-dimensional array. Returns 0 or -1.
int read_matrix(PyObject* obj, Matrix& out);

}  // namespace quillon::partition
