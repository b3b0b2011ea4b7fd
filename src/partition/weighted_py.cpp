// The per-part kernels with row weights: row i of the part counts weights[i]
// times in the log-likelihood, score and Hessian, and scales its score in the
// covariances' sums. Weights are read in place like the other arrays; the
// caller has checked that they are finite and not negative.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "estimation/covariance.hpp"
#include "interface/arrays.hpp"
#include "interface/lists.hpp"
#include "interface/panic.hpp"
#include "interface/py_ref.hpp"
#include "partition/entries.hpp"
#include "partition/part_arrays.hpp"
#include "partition/partition_sums.hpp"
#include "partition/released_interpreter.hpp"

namespace quillon::partition {
namespace {

// The part's arrays and its weights, one per row. Returns 0 or -1.
int read_weighted_part(PyObject* endog, PyObject* exog, PyObject* params, PyObject* weights,
                       PartArrays& part, ArrayRead& read) {
  if (read_part(endog, exog, params, part) < 0) return -1;
  return read_weights(weights, part.exog.view.rows, read);
}

}  // namespace

PyObject* weighted_evaluate(PyObject*, PyObject* args) {
  return guard_native([&]() -> PyObject* {
    PyObject *endog, *exog, *params, *weights;
    if (!PyArg_ParseTuple(args, "OOOO:weighted_evaluate", &endog, &exog, &params, &weights)) {
      return nullptr;
    }
    PartArrays part;
    ArrayRead w;
    if (read_weighted_part(endog, exog, params, weights, part, w) < 0) return nullptr;
    ProbitEvaluation e = without_interpreter_lock(
        [&] { return evaluate_weighted(part.data(), w.view.column(0), part.params); });
    PyRef score(to_numpy(OwnedArray::from_vector(std::move(e.score))));
    if (!score) return nullptr;
    PyRef hessian(to_numpy(OwnedArray::from_matrix(std::move(e.hessian))));
    if (!hessian) return nullptr;
    return Py_BuildValue("(dOO)", e.loglike, score.get(), hessian.get());
  });
}

PyObject* weighted_score_cross_product(PyObject*, PyObject* args) {
  return guard_native([&]() -> PyObject* {
    PyObject *endog, *exog, *params, *weights;
    int frequency;
    if (!PyArg_ParseTuple(args, "OOOOp:weighted_score_cross_product", &endog, &exog, &params,
                          &weights, &frequency)) {
      return nullptr;
    }
    PartArrays part;
    ArrayRead w;
    if (read_weighted_part(endog, exog, params, weights, part, w) < 0) return nullptr;
    const RowWeights kind = frequency ? RowWeights::kFrequency : RowWeights::kSampling;
    Matrix m = without_interpreter_lock([&] {
      return quillon::weighted_score_cross_product(part.data(), w.view.column(0), part.params,
                                                   kind);
    });
    return to_numpy(OwnedArray::from_matrix(std::move(m)));
  });
}

PyObject* weighted_cluster_sums(PyObject*, PyObject* args) {
  return guard_native([&]() -> PyObject* {
    PyObject *endog, *exog, *params, *clusters, *weights;
    if (!PyArg_ParseTuple(args, "OOOOO:weighted_cluster_sums", &endog, &exog, &params, &clusters,
                          &weights)) {
      return nullptr;
    }
    PartArrays part;
    ArrayRead w;
    if (read_weighted_part(endog, exog, params, weights, part, w) < 0) return nullptr;
    ArrayRead groups;
    if (read_clusters(clusters, part.exog.view.rows, groups) < 0) return nullptr;
    KeyedClusterSums sums = without_interpreter_lock([&] {
      return weighted_keyed_cluster_sums(part.data(), w.view.column(0), part.params, groups.view);
    });
    return keyed_sums_to_python(std::move(sums));
  });
}

PyObject* weight_totals(PyObject*, PyObject* args) {
  return guard_native([&]() -> PyObject* {
    PyObject* weights;
    if (!PyArg_ParseTuple(args, "O:weight_totals", &weights)) return nullptr;
    ArrayRead w;
    if (capture_array(weights, 1, w) < 0) return nullptr;
    struct Totals {
      double sum = 0.0;
      unsigned long long positive = 0, negative = 0, nonfinite = 0;
    };
    const Totals t = without_interpreter_lock([&] {
      Totals out;
      const VectorView v = w.view.column(0);
      // Counted without branches, which NaN and negative values would
      // mispredict; the sum runs over the rows in order.
      for (std::size_t i = 0; i < v.size; ++i) {
        const double value = v[i];
        const bool finite = std::isfinite(value);
        out.nonfinite += finite ? 0 : 1;
        out.negative += finite && value < 0.0 ? 1 : 0;
        out.positive += finite && value > 0.0 ? 1 : 0;
        out.sum = out.sum + (finite && value > 0.0 ? value : 0.0);
      }
      return out;
    });
    return Py_BuildValue("(dKKK)", t.sum, t.positive, t.negative, t.nonfinite);
  });
}

}  // namespace quillon::partition
