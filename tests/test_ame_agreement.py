"""ame against statsmodels' average marginal effects (dy/dx over all
observations, discrete change for 0/1 regressors) on seeded and real data,
for results fitted on arrays, on pandas objects and through a formula.

Effects agree to 1e-10 relative; standard errors only to 1e-6, because
statsmodels differentiates the effects numerically."""

from types import SimpleNamespace

import numpy as np
import pandas as pd
import pytest

sm = pytest.importorskip("statsmodels.api")

from quillon import ame  # noqa: E402


def margeff(result):
    mfx = result.get_margeff(at="overall", method="dydx", dummy=True)
    return mfx.margeff, mfx.margeff_se


def assert_agrees(table, result):
    effects, se = margeff(result)
    np.testing.assert_allclose(table["dy/dx"], effects, rtol=1e-10)
    np.testing.assert_allclose(table["Std. Err"], se, rtol=1e-6)


def as_arrays(result):
    """A fitted pandas-based model seen through plain arrays and a name list."""
    return SimpleNamespace(
        params=np.asarray(result.params, dtype=float),
        cov_params=lambda: np.asarray(result.cov_params(), dtype=float),
        model=SimpleNamespace(exog=result.model.exog, exog_names=list(result.model.exog_names)),
    )


def seeded(n, continuous, binary, seed):
    rng = np.random.default_rng(seed)
    X = np.column_stack([rng.normal(scale=1.5, size=(n, continuous)),
                         (rng.random((n, binary)) < rng.uniform(0.2, 0.8, binary)).astype(float)])
    beta = rng.uniform(-0.8, 0.8, continuous + binary)
    y = (X @ beta + 0.3 + rng.normal(size=n) > 0).astype(float)
    return y, X


@pytest.mark.parametrize("n, continuous, binary, seed", [
    (200, 2, 1, 0), (500, 3, 2, 1), (1000, 1, 3, 2), (150, 4, 0, 3),
])
def test_statsmodels_result_object(n, continuous, binary, seed):
    y, X = seeded(n, continuous, binary, seed)
    result = sm.Probit(y, sm.add_constant(X)).fit(method="newton", disp=0)
    table = ame(result)
    assert list(table.index) == result.model.exog_names[1:]  # "const" has no row
    assert_agrees(table, result)


def test_dataframe_design_with_const_column():
    y, X = seeded(400, 2, 2, 7)
    frame = sm.add_constant(pd.DataFrame(X, columns=["age", "income", "urban", "union"]))
    result = sm.Probit(y, frame).fit(method="newton", disp=0)
    table = ame(as_arrays(result))
    assert list(table.index) == ["age", "income", "urban", "union"]
    assert_agrees(table, result)


def test_mroz_participation(mroz):
    regressors = ["nwifeinc", "educ", "exper", "expersq", "age", "kidslt6", "kidsge6"]
    X = sm.add_constant(mroz[regressors].astype(float))
    result = sm.Probit(mroz["inlf"].astype(float), X).fit(method="newton", disp=0)
    table = ame(as_arrays(result))
    assert list(table.index) == regressors
    assert_agrees(table, result)


@pytest.mark.parametrize("how", ["dummies", "formula"])
def test_admissions_fitted_on_pandas(admissions, how):
    if how == "formula":
        smf = pytest.importorskip("statsmodels.formula.api")
        result = smf.probit("admit ~ gre + gpa + C(rank)", data=admissions).fit(disp=0)
    else:
        X = pd.get_dummies(admissions[["gre", "gpa", "rank"]], columns=["rank"],
                           drop_first=True, dtype=float)
        result = sm.Probit(admissions["admit"], sm.add_constant(X)).fit(disp=0)
    table = ame(result)  # params a Series, cov_params() a DataFrame
    mfx = result.get_margeff(at="overall", method="dydx", dummy=True)
    assert list(table.index) == list(mfx.summary_frame().index)
    np.testing.assert_allclose(table["dy/dx"], mfx.margeff, rtol=1e-10)
    np.testing.assert_allclose(table["Std. Err"], mfx.margeff_se, rtol=1e-10)
