"""Repeated calls, successful and failing, release everything they allocate
and leave the reference counts of their inputs as they found them."""

import gc
import sys

import numpy as np
import pytest

from conftest import run_child
from quillon import fit_probit

@pytest.fixture(scope="module")
def inputs():
    # large enough that leaking one copy of an input per call shows clearly
    rng = np.random.default_rng(3)
    X = np.column_stack([np.ones(600), rng.normal(size=(600, 2)), rng.random(600) < 0.4])
    y = (X @ [0.2, 0.8, -0.5, 0.6] + rng.normal(size=600) > 0).astype(float)
    groups = (np.arange(len(y)) % 37.0)[:, None]
    return {
        "y": y,
        "X": np.asfortranarray(X),
        "X_rev": X[::-1],
        "y_col": y[:, None],
        "y_wide": np.column_stack([y, y]),
        "g": groups,
        "g_short": groups[:-1],
        "X_int": X.astype(np.int64),
        "big": 10**30,
        "one": np.int64(1),
        "strange": np.bool_(True),
        "tiny": np.float64(1e-9),
    }


def calls(v):
    """Ten calls: five that succeed, five that fail in different places."""
    y, X = v["y"], v["X"]
    r = fit_probit(y, X, v["one"], v["tiny"])
    r.params, r.cov_params(), r.loglike, r.model.exog_names, r.model.endog
    fit_probit(v["y_col"], v["X_rev"], robust=True)
    fit_probit(y, X, robust=True, cluster_vars=v["g"]).model
    fit_probit(y, X, max_iter=3, robust=False, cluster_vars=v["g_short"])
    fit_probit(y, X[:, :1], max_iter=0)
    failing = [
        lambda: fit_probit(y, v["X_int"]),                                   # exog check
        lambda: fit_probit(y, X, max_iter=v["big"]),                         # overflow
        lambda: fit_probit(y, X, robust=v["strange"]),                       # robust type
        lambda: fit_probit(v["y_wide"], X),                                     # endog shape
        lambda: fit_probit(y, X, max_iter=2, robust=True, cluster_vars=v["g_short"]),  # after fit
    ]
    for call in failing:
        try:
            call()
        except (TypeError, ValueError, OverflowError):
            pass
        else:
            raise AssertionError("call did not fail")


def test_memory_and_references_stay_flat(inputs, resident_bytes):
    counts = {k: sys.getrefcount(v) for k, v in inputs.items()}
    for _ in range(100):  # warm-up: type objects, NumPy interface, allocator pools
        calls(inputs)
    gc.collect()
    before = resident_bytes() if resident_bytes else 0
    for _ in range(1000):
        calls(inputs)
    gc.collect()
    if resident_bytes:
        growth = resident_bytes() - before
        assert growth < 20 * 2**20, f"resident memory grew by {growth / 2**20:.1f} MiB"
    assert {k: sys.getrefcount(v) for k, v in inputs.items()} == counts


UNALIGNED_PEAKS = r"""
import resource
from types import SimpleNamespace
import numpy as np
import pandas  # imported by ame's first call otherwise, counted against it
from quillon import ame, fit_probit

def peak():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024

n, k = 400_000, 10
rng = np.random.default_rng(1)
X = np.empty(n * k * 8 + 1, np.uint8)[1:].view(np.float64).reshape(n, k)  # rows 1 byte off
assert not X.flags.aligned
X[:, 0] = 1.0
for j in range(1, k):  # a column at a time: no temporary as large as X
    X[:, j] = rng.normal(size=n)
y = (X[:, 1] + rng.normal(size=n) > 0) * 1.0
model = SimpleNamespace(params=np.full(k, 0.1), cov_params=lambda: np.eye(k),
                        model=SimpleNamespace(exog=X, exog_names=[f"x{j}" for j in range(k)]))
before = peak()
ame(model)
after_ame = peak()
fit_probit(y, X)
print((after_ame - before) / X.nbytes, (peak() - before) / X.nbytes)
"""


def test_unaligned_exog_is_read_in_place(resident_bytes):
    """ame reads an unaligned exog in place, and the fit copies it once."""
    if resident_bytes is None:
        pytest.skip("resident size says nothing here")
    child = run_child(UNALIGNED_PEAKS)
    assert child.returncode == 0, child.stderr
    ame_growth, fit_growth = map(float, child.stdout.split())
    assert ame_growth < 0.25
    assert fit_growth < 1.5
