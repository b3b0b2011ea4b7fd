// PyRef: the owner of one strong reference to a Python object.
#pragma once

#include <Python.h>

#include <utility>

namespace quillon {

class PyRef {
 public:
  PyRef() = default;
  // Takes over a new reference (which may be null, for a failed call).
  explicit PyRef(PyObject* owned) : obj_(owned) {}
  // Takes a new reference to a borrowed object.
  static PyRef borrow(PyObject* borrowed) {
    Py_XINCREF(borrowed);
    return PyRef(borrowed);
  }

  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    if (this != &other) {
      Py_XDECREF(obj_);
      obj_ = std::exchange(other.obj_, nullptr);
    }
    return *this;
  }
  ~PyRef() { Py_XDECREF(obj_); }

  PyObject* get() const { return obj_; }
  explicit operator bool() const { return obj_ != nullptr; }
  // Gives the reference away: to the caller, or to a call that steals it.
  PyObject* release() { return std::exchange(obj_, nullptr); }

 private:
  PyObject* obj_ = nullptr;
};

}  // namespace quillon
