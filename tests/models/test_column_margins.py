"""get_margeff with statsmodels' options and defaults, against statsmodels'
own get_margeff on the same estimates (to_statsmodels), within 1e-8."""

import numpy as np
import pytest

import quillon_models as qm

from model_cases import CASES, frames  # noqa: F401

OPTIONS = [dict(), dict(dummy=True), dict(count=True), dict(dummy=True, count=True),
           dict(method="eyex"), dict(method="dyex"), dict(method="eydx", dummy=True, count=True),
           dict(at="mean", dummy=True, count=True), dict(at="mean", method="eydx", dummy=True),
           dict(at="median"), dict(at="zero", method="dyex"),
           dict(atexog={1: 3.0}, dummy=True), dict(at="mean", atexog={2: 1.0})]


@pytest.mark.parametrize("name", ["spector", "fair", "admissions"])
def test_get_margeff_matches_statsmodels(frames, name):
    _, formula, _ = CASES[name]
    ours = qm.probit(formula, frames(name)).fit(cov_type="HC0")
    theirs = ours.to_statsmodels()
    for options in OPTIONS:
        mine = ours.get_margeff(**options).summary_frame()
        reference = theirs.get_margeff(**options).summary_frame()
        np.testing.assert_allclose(mine.to_numpy(), reference.to_numpy(), rtol=1e-8, atol=1e-12,
                                   err_msg=str(options))
        assert list(mine.index) == [str(n) for n in reference.index]


@pytest.mark.parametrize("options, error, match", [
    (dict(at="somewhere"), ValueError, "at"), (dict(method="dxdy"), ValueError, "method"),
    (dict(method="eyex", dummy=True), ValueError, "method"),
    (dict(at="zero", count=True), ValueError, "at"), (dict(at="all"), NotImplementedError, "all"),
    (dict(atexog=[1.0]), TypeError, "atexog"), (dict(atexog={9: 1.0}), ValueError, "atexog"),
])
def test_get_margeff_refusals(admissions, options, error, match):
    res = qm.probit("admit ~ gre + gpa + C(rank)", admissions).fit()
    with pytest.raises(error, match=match):
        res.get_margeff(**options)
