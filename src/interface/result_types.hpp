// The result classes CorvidProbitResults and CorvidProbitModel: heap types
// created on first use, read-only attributes, no constructor.
#pragma once

#include <Python.h>

#include <cstdint>
#include <string>
#include <vector>

#include "interface/py_ref.hpp"

namespace quillon {

// The data of a fit as handed to Python.
struct ModelRecord {
  PyRef exog;   // 2-D float64 array, a copy of the caller's exog
  PyRef endog;  // 1-D float64 array, the outcome
  std::vector<std::string> exog_names;
};

struct ResultsRecord {
  PyRef params;      // 1-D float64 array, length k
  PyRef cov_params;  // 2-D float64 array, k x k
  ModelRecord model;
  double loglike = 0.0;
  std::uint64_t iterations = 0;
  bool converged = false;
};

// A new CorvidProbitResults holding the record. Returns nullptr with an
// exception set on failure.
PyObject* new_results_object(ResultsRecord record);

}  // namespace quillon
