"""get_margeff with statsmodels' options and defaults, against statsmodels'
own get_margeff on the same estimates (to_statsmodels), within 1e-8."""

import warnings

import numpy as np
import pytest

import quillon_models as qm
import quillon_models.column_margins  # noqa: F401  (its once-per-formula record)

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
        assert list(mine.columns) == list(reference.columns), options


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


@pytest.mark.parametrize("formula, warned", [
    ("admit ~ gre + gpa + C(rank)", True),  # patsy puts C(rank) before gre
    ("admit ~ C(rank) + gre + gpa", False),  # the same order in both
])
def test_atexog_by_name_and_positions_warned_where_patsy_differs(admissions, monkeypatch,
                                                                 formula, warned):
    smf = pytest.importorskip("statsmodels.formula.api")
    monkeypatch.setattr(qm.column_margins, "_WARNED_ORDER", set())
    ours = qm.probit(formula, admissions).fit()
    theirs = smf.probit(formula, admissions).fit(disp=0)
    assert theirs.model.exog_names[1] == "C(rank)[T.2]"
    expected = theirs.get_margeff(atexog={1: 1.0}).summary_frame()
    mine = ours.get_margeff(atexog={"C(rank)[T.2]": 1.0}).summary_frame()
    np.testing.assert_allclose(mine.loc[expected.index].to_numpy(), expected.to_numpy(),
                               rtol=1e-6)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        ours.get_margeff(atexog={1: 1.0})
        ours.get_margeff(atexog={1: 1.0})  # once per formula
    said = [str(w.message) for w in caught if issubclass(w.category, qm.ModelWarning)]
    assert len(said) == warned and all("give column names as keys" in m for m in said)
    with pytest.raises(ValueError, match="'rank' is not a column of the design"):
        ours.get_margeff(atexog={"rank": 1.0})
