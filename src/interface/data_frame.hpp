// The marginal-effects table handed to Python as a pandas DataFrame.
#pragma once

#include <Python.h>

#include <vector>

#include "effects/result_table.hpp"

namespace quillon {

// pandas.DataFrame(data={five columns}, index=[names]), pandas imported on
// every call. Returns nullptr with an exception set on failure.
PyObject* to_data_frame(const std::vector<TableRow>& rows);

}  // namespace quillon
