"""Fit options: what quillon cannot do is refused, never ignored; cluster
groups of any type are encoded so that distinct groups never share a code."""

import numpy as np
import pandas as pd
import pytest

import quillon_models as qm


@pytest.fixture
def model(admissions):
    return qm.probit("admit ~ gre + gpa + C(rank)", admissions)


@pytest.mark.parametrize("options, error", [
    ({"method": "bfgs"}, NotImplementedError),
    ({"start_params": np.zeros(6)}, NotImplementedError),
    ({"use_t": True}, NotImplementedError),
    ({"callback": print}, NotImplementedError),
    ({"retall": True}, NotImplementedError),
    ({"cov_type": "HC3"}, NotImplementedError),
    ({"cov_type": "HAC", "cov_kwds": {"maxlags": 2}}, NotImplementedError),
    ({"cov_type": "cluster"}, ValueError),
    ({"cov_type": "cluster", "cov_kwds": {"groups": "rank", "df_correction": True}},
     NotImplementedError),
    ({"cov_type": "HC0", "cov_kwds": {"groups": "rank"}}, ValueError),
    ({"cov_type": "cluster", "cov_kwds": {"groups": "nope"}}, ValueError),
    ({"cov_type": "cluster", "cov_kwds": {"groups": np.zeros(399)}}, ValueError),
    ({"cov_type": "cluster", "cov_kwds": {"groups": np.zeros((400, 3))}}, ValueError),
    ({"cov_type": "cluster", "cov_kwds": {"groups": np.zeros(400)}}, ValueError),  # one group
    ({"maxiter": -1}, ValueError),
    ({"maxiter": 2.5}, TypeError),
])
def test_unavailable_options_refused(model, options, error):
    with pytest.raises(error):
        model.fit(**options)


def test_group_types_give_the_same_clusters(admissions, model):
    rank = admissions["rank"]
    reference = model.fit(cov_type="cluster", cov_kwds={"groups": rank.to_numpy()}).cov_params()
    for groups in (rank.astype(str), rank.astype(float) / 3, rank.astype("category"),
                   "rank", ["rank"], rank.to_frame(), rank.map({1: "a", 2: "b", 3: "c", 4: None})
                   .fillna("d")):
        result = model.fit(cov_type="cluster", cov_kwds={"groups": groups})
        np.testing.assert_allclose(result.cov_params(), reference, rtol=1e-13)
        assert result.cov_kwds["n_groups"] == (4,)


def test_groups_that_differ_beyond_four_decimals_stay_apart(model):
    # quillon.fit_probit keys its clusters on values rounded to four decimals;
    # the encoding keeps such groups apart.
    groups = np.where(np.arange(400) % 2 == 0, 1.00001, 1.00002)
    result = model.fit(cov_type="cluster", cov_kwds={"groups": groups, "use_correction": False})
    assert result.cov_kwds["n_groups"] == (2,)
    import quillon

    merged = quillon.fit_probit(model.endog, model.exog, robust=True, cluster_vars=groups[:, None])
    assert np.abs(merged.cov_params()).max() < 1e-6 < np.abs(result.cov_params().to_numpy()).max()


def test_missing_group_refused(admissions, model):
    groups = admissions["rank"].where(admissions.index != 5)
    with pytest.raises(ValueError, match="1 missing"):
        model.fit(cov_type="cluster", cov_kwds={"groups": groups})


def test_hc1_is_hc0_times_textbook_factor(model):
    hc0, hc1 = model.fit(cov_type="HC0"), model.fit(cov_type="hc1")
    assert hc1.cov_type == "HC1"
    np.testing.assert_allclose(hc1.cov_params(), hc0.cov_params() * 400 / 394, rtol=1e-15)
    assert "HC1 is HC0 times n/(n-k)" in str(hc1.summary())


def test_maxiter_and_tol_reach_the_engine(model):
    import quillon

    with pytest.warns(qm.ConvergenceWarning, match="did not converge in 3 Newton passes"):
        result = model.fit(maxiter=3, tol=1e-12)
    engine = quillon.fit_probit(model.endog, model.exog, max_iter=3, tol=1e-12)
    np.testing.assert_allclose(result.params, engine.params, rtol=1e-12, atol=0)
    assert result.iterations == engine.iterations == 2


def test_caller_data_untouched(admissions):
    before = admissions.copy()
    data = admissions.assign(rank=admissions["rank"].astype(str))
    snapshot = data.copy()
    qm.probit("admit ~ gre + C(rank)", data).fit(cov_type="cluster", cov_kwds={"groups": "rank"})
    pd.testing.assert_frame_equal(admissions, before)
    pd.testing.assert_frame_equal(data, snapshot)
