#include "interface/text.hpp"

#include <cstddef>

#include "interface/py_ref.hpp"
#include "public_texts.hpp"

namespace quillon {
namespace {

std::string type_name(PyObject* obj) {
  PyRef name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__qualname__"));
  return utf8_or(name.get(), "<failed to extract type name>");
}

}  // namespace

std::string utf8_or(PyObject* text, const char* fallback) {
  if (text != nullptr) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size);
    if (utf8 != nullptr) return std::string(utf8, static_cast<std::size_t>(size));
  }
  PyErr_Clear();
  return fallback;
}

std::string str_of(PyObject* obj) {
  PyRef text(PyObject_Str(obj));
  return utf8_or(text.get(), "?");
}

PyObject* new_str(const std::string& text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

int raise_conversion_failure(PyObject* obj, const char* target) {
  const std::string message =
      "'" + type_name(obj) + texts::kCannotConvert + target + "'";
  PyErr_SetString(PyExc_TypeError, message.c_str());
  return -1;
}

}  // namespace quillon
