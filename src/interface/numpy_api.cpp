#include "interface/numpy_api.hpp"

#include "interface/panic.hpp"
#include "interface/py_ref.hpp"
#include "public_texts.hpp"

namespace quillon::numpy {
namespace {

// NumPy's interface table, set once on first use and kept for the life of the
// process (NumPy cannot be unloaded, so neither can the table).
void** api = nullptr;

// Positions in the table, by NumPy's published C-API numbering.
constexpr int kArrayTypeEntry = 2;
constexpr int kDescrFromTypeEntry = 45;
constexpr int kNewFromDescrEntry = 94;
constexpr int kEquivTypesEntry = 182;
constexpr int kSetBaseObjectEntry = 282;

int fail(const char* message) {
  raise_panic(Panic{message, SourceLocation::current()});
  return -1;
}

}  // namespace

int ensure_api() {
  if (api != nullptr) return 0;
  PyRef module(PyImport_ImportModule("numpy.core.multiarray"));
  if (!module) {
    PyErr_Clear();
    return fail(texts::kNumpyImportFailed);
  }
  PyRef capsule(PyObject_GetAttrString(module.get(), "_ARRAY_API"));
  if (!capsule) {
    PyErr_Clear();
    return fail(texts::kNumpyCapsuleMissing);
  }
  void* table = PyCapsule_GetPointer(capsule.get(), nullptr);
  if (table == nullptr) {
    PyErr_Clear();
    return fail(texts::kNumpyTableMissing);
  }
  // Another thread may have stored the (same) table while this one imported.
  if (api != nullptr) return 0;
  api = static_cast<void**>(table);
  // The table lives inside NumPy's extension module: keep both alive for
  // good.
  module.release();
  capsule.release();
  return 0;
}

PyTypeObject* array_type() { return static_cast<PyTypeObject*>(api[kArrayTypeEntry]); }

PyObject* descr_from_type(int type_number) {
  using Fn = PyObject* (*)(int);
  return reinterpret_cast<Fn>(api[kDescrFromTypeEntry])(type_number);
}

PyObject* new_from_descr(PyTypeObject* type, PyObject* descr, int nd, Py_ssize_t* dims,
                         Py_ssize_t* strides, void* data, int flags, PyObject* init) {
  using Fn =
      PyObject* (*)(PyTypeObject*, PyObject*, int, Py_ssize_t*, Py_ssize_t*, void*, int, PyObject*);
  return reinterpret_cast<Fn>(api[kNewFromDescrEntry])(type, descr, nd, dims, strides, data, flags,
                                                       init);
}

bool equiv_types(PyObject* descr1, PyObject* descr2) {
  using Fn = unsigned char (*)(PyObject*, PyObject*);
  return reinterpret_cast<Fn>(api[kEquivTypesEntry])(descr1, descr2) != 0;
}

int set_base_object(PyObject* array, PyObject* base) {
  using Fn = int (*)(PyObject*, PyObject*);
  return reinterpret_cast<Fn>(api[kSetBaseObjectEntry])(array, base);
}

}  // namespace quillon::numpy
