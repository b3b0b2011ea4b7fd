"""Warnings of a fit: not converged, singular Hessian, separation."""

import warnings

import numpy as np
import pandas as pd
import pytest

import quillon_models as qm


def fit_quietly(model, **options):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        result = model.fit(**options)
    return result, [w.category for w in caught]


def test_clean_fit_warns_nothing(admissions):
    _, caught = fit_quietly(qm.probit("admit ~ gre + gpa + C(rank)", admissions))
    assert caught == []


def test_singular_hessian(admissions):
    data = admissions.assign(zero=0.0, twice=2 * admissions["gpa"])
    for formula in ("admit ~ gre + gpa + zero", "admit ~ gre + gpa + twice"):
        for cov_type in ("nonrobust", "HC0"):
            result, caught = fit_quietly(qm.probit(formula, data), cov_type=cov_type)
            assert qm.HessianInversionWarning in caught and not result.converged


def test_not_converged(admissions):
    _, caught = fit_quietly(qm.probit("admit ~ gre + gpa", admissions), maxiter=2)
    assert caught == [qm.ConvergenceWarning]


@pytest.mark.parametrize("share", [1.0, 0.2])
def test_perfect_and_quasi_separation(share):
    rng = np.random.default_rng(3)
    x = rng.normal(size=200)
    y = (x > 0).astype(float)
    mixed = rng.random(200) > share
    y[mixed] = rng.random(mixed.sum()) < 0.5
    data = pd.DataFrame({"y": y, "x": x, "separates": np.where(x > 0, x, 0.0) * (~mixed)})
    with pytest.warns(qm.PerfectSeparationWarning, match="observations"):
        qm.probit("y ~ x" if share == 1.0 else "y ~ x + separates", data).fit()
