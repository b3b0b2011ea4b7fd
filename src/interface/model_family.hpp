// The one kind of statsmodels model whose results ame can read: a probit.
#pragma once

#include <Python.h>

namespace quillon {

// 0 when `probit_model` may go on to ame: its `model` is no statsmodels model
// (quillon's own, or any other object of the right shape), a statsmodels
// Probit, or absent (the reads that follow report that). -1 with TypeError
// naming the class for any other statsmodels model (Logit, OLS, ...), whose
// coefficients the probit link would turn into wrong effects.
int check_probit_family(PyObject* probit_model);

}  // namespace quillon
