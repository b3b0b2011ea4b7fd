"""The partition kernels on one part holding all rows agree with the
in-memory engine within 1e-12 (their Hessian is mirrored, so exactly
symmetric), and refuse inconsistent parts with Python exceptions."""

import sys
import threading

import numpy as np
import pytest

import quillon
from conftest import make_design

P = pytest.importorskip("quillon_models._kernels")

NAMES = ["const", "x1", "x2", "d"]


class _Model:
    def __init__(self, result, exog):
        self.params = result.params
        self._cov = result.cov_params()
        self.model = type("M", (), {"exog": exog, "exog_names": NAMES})()

    def cov_params(self):
        return self._cov


def relative_gap(a, b):
    a, b = np.asarray(a, dtype=float), np.asarray(b, dtype=float)
    return float(np.max(np.abs(a - b) / np.abs(b)))


def assert_close_table(table, expected):
    """Names and markers of two marginal-effects tables, and their estimates,
    standard errors and z within 1e-12."""
    assert table.index.tolist() == expected.index.tolist()
    assert table["Significance"].tolist() == expected["Significance"].tolist()
    numbers = ["dy/dx", "Std. Err", "z"]
    assert relative_gap(table[numbers], expected[numbers]) < 1e-12


def _fit(y, X):
    return P.newton(lambda b: P.evaluate(y, X, b), X.shape[1], None, None)


@pytest.mark.parametrize("cov", ["nonrobust", "HC0", "cluster"])
def test_one_part_agrees_with_the_engine_within_1e_12(cov):
    y, X = make_design(n=3000, seed=5)
    groups = np.floor(np.linspace(0, 40, len(y), endpoint=False))[::-1].copy()[:, None]
    kwargs = {"nonrobust": {}, "HC0": {"robust": True},
              "cluster": {"robust": True, "cluster_vars": groups}}[cov]
    engine = quillon.fit_probit(y, X, **kwargs)

    params, llf, iterations, converged, hessian = _fit(y, X)
    middle = None
    if cov == "HC0":
        middle = P.score_cross_product(y, X, params)
    elif cov == "cluster":
        codes, sums = P.cluster_sums(y, X, params, groups)
        assert codes[:2].tolist() == [[39.0], [38.0]]  # first seen first
        middle = P.cluster_cross_product(sums)
    cov_params, usable = P.covariance(hessian, params, middle)

    assert np.array_equal(hessian, hessian.T)
    assert relative_gap(params, engine.params) < 1e-12
    assert relative_gap(llf, engine.loglike) < 1e-12
    assert (iterations, converged and usable) == (engine.iterations, engine.converged)
    assert relative_gap(cov_params, engine.cov_params()) < 1e-12

    binary = P.binary_columns(X)
    assert binary == [True, False, False, True]
    effects, jacobian = P.effect_sums(X, params, NAMES, binary)
    table = P.ame_table(effects, jacobian, len(y), cov_params, NAMES)
    expected = quillon.ame(_Model(engine, X))
    assert_close_table(table, expected)


def test_kernels_release_the_interpreter_lock():
    # With a switch interval of minutes the lock changes hands only when its
    # holder lets go of it: the main thread runs before the kernel thread is
    # done only if a kernel released the lock.
    interval = sys.getswitchinterval()
    sys.setswitchinterval(300.0)
    try:
        y, X = make_design(n=200_000, seed=1)
        beta = np.zeros(X.shape[1])
        P.evaluate(y[:10], X[:10], beta)  # NumPy's table loaded before the threads
        started, done = threading.Event(), []
        def compute():
            started.set()
            for _ in range(20):
                P.evaluate(y, X, beta)
            done.append(True)
        worker = threading.Thread(target=compute)
        worker.start()
        started.wait()
        ran_alongside = not done
        worker.join()
    finally:
        sys.setswitchinterval(interval)
    assert ran_alongside


@pytest.mark.parametrize("call, error, message", [
    (lambda y, X, b: P.evaluate(y[:-1], X, b), ValueError, "rows but endog has"),
    (lambda y, X, b: P.evaluate(y, X, b[:-1]), ValueError, "params has 3 values"),
    (lambda y, X, b: P.evaluate(y, X.astype(np.float32), b), TypeError, "cannot be converted"),
    (lambda y, X, b: P.cluster_sums(y, X, b, np.zeros((3, 1))), ValueError, "cluster shape"),
    (lambda y, X, b: P.effect_sums(X, b, NAMES[:3], [False] * 4), ValueError, "3 names"),
    (lambda y, X, b: P.newton(lambda _: (0.0, b[:2], np.eye(2)), 4, None, None), ValueError,
     "score of 2"),
    (lambda y, X, b: P.newton(lambda _: 1 / 0, 4, None, None), ZeroDivisionError, "division"),
    (lambda y, X, b: P.evaluate(y, X, b, np.ones(49)), ValueError,
     "50 rows but weights has 49"),
    (lambda y, X, b: P.cluster_sums(y, X, b, np.zeros((50, 1)), np.ones(3)), ValueError,
     "weights has 3"),
    (lambda y, X, b: P.joint_sums(X, b, None, 1, [([3], None)], [], [(0, 1)]), ValueError,
     r"designs in \[0, 1\), got 1"),
    (lambda y, X, b: P.joint_sums(X, b, None, 1, [], [([1], np.ones((50, 2)))], []), ValueError,
     "1 positions are given"),
])
def test_inconsistent_parts_raise(call, error, message):
    y, X = make_design(n=50)
    with pytest.raises(error, match=message):
        call(y, X, np.zeros(4))


def _weighted_sums(y, X, b, w, groups):
    """What every weighted kernel forms for one part, frequency weights."""
    return [*P.evaluate(y, X, b, w), P.score_cross_product(y, X, b, w, True),
            P.cluster_sums(y, X, b, groups, w)[1]]


def _unweighted_sums(y, X, b, groups):
    return [*P.evaluate(y, X, b), P.score_cross_product(y, X, b), P.cluster_sums(y, X, b, groups)[1]]


@pytest.mark.parametrize("weights", ["ones", "counts"])
def test_weighted_kernels_are_the_replicated_rows(weights):
    """Weights of 1 give the unweighted bits; whole weights (0 among them)
    give the sums of the rows repeated, within 1e-12; read through strides."""
    y, X = make_design(n=3000, seed=2)
    rng = np.random.default_rng(3)
    w = np.ones(len(y)) if weights == "ones" else rng.integers(0, 4, len(y)).astype(float)
    groups = np.sort(rng.integers(0, 30, len(y))).astype(float)[:, None]
    b = np.array([0.2, 0.7, -0.4, 0.5])
    strided = np.repeat(w, 2)[::2]
    got = _weighted_sums(y, X, b, strided, groups)
    rows = np.repeat(np.arange(len(y)), w.astype(int))
    expected = _unweighted_sums(y[rows], X[rows], b, groups[rows])
    for a, e in zip(got, expected):
        if weights == "ones":
            assert np.array_equal(a, e)
        else:
            assert np.max(np.abs(np.subtract(a, e))) <= 1e-12 * np.max(np.abs(e))


def test_sampling_cross_product_scales_each_score_by_its_weight():
    y, X = make_design(n=500, seed=4)
    w = np.random.default_rng(1).uniform(0.5, 3.0, len(y))
    b = np.array([0.2, 0.7, -0.4, 0.5])
    m = P.score_cross_product(y, X, b, w, False)
    # The score rows of single-row parts, weighted by hand.
    scores = np.array([P.evaluate(y[i:i + 1], X[i:i + 1], b)[1] for i in range(len(y))])
    expected = (scores * w[:, None]).T @ (scores * w[:, None])
    assert np.max(np.abs(m - expected)) <= 1e-12 * np.max(np.abs(expected))


def _screen_case(layout, change):
    rng = np.random.default_rng(3)
    X = np.column_stack([np.ones(300), rng.standard_normal(300), np.zeros(300), np.full(300, 2.5)])
    y = (rng.random(300) < 0.4).astype(float)
    y[7] = 0.5
    if change == "late":  # after the rows that screen the candidates
        X[250, 3] = 2.0
    elif change == "nan":
        X[299, 1] = np.nan
    elif change == "inf_outcome":
        y[299] = np.inf
    if layout == "columns":
        X = np.asfortranarray(X)
    elif layout == "strided":
        X = np.repeat(X, 2, axis=1)[:, ::2]
    return y, X


@pytest.mark.parametrize("layout", ["rows", "columns", "strided"])
@pytest.mark.parametrize("change", [None, "late", "nan", "inf_outcome"])
def test_design_screen_matches_a_direct_reading(layout, change):
    y, X = _screen_case(layout, change)
    finite, ones, outside, constant = P.design_screen(y, X)
    assert finite == bool(np.isfinite(y).all() and np.isfinite(X).all())
    assert (ones, outside) == (int((y == 1).sum()), int(((y != 0) & (y != 1)).sum()))
    if finite:
        assert constant == [bool((X[:, j] == X[0, j]).all() and X[0, j] != 0) for j in range(4)]


def test_effects_read_together_are_each_read_alone():
    """Slopes and contrasts in one reading of the rows, a design shared by
    two contrasts, over several batches of rows, by group and weighted:
    each effect's sums are the bits of its own call; columns read in place,
    through strides and broadcast."""
    y, X = make_design(n=1500, seed=6)
    rng = np.random.default_rng(7)
    b = np.array([0.2, 0.7, -0.4, 0.5])
    groups, w = rng.integers(0, 3, len(y)).astype(float), rng.uniform(0.5, 2.0, len(y))
    derivative = rng.normal(size=(len(y), 2))
    levels = [np.broadcast_to(v, (len(y), 1)) for v in (0.0, 1.0, 2.0)]
    designs = [([3], level) for level in levels] + [([], None)]
    slopes = [([1, 2], derivative), ([2], derivative[:, 1:])]
    contrasts = [(1, 0), (2, 0), (3, None)]
    for codes, n_groups, weights in [(None, 1, None), (groups, 3, w)]:
        together = P.joint_sums(np.asfortranarray(X), b, codes, n_groups, designs, slopes,
                                contrasts, weights)
        alone = [P.slope_sums(X, d, p, b, codes, n_groups, False, weights) for p, d in slopes]
        alone += [P.contrast_sums(X, [3], levels[h], levels[low], b, codes, n_groups, False,
                                  weights) for h, low in contrasts[:2]]
        alone.append(P.contrast_sums(X, [], None, None, b, codes, n_groups, False, weights))
        assert len(together) == len(alone)
        for (effects, jacobian), (e, j) in zip(together, alone):
            assert effects.tobytes() == e.tobytes() and jacobian.tobytes() == j.tobytes()


@pytest.mark.parametrize("n, k, bad", [(0, 3, None), (5, 1, None), (1037, 4, np.nan),
                                       (1037, 11, None), (1037, 11, -np.inf)])
def test_rows_from_columns_lays_columns_side_by_side_and_screens_them(n, k, bad):
    rng = np.random.default_rng(n + k)
    columns = [rng.normal(size=n) for _ in range(k)]
    columns[0][:] = 1.0
    columns[-1] = np.repeat(columns[-1], 2)[::2]  # read through a stride
    if bad is not None:
        columns[-1][n - 1] = bad
    rows, finite, constant = P.rows_from_columns(columns)
    assert rows.shape == (n, k) and rows.flags["C_CONTIGUOUS"]
    np.testing.assert_array_equal(rows, np.column_stack(columns))
    screen = P.design_screen(np.zeros(n), np.column_stack(columns))
    assert (finite, constant) == (screen[0], screen[3])
    with pytest.raises(ValueError, match="column 1 has"):
        P.rows_from_columns([np.zeros(3), np.zeros(4)])
