#include "interface/arguments.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "interface/py_ref.hpp"
#include "interface/text.hpp"
#include "public_texts.hpp"

namespace quillon {
namespace {

bool absent(PyObject* obj) { return obj == nullptr || obj == Py_None; }

int raise_type_error(const std::string& message) {
  PyErr_SetString(PyExc_TypeError, message.c_str());
  return -1;
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'
std::string quoted_list(std::span<const char* const> names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += names.size() > 2 ? ", " : " ";
    if (i > 0 && i + 1 == names.size()) text += "and ";
    text += "'" + std::string(names[i]) + "'";
  }
  return text;
}

int raise_missing(const Signature& signature, std::span<PyObject*> bound) {
  std::vector<const char*> missing;
  for (std::size_t p = 0; p < signature.required; ++p) {
    if (bound[p] == nullptr) missing.push_back(signature.parameters[p]);
  }
  if (missing.empty()) return 0;
  return raise_type_error(std::string(signature.function) + texts::kMissingArguments +
                          std::to_string(missing.size()) + texts::kRequiredPositional +
                          (missing.size() == 1 ? "argument" : "arguments") + ": " +
                          quoted_list(missing));
}

}  // namespace

int bind_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames, std::span<PyObject*> bound) {
  const std::size_t total = signature.parameters.size();
  std::fill(bound.begin(), bound.end(), nullptr);
  if (static_cast<std::size_t>(nargs) > total) {
    return raise_type_error(std::string(signature.function) + texts::kTakesFrom +
                            std::to_string(signature.required) + " to " + std::to_string(total) +
                            texts::kPositionalButGiven + std::to_string(nargs) +
                            texts::kWereGiven);
  }
  for (Py_ssize_t i = 0; i < nargs; ++i) bound[static_cast<std::size_t>(i)] = args[i];

  const Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_Size(kwnames);
  for (Py_ssize_t i = 0; i < nkw; ++i) {
    PyObject* key = PyTuple_GetItem(kwnames, i);
    std::size_t p = 0;
    while (p < total && PyUnicode_CompareWithASCIIString(key, signature.parameters[p]) != 0) ++p;
    if (p == total) {
      return raise_type_error(std::string(signature.function) + texts::kUnexpectedKeyword +
                              utf8_or(key, "?") + "'");
    }
    if (bound[p] != nullptr) {
      return raise_type_error(std::string(signature.function) + texts::kMultipleValues +
                              utf8_or(key, "?") + "'");
    }
    bound[p] = args[nargs + i];
  }
  return raise_missing(signature, bound);
}

int prefix_argument_error(const char* name) {
  PyObject* raw_type = nullptr;
  PyObject* raw_value = nullptr;
  PyObject* raw_traceback = nullptr;
  PyErr_Fetch(&raw_type, &raw_value, &raw_traceback);
  if (raw_type != PyExc_TypeError) {
    PyErr_Restore(raw_type, raw_value, raw_traceback);
    return -1;
  }
  PyErr_NormalizeException(&raw_type, &raw_value, &raw_traceback);
  PyRef type(raw_type), value(raw_value), traceback(raw_traceback);
  PyRef message(PyObject_Str(value.get()));
  if (!message) return -1;
  PyRef text(PyUnicode_FromFormat(texts::kArgumentPrefixFormat, name, message.get()));
  if (!text) return -1;
  PyRef error(PyObject_CallFunctionObjArgs(PyExc_TypeError, text.get(), nullptr));
  if (!error) return -1;
  if (PyObject* cause = PyException_GetCause(value.get())) {
    PyException_SetCause(error.get(), cause);  // steals cause
  }
  PyErr_SetObject(PyExc_TypeError, error.get());
  return -1;
}

int convert_count(PyObject* obj, const char* name, std::optional<std::uint64_t>& value) {
  if (absent(obj)) return 0;
  PyRef index(PyNumber_Index(obj));
  if (!index) return prefix_argument_error(name);
  const unsigned long long count = PyLong_AsUnsignedLongLong(index.get());
  if (count == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    return prefix_argument_error(name);
  }
  value = count;
  return 0;
}

int convert_real(PyObject* obj, const char* name, std::optional<double>& value) {
  if (absent(obj)) return 0;
  const double real = PyFloat_AsDouble(obj);
  if (real == -1.0 && PyErr_Occurred()) return prefix_argument_error(name);
  value = real;
  return 0;
}

int convert_flag(PyObject* obj, const char* name, std::optional<bool>& value) {
  if (absent(obj)) return 0;
  if (Py_TYPE(obj) != &PyBool_Type) {
    raise_conversion_failure(obj, texts::kBoolTarget);
    return prefix_argument_error(name);
  }
  value = obj == Py_True;
  return 0;
}

}  // namespace quillon
