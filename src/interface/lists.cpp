#include "interface/lists.hpp"

#include <algorithm>

#include "interface/text.hpp"
#include "public_texts.hpp"

namespace quillon {

int names_from_python(PyObject* obj, std::vector<std::string>& names) {
  const int is_str = PyObject_IsInstance(obj, reinterpret_cast<PyObject*>(&PyUnicode_Type));
  if (is_str < 0) return -1;
  if (is_str) {
    PyErr_SetString(PyExc_TypeError, texts::kStrToVec);
    return -1;
  }
  if (!PySequence_Check(obj)) return raise_conversion_failure(obj, texts::kSequenceTarget);
  Py_ssize_t hint = PySequence_Size(obj);
  if (hint < 0) {
    PyErr_Clear();
    hint = 0;
  }
  // The size is only a hint; a sequence may report more than it yields.
  names.clear();
  names.reserve(static_cast<std::size_t>(std::min<Py_ssize_t>(hint, 1 << 16)));
  PyRef iterator(PyObject_GetIter(obj));
  if (!iterator) return -1;
  while (PyRef item{PyIter_Next(iterator.get())}) {
    if (!PyUnicode_Check(item.get())) return raise_conversion_failure(item.get(), texts::kStringTarget);
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(item.get(), &size);
    if (utf8 == nullptr) return -1;
    names.emplace_back(utf8, static_cast<std::size_t>(size));
  }
  return PyErr_Occurred() ? -1 : 0;
}

PyObject* names_to_python(const std::vector<std::string>& names) {
  return new_list(names, new_str);
}

}  // namespace quillon
