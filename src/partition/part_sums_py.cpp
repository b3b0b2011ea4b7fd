// The per-part kernels: arguments read in place, the sums formed with the
// interpreter lock released, NumPy arrays handed back.
#include <cmath>
#include <string>
#include <vector>

#include "estimation/covariance.hpp"
#include "interface/arrays.hpp"
#include "interface/lists.hpp"
#include "interface/panic.hpp"
#include "interface/py_ref.hpp"
#include "partition/design_screen.hpp"
#include "partition/entries.hpp"
#include "partition/part_arrays.hpp"
#include "partition/partition_sums.hpp"
#include "partition/released_interpreter.hpp"

namespace quillon::partition {
namespace {

PyObject* vector_to_numpy(std::vector<double> values) {
  return to_numpy(OwnedArray::from_vector(std::move(values)));
}

PyObject* matrix_to_numpy(Matrix values) { return to_numpy(OwnedArray::from_matrix(std::move(values))); }

}  // namespace

PyObject* evaluate(PyObject*, PyObject* args) {
  return guard_native([&]() -> PyObject* {
    PyObject *endog, *exog, *params, *weights_py = Py_None;
    if (!PyArg_ParseTuple(args, "OOO|O:evaluate", &endog, &exog, &params, &weights_py)) {
      return nullptr;
    }
    PartArrays part;
    if (read_part(endog, exog, params, part) < 0) return nullptr;
    ArrayRead w;
    RowWeights weights;
    if (optional_weights(weights_py, part.exog.view.rows, w, weights) < 0) return nullptr;
    // The Hessian mirrored: exactly symmetric, within the last bits of the engine's.
    ProbitEvaluation e = without_interpreter_lock(
        [&] { return part.data().evaluate(part.params, HessianForm::kMirrored, weights); });
    PyRef score(vector_to_numpy(std::move(e.score)));
    if (!score) return nullptr;
    PyRef hessian(matrix_to_numpy(std::move(e.hessian)));
    if (!hessian) return nullptr;
    return Py_BuildValue("(dOO)", e.loglike, score.get(), hessian.get());
  });
}

PyObject* score_cross_product(PyObject*, PyObject* args) {
  return guard_native([&]() -> PyObject* {
    PyObject *endog, *exog, *params, *weights_py = Py_None;
    int frequency = 1;
    if (!PyArg_ParseTuple(args, "OOO|Op:score_cross_product", &endog, &exog, &params,
                          &weights_py, &frequency)) {
      return nullptr;
    }
    PartArrays part;
    if (read_part(endog, exog, params, part) < 0) return nullptr;
    ArrayRead w;
    RowWeights weights;
    if (optional_weights(weights_py, part.exog.view.rows, w, weights) < 0) return nullptr;
    const WeightKind kind = frequency ? WeightKind::kFrequency : WeightKind::kSampling;
    Matrix m = without_interpreter_lock(
        [&] { return quillon::score_cross_product(part.data(), part.params, weights, kind); });
    return matrix_to_numpy(std::move(m));
  });
}

PyObject* cluster_sums(PyObject*, PyObject* args) {
  return guard_native([&]() -> PyObject* {
    PyObject *endog, *exog, *params, *clusters, *weights_py = Py_None;
    if (!PyArg_ParseTuple(args, "OOOO|O:cluster_sums", &endog, &exog, &params, &clusters,
                          &weights_py)) {
      return nullptr;
    }
    PartArrays part;
    if (read_part(endog, exog, params, part) < 0) return nullptr;
    ArrayRead groups;
    if (read_clusters(clusters, part.exog.view.rows, groups) < 0) return nullptr;
    ArrayRead w;
    RowWeights weights;
    if (optional_weights(weights_py, part.exog.view.rows, w, weights) < 0) return nullptr;
    KeyedClusterSums sums = without_interpreter_lock(
        [&] { return keyed_cluster_sums(part.data(), part.params, groups.view, weights); });
    return keyed_sums_to_python(std::move(sums));
  });
}

PyObject* binary_columns(PyObject*, PyObject* args) {
  return guard_native([&]() -> PyObject* {
    PyObject* exog;
    if (!PyArg_ParseTuple(args, "O:binary_columns", &exog)) return nullptr;
    ArrayRead x;
    if (capture_array(exog, 2, x) < 0) return nullptr;
    const std::vector<bool> flags =
        without_interpreter_lock([&] { return quillon::binary_columns(x.view); });
    return bools_to_python(flags);
  });
}

PyObject* design_screen(PyObject*, PyObject* args) {
  return guard_native([&]() -> PyObject* {
    PyObject *endog, *exog;
    if (!PyArg_ParseTuple(args, "OO:design_screen", &endog, &exog)) return nullptr;
    ArrayRead y, x;
    if (capture_array(endog, 1, y) < 0 || capture_array(exog, 2, x) < 0) return nullptr;
    DesignScreen screen =
        without_interpreter_lock([&] { return screen_design(y.view.column(0), x.view); });
    PyRef constant(bools_to_python(screen.constant));
    if (!constant) return nullptr;
    return Py_BuildValue("(NnnO)", PyBool_FromLong(screen.finite ? 1 : 0), static_cast<Py_ssize_t>(screen.ones),
                         static_cast<Py_ssize_t>(screen.outside), constant.get());
  });
}

PyObject* effect_sums(PyObject*, PyObject* args) {
  return guard_native([&]() -> PyObject* {
    PyObject *exog, *params, *names_py, *binary_py, *weights_py = Py_None;
    if (!PyArg_ParseTuple(args, "OOOO|O:effect_sums", &exog, &params, &names_py, &binary_py,
                          &weights_py)) {
      return nullptr;
    }
    std::vector<std::string> names;
    if (names_from_python(names_py, names) < 0) return nullptr;
    std::vector<bool> binary;
    if (read_flags(binary_py, binary) < 0) return nullptr;
    PartArrays part;
    if (read_part(nullptr, exog, params, part) < 0) return nullptr;
    const std::size_t k = part.exog.view.cols;
    if (names.size() != k || binary.size() != k) {
      PyErr_Format(PyExc_ValueError, "%zu names and %zu binary flags for %zu columns",
                   names.size(), binary.size(), k);
      return nullptr;
    }
    ArrayRead w;
    RowWeights weights;
    if (optional_weights(weights_py, part.exog.view.rows, w, weights) < 0) return nullptr;
    EffectSums sums = without_interpreter_lock(
        [&] { return partition_effect_sums(part.params, part.exog.view, names, binary, weights); });
    PyRef ame(vector_to_numpy(std::move(sums.ame)));
    if (!ame) return nullptr;
    Matrix jacobian(k, k);
    std::copy(sums.jacobian.begin(), sums.jacobian.end(), jacobian.row(0));
    PyRef jac(matrix_to_numpy(std::move(jacobian)));
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
      unsigned long long positive = 0, negative = 0, nonfinite = 0, fractional = 0;
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
        out.fractional += finite && std::floor(value) != value ? 1 : 0;
        out.sum = out.sum + (finite && value > 0.0 ? value : 0.0);
      }
      return out;
    });
    return Py_BuildValue("(dKKKK)", t.sum, t.positive, t.negative, t.nonfinite, t.fractional);
  });
}

}  // namespace quillon::partition
