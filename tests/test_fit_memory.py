"""Repeated calls, successful and failing, release everything they allocate
and leave the reference counts of their inputs as they found them."""

import gc
import sys

import numpy as np
import pytest

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
