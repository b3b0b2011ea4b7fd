// The per-part kernels: arguments read in place, the sums formed with the
// interpreter lock released, NumPy arrays handed back.
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
    PyObject *endog, *exog, *params;
    if (!PyArg_ParseTuple(args, "OOO:evaluate", &endog, &exog, &params)) return nullptr;
    PartArrays part;
    if (read_part(endog, exog, params, part) < 0) return nullptr;
    // The Hessian mirrored: exactly symmetric, within the last bits of the engine's.
    ProbitEvaluation e = without_interpreter_lock(
        [&] { return part.data().evaluate(part.params, HessianForm::kMirrored); });
    PyRef score(vector_to_numpy(std::move(e.score)));
    if (!score) return nullptr;
    PyRef hessian(matrix_to_numpy(std::move(e.hessian)));
    if (!hessian) return nullptr;
    return Py_BuildValue("(dOO)", e.loglike, score.get(), hessian.get());
  });
}

PyObject* score_cross_product(PyObject*, PyObject* args) {
  return guard_native([&]() -> PyObject* {
    PyObject *endog, *exog, *params;
    if (!PyArg_ParseTuple(args, "OOO:score_cross_product", &endog, &exog, &params)) return nullptr;
    PartArrays part;
    if (read_part(endog, exog, params, part) < 0) return nullptr;
    Matrix m = without_interpreter_lock(
        [&] { return quillon::score_cross_product(part.data(), part.params); });
    return matrix_to_numpy(std::move(m));
  });
}

PyObject* cluster_sums(PyObject*, PyObject* args) {
  return guard_native([&]() -> PyObject* {
    PyObject *endog, *exog, *params, *clusters;
    if (!PyArg_ParseTuple(args, "OOOO:cluster_sums", &endog, &exog, &params, &clusters)) {
      return nullptr;
    }
    PartArrays part;
    if (read_part(endog, exog, params, part) < 0) return nullptr;
    ArrayRead groups;
    if (read_clusters(clusters, part.exog.view.rows, groups) < 0) return nullptr;
    KeyedClusterSums sums = without_interpreter_lock(
        [&] { return keyed_cluster_sums(part.data(), part.params, groups.view); });
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
    ArrayRead weights;
    if (weights_py != Py_None && read_weights(weights_py, part.exog.view.rows, weights) < 0) {
      return nullptr;
    }
    EffectSums sums = without_interpreter_lock([&] {
      if (weights_py == Py_None) {
        return partition_effect_sums(part.params, part.exog.view, names, binary);
      }
      return weighted_partition_effect_sums(part.params, part.exog.view, weights.view.column(0),
                                            names, binary);
    });
    PyRef ame(vector_to_numpy(std::move(sums.ame)));
    if (!ame) return nullptr;
    Matrix jacobian(k, k);
    std::copy(sums.jacobian.begin(), sums.jacobian.end(), jacobian.row(0));
    PyRef jac(matrix_to_numpy(std::move(jacobian)));
    if (!jac) return nullptr;
    return PyTuple_Pack(2, ame.get(), jac.get());
  });
}

}  // namespace quillon::partition
