// Lets other Python threads run while the current one computes: the
// interpreter lock is released for the guard's lifetime and taken back when
// it ends, also when the computation throws.
#pragma once

#include <Python.h>

namespace quillon {

class ReleasedInterpreter {
 public:
  ReleasedInterpreter() : state_(PyEval_SaveThread()) {}
  ~ReleasedInterpreter() { PyEval_RestoreThread(state_); }
  ReleasedInterpreter(const ReleasedInterpreter&) = delete;
  ReleasedInterpreter& operator=(const ReleasedInterpreter&) = delete;

 private:
  PyThreadState* state_;
};

// Runs `compute` with the lock released and returns its result.
template <class Compute>
auto without_interpreter_lock(Compute&& compute) {
  ReleasedInterpreter released;
  return compute();
}

}  // namespace quillon
