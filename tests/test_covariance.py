"""Estimates and covariance matrices checked against statsmodels on seeded
designs and on real data, published estimates, and the cluster-robust path."""

import contextlib
import io
import warnings

import numpy as np
import pandas as pd
import pytest

from quillon import fit_probit

sm = pytest.importorskip("statsmodels.api")

REL = 1e-8


def assert_close(actual, expected, rtol=REL):
    """Relative agreement, measured against the largest entry for near-zero ones."""
    expected = np.asarray(expected)
    atol = rtol * np.abs(expected).max() if expected.size else 0.0
    np.testing.assert_allclose(actual, expected, rtol=rtol, atol=atol)


def sm_fit(y, X, **cov):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return sm.Probit(y, X).fit(method="newton", disp=0, **cov)


def sm_cluster(y, X, groups):
    return sm_fit(y, X, cov_type="cluster", cov_kwds={"groups": groups, "use_correction": False})


def plain_sandwich(y, X, groups):
    """(A M) A from statsmodels' own score and Hessian, with no small-sample factor."""
    model = sm.Probit(y, X)
    params = sm_fit(y, X).params
    A = -np.linalg.inv(model.hessian(params))
    S = model.score_obs(params)
    U = np.array([S[groups == g].sum(axis=0) for g in np.unique(groups)])
    return A @ (U.T @ U) @ A


def seeded(kind, n, seed):
    rng = np.random.default_rng(seed)
    const = np.ones(n)
    if kind == "constant":
        X = const[:, None]
        beta = [0.4]
    elif kind == "continuous":
        X = np.column_stack([const, rng.normal(size=n), rng.gamma(2.0, size=n)])
        beta = [-0.5, 0.7, 0.3]
    else:  # dummies
        X = np.column_stack(
            [const, rng.random(n) < 0.3, rng.random(n) < 0.6, rng.normal(size=n)]
        ).astype(float)
        beta = [0.2, -0.8, 0.5, 0.4]
    y = (X @ beta + rng.normal(size=n) > 0).astype(float)
    groups = rng.integers(0, max(3, n // 15), size=n)
    return y, X, groups


def admissions_design(df, rank_as_factor):
    cols = [np.ones(len(df)), df["gre"], df["gpa"]]
    if rank_as_factor:
        cols += [df["rank"] == r for r in (2, 3, 4)]
    else:
        cols.append(df["rank"])
    return df["admit"].to_numpy(float), np.column_stack(cols).astype(float)


DESIGNS = [("constant", 150, 1), ("continuous", 300, 2), ("dummies", 500, 3), ("dummies", 60, 4)]


@pytest.fixture(params=DESIGNS + ["admissions factor", "admissions numeric"], ids=str)
def data(request, admissions):
    if isinstance(request.param, tuple):
        return seeded(*request.param)
    y, X = admissions_design(admissions, request.param.endswith("factor"))
    return y, X, admissions["gre"].to_numpy()


def test_classical_fit_matches_statsmodels(data):
    y, X, _ = data
    r, ref = fit_probit(y, X), sm_fit(y, X)
    assert r.converged
    assert_close(r.params, ref.params)
    assert r.loglike == pytest.approx(ref.llf, rel=REL)
    assert_close(r.cov_params(), ref.cov_params())


def test_robust_matches_hc0(data):
    y, X, _ = data
    r = fit_probit(y, X, robust=True)
    assert_close(r.cov_params(), sm_fit(y, X, cov_type="HC0").cov_params())
    np.testing.assert_array_equal(fit_probit(y, X, robust=True, cluster_vars=None).cov_params(),
                                  r.cov_params())
    assert_close(r.params, fit_probit(y, X).params, rtol=0)


def test_cluster_robust_matches_uncorrected_statsmodels(data):
    y, X, groups = data
    ref = sm_cluster(y, X, groups).cov_params()
    # without its correction statsmodels gives exactly the plain sandwich
    assert_close(ref, plain_sandwich(y, X, groups), rtol=1e-12)
    g = groups.astype(float)[:, None]
    V = fit_probit(y, X, robust=True, cluster_vars=g).cov_params()
    assert_close(V, ref)
    # clusters are summed in a fixed order: repeated fits agree to the last bit
    np.testing.assert_array_equal(fit_probit(y, X, robust=True, cluster_vars=g).cov_params(), V)


def test_published_admissions_estimates(admissions):
    """UCLA IDRE probit example, rank as a factor (R glm output, 6 decimals).
    R stops its iterations at a deviance tolerance, so the last digit may be
    one unit off the fully converged value."""
    y, X = admissions_design(admissions, rank_as_factor=True)
    published = [-2.386836, 0.001376, 0.477730, -0.415399, -0.812138, -0.935899]
    r = fit_probit(y, X)
    np.testing.assert_allclose(r.params, published, rtol=0, atol=1.5e-6)
    np.testing.assert_array_equal(np.round(r.params[1:], 6), published[1:])


def test_published_mroz_estimates(mroz):
    """Labour-force participation probit of Wooldridge's textbook (Table 17.1)."""
    cols = ["nwifeinc", "educ", "exper", "expersq", "age", "kidslt6", "kidsge6"]
    X = np.column_stack([mroz[cols].to_numpy(float), np.ones(len(mroz))])
    r = fit_probit(mroz["inlf"].to_numpy(float), X)
    published = [-0.012, 0.131, 0.123, -0.0019, -0.053, -0.868, 0.036, 0.270]
    decimals = [3, 3, 3, 4, 3, 3, 3, 3]
    assert [round(b, d) for b, d in zip(r.params, decimals)] == published
    assert round(r.loglike, 2) == -401.30


# --- cluster variables -------------------------------------------------------------


@pytest.fixture
def small():
    y, X, groups = seeded("continuous", 100, 7)
    return y, X, groups.astype(float)[:, None]


@pytest.mark.parametrize(
    "clusters, message",
    [
        (lambda g: g[:, 0], "'ndarray' object cannot be converted to 'PyArray<T, D>'"),
        (lambda g: g.tolist(), "'list' object cannot be converted to 'PyArray<T, D>'"),
        (lambda g: g.astype(np.int64), "'ndarray' object cannot be converted to 'PyArray<T, D>'"),
        (lambda g: g[:, :, None], "'ndarray' object cannot be converted to 'PyArray<T, D>'"),
        (lambda g: "abc", "'str' object cannot be converted to 'PyArray<T, D>'"),
    ],
)
def test_cluster_vars_refused(small, clusters, message):
    y, X, g = small
    with pytest.raises(TypeError) as info:
        fit_probit(y, X, robust=True, cluster_vars=clusters(g))
    assert type(info.value) is TypeError
    assert str(info.value) == message


@pytest.mark.parametrize("rows", [99, 101, 0])
def test_cluster_rows_must_match_the_outcome(small, rows):
    y, X, _ = small
    with pytest.raises(ValueError) as info:
        fit_probit(y, X, robust=True, cluster_vars=np.zeros((rows, 1)))
    assert str(info.value) == f"cluster shape mismatch. got {rows} rows, nobs=100"


def test_exog_rows_are_checked_before_cluster_rows(small):
    y, X, g = small
    X_long = np.vstack([X, np.ones((3, X.shape[1]))])
    for clusters in (g, np.zeros((103, 1))):
        with pytest.raises(ValueError, match=r"^exog has 103 rows but endog has 100 elements"):
            fit_probit(y, X_long, robust=True, cluster_vars=clusters)


def test_singleton_clusters_equal_robust(small):
    y, X, _ = small
    ids = np.arange(len(y), dtype=float)[:, None]
    assert_close(
        fit_probit(y, X, robust=True, cluster_vars=ids).cov_params(),
        fit_probit(y, X, robust=True).cov_params(),
        rtol=1e-13,
    )


@pytest.mark.parametrize("width", [0, 1, 3])
def test_one_cluster_gives_a_near_zero_covariance(small, width):
    y, X, _ = small
    V = fit_probit(y, X, robust=True, cluster_vars=np.full((len(y), width), 2.5)).cov_params()
    scale = np.abs(fit_probit(y, X, robust=True).cov_params()).max()
    assert np.abs(V).max() < 1e-8 * scale


KEY_VALUES = [
    1.00001, 1.00002, 1.00004, 1.00005, 2.00005, 0.0, -0.0, -0.00001, 0.03125, 0.0312,
    0.09375, 0.0938, np.nan, np.inf, -np.inf, 1e20, 1e20 + 2**20, 1e-7, 17.0, -3.5,
]


def test_clusters_are_rows_rendered_to_four_decimals(small):
    """A cluster is a distinct combination of the row's values at four decimals."""
    y, X, _ = small
    rng = np.random.default_rng(5)
    C = rng.choice(KEY_VALUES, size=(len(y), 2))
    keys = ["|".join(f"{v:.4f}" for v in row) for row in C]
    r = fit_probit(y, X, robust=True, cluster_vars=C)
    assert_close(r.cov_params(), sm_cluster(y, X, pd.factorize(pd.Index(keys))[0]).cov_params())


@pytest.mark.parametrize(
    "a, b, same",
    [(1.00001, 1.00002, True), (1.00004, 1.00005, False), (0.0, -0.0, False),
     (np.nan, np.nan, True)],
)
def test_cluster_key_equality(small, a, b, same):
    y, X, g = small
    C = g + 10.0  # keep the first half's ids clear of a and b
    C[50:75], C[75:] = a, b
    merged = C.copy()
    merged[75:] = a
    V = fit_probit(y, X, robust=True, cluster_vars=C).cov_params()
    W = fit_probit(y, X, robust=True, cluster_vars=merged).cov_params()
    assert np.allclose(V, W, rtol=1e-13, atol=0) == same


# --- singular Hessian --------------------------------------------------------------


def test_zero_column_falls_back_to_identity(capfd):
    y, X, groups = seeded("continuous", 80, 9)
    X = np.column_stack([X, np.zeros(len(y))])
    k = X.shape[1]
    classical = fit_probit(y, X)
    assert capfd.readouterr() == (
        "",
        "Hessian near singular at iteration 0\nHessian singular => using identity for Cov\n",
    )
    assert (classical.iterations, classical.converged) == (0, False)
    np.testing.assert_array_equal(classical.params, np.zeros(k))
    np.testing.assert_array_equal(classical.cov_params(), np.eye(k))
    # robust: with A the identity the covariance is the middle factor itself, taken at beta = 0
    lam = (2 * y - 1) * 2 / np.sqrt(2 * np.pi)
    S = lam[:, None] * X
    assert_close(fit_probit(y, X, robust=True).cov_params(), S.T @ S, rtol=1e-13)
    g = groups.astype(float)
    U = np.array([S[g == v].sum(axis=0) for v in np.unique(g)])
    clustered = fit_probit(y, X, robust=True, cluster_vars=g[:, None]).cov_params()
    assert_close(clustered, U.T @ U, rtol=1e-13)
    capfd.readouterr()


def test_diagnostics_bypass_sys_stderr_and_precede_cluster_errors(capfd):
    y, X, _ = seeded("continuous", 80, 9)
    X[:, 2] = 0.0
    redirected = io.StringIO()
    with contextlib.redirect_stderr(redirected), pytest.raises(ValueError, match="79 rows, nobs=80"):
        fit_probit(y, X, robust=True, cluster_vars=np.zeros((79, 1)))
    assert redirected.getvalue() == ""
    err = capfd.readouterr().err
    assert err == "Hessian near singular at iteration 0\nHessian singular => using identity for Cov\n"
