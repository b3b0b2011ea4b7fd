// How a call's native code ends: PanicException when an internal invariant
// breaks, or the exception of a Python signal handler (Ctrl-C).
//
// Native code throws Panic; the entry points catch it, print a short report
// to standard error and raise PanicException, a direct subclass of
// BaseException so that ordinary `except Exception` handlers let it through.
#pragma once

#include <Python.h>

#include <new>

#include "numerics/float_environment.hpp"
#include "numerics/interrupt.hpp"
#include "numerics/panic.hpp"

namespace quillon {

// Reports the failure on standard error and sets PanicException with the
// message. Always returns nullptr, for `return raise_panic(...)`.
PyObject* raise_panic(const Panic& failure);

// PanicException for a C++ exception of no known kind. Returns nullptr.
PyObject* raise_unexpected_exception();

// The check behind the interface's InterruptPoll: runs the Python signal
// handlers that are due (the module holds the interpreter lock throughout)
// and says stop when one of them raised, KeyboardInterrupt for Ctrl-C.
bool signal_handler_raised();

// Runs an entry point's body in the default floating-point environment,
// restoring the caller's on return, and turns C++ exceptions into Python
// ones: Panic into PanicException, std::bad_alloc into MemoryError;
// Interrupted leaves the handler's exception in place.
template <class Body>
PyObject* guard_native(Body&& body) noexcept {
  const DefaultFloatEnvironment environment;
  try {
    return body();
  } catch (const Panic& failure) {
    return raise_panic(failure);
  } catch (const Interrupted&) {
    return PyErr_Occurred() != nullptr ? nullptr : raise_unexpected_exception();
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (...) {
    return raise_unexpected_exception();
  }
}

}  // namespace quillon
