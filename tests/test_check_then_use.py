"""An array is read as it was checked: Python code that runs between an
array's check and its reading (a conversion hook, an attribute, an iteration)
and changes the array's shape or element type gets the error the changed
array gets at its check, never a crash or a fit of reinterpreted memory. Each
case runs in a child interpreter, since the fault is a crash."""

import pytest

from conftest import run_child

CHILD = r"""
import sys
from types import SimpleNamespace
import numpy as np
from quillon import ame, fit_probit

hook, mutation = sys.argv[1:]
X = np.ones((1, 1))
params, cov = np.ones(1), np.ones((1, 1))
target = {"cov_params()": params, "model.exog_names": cov}.get(hook, X)

def mutate(at):
    if at != hook:
        return
    if mutation == "shape=()":
        target.shape = ()
    elif mutation == "flattened":
        target.shape = (target.size,) if target.ndim == 2 else (1, target.size)
    else:
        target.dtype = np.dtype(mutation)

class Hook:
    def __index__(self): mutate("max_iter.__index__"); return 3
    def __float__(self): mutate("tol.__float__"); return 1e-6

class Outcome(np.ndarray):
    @property
    def shape(self): mutate("endog.shape"); return np.ndarray.shape.__get__(self)

class Names(list):
    def __iter__(self): mutate("model.exog_names"); return super().__iter__()

def cov_params():
    mutate("cov_params()")
    return cov

model = SimpleNamespace(params=params, cov_params=cov_params,
                        model=SimpleNamespace(exog_names=Names(["a"]), exog=X))
calls = {
    "max_iter.__index__": lambda: fit_probit(np.ones(1), X, max_iter=Hook()),
    "tol.__float__": lambda: fit_probit(np.ones(1), X, tol=Hook()),
    "endog.shape": lambda: fit_probit(np.ones(1).view(Outcome), X),
    "cov_params()": lambda: ame(model),
    "model.exog_names": lambda: ame(model),
}
try:
    calls[hook]()
    print("returned")
except Exception as e:
    print(repr(f"{type(e).__name__}: {e}"))
"""

ARRAY_REFUSED = "TypeError: 'ndarray' object cannot be converted to 'PyArray<T, D>'"
EXOG_REFUSED = {
    "shape=()": "dimensionality mismatch:\n from=0, to=2",
    "flattened": "dimensionality mismatch:\n from=1, to=2",
    **{t: f"type mismatch:\n from={t}, to=float64" for t in ("uint8", "float32", "int64")},
}


@pytest.mark.parametrize("mutation", list(EXOG_REFUSED))
@pytest.mark.parametrize("hook", ["max_iter.__index__", "tol.__float__", "endog.shape",
                                  "cov_params()", "model.exog_names"])
def test_array_changed_after_its_check_is_checked_again(hook, mutation):
    child = run_child(CHILD, hook, mutation)
    assert child.returncode == 0, child.stderr
    expected = (ARRAY_REFUSED if hook in ("cov_params()", "model.exog_names")
                else f"TypeError: argument 'exog_py': {EXOG_REFUSED[mutation]}")
    assert child.stdout.strip() == repr(expected)
