// Refusing statsmodels results of other models before ame reads them, by the
// class of their model: its module and name, without importing statsmodels.
#include "interface/model_family.hpp"

#include <string>
#include <string_view>

#include "interface/py_ref.hpp"
#include "interface/text.hpp"
#include "public_texts.hpp"

namespace quillon {
namespace {

// The UTF-8 text of attribute `name` of the type of `obj` ("" when absent).
std::string type_attribute(PyObject* obj, const char* name) {
  const PyRef value(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), name));
  if (!value) {
    PyErr_Clear();
    return {};
  }
  return utf8_or(value.get(), "");
}

bool from_statsmodels(std::string_view module) {
  return module == "statsmodels" || module.starts_with("statsmodels.");
}

}  // namespace

int check_probit_family(PyObject* model) {
  const std::string module = type_attribute(model, "__module__");
  const std::string name = type_attribute(model, "__name__");
  if (!from_statsmodels(module) || name == "Probit") return 0;
  PyErr_Format(PyExc_TypeError, texts::kNotProbitFormat, name.c_str(), module.c_str(),
               name.c_str());
  return -1;
}

}  // namespace quillon
