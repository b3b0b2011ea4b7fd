// The steps that combine the sums of all parts, each the engine's own: the
// Newton-Raphson iteration over points evaluated by a Python callable, the
// covariances, and the marginal-effects table from summed effects.
#include <optional>
#include <string>
#include <vector>

#include "effects/result_table.hpp"
#include "estimation/covariance.hpp"
#include "estimation/probit.hpp"
#include "interface/arrays.hpp"
#include "interface/data_frame.hpp"
#include "interface/lists.hpp"
#include "interface/panic.hpp"
#include "interface/py_ref.hpp"
#include "partition/entries.hpp"
#include "partition/part_arrays.hpp"

namespace quillon::partition {
namespace {

// The point's log-likelihood, score and Hessian from evaluate(beta), which
// returns (loglike, score, hessian). A failure throws Interrupted with the
// Python exception set, which ends the iteration.
ProbitEvaluation call_evaluate(PyObject* evaluate, const std::vector<double>& beta) {
  PyRef beta_py(to_numpy(OwnedArray::from_vector(beta)));
  if (!beta_py) throw Interrupted{};
  PyRef result(PyObject_CallFunctionObjArgs(evaluate, beta_py.get(), nullptr));
  if (!result) throw Interrupted{};
  PyObject *loglike, *score, *hessian;
  if (!PyArg_ParseTuple(result.get(), "OOO:evaluate", &loglike, &score, &hessian)) {
    throw Interrupted{};
  }
  ProbitEvaluation e;
  e.loglike = PyFloat_AsDouble(loglike);
  if (e.loglike == -1.0 && PyErr_Occurred()) throw Interrupted{};
  if (read_vector(score, e.score) < 0 || read_matrix(hessian, e.hessian) < 0) throw Interrupted{};
  const std::size_t k = beta.size();
  if (e.score.size() != k || e.hessian.rows() != k || e.hessian.cols() != k) {
    PyErr_Format(PyExc_ValueError, "evaluate gave a score of %zu and a %zu x %zu Hessian for %zu "
                 "coefficients", e.score.size(), e.hessian.rows(), e.hessian.cols(), k);
    throw Interrupted{};
  }
  return e;
}

std::optional<std::uint64_t> optional_count(PyObject* obj) {
  if (obj == Py_None) return std::nullopt;
  return PyLong_AsUnsignedLongLong(obj);
}

}  // namespace

PyObject* newton(PyObject*, PyObject* args) {
  return guard_native([&]() -> PyObject* {
    PyObject *evaluate, *max_iter_py, *tol_py;
    Py_ssize_t k;
    if (!PyArg_ParseTuple(args, "OnOO:newton", &evaluate, &k, &max_iter_py, &tol_py)) {
      return nullptr;
    }
    if (k < 0) {
      PyErr_SetString(PyExc_ValueError, "k must not be negative");
      return nullptr;
    }
    const std::optional<std::uint64_t> max_iter = optional_count(max_iter_py);
    if (PyErr_Occurred()) return nullptr;
    std::optional<double> tol;
    if (tol_py != Py_None) {
      tol = PyFloat_AsDouble(tol_py);
      if (*tol == -1.0 && PyErr_Occurred()) return nullptr;
    }
    ProbitFit fit = newton_iterate(
        static_cast<std::size_t>(k),
        [evaluate](const std::vector<double>& beta) { return call_evaluate(evaluate, beta); },
        InterruptPoll(signal_handler_raised), max_iter, tol);
    PyRef params(to_numpy(OwnedArray::from_vector(std::move(fit.params))));
    if (!params) return nullptr;
    PyRef hessian(to_numpy(OwnedArray::from_matrix(std::move(fit.hessian))));
    if (!hessian) return nullptr;
    return Py_BuildValue("(OdKOO)", params.get(), fit.loglike,
                         static_cast<unsigned long long>(fit.iterations),
                         fit.converged ? Py_True : Py_False, hessian.get());
  });
}

PyObject* covariance(PyObject*, PyObject* args) {
  return guard_native([&]() -> PyObject* {
    PyObject *hessian_py, *params_py, *middle_py;
    if (!PyArg_ParseTuple(args, "OOO:covariance", &hessian_py, &params_py, &middle_py)) {
      return nullptr;
    }
    Matrix hessian;
    std::vector<double> params;
    if (read_matrix(hessian_py, hessian) < 0 || read_vector(params_py, params) < 0) return nullptr;
    const std::size_t k = params.size();
    std::optional<Matrix> middle;
    if (middle_py != Py_None) {
      middle.emplace();
      if (read_matrix(middle_py, *middle) < 0) return nullptr;
    }
    if (hessian.rows() != k || hessian.cols() != k ||
        (middle && (middle->rows() != k || middle->cols() != k))) {
      PyErr_Format(PyExc_ValueError, "the Hessian and middle factor must be %zu x %zu", k, k);
      return nullptr;
    }
    ClassicalCovariance classical = classical_covariance(hessian);
    const bool usable = usable_maximum(params, classical);
    Matrix cov = middle ? sandwich(classical.matrix, *middle) : std::move(classical.matrix);
    PyRef cov_py(to_numpy(OwnedArray::from_matrix(std::move(cov))));
    if (!cov_py) return nullptr;
    return Py_BuildValue("(OO)", cov_py.get(), usable ? Py_True : Py_False);
  });
}

PyObject* cluster_cross_product(PyObject*, PyObject* args) {
  return guard_native([&]() -> PyObject* {
    PyObject* sums_py;
    if (!PyArg_ParseTuple(args, "O:cluster_cross_product", &sums_py)) return nullptr;
    Matrix sums;
    if (read_matrix(sums_py, sums) < 0) return nullptr;
    return to_numpy(OwnedArray::from_matrix(quillon::cluster_cross_product(sums)));
  });
}

PyObject* ame_table(PyObject*, PyObject* args) {
  return guard_native([&]() -> PyObject* {
    PyObject *ame_py, *jac_py, *cov_py, *names_py;
    Py_ssize_t nobs;
    if (!PyArg_ParseTuple(args, "OOnOO:ame_table", &ame_py, &jac_py, &nobs, &cov_py, &names_py)) {
      return nullptr;
    }
    std::vector<std::string> names;
    if (names_from_python(names_py, names) < 0) return nullptr;
    std::vector<double> ame;
    Matrix jacobian, cov;
    if (read_vector(ame_py, ame) < 0 || read_matrix(jac_py, jacobian) < 0 ||
        read_matrix(cov_py, cov) < 0) {
      return nullptr;
    }
    const std::size_t k = ame.size();
    if (nobs < 0 || names.size() != k || jacobian.rows() != k || jacobian.cols() != k) {
      PyErr_Format(PyExc_ValueError, "%zu names and a %zu x %zu Jacobian for %zu effects",
                   names.size(), jacobian.rows(), jacobian.cols(), k);
      return nullptr;
    }
    EffectSums sums(k);
    sums.ame = std::move(ame);
    sums.jacobian = std::move(jacobian).release();
    const MarginalEffects effects = effects_from_sums(sums, static_cast<std::size_t>(nobs),
                                                      cov.view(), find_intercepts(names));
    return to_data_frame(build_table(effects, names));
  });
}

}  // namespace quillon::partition
