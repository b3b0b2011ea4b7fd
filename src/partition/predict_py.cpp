// Predictions of one part: the linear index x_i'beta of each row, summed in
// column order from 0.0, and with `probability` the normal cdf of it by the
// process's kernels, so that predictions have the bits of the fit's sweeps.
#include <vector>

#include "interface/arrays.hpp"
#include "interface/panic.hpp"
#include "numerics/kernels.hpp"
#include "partition/entries.hpp"
#include "partition/part_arrays.hpp"
#include "partition/released_interpreter.hpp"

namespace quillon::partition {
namespace {

// Each row's x'b summed in column order from 0.0, four rows at a time so
// that their four chains of additions overlap (each chain is one row's, in
// the same order as alone).
std::vector<double> linear_index(const MatrixView& exog, const std::vector<double>& beta) {
  const std::size_t n = exog.rows, k = exog.cols;
  std::vector<double> out(n);
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    for (std::size_t j = 0; j < k; ++j) {
      s0 += exog(i, j) * beta[j];
      s1 += exog(i + 1, j) * beta[j];
      s2 += exog(i + 2, j) * beta[j];
      s3 += exog(i + 3, j) * beta[j];
    }
    out[i] = s0;
    out[i + 1] = s1;
    out[i + 2] = s2;
    out[i + 3] = s3;
  }
  for (; i < n; ++i) {
    double sum = 0.0;
    for (std::size_t j = 0; j < k; ++j) sum += exog(i, j) * beta[j];
    out[i] = sum;
  }
  return out;
}

}  // namespace

PyObject* predict(PyObject*, PyObject* args) {
  return guard_native([&]() -> PyObject* {
    PyObject *exog, *params;
    int probability;
    if (!PyArg_ParseTuple(args, "OOp:predict", &exog, &params, &probability)) return nullptr;
    PartArrays part;
    if (read_part(nullptr, exog, params, part) < 0) return nullptr;
    std::vector<double> values = without_interpreter_lock([&] {
      std::vector<double> index = linear_index(part.exog.view, part.params);
      if (probability) cdf_values(index.data(), index.data(), index.size());
      return index;
    });
    return to_numpy(OwnedArray::from_vector(std::move(values)));
  });
}

}  // namespace quillon::partition
