#include "interface/panic.hpp"

#include <string>
#include <string_view>

#include "estimation/diagnostics.hpp"
#include "interface/py_ref.hpp"
#include "public_texts.hpp"

namespace quillon {
namespace {

// Created on first use and kept for the life of the process.
PyObject* panic_type = nullptr;

PyObject* panic_exception_type() {
  if (panic_type != nullptr) return panic_type;
  PyRef created(PyErr_NewExceptionWithDoc(
      texts::kPanicExceptionName, texts::kPanicExceptionDoc,
      PyExc_BaseException, nullptr));
  // Another thread may have got in while the type was made (see ensure_type
  // in result_types.cpp): the type stored first is the one.
  if (created && panic_type == nullptr) panic_type = created.release();
  return panic_type;
}

// The source path from src/ on, which is what a report needs to say.
std::string_view module_path(const char* file) {
  const std::string_view path(file);
  const std::size_t at = path.rfind("src/");
  return at == std::string_view::npos ? path : path.substr(at);
}

}  // namespace

PyObject* raise_panic(const Panic& failure) {
  write_diagnostic(texts::kPanickedAt + std::string(module_path(failure.where.file_name())) +
                   ":" + std::to_string(failure.where.line()) + ":\n" + failure.message + "\n");
  PyObject* type = panic_exception_type();
  if (type != nullptr) PyErr_SetString(type, failure.message.c_str());
  return nullptr;
}

bool signal_handler_raised() { return PyErr_CheckSignals() < 0; }

PyObject* raise_unexpected_exception() {
  return raise_panic(Panic{texts::kUnexpectedNativeException, SourceLocation::current()});
}

}  // namespace quillon
