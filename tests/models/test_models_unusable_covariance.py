"""Covariances with variances that are not positive: NaN standard errors with
a warning naming the terms, for the estimates and the marginal effects as
statsmodels shows them; and the clustered covariance clipped to positive
semi-definite on request."""

import warnings

import numpy as np
import pytest

import quillon_models as qm
from model_cases import by_name, statsmodels_fit
from quillon_models.covariance import clip_psd, parse_cov_options

FORMULA = "inlf ~ nwifeinc + educ + exper + I(exper**2) + age + kidslt6 + kidsge6"
TWO_WAY = {"groups": ["unem", "city"]}


def recorded(call):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        value = call()
    return value, [w for w in caught if issubclass(w.category, qm.CovarianceWarning)]


@pytest.fixture(scope="module")
def two_way(mroz):
    """Two-way clusters on mroz whose covariance has negative variances."""
    return qm.probit(FORMULA, mroz).fit(cov_type="cluster", cov_kwds=TWO_WAY)


def test_negative_variances_are_nan_as_in_statsmodels(mroz, two_way):
    theirs = statsmodels_fit(FORMULA, mroz, cov_type="cluster",
                             cov_kwds={"groups": mroz[["unem", "city"]].to_numpy()})
    bse, caught = recorded(lambda: two_way.bse)
    negative = np.diag(two_way.cov_params()) < 0
    assert 0 < negative.sum() < len(negative)
    np.testing.assert_array_equal(np.isnan(bse), np.isnan(by_name(bse, theirs.bse)))
    assert np.isnan(bse[negative]).all() and len(caught) == 1
    assert all(name in str(caught[0].message) for name in bse.index[negative])
    assert "psd" in str(caught[0].message) and caught[0].filename == __file__
    interval = two_way.conf_int()
    for values in (two_way.tvalues, two_way.pvalues, interval[0], interval[1]):
        np.testing.assert_array_equal(np.isnan(values), negative)
    assert str(two_way.summary()).count(" nan ") >= negative.sum()

    # effects of variables under a covariance with no positive direction
    negated = qm.ProbitResults(two_way.params, -two_way.cov_params(), two_way.llf,
                               two_way.nobs, model=two_way.model)
    table, caught = recorded(negated.ame)
    assert len(caught) == 1 and caught[0].filename == __file__
    for column in ["Std. Err", "z", "Pr(>|z|)", "[0.025", "0.975]"]:
        assert table[column].isna().all()
    # statsmodels' per-column effects: NaN where statsmodels has NaN
    margins, caught = recorded(lambda: two_way.get_margeff(dummy=True))
    with np.errstate(invalid="ignore"):
        sm_effects = theirs.get_margeff(dummy=True).summary_frame()
    frame = margins.summary_frame()
    np.testing.assert_array_equal(np.isnan(frame["Std. Err."]),
                                  np.isnan(by_name(frame["dy/dx"], sm_effects["Std. Err."])))
    assert frame["Std. Err."].isna().any()
    assert len(caught) == 1 and caught[0].filename == __file__


def test_zero_variance_is_nan_too():
    cov = np.diag([0.04, 0.0, -1e-3])
    bse, caught = recorded(lambda: qm.ProbitResults([0.5, 1.0, 2.0], cov, llf=-9.0, nobs=30,
                                                    llnull=-12.0).bse)
    np.testing.assert_array_equal(bse, [0.2, np.nan, np.nan])
    assert "x2, x3" in str(caught[0].message) and "psd" not in str(caught[0].message)


@pytest.mark.parametrize("reading", [lambda r: r.bse, lambda r: r.summary(),
                                     lambda r: str(r.summary()), lambda r: r.conf_int(),
                                     lambda r: r.pvalues],
                         ids=["bse", "summary", "printed summary", "conf_int", "pvalues"])
def test_the_warning_names_the_callers_line(reading):
    """However the results are read (the summary reads them itself), the
    warning names the line that read them."""
    results = qm.ProbitResults([0.5, 1.0], np.diag([0.04, -1e-3]), llf=-9.0, nobs=30,
                               llnull=-12.0)
    _, caught = recorded(lambda: reading(results))
    assert len(caught) == 1 and caught[0].filename == __file__


def test_clipped_two_way_covariance(mroz, two_way):
    clipped = qm.probit(FORMULA, mroz).fit(cov_type="cluster", cov_kwds={**TWO_WAY, "psd": "clip"})
    bse, caught = recorded(lambda: clipped.bse)
    assert np.isfinite(bse).all() and not caught
    expected = clip_psd(two_way.cov_params())
    np.testing.assert_array_equal(clipped.cov_params(), expected)
    assert np.array_equal(expected, expected.T)
    assert np.linalg.eigvalsh(expected).min() > -1e-12 * np.abs(expected).max()
    # Negative eigenvalues clipped, the others kept: the nearest PSD matrix.
    values = np.linalg.eigvalsh(two_way.cov_params())
    np.testing.assert_allclose(np.linalg.eigvalsh(expected), np.maximum(values, 0.0),
                               atol=1e-12 * values.max())


def test_clip_psd_small_cases():
    np.testing.assert_allclose(clip_psd([[1.0, 2.0], [2.0, 1.0]]), np.full((2, 2), 1.5))
    positive = np.array([[2.0, 0.3], [0.3, 1.0]])
    assert np.array_equal(clip_psd(positive), positive)
    for bad in (np.ones(3), np.ones((2, 3)), [[1.0, np.nan], [np.nan, 1.0]]):
        with pytest.raises(ValueError, match="cov"):
            clip_psd(bad)


@pytest.mark.parametrize("cov_type, kwds, error, message", [
    ("cluster", {"groups": "g", "psd": "nearest"}, ValueError, "psd must be 'clip'"),
    ("HC0", {"psd": "clip"}, ValueError, "takes no cov_kwds"),
    ("cluster", {"groups": "g", "eigen": 1}, NotImplementedError, "'psd'"),
])
def test_psd_option_refused(cov_type, kwds, error, message):
    with pytest.raises(error, match=message):
        parse_cov_options(cov_type, kwds)


def test_summary_says_the_covariance_was_clipped():
    kwds = {"use_correction": True, "n_groups": (7, 2), "psd": "clip"}
    results = qm.ProbitResults([0.1, 0.2], np.eye(2), llf=-5.0, nobs=20, llnull=-6.0,
                               cov_type="cluster", cov_kwds=kwds)
    assert "positive semi-definite by clipping" in str(results.summary())
    assert parse_cov_options("cluster", {"groups": "g", "psd": "clip"}).psd == "clip"
