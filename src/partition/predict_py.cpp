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

std::vector<double> linear_index(const MatrixView& exog, const std::vector<double>& beta) {
  std::vector<double> out(exog.rows);
  for (std::size_t i = 0; i < exog.rows; ++i) {
    double sum = 0.0;
    for (std::size_t j = 0; j < exog.cols; ++j) sum += exog(i, j) * beta[j];
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
