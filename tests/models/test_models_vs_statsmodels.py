"""Fits, covariances and marginal effects against statsmodels' own, on real
data, for every covariance type."""

import numpy as np
import pytest

import quillon_models as qm

from model_cases import CASES, by_name, canonical, frames, statsmodels_fit  # noqa: F401

COVARIANCES = ["nonrobust", "HC0", "HC1", "cluster"]


def fit_both(frames, name, cov_type, use_correction=True):
    _, formula, cluster = CASES[name]
    data = frames(name)
    ours_kwds = theirs_kwds = None
    if cov_type == "cluster":
        ours_kwds = {"groups": cluster, "use_correction": use_correction}
        complete = data.dropna(subset=qm.probit(formula, data).model_spec.variables & set(data))
        theirs_kwds = {"groups": complete[cluster].to_numpy(), "use_correction": use_correction}
    ours = qm.probit(formula, data).fit(cov_type=cov_type, cov_kwds=ours_kwds)
    # statsmodels' probit returns HC0 for every HCx; HC1 is HC0 times n/(n-k).
    theirs = statsmodels_fit(formula, data, cov_type="HC0" if cov_type == "HC1" else cov_type,
                             cov_kwds=theirs_kwds)
    return ours, theirs


@pytest.mark.parametrize("name, cov_type", [(name, cov_type) for name in sorted(CASES)
                                             for cov_type in COVARIANCES
                                             if cov_type != "cluster" or CASES[name][2]])
def test_fit_matches_statsmodels(frames, name, cov_type):
    ours, theirs = fit_both(frames, name, cov_type)
    factor = ours.nobs / ours.df_resid if cov_type == "HC1" else 1.0
    assert ours.converged and ours.nobs == theirs.nobs
    np.testing.assert_allclose(ours.params, by_name(ours.params, theirs.params), rtol=1e-6,
                               atol=1e-10)
    np.testing.assert_allclose(ours.cov_params(), by_name(ours.cov_params(), theirs.cov_params())
                               * factor, rtol=1e-5, atol=1e-14)
    np.testing.assert_allclose(ours.pvalues, by_name(ours.params, theirs.pvalues) if
                               cov_type != "HC1" else ours.pvalues, rtol=1e-4, atol=1e-12)
    for statistic in ("llf", "llnull", "prsquared", "llr", "llr_pvalue", "df_model", "df_resid"):
        assert getattr(ours, statistic) == pytest.approx(getattr(theirs, statistic), rel=1e-6,
                                                         abs=1e-300), statistic
    ci = ours.conf_int(0.1)
    np.testing.assert_allclose(ci[0] - ours.params, -(ci[1] - ours.params), rtol=1e-12)


@pytest.mark.parametrize("cov_type", ["nonrobust", "cluster"])
@pytest.mark.parametrize("name", ["admissions", "fair", "modechoice"])
def test_margins_match_statsmodels(frames, name, cov_type):
    ours, theirs = fit_both(frames, name, cov_type)
    mine = ours.get_margeff(dummy=True).summary_frame(alpha=0.1)
    reference = theirs.get_margeff(dummy=True).summary_frame(alpha=0.1)
    assert list(mine.columns) == list(reference.columns)
    np.testing.assert_allclose(mine.to_numpy(), reference.loc[by_name_index(mine, reference)]
                               .to_numpy(), rtol=1e-5, atol=1e-10)
    # a variable that is one plain column has the same effect both ways
    table = ours.ame(alpha=0.1).xs("dY/dX", level="contrast")
    plain = [n for n in table.index if n in mine.index]
    assert plain
    np.testing.assert_allclose(table.loc[plain].iloc[:, -2:], mine.loc[plain].iloc[:, -2:],
                               rtol=1e-10)


def by_name_index(ours, theirs):
    key = {canonical(n): n for n in theirs.index}
    return [key[canonical(n)] for n in ours.index]


def test_two_way_clusters_match_statsmodels(mroz):
    formula = "inlf ~ educ + exper + age + kidslt6"
    data = mroz.dropna(subset=["inlf", "educ", "exper", "age", "kidslt6"])
    for correction in (True, False):
        ours = qm.probit(formula, data).fit(
            cov_type="cluster", cov_kwds={"groups": ["unem", "city"], "use_correction": correction})
        theirs = statsmodels_fit(formula, data, cov_type="cluster", cov_kwds={
            "groups": data[["unem", "city"]].to_numpy(), "use_correction": correction})
        np.testing.assert_allclose(ours.cov_params(), by_name(ours.cov_params(),
                                                              theirs.cov_params()), rtol=1e-5)
        assert ours.cov_kwds["n_groups"] == (7, 2)


def test_arrays_match_statsmodels_and_formula(frames):
    data = frames("spector")
    exog = data[["GPA", "TUCE", "PSI"]].assign(const=1.0)
    ours = qm.Probit(data["GRADE"], exog).fit(cov_type="HC0")
    import statsmodels.api as sm

    theirs = sm.Probit(data["GRADE"], exog).fit(disp=0, cov_type="HC0")
    np.testing.assert_allclose(ours.bse, theirs.bse, rtol=1e-6)
    np.testing.assert_allclose(ours.get_margeff(dummy=True).margeff,
                               theirs.get_margeff(dummy=True).margeff, rtol=1e-6)
    assert list(ours.ame().index) == [("GPA", "dY/dX"), ("TUCE", "dY/dX"), ("PSI", "1 - 0")]
