#include "interface/arrays.hpp"

#include <cstddef>
#include <initializer_list>
#include <string>
#include <utility>

#include "interface/numpy_api.hpp"
#include "interface/panic.hpp"
#include "interface/py_ref.hpp"
#include "interface/text.hpp"
#include "public_texts.hpp"

namespace quillon {
namespace {

// 0 when obj is a NumPy array with `ndim` dimensions and a float64-equivalent
// element type; otherwise 1, 2 or 3 for the first test that fails, or -1
// with an exception set when NumPy cannot be reached.
int array_mismatch(PyObject* obj, int ndim) {
  if (numpy::ensure_api() < 0) return -1;
  if (!PyObject_TypeCheck(obj, numpy::array_type())) return 1;
  if (numpy::fields(obj)->nd != ndim) return 2;
  PyRef float64(numpy::descr_from_type(numpy::kDouble));
  if (!float64) return -1;
  if (!numpy::equiv_types(numpy::fields(obj)->descr, float64.get())) return 3;
  return 0;
}

// The array's elements in place, whatever their alignment.
MatrixView in_place_view(PyObject* array) {
  const numpy::ArrayFields* a = numpy::fields(array);
  const auto* first = reinterpret_cast<const std::byte*>(a->data);
  const auto rows = static_cast<std::size_t>(a->dimensions[0]);
  if (a->nd == 2) {
    return MatrixView::of_bytes(first, rows, static_cast<std::size_t>(a->dimensions[1]),
                                a->strides[0], a->strides[1]);
  }
  return MatrixView::of_bytes(first, rows, 1, a->strides[0], kDoubleBytes);
}

void release_buffer(PyObject* capsule) {
  delete static_cast<BulkBuffer*>(PyCapsule_GetPointer(capsule, "quillon.buffer"));
}

// Points the array's data at zero elements: never read or written, but not
// null, since NumPy would allocate memory of its own for a null pointer.
double empty_storage = 0.0;

}  // namespace

// 1 when obj is a pandas Series or DataFrame, 0 when not, -1 with an
// exception set. No pandas object can exist before pandas is imported, so the
// test only looks for it among the imported modules and never imports it.
// Whatever stands in sys.modules under that name without those two classes
// (None, a stand-in) means that there is no pandas to recognise.
int is_pandas_series_or_frame(PyObject* obj) {
  PyRef name(PyUnicode_FromString("pandas"));
  if (!name) return -1;
  PyRef pandas(PyImport_GetModule(name.get()));
  if (!pandas) return PyErr_Occurred() ? -1 : 0;
  for (const char* type : {"Series", "DataFrame"}) {
    PyRef cls(PyObject_GetAttrString(pandas.get(), type));
    if (!cls) {
      if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
      PyErr_Clear();
      return 0;
    }
    if (!PyType_Check(cls.get())) return 0;
    const int is_instance = PyObject_IsInstance(obj, cls.get());
    if (is_instance != 0) return is_instance;
  }
  return 0;
}

int check_array_argument(PyObject* obj, int ndim) {
  switch (array_mismatch(obj, ndim)) {
    case 0:
      return 0;
    case 1:
      return raise_conversion_failure(obj, kArrayTarget);
    case 2:
      PyErr_Format(PyExc_TypeError, texts::kDimensionalityFormat,
                   numpy::fields(obj)->nd, ndim);
      return -1;
    case 3: {
      PyRef float64(numpy::descr_from_type(numpy::kDouble));
      if (!float64) return -1;
      const std::string message = texts::kTypeMismatch + str_of(numpy::fields(obj)->descr) +
                                  ", to=" + str_of(float64.get());
      PyErr_SetString(PyExc_TypeError, message.c_str());
      return -1;
    }
    default:
      return -1;
  }
}

int downcast_array(PyObject* obj, int ndim) {
  const int mismatch = array_mismatch(obj, ndim);
  if (mismatch > 0) return raise_conversion_failure(obj, kArrayTarget);
  return mismatch;
}

int downcast_array_or_pandas(PyRef& obj, int ndim) {
  const int is_pandas = is_pandas_series_or_frame(obj.get());
  if (is_pandas < 0) return -1;
  if (is_pandas == 0) return downcast_array(obj.get(), ndim);
  PyRef to_numpy_method(PyObject_GetAttrString(obj.get(), "to_numpy"));
  if (!to_numpy_method) return -1;
  PyRef array(PyObject_CallNoArgs(to_numpy_method.get()));
  if (!array) return -1;
  const int mismatch = array_mismatch(array.get(), ndim);
  if (mismatch > 0) return raise_conversion_failure(obj.get(), kArrayTarget);
  if (mismatch < 0) return -1;
  obj = std::move(array);
  return 0;
}

ArrayRead read_array(PyObject* array) {
  return {in_place_view(array), numpy::fields(array)->nd};
}

int capture_array(PyObject* obj, int ndim, ArrayRead& read) {
  if (downcast_array(obj, ndim) < 0) return -1;
  read = read_array(obj);
  return 0;
}

int capture_array_argument(PyObject* obj, int ndim, ArrayRead& read) {
  if (check_array_argument(obj, ndim) < 0) return -1;
  read = read_array(obj);
  return 0;
}

bool unchanged_since_read(PyObject* array, const ArrayRead& read) {
  const int mismatch = array_mismatch(array, read.ndim);
  if (mismatch < 0) PyErr_Clear();  // cannot happen once an array was read
  return mismatch == 0 && in_place_view(array) == read.view;
}

PyObject* to_numpy(OwnedArray array) {
  if (numpy::ensure_api() < 0) return nullptr;
  auto* buffer = new BulkBuffer(std::move(array.values));
  PyRef owner(PyCapsule_New(buffer, "quillon.buffer", release_buffer));
  if (!owner) {
    delete buffer;
    PyErr_Clear();
    return raise_panic(Panic{texts::kSliceContainerFailed, SourceLocation::current()});
  }
  Py_ssize_t dims[2];
  Py_ssize_t byte_strides[2];
  for (int d = 0; d < array.ndim; ++d) {
    dims[d] = static_cast<Py_ssize_t>(array.extents[d]);
    byte_strides[d] =
        static_cast<Py_ssize_t>(array.strides[d] * static_cast<std::ptrdiff_t>(sizeof(double)));
  }
  double* first = buffer->empty() ? &empty_storage : buffer->data() + array.offset;
  PyObject* descr = numpy::descr_from_type(numpy::kDouble);
  if (descr == nullptr) return nullptr;
  PyRef result(numpy::new_from_descr(numpy::array_type(), descr, array.ndim, dims, byte_strides,
                                     first, numpy::kArrayWriteable, nullptr));
  if (!result) return nullptr;
  if (numpy::set_base_object(result.get(), owner.release()) < 0) return nullptr;
  return result.release();
}

}  // namespace quillon
