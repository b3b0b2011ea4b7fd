// NumPy's C array interface, reached at run time through the "_ARRAY_API"
// capsule: nothing of NumPy is needed to build the module.
#pragma once

#include <Python.h>

namespace quillon::numpy {

// NumPy's type numbers for float64 and Python objects, and its
// writeable-array flag.
inline constexpr int kDouble = 12;
inline constexpr int kObject = 17;
inline constexpr int kArrayWriteable = 0x0400;

// The leading fields of every NumPy array object; this layout is part of
// NumPy's stable ABI (unchanged from 1.x to 2.x).
struct ArrayFields {
  PyObject ob_base;
  char* data;
  int nd;
  Py_ssize_t* dimensions;
  Py_ssize_t* strides;
  PyObject* base;
  PyObject* descr;
  int flags;
};

inline ArrayFields* fields(PyObject* array) { return reinterpret_cast<ArrayFields*>(array); }

// Loads the interface table on first use. Returns -1 with PanicException set
// when NumPy cannot be reached.
int ensure_api();

// Each of these requires a successful ensure_api().
PyTypeObject* array_type();
// New reference to the descriptor of a type number.
PyObject* descr_from_type(int type_number);
// Creates an array around existing memory; steals `descr`.
PyObject* new_from_descr(PyTypeObject* type, PyObject* descr, int nd, Py_ssize_t* dims,
                         Py_ssize_t* strides, void* data, int flags, PyObject* init);
bool equiv_types(PyObject* descr1, PyObject* descr2);
// Makes `base` own the array's memory; steals `base`, also on failure.
int set_base_object(PyObject* array, PyObject* base);

}  // namespace quillon::numpy
