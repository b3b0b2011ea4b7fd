// The module root: the definition of `quillon` and its initialisation.
#include <Python.h>

#include <atomic>
#include <cstdint>

#include "interface/entries.hpp"
#include "interface/py_ref.hpp"
#include "public_texts.hpp"

namespace quillon {
namespace {

// Set by an initialisation in the main interpreter, and cleared only when the
// module object it made is destroyed: the module keeps process-wide state
// (the NumPy interface table, its types), so a second module while one lives
// (an import after removal from sys.modules) is refused. A module that never
// reached its importer, because the initialisation failed or CPython 3.13
// made it in the main interpreter for a sub-interpreter that then refused
// it, does not use up the process's module.
std::atomic<bool> initialised{false};

void release_module(void*) { initialised.store(false); }

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    texts::kModuleName,
    texts::kModuleDoc,
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    release_module,
};

// A fast-call entry point as the PyCFunction that a method table stores;
// METH_FASTCALL | METH_KEYWORDS tells the interpreter its real signature.
// The detour through void (*)() keeps the compiler from warning about a cast
// between incompatible function types.
template <class Function>
PyCFunction as_cfunction(Function function) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// The module-level functions, in registration order; each definition lives
// for the life of the process.
PyMethodDef module_functions[] = {
    {"ame", as_cfunction(ame), METH_FASTCALL | METH_KEYWORDS, texts::kAmeDoc},
    {"fit_probit", as_cfunction(fit_probit), METH_FASTCALL | METH_KEYWORDS, texts::kFitProbitDoc},
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

// The main interpreter's ID.
constexpr std::int64_t kMainInterpreter = 0;

PyObject* create_module() {
  // Another interpreter is refused before it can take the process's module:
  // CPython 3.12 and later refuse this module in an isolated sub-interpreter
  // themselves, but only after this function has run.
  if (PyInterpreterState_GetID(PyInterpreterState_Get()) != kMainInterpreter) {
    PyErr_SetString(PyExc_ImportError, texts::kNotMainInterpreter);
    return nullptr;
  }
  if (initialised.exchange(true)) {
    PyErr_SetString(PyExc_ImportError, texts::kInitialisedTwice);
    return nullptr;
  }
  // From here the flag belongs to the module made next: destroying it, also
  // when a step below fails, clears the flag (release_module).
  PyRef module(PyModule_Create2(&module_definition, PYTHON_API_VERSION));
  if (!module) {
    initialised.store(false);
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
