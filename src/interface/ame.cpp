// ame: arguments -> the fitted model's arrays, read in place -> effects and
// standard errors -> pandas DataFrame.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "effects/marginal_effects.hpp"
#include "effects/result_table.hpp"
#include "interface/arguments.hpp"
#include "interface/arrays.hpp"
#include "interface/data_frame.hpp"
#include "interface/entries.hpp"
#include "interface/labels.hpp"
#include "interface/lists.hpp"
#include "interface/model_family.hpp"
#include "interface/panic.hpp"
#include "interface/py_ref.hpp"
#include "public_texts.hpp"

namespace quillon {
namespace {

constexpr std::array<const char*, 2> kParameters = {"probit_model", "chunk_size"};
constexpr Signature kSignature{"ame", kParameters, 1};

int convert_chunk_size(PyObject* obj, std::optional<std::uint64_t>& chunk_size) {
  if (convert_count(obj, "chunk_size", chunk_size) < 0) return -1;
  if (chunk_size == 0u) {
    PyErr_SetString(PyExc_ValueError, texts::kChunkSizeZero);
    return -1;
  }
  return 0;
}

// The arrays and names of the fitted model, as read from Python (pandas
// objects through their to_numpy()); the arrays are referenced for the length
// of the call and read in place. The objects as read are kept for the labels
// of pandas ones.
struct FittedModel {
  PyRef params;
  PyRef cov_params;
  PyRef exog;
  std::vector<std::string> exog_names;
  PyRef params_read;
  PyRef cov_params_read;
  PyRef exog_read;
};

// attribute `name` of the object held by `owner`
PyRef attribute(const PyRef& owner, const char* name) {
  return PyRef(PyObject_GetAttrString(owner.get(), name));
}

int read_model(PyObject* probit_model, FittedModel& fitted) {
  const PyRef results = PyRef::borrow(probit_model);
  fitted.params_read = attribute(results, "params");
  fitted.params = PyRef::borrow(fitted.params_read.get());
  if (!fitted.params || downcast_array_or_pandas(fitted.params, 1) < 0) return -1;

  const PyRef cov_method = attribute(results, "cov_params");
  if (!cov_method) return -1;
  fitted.cov_params_read = PyRef(PyObject_CallNoArgs(cov_method.get()));
  fitted.cov_params = PyRef::borrow(fitted.cov_params_read.get());
  if (!fitted.cov_params || downcast_array_or_pandas(fitted.cov_params, 2) < 0) return -1;

  const PyRef model_for_names = attribute(results, "model");
  if (!model_for_names || check_probit_family(model_for_names.get()) < 0) return -1;
  const PyRef names = attribute(model_for_names, "exog_names");
  if (!names || names_from_python(names.get(), fitted.exog_names) < 0) return -1;

  const PyRef model_for_exog = attribute(results, "model");
  if (!model_for_exog) return -1;
  fitted.exog_read = attribute(model_for_exog, "exog");
  fitted.exog = PyRef::borrow(fitted.exog_read.get());
  if (!fitted.exog || downcast_array_or_pandas(fitted.exog, 2) < 0) return -1;
  return 0;
}

// Pandas objects give their values in the order of the regressor names,
// whatever the order of their labels.
int order_by_names(FittedModel& fitted) {
  const std::vector<std::string>& names = fitted.exog_names;
  if (order_by_names(fitted.params_read.get(), LabelledAxes::kIndex, names, "params",
                     fitted.params) < 0)
    return -1;
  if (order_by_names(fitted.cov_params_read.get(), LabelledAxes::kIndexAndColumns, names,
                     "cov_params()", fitted.cov_params) < 0)
    return -1;
  return order_by_names(fitted.exog_read.get(), LabelledAxes::kColumns, names, "model.exog",
                        fitted.exog);
}

// The model's arrays as ame reads them, in place.
struct ArraysRead {
  const FittedModel* fitted = nullptr;
  ArrayRead params;
  ArrayRead cov;
  ArrayRead exog;
};

// The reads in read_model ran Python code after the arrays were checked
// (cov_params(), the names, model), so each array is checked again as it is
// read, with the same error.
int capture_arrays(const FittedModel& fitted, ArraysRead& arrays) {
  arrays.fitted = &fitted;
  if (capture_array(fitted.params.get(), 1, arrays.params) < 0) return -1;
  if (capture_array(fitted.cov_params.get(), 2, arrays.cov) < 0) return -1;
  return capture_array(fitted.exog.get(), 2, arrays.exog);
}

// The first array that is not as it was read, or nullptr.
const char* changed_array(const ArraysRead& arrays) {
  const FittedModel& fitted = *arrays.fitted;
  if (!unchanged_since_read(fitted.params.get(), arrays.params)) return "params";
  if (!unchanged_since_read(fitted.cov_params.get(), arrays.cov)) return "cov_params()";
  if (!unchanged_since_read(fitted.exog.get(), arrays.exog)) return "model.exog";
  return nullptr;
}

// The poll of the row loop. A signal handler runs Python code, which can
// change an array being read and even free its memory (ndarray.__setstate__
// does, whoever else holds the array): reading stops with RuntimeError when
// an array is no longer as it was read. Stops as well when a handler raised
// (KeyboardInterrupt).
bool stop_reading(const void* context) {
  if (signal_handler_raised()) return true;
  const char* changed = changed_array(*static_cast<const ArraysRead*>(context));
  if (changed == nullptr) return false;
  PyErr_Format(PyExc_RuntimeError, texts::kChangedWhileReadingFormat, changed);
  return true;
}

PyObject* marginal_effects_table(PyObject* probit_model, std::optional<std::uint64_t> chunk_size) {
  FittedModel fitted;
  if (read_model(probit_model, fitted) < 0) return nullptr;
  if (order_by_names(fitted) < 0) return nullptr;
  ArraysRead arrays;
  if (capture_arrays(fitted, arrays) < 0) return nullptr;
  const MarginalEffects effects =
      average_marginal_effects(arrays.params.view.column(0), arrays.cov.view, arrays.exog.view,
                               fitted.exog_names, chunk_size, InterruptPoll(stop_reading, &arrays));
  return to_data_frame(build_table(effects, fitted.exog_names));
}

}  // namespace

PyObject* ame(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guard_native([&]() -> PyObject* {
    std::array<PyObject*, kParameters.size()> bound;
    if (bind_arguments(kSignature, args, nargs, kwnames, bound) < 0) return nullptr;
    std::optional<std::uint64_t> chunk_size;
    if (convert_chunk_size(bound[1], chunk_size) < 0) return nullptr;
    return marginal_effects_table(bound[0], chunk_size);
  });
}

}  // namespace quillon
