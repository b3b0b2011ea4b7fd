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
  if (capture_array(weights, 1, read) < 0) return -1;
  if (read.view.rows != part.exog.view.rows) {
    PyErr_Format(PyExc_ValueError, "exog has %zu rows but weights has %zu elements",
                 part.exog.view.rows, read.view.rows);
    return -1;
  }
  return 0;
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
    if (capture_array(clusters, 2, groups) < 0) return nullptr;
    if (groups.view.rows != part.exog.view.rows) {
      PyErr_Format(PyExc_ValueError, "cluster shape mismatch. got %zu rows, nobs=%zu",
                   groups.view.rows, part.exog.view.rows);
      return nullptr;
    }
    KeyedClusterSums sums = without_interpreter_lock([&] {
      return weighted_keyed_cluster_sums(part.data(), w.view.column(0), part.params, groups.view);
    });
    PyRef keys(names_to_python(sums.keys));
    if (!keys) return nullptr;
    PyRef values(to_numpy(OwnedArray::from_matrix(std::move(sums.sums))));
    if (!values) return nullptr;
    return PyTuple_Pack(2, keys.get(), values.get());
  });
}

PyObject* weighted_effect_sums(PyObject*, PyObject* args) {
  return guard_native([&]() -> PyObject* {
    PyObject *exog, *params, *names_py, *binary_py, *weights;
    if (!PyArg_ParseTuple(args, "OOOOO:weighted_effect_sums", &exog, &params, &names_py,
                          &binary_py, &weights)) {
      return nullptr;
    }
    std::vector<std::string> names;
    if (names_from_python(names_py, names) < 0) return nullptr;
    PyRef binary_seq(PySequence_List(binary_py));
    if (!binary_seq) return nullptr;
    std::vector<bool> binary;
    for (Py_ssize_t i = 0; i < PyList_Size(binary_seq.get()); ++i) {
      const int flag = PyObject_IsTrue(PyList_GetItem(binary_seq.get(), i));
      if (flag < 0) return nullptr;
      binary.push_back(flag == 1);
    }
    PartArrays part;
    ArrayRead w;
    if (read_weighted_part(nullptr, exog, params, weights, part, w) < 0) return nullptr;
    const std::size_t k = part.exog.view.cols;
    if (names.size() != k || binary.size() != k) {
      PyErr_Format(PyExc_ValueError, "%zu names and %zu binary flags for %zu columns",
                   names.size(), binary.size(), k);
      return nullptr;
    }
    EffectSums sums = without_interpreter_lock([&] {
      return weighted_partition_effect_sums(part.params, part.exog.view, w.view.column(0), names,
                                            binary);
    });
    PyRef ame(to_numpy(OwnedArray::from_vector(std::move(sums.ame))));
    if (!ame) return nullptr;
    Matrix jacobian(k, k);
    std::copy(sums.jacobian.begin(), sums.jacobian.end(), jacobian.row(0));
    PyRef jac(to_numpy(OwnedArray::from_matrix(std::move(jacobian))));
    if (!jac) return nullptr;
    return PyTuple_Pack(2, ame.get(), jac.get());
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
