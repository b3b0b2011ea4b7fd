// The module root: the definition of `quillon` and its initialisation.
#include <Python.h>

#include <atomic>

#include "interface/entries.hpp"
#include "interface/py_ref.hpp"

namespace quillon {
namespace {

// Set by the first initialisation attempt and never cleared: the module keeps
// process-wide state (the NumPy interface table, its types), so a second
// initialisation, in a sub-interpreter or after removal from sys.modules,
// is refused.
std::atomic<bool> initialised{false};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "quillon",
    "A Python module implemented in Corvid.",
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// The module-level functions, in registration order; each definition lives
// for the life of the process.
template <class Function>
PyCFunction as_cfunction(Function function) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

PyMethodDef module_functions[] = {
    {"ame", as_cfunction(ame), METH_FASTCALL | METH_KEYWORDS, kAmeDoc},
    {"fit_probit", as_cfunction(fit_probit), METH_FASTCALL | METH_KEYWORDS, kFitProbitDoc},
    {nullptr, nullptr, 0, nullptr},
};

// Appends `name` to the module's __all__, creating the list on first use.
int append_to_all(PyObject* module, PyObject* name) {
  PyRef all(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
    PyErr_Clear();
    all = PyRef(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return -1;
  }
  return PyList_Append(all.get(), name);
}

int add_function(PyObject* module, PyMethodDef* definition) {
  const char* module_name_text = PyModule_GetName(module);
  if (module_name_text == nullptr) return -1;
  PyRef module_name(PyUnicode_FromString(module_name_text));
  if (!module_name) return -1;
  PyRef function(PyCMethod_New(definition, module, module_name.get(), nullptr));
  if (!function) return -1;
  PyRef name(PyObject_GetAttrString(function.get(), "__name__"));
  if (!name || append_to_all(module, name.get()) < 0) return -1;
  return PyObject_SetAttr(module, name.get(), function.get());
}

PyObject* create_module() {
  PyRef module(PyModule_Create2(&module_definition, PYTHON_API_VERSION));
  if (!module) return nullptr;
  if (initialised.exchange(true)) {
    PyErr_SetString(PyExc_ImportError,
                    "quillon: the modules may only be initialized once per interpreter process");
    return nullptr;
  }
  for (PyMethodDef* def = module_functions; def->ml_name != nullptr; ++def) {
    if (add_function(module.get(), def) < 0) return nullptr;
  }
  return module.release();
}

}  // namespace
}  // namespace quillon

// PyMODINIT_FUNC already declares the entry point extern "C" and exported.
PyMODINIT_FUNC PyInit_quillon(void) { return quillon::create_module(); }
