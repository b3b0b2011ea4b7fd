"""Ctrl-C during a long call: the call ends with the signal handler's exception
within a second, wherever it is in its loops. Each case runs in a child
interpreter, which the test signals one second into the call."""

import signal
import time

import pytest

from conftest import start_child

CHILD = r"""
import signal, sys, time
from types import SimpleNamespace
import numpy as np
from quillon import ame, fit_probit

case = sys.argv[1]
rng = np.random.default_rng(0)
X = np.column_stack([np.ones(50), rng.normal(size=50)])
y = (X @ [0.2, 0.8] + rng.normal(size=50) > 0).astype(float)
if case == "newton passes":
    call = lambda: fit_probit(y, X, max_iter=2**64 - 1, tol=0.0)
elif case == "front door on threads":
    import quillon_models as qm
    big = np.repeat(X, 8000, axis=0)  # several blocks of rows
    call = lambda: qm.Probit(np.repeat(y, 8000), big).fit(maxiter=2**62, tol=0.0, n_jobs=2)
else:  # 2**40 rows that share one row of memory: a loop without end in practice
    row = [1.0, 0.0] if case == "ame, 0/1 search" else [0.5, -0.5]
    exog = np.lib.stride_tricks.as_strided(np.array(row), (2**40, 2), (0, 8))
    fitted = SimpleNamespace(params=np.array([0.1, 0.2]), cov_params=lambda: np.eye(2),
                             model=SimpleNamespace(exog=exog, exog_names=["a", "b"]))
    call = lambda: ame(fitted)
if case == "ame, the handler frees exog":
    empty = np.empty(0).__reduce__()[2]
    signal.signal(signal.SIGINT, lambda *_: exog.__setstate__(empty))
print("calling", flush=True)
try:
    call()
    print("returned")
except BaseException as e:
    print(type(e).__name__, repr(time.time()))
"""


@pytest.mark.parametrize("case, raised", [("newton passes", "KeyboardInterrupt"),
                                          ("front door on threads", "KeyboardInterrupt"),
                                          ("ame rows", "KeyboardInterrupt"),
                                          ("ame, 0/1 search", "KeyboardInterrupt"),
                                          ("ame, the handler frees exog", "RuntimeError")])
def test_sigint_ends_a_long_call_within_a_second(case, raised):
    child = start_child(CHILD, case)
    try:
        assert child.stdout.readline() == "calling\n", child.stderr.read()
        time.sleep(1.0)
        sent = time.time()
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=60)
    finally:
        child.kill()
    name, when = out.split()
    assert name == raised, err
    assert float(when) - sent < 1.0
