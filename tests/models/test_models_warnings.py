"""Warnings of a fit: not converged, singular Hessian, separation."""

import re
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


@pytest.mark.parametrize("formula, omitted", [
    ("admit ~ gre + gpa + zero", {"zero": "empty"}),
    ("admit ~ gre + gpa + twice", {"twice": "collinear"}),
    # top is the first rank's dummy, a combination of the constant and the
    # others; its interactions with the other ranks are all zero
    ("admit ~ C(rank) + top + C(rank):top", {
        "top": "collinear", "C(rank)[T.2]:top": "empty", "C(rank)[T.3]:top": "empty",
        "C(rank)[T.4]:top": "empty"}),
])
def test_collinear_columns_omitted_or_refused(admissions, formula, omitted):
    """Left out, each with its reason: a column zero on every fitted row is
    not called collinear."""
    data = admissions.assign(zero=0.0, twice=2 * admissions["gpa"] + 1e-9,
                             top=(admissions["rank"] == 1).astype(float))
    said = {"collinear": "omitted because of collinearity",
            "empty": "omitted: zero on every fitted row"}
    for cov_type in ("nonrobust", "HC0"):
        result, caught = fit_quietly(qm.probit(formula, data), cov_type=cov_type)
        assert caught == [qm.CollinearityWarning] and result.converged
        assert result.omitted_reasons == omitted and result.params[list(omitted)].isna().all()
        assert result.bse.drop(list(omitted)).notna().all() and result.df_model == (
            len(result.params) - len(omitted) - 1)
        text = str(result.summary())
        for name, why in omitted.items():
            assert re.search(rf"{re.escape(name)}(, \S+)* {said[why]}", text)
            assert re.search(rf"\n{re.escape(name)} +\(omitted\) *\n", text)
    omitted = list(omitted)
    reference = qm.probit(formula.replace(" + zero", "").replace(" + twice", ""), data)
    if "zero" in formula or "twice" in formula:
        np.testing.assert_allclose(result.params.drop(omitted), reference.fit().params,
                                   rtol=1e-12)
    with pytest.raises(ValueError, match=f"{omitted[0]}.*linear combination"):
        qm.probit(formula, data).fit(collinear="raise")


def test_near_collinearity_is_fitted(admissions):
    rng = np.random.default_rng(1)
    data = admissions.assign(close=admissions["gpa"] + 1e-4 * rng.normal(size=400))
    result, caught = fit_quietly(qm.probit("admit ~ gpa + close", data))
    assert caught == [] and result.omitted == [] and result.converged


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
