// The one kind of statsmodels model whose results ame can read: a probit.
#pragma once

#include <Python.h>

namespace quillon {

// 0 when the `model` of a fitted result may go on to ame: no statsmodels
// model (quillon's own, or any other object of the right shape) or a
// statsmodels Probit. -1 with TypeError naming the class for any other
// statsmodels model (Logit, OLS, ...), whose coefficients the probit link
// would turn into wrong effects. Reads nothing but the model's type.
int check_probit_family(PyObject* model);

}  // namespace quillon
