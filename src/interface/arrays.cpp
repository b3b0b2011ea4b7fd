#include "interface/arrays.hpp"

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>

#include "interface/numpy_api.hpp"
#include "interface/panic.hpp"
#include "interface/py_ref.hpp"
#include "interface/text.hpp"

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

// True when the array's data pointer and strides are whole multiples of a
// double, so that it can be read as doubles in place.
bool aligned_for_doubles(PyObject* array) {
  const numpy::ArrayFields* a = numpy::fields(array);
  if (reinterpret_cast<std::uintptr_t>(a->data) % alignof(double) != 0) return false;
  for (int d = 0; d < a->nd; ++d) {
    if (a->strides[d] % static_cast<Py_ssize_t>(sizeof(double)) != 0) return false;
  }
  return true;
}

double read_double(const char* at) {
  double value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

// A row-major copy of a 1- or 2-dimensional float64 array whose memory cannot
// be addressed as doubles (unaligned data or strides that are not whole
// multiples of 8 bytes), read byte-wise.
OwnedArray copy_unaligned(PyObject* array) {
  const numpy::ArrayFields* a = numpy::fields(array);
  OwnedArray copy;
  copy.ndim = a->nd;
  const std::size_t rows = static_cast<std::size_t>(a->dimensions[0]);
  const std::size_t cols = a->nd == 2 ? static_cast<std::size_t>(a->dimensions[1]) : 1;
  const Py_ssize_t col_bytes = a->nd == 2 ? a->strides[1] : 0;
  copy.values.resize(rows * cols);
  for (std::size_t i = 0; i < rows; ++i) {
    for (std::size_t j = 0; j < cols; ++j) {
      const char* at = a->data + static_cast<Py_ssize_t>(i) * a->strides[0] +
                       static_cast<Py_ssize_t>(j) * col_bytes;
      copy.values[i * cols + j] = read_double(at);
    }
  }
  copy.extents[0] = rows;
  copy.extents[1] = cols;
  copy.strides[0] = a->nd == 2 ? static_cast<std::ptrdiff_t>(cols) : 1;
  copy.strides[1] = 1;
  return copy;
}

std::ptrdiff_t element_stride(Py_ssize_t byte_stride) {
  // Division truncates toward zero, so a negative byte stride gives the
  // negated element stride of its absolute value.
  return static_cast<std::ptrdiff_t>(byte_stride / static_cast<Py_ssize_t>(sizeof(double)));
}

// The array's elements in place; it must be aligned_for_doubles.
MatrixView in_place_view(PyObject* array) {
  const numpy::ArrayFields* a = numpy::fields(array);
  const auto* data = reinterpret_cast<const double*>(a->data);
  const auto rows = static_cast<std::size_t>(a->dimensions[0]);
  if (a->nd == 2) {
    return {data, rows, static_cast<std::size_t>(a->dimensions[1]), element_stride(a->strides[0]),
            element_stride(a->strides[1])};
  }
  return {data, rows, 1, element_stride(a->strides[0]), 1};
}

void release_buffer(PyObject* capsule) {
  delete static_cast<BulkBuffer*>(PyCapsule_GetPointer(capsule, "quillon.buffer"));
}

// Points the array's data at zero elements: never read or written, but not
// null, since NumPy would allocate memory of its own for a null pointer.
double empty_storage = 0.0;

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

}  // namespace

int check_array_argument(PyObject* obj, int ndim) {
  switch (array_mismatch(obj, ndim)) {
    case 0:
      return 0;
    case 1:
      return raise_conversion_failure(obj, kArrayTarget);
    case 2:
      PyErr_Format(PyExc_TypeError, "dimensionality mismatch:\n from=%d, to=%d",
                   numpy::fields(obj)->nd, ndim);
      return -1;
    case 3: {
      PyRef float64(numpy::descr_from_type(numpy::kDouble));
      if (!float64) return -1;
      const std::string message = "type mismatch:\n from=" + str_of(numpy::fields(obj)->descr) +
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
  ArrayRead read;
  read.ndim = numpy::fields(array)->nd;
  if (!aligned_for_doubles(array)) {
    read.fallback = copy_unaligned(array);
    read.view = read.fallback.matrix();
    read.copied = true;
    return read;
  }
  read.view = in_place_view(array);
  return read;
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
  if (read.copied) return true;
  const int mismatch = array_mismatch(array, read.ndim);
  if (mismatch < 0) PyErr_Clear();  // cannot happen once an array was read
  if (mismatch != 0 || !aligned_for_doubles(array)) return false;
  const MatrixView now = in_place_view(array);
  const MatrixView& then = read.view;
  return now.data == then.data && now.rows == then.rows && now.cols == then.cols &&
         now.row_stride == then.row_stride && now.col_stride == then.col_stride;
}

PyObject* to_numpy(OwnedArray array) {
  if (numpy::ensure_api() < 0) return nullptr;
  auto* buffer = new BulkBuffer(std::move(array.values));
  PyRef owner(PyCapsule_New(buffer, "quillon.buffer", release_buffer));
  if (!owner) {
    delete buffer;
    PyErr_Clear();
    return raise_panic(Panic{"Failed to create slice container", SourceLocation::current()});
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
