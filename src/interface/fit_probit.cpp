// fit_probit: arguments -> owned arrays -> Newton-Raphson -> covariance ->
// results object.
#include <array>
#include <optional>
#include <string>

#include "estimation/covariance.hpp"
#include "estimation/probit.hpp"
#include "interface/arguments.hpp"
#include "interface/arrays.hpp"
#include "interface/entries.hpp"
#include "interface/panic.hpp"
#include "interface/py_ref.hpp"
#include "interface/result_types.hpp"
#include "interface/text.hpp"
#include "numerics/owned_array.hpp"
#include "public_texts.hpp"

namespace quillon {
namespace {

constexpr std::array<const char*, 6> kParameters = {"endog_py", "exog_py", "max_iter",
                                                    "tol",      "robust",  "cluster_vars"};
constexpr Signature kSignature{"fit_probit", kParameters, 2};

struct FitArguments {
  PyObject* endog_py = nullptr;
  PyObject* exog_py = nullptr;
  std::optional<std::uint64_t> max_iter;
  std::optional<double> tol;
  std::optional<bool> robust;
  PyObject* cluster_vars = nullptr;  // nullptr when absent or None
};

int convert_arguments(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                      FitArguments& out) {
  std::array<PyObject*, kParameters.size()> bound;
  if (bind_arguments(kSignature, args, nargs, kwnames, bound) < 0) return -1;
  out.endog_py = bound[0];
  out.exog_py = bound[1];
  if (check_array_argument(out.exog_py, 2) < 0) return prefix_argument_error("exog_py");
  if (convert_count(bound[2], "max_iter", out.max_iter) < 0) return -1;
  if (convert_real(bound[3], "tol", out.tol) < 0) return -1;
  if (convert_flag(bound[4], "robust", out.robust) < 0) return -1;
  out.cluster_vars = bound[5] == Py_None ? nullptr : bound[5];
  return 0;
}

int parse_extent(PyObject* item, unsigned long long& value) {
  PyRef index(PyNumber_Index(item));
  if (!index) return -1;
  value = PyLong_AsUnsignedLongLong(index.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return -1;
  return 0;
}

int raise_endog_shape(unsigned long long nobs, unsigned long long m) {
  PyErr_Format(PyExc_ValueError, texts::kEndogShapeFormat,
               nobs, m);
  return -1;
}

// The outcome, read through the `shape` of the object: an (n,) or (n, 1)
// float64 array, copied. Returns -1 with an exception set.
int read_endog(PyObject* endog_py, OwnedArray& endog) {
  PyRef shape(PyObject_GetAttrString(endog_py, "shape"));
  if (!shape) return -1;
  if (!PyTuple_Check(shape.get())) return raise_conversion_failure(shape.get(), texts::kTupleTarget);
  const Py_ssize_t length = PyTuple_Size(shape.get());
  if (length != 1 && length != 2) {
    PyErr_Format(PyExc_ValueError, texts::kShapeLengthFormat,
                 length);
    return -1;
  }
  unsigned long long nobs = 0;
  if (parse_extent(PyTuple_GetItem(shape.get(), 0), nobs) < 0) return -1;
  PyObject* second = length == 2 ? PyTuple_GetItem(shape.get(), 1) : Py_None;
  unsigned long long m = 1;
  if (second != Py_None && parse_extent(second, m) < 0) return -1;

  ArrayRead read;
  if (second == Py_None) {
    if (capture_array(endog_py, 1, read) < 0) return -1;
    endog = copy_vector(read.view.column(0));
    return 0;
  }
  if (m != 1) return raise_endog_shape(nobs, m);
  if (capture_array(endog_py, 2, read) < 0) return -1;
  // The shape attribute only selects the case; the array itself must still
  // have a column 0 to read.
  if (read.view.cols == 0) return raise_endog_shape(read.view.rows, 0);
  endog = copy_vector(read.view.column(0));
  return 0;
}

// X needs a row for every observation, and no more: the model keeps all of
// X, so rows the fit never saw would enter the marginal effects.
int check_rows(const OwnedArray& endog, const OwnedArray& exog) {
  if (exog.extents[0] == endog.extents[0]) return 0;
  PyErr_Format(PyExc_ValueError,
               texts::kRowsMismatchFormat,
               exog.extents[0], endog.extents[0]);
  return -1;
}

// The cluster-robust middle factor, or nullopt with an exception set when
// cluster_vars is not a 2-D float64 array with a row per observation.
std::optional<Matrix> cluster_middle(const ProbitData& data, const std::vector<double>& beta,
                                     PyObject* cluster_vars) {
  ArrayRead read;
  if (capture_array(cluster_vars, 2, read) < 0) return std::nullopt;
  const OwnedArray clusters = copy_matrix(read.view);
  if (clusters.extents[0] != data.nobs()) {
    PyErr_Format(PyExc_ValueError, texts::kClusterShapeFormat,
                 clusters.extents[0], data.nobs());
    return std::nullopt;
  }
  return cluster_robust_middle(data, beta, clusters.matrix());
}

PyObject* fit(const FitArguments& arguments) {
  OwnedArray endog;
  if (read_endog(arguments.endog_py, endog) < 0) return nullptr;
  // Converting the other arguments and reading the outcome ran Python code,
  // which may have changed exog_py since its check.
  ArrayRead exog_read;
  if (capture_array_argument(arguments.exog_py, 2, exog_read) < 0) {
    prefix_argument_error("exog_py");
    return nullptr;
  }
  OwnedArray exog = copy_matrix(exog_read.view);
  if (check_rows(endog, exog) < 0) return nullptr;

  // The fit reads the owned copies in place; they become the model's arrays
  // at the end.
  const ProbitData data{endog.vector(), exog.matrix(), InterruptPoll(signal_handler_raised)};
  ProbitFit fit = newton_raphson(data, arguments.max_iter, arguments.tol);

  // The iteration's last sweep formed the Hessian at the estimates.
  ClassicalCovariance classical = classical_covariance(fit.hessian);
  const bool converged = fit.converged && usable_maximum(fit.params, classical);
  Matrix covariance = std::move(classical.matrix);
  if (arguments.robust.value_or(false)) {
    std::optional<Matrix> middle;
    if (arguments.cluster_vars == nullptr) {
      middle = score_cross_product(data, fit.params);
    } else {
      middle = cluster_middle(data, fit.params, arguments.cluster_vars);
      if (!middle) return nullptr;
    }
    covariance = sandwich(covariance, *middle);
  }

  const std::size_t k = data.nparams();
  ResultsRecord record;
  record.params = PyRef(to_numpy(OwnedArray::from_vector(std::move(fit.params))));
  if (!record.params) return nullptr;
  record.cov_params = PyRef(to_numpy(OwnedArray::from_matrix(std::move(covariance))));
  if (!record.cov_params) return nullptr;
  record.model.exog = PyRef(to_numpy(std::move(exog)));
  if (!record.model.exog) return nullptr;
  record.model.endog = PyRef(to_numpy(std::move(endog)));
  if (!record.model.endog) return nullptr;
  record.model.exog_names.reserve(k);
  for (std::size_t j = 0; j < k; ++j) record.model.exog_names.push_back("x" + std::to_string(j));
  record.loglike = fit.loglike;
  record.iterations = fit.iterations;
  record.converged = converged;
  return new_results_object(std::move(record));
}

}  // namespace

PyObject* fit_probit(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guard_native([&]() -> PyObject* {
    FitArguments arguments;
    if (convert_arguments(args, nargs, kwnames, arguments) < 0) return nullptr;
    return fit(arguments);
  });
}

}  // namespace quillon
