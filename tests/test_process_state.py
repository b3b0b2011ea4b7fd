"""What the module keeps per process: the types it creates on first use, and
its one initialisation. Each case runs in a fresh child interpreter, where
the first use and the first import are still to come."""

import sys

import pytest

from conftest import run_child

RACE = r"""
import gc, sys, threading
from types import SimpleNamespace
import numpy as np
import quillon

case = sys.argv[1]
y, X = np.array([0.0, 1.0, 1.0, 0.0]), np.array([[1.0, 0.1], [1.0, 0.5], [1.0, -0.3], [1.0, 0.9]])
try:  # the NumPy interface is loaded now, not inside the first use
    quillon.fit_probit(y, X[:3])
except ValueError:
    pass
fitted = quillon.fit_probit(y, X) if case == "CorvidProbitModel" else None
cov = np.eye(3)  # one row too many: ame panics
broken = SimpleNamespace(params=np.zeros(2), cov_params=cov.copy,
                         model=SimpleNamespace(exog=X, exog_names=["a", "b"]))

def first_use():
    if case == "CorvidProbitResults":
        return quillon.fit_probit(y, X)
    if case == "CorvidProbitModel":
        return fitted.model
    try:
        quillon.ame(broken)
    except BaseException as e:
        return e

got = {}
def other_thread():
    got["other"] = first_use()

armed = False
def switch_threads(phase, info):  # the first collection in the call lets the other thread run
    global armed
    if armed and phase == "start" and threading.current_thread() is threading.main_thread():
        armed = False
        thread = threading.Thread(target=other_thread)
        thread.start()
        thread.join()

gc.set_threshold(1)
gc.collect()  # with no callback yet, which would leave objects behind and so collect early
gc.callbacks.append(switch_threads)
armed = True  # from here to the first use, no Python frame that would collect first
if case == "CorvidProbitResults":
    got["main"] = quillon.fit_probit(y, X)
elif case == "CorvidProbitModel":
    got["main"] = fitted.model
else:
    try:
        quillon.ame(broken)
    except BaseException as e:
        got["main"] = e
gc.set_threshold(700)
assert armed is False and "other" in got, "the collection never came"
a, b = got["main"], got["other"]
assert type(a) is type(b), (type(a), type(b))
if case != "PanicException":
    read = ["params", "loglike", "model"] if case == "CorvidProbitResults" else ["exog", "exog_names"]
    for obj in (a, b):
        for name in read:
            getattr(obj, name)
print("ok")
"""


@pytest.mark.parametrize("case", ["CorvidProbitResults", "CorvidProbitModel", "PanicException"])
def test_type_made_on_first_use_is_one_type_when_threads_race(case):
    """A garbage-collection callback lets a second thread make the same first
    use while the first thread is creating the type."""
    if sys.version_info >= (3, 12):
        pytest.skip("since CPython 3.12 a collection waits for the next bytecode, not inside C")
    child = run_child(RACE, case)
    assert child.stdout.strip() == "ok", child.stderr


SUBINTERPRETER = r"""
import sys
try:
    import _interpreters as interpreters  # CPython 3.13
except ImportError:
    import _xxsubinterpreters as interpreters

config, order = sys.argv[1:]

def import_in_subinterpreter():
    sub = interpreters.create(config) if sys.version_info >= (3, 13) else interpreters.create()
    try:
        failure = interpreters.run_string(sub, "import quillon")
        return failure.formatted if failure else "imported"
    except Exception as e:  # before 3.13 a failure raises
        return str(e)
    finally:
        interpreters.destroy(sub)

if order == "main first":
    import quillon
print(import_in_subinterpreter().splitlines()[-1])
import numpy as np
import quillon
print(quillon.fit_probit(np.array([0.0, 1.0, 1.0]), np.array([[1.0], [1.0], [1.0]])).converged)
"""


@pytest.mark.parametrize("order", ["subinterpreter first", "main first"])
@pytest.mark.parametrize("config", ["isolated", "legacy"])
def test_subinterpreter_is_refused_and_main_still_imports(config, order):
    if config == "isolated" and sys.version_info < (3, 13):
        pytest.skip("isolated sub-interpreters are configurable from Python since CPython 3.13")
    child = run_child(SUBINTERPRETER, config, order)
    sub, main = child.stdout.splitlines() or ["", ""]
    assert "ImportError" in sub, child.stderr
    assert main == "True", child.stderr
