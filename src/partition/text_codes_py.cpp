// A text column's levels and each row's level, read in one pass over the
// column's objects: what a categorical of the column holds. Each string is
// looked up by its hash in an open-addressed table of the levels seen so
// far, and compared with the level's first string only when the hashes
// agree; an object met lately takes its level again without a lookup.
//
// Levels are numbered in order of first appearance; each is the first object
// that spelled it. None and float NaN are missing (-1). Anything else (a
// number, bytes, pandas' NA, a subclass of str, whose equality may be its
// own) is not text this reader decides on: it answers None, and the caller
// asks pandas.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "interface/lists.hpp"
#include "interface/numpy_api.hpp"
#include "interface/panic.hpp"
#include "interface/py_ref.hpp"
#include "partition/entries.hpp"

namespace quillon::partition {
namespace {

// Objects are fetched this many rows ahead of their reading.
constexpr Py_ssize_t kAhead = 16;

// The levels seen so far, by the strings' own hashes (which a string keeps
// once computed, as pandas' and every dict's lookups leave it) and their
// equality; the table holds level numbers + 1 (0: empty) and is kept at
// most half full.
class Levels {
 public:
  // The level of the string `s` (hash h), added as the next one if new.
  std::int32_t find_or_add(PyObject* s, Py_hash_t h) {
    if (2 * (objects_.size() + 1) > slots_.size()) grow();
    const auto mixed = static_cast<std::size_t>(h);
    for (std::size_t at = mixed & (slots_.size() - 1);; at = (at + 1) & (slots_.size() - 1)) {
      const std::uint32_t slot = slots_[at];
      if (slot == 0) {
        slots_[at] = static_cast<std::uint32_t>(objects_.size() + 1);
        objects_.push_back(s);
        hashes_.push_back(h);
        return static_cast<std::int32_t>(objects_.size() - 1);
      }
      if (hashes_[slot - 1] == h && PyUnicode_Compare(objects_[slot - 1], s) == 0) {
        return static_cast<std::int32_t>(slot - 1);
      }
    }
  }

  const std::vector<PyObject*>& objects() const { return objects_; }

 private:
  void grow() {
    slots_.assign(slots_.empty() ? 16 : 2 * slots_.size(), 0);
    for (std::size_t level = 0; level < objects_.size(); ++level) {
      std::size_t at = static_cast<std::size_t>(hashes_[level]) & (slots_.size() - 1);
      while (slots_[at] != 0) at = (at + 1) & (slots_.size() - 1);
      slots_[at] = static_cast<std::uint32_t>(level + 1);
    }
  }

  std::vector<std::uint32_t> slots_;
  std::vector<PyObject*> objects_;  // the first string of each level, borrowed from the column
  std::vector<Py_hash_t> hashes_;
};

// The level of the objects met lately, by their addresses: a column whose
// rows share a few string objects (as pandas' readers and Arrow's
// conversion leave it) takes each row's level without reading its string.
class SeenObjects {
 public:
  struct Entry {
    PyObject* object = nullptr;
    std::int32_t code = -1;
  };
  Entry& entry(PyObject* o) {
    return entries_[(reinterpret_cast<std::uintptr_t>(o) >> 4) & (kEntries - 1)];
  }

 private:
  static constexpr std::size_t kEntries = 64;
  Entry entries_[kEntries];
};

bool is_missing(PyObject* o) {
  if (o == nullptr || o == Py_None) return true;  // NumPy reads a null element as None
  return PyFloat_CheckExact(o) && std::isnan(PyFloat_AsDouble(o));
}

// The elements of a one-dimensional NumPy array of objects, read in place.
struct ObjectColumn {
  const char* data = nullptr;
  Py_ssize_t size = 0;
  Py_ssize_t stride = 0;
  PyObject* at(Py_ssize_t i) const {
    PyObject* o;
    std::memcpy(&o, data + i * stride, sizeof o);
    return o;
  }
};

// Sets is_column for a one-dimensional array of objects (anything else is
// left to the caller); -1 with an exception set when NumPy fails.
int read_object_column(PyObject* values, ObjectColumn& out, bool& is_column) {
  is_column = false;
  if (numpy::ensure_api() < 0) return -1;
  PyObject* array_type = reinterpret_cast<PyObject*>(numpy::array_type());
  const int is_array = PyObject_IsInstance(values, array_type);
  if (is_array <= 0) return is_array;
  const numpy::ArrayFields* a = numpy::fields(values);
  if (a->nd != 1) return 0;
  PyRef object_descr(numpy::descr_from_type(numpy::kObject));
  if (!object_descr) return -1;
  if (!numpy::equiv_types(a->descr, object_descr.get())) return 0;
  out = {a->data, a->dimensions[0], a->strides[0]};
  is_column = true;
  return 0;
}

}  // namespace

PyObject* text_codes(PyObject*, PyObject* args) {
  return guard_native([&]() -> PyObject* {
    PyObject* values;
    if (!PyArg_ParseTuple(args, "O:text_codes", &values)) return nullptr;
    ObjectColumn column;
    bool is_column = false;
    if (read_object_column(values, column, is_column) < 0) return nullptr;
    if (!is_column) Py_RETURN_NONE;

    PyRef codes_py(PyBytes_FromStringAndSize(nullptr, column.size * Py_ssize_t{4}));
    if (!codes_py) return nullptr;
    char* codes = PyBytes_AsString(codes_py.get());
    Levels levels;
    SeenObjects seen;
    for (Py_ssize_t i = 0; i < column.size; ++i) {
      PyObject* o = column.at(i);
      if (i + kAhead < column.size) __builtin_prefetch(column.at(i + kAhead));
      std::int32_t code;
      SeenObjects::Entry& entry = seen.entry(o);
      if (entry.object == o && o != nullptr) {
        code = entry.code;
      } else if (o != nullptr && Py_TYPE(o) == &PyUnicode_Type) {
        const Py_hash_t h = PyObject_Hash(o);
        if (h == -1) return nullptr;
        code = levels.find_or_add(o, h);
      } else if (is_missing(o)) {
        code = -1;
      } else {
        Py_RETURN_NONE;
      }
      entry = {o, code};
      std::memcpy(codes + i * 4, &code, 4);
    }
    PyRef found(new_list(levels.objects(), [](PyObject* o) { return PyRef::borrow(o).release(); }));
    if (!found) return nullptr;
    return Py_BuildValue("(OO)", codes_py.get(), found.get());
  });
}

}  // namespace quillon::partition
