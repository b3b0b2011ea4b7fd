"""ame: argument binding and conversion, the reads from the fitted model,
intercept and binary detection, chunking, standard errors, z, p-values and
markers, internal failures and resource hygiene. Expected effects come from
a direct numpy/scipy evaluation of the probit AME formulas, and z statistics
from one-observation models derived by hand."""

import ctypes
import inspect
import operator
import sys
from types import SimpleNamespace

import numpy as np
import pandas as pd
import pytest
from scipy.stats import norm

import quillon
from quillon import ame, fit_probit

COLUMNS = ["dy/dx", "Std. Err", "z", "Pr(>|z|)", "Significance"]


def duck(params, cov, exog, names):
    return SimpleNamespace(params=params, cov_params=lambda: cov,
                           model=SimpleNamespace(exog=exog, exog_names=names))


def seeded(n=37, seed=3):
    """const, two continuous regressors and a 0/1 dummy, with a positive definite cov."""
    rng = np.random.default_rng(seed)
    X = np.column_stack([np.ones(n), rng.normal(size=n), rng.uniform(-2, 2, n),
                         (rng.random(n) < 0.4).astype(float)])
    A = rng.normal(size=(4, 4))
    return np.array([0.2, 0.7, -0.4, 0.9]), A @ A.T / 50, X, ["const", "a", "b", "d"]


def reference(beta, cov, X, kinds):
    """Effects and delta-method std errors; kinds[k] is "const", "binary" or "cont"."""
    n, K = X.shape
    q, effects, J = X @ beta, np.zeros(K), np.zeros((K, K))
    for k, kind in enumerate(kinds):
        if kind == "binary":
            X1, X0 = X.copy(), X.copy()
            X1[:, k], X0[:, k] = 1.0, 0.0
            effects[k] = np.mean(norm.cdf(X1 @ beta) - norm.cdf(X0 @ beta))
            J[k] = (norm.pdf(X1 @ beta) @ X1 - norm.pdf(X0 @ beta) @ X0) / n
        elif kind == "cont":
            phi = norm.pdf(q)
            effects[k] = beta[k] * phi.mean()
            J[k] = -beta[k] * ((phi * q) @ X) / n
            J[k, k] += phi.mean()
    var = np.diag(J @ cov @ J.T)
    shown = [k for k, kind in enumerate(kinds) if kind != "const"]
    return effects[shown], np.sqrt(np.where(var > 0, var, 0.0))[shown]


def assert_matches(table, beta, cov, X, kinds):
    effects, se = reference(beta, cov, X, kinds)
    np.testing.assert_allclose(table["dy/dx"], effects, rtol=1e-8, atol=1e-12)
    np.testing.assert_allclose(table["Std. Err"], se, rtol=1e-8, atol=1e-12)


def one_observation(beta, var):
    """One regressor at x = 0.5: q = beta/2, dy/dx = beta*phi(q) and its
    derivative phi(q)*(1 - beta*q*x) = phi(q)*(1 - beta**2/4), which is
    0.75*phi(q) for beta = +-1; then z = beta / (0.75*sqrt(var))."""
    return ame(duck(np.array([beta]), np.array([[var]]), np.array([[0.5]]), ["x"])).iloc[0]


def var_for_z(z):
    return (1.0 / (0.75 * abs(z))) ** 2


def interpreter_message(function, value):
    with pytest.raises(Exception) as info:
        function(value)
    return str(info.value)


def as_unsigned(value):
    convert = ctypes.pythonapi.PyLong_AsUnsignedLongLong
    convert.argtypes, convert.restype = [ctypes.py_object], ctypes.c_ulonglong
    return convert(value)


# --- the function object, binding and chunk_size ------------------------------


def test_function_object():
    assert quillon.__all__ == ["ame", "fit_probit"]
    assert ame.__doc__ == "Calculates Average Marginal Effects (AME) for a Probit model"
    assert ame.__text_signature__ == "(probit_model, chunk_size=...)"
    assert (ame.__module__, ame.__self__) == ("quillon", quillon)
    assert list(inspect.signature(ame).parameters) == ["probit_model", "chunk_size"]


# probit_model is 1 here: chunk_size must be refused before it is read
@pytest.mark.parametrize("args, kwargs, error, message", [
    ((), {}, TypeError, "ame() missing 1 required positional argument: 'probit_model'"),
    ((), {"chunk_size": 3}, TypeError, "ame() missing 1 required positional argument: 'probit_model'"),
    ((1, 2, 3), {}, TypeError, "ame() takes from 1 to 2 positional arguments but 3 were given"),
    ((1, 100), {"chunk_size": 5}, TypeError, "ame() got multiple values for argument 'chunk_size'"),
    ((1,), {"chunks": 5}, TypeError, "ame() got an unexpected keyword argument 'chunks'"),
    ((1, 2.5), {}, TypeError, "argument 'chunk_size': " + interpreter_message(operator.index, 2.5)),
    ((1, "3"), {}, TypeError, "argument 'chunk_size': " + interpreter_message(operator.index, "3")),
    ((1, -1), {}, OverflowError, interpreter_message(as_unsigned, -1)),
    ((1, 2**64), {}, OverflowError, interpreter_message(as_unsigned, 2**64)),
])
def test_binding_and_conversion_errors(args, kwargs, error, message):
    with pytest.raises(error) as info:
        ame(*args, **kwargs)
    assert type(info.value) is error and str(info.value) == message


def test_chunk_size_zero_and_missing_params():
    with pytest.raises(ValueError, match="at least 1"):
        ame(duck(*seeded()), 0)
    with pytest.raises(AttributeError, match="'params'"):
        ame(42)


# --- reads from the fitted model -------------------------------------------------

READS = ["params", "cov_params()", "model", "model.exog_names", "model", "model.exog"]


class Recorder:
    """A fitted model that logs its reads and raises at read number fail_at."""

    def __init__(self, log, fail_at=None, **values):
        beta, cov, X, names = seeded()
        self.values = {"params": beta, "cov_params()": cov, "model.exog": X,
                       "model.exog_names": names, **values}
        self.log, self.fail_at, self.error = log, fail_at, LookupError("refused")

    def read(self, what):
        self.log.append(what)
        if len(self.log) - 1 == self.fail_at:
            raise self.error
        return self.values.get(what)

    params = property(lambda self: self.read("params"))
    cov_params = property(lambda self: lambda: self.read("cov_params()"))
    model = property(lambda self: (self.read("model"), RecordedModel(self))[1])


class RecordedModel:
    def __init__(self, owner):
        self.owner = owner

    exog = property(lambda self: self.owner.read("model.exog"))
    exog_names = property(lambda self: self.owner.read("model.exog_names"))


def test_reads_in_order_after_chunk_size():
    log = []
    with pytest.raises(TypeError):
        ame(Recorder(log), 2.5)
    assert log == []
    ame(Recorder(log))
    assert log == READS


@pytest.mark.parametrize("step", range(len(READS)))
def test_failing_read_stops_later_reads(step):
    log = []
    model = Recorder(log, fail_at=step)
    with pytest.raises(LookupError) as info:
        ame(model)
    assert info.value is model.error and log == READS[: step + 1]


ARRAY = "object cannot be converted to 'PyArray<T, D>'"


@pytest.mark.parametrize("read, value, message", [
    ("params", np.zeros(4, np.float32), "'ndarray' " + ARRAY),
    ("params", [0.0] * 4, "'list' " + ARRAY),
    ("params", np.zeros((4, 1)), "'ndarray' " + ARRAY),
    ("cov_params()", np.eye(4).tolist(), "'list' " + ARRAY),
    ("model.exog_names", "x0", "Can't extract `str` to `Vec`"),
    ("model.exog_names", 4, "'int' object cannot be converted to 'Sequence'"),
    ("model.exog_names", ["a", "b", 2, "d"], "'int' object cannot be converted to 'PyString'"),
    ("model.exog", np.zeros((37, 4), np.int64), "'ndarray' " + ARRAY),
    ("model.exog", np.zeros(37), "'ndarray' " + ARRAY),
    ("params", pd.Series(np.zeros(4, np.float32)), "'Series' " + ARRAY),
    ("params", pd.DataFrame(np.zeros((4, 1))), "'DataFrame' " + ARRAY),
    ("cov_params()", pd.DataFrame(np.eye(4)).astype(object), "'DataFrame' " + ARRAY),
    ("model.exog", pd.Series(np.zeros(37)), "'Series' " + ARRAY),
])
def test_refused_inputs(read, value, message):
    log = []
    with pytest.raises(TypeError) as info:
        ame(Recorder(log, **{read: value}))
    assert str(info.value) == message and log[-1] == read


@pytest.mark.parametrize("names", [("const", "a", "b", "d"), pd.Index(["const", "a", "b", "d"]),
                                   np.array(["const", "a", "b", "d"])])
def test_any_sequence_of_names(names):
    beta, cov, X, listed = seeded()
    pd.testing.assert_frame_equal(ame(duck(beta, cov, X, names)), ame(duck(beta, cov, X, listed)))


def test_arrays_read_in_place_whatever_their_strides():
    beta, cov, X, names = seeded()
    wide, long_beta = np.zeros((X.shape[0], 8)), np.zeros(8)
    wide[:, ::2], long_beta[::2] = X, beta
    expected = ame(duck(beta, cov, X, names))
    for b, c, x in [(long_beta[::2], np.asfortranarray(cov), wide[:, ::2]),
                    (beta[::-1].copy()[::-1], cov, np.asfortranarray(X)),
                    (beta, cov[::-1].copy()[::-1], X[::-1, ::-1].copy()[::-1, ::-1])]:
        pd.testing.assert_frame_equal(ame(duck(b, c, x, names)), expected, check_exact=True)


def labelled(beta, cov, X, names, params_order=None, cov_rows=None, cov_cols=None,
             exog_order=None):
    """The arrays as pandas objects labelled by `names`, each axis in the order
    given (a permutation of the names, or labels of its own)."""
    frame = pd.DataFrame(cov, index=names, columns=names)
    return (pd.Series(beta, index=names).reindex(params_order or names),
            frame.reindex(index=cov_rows or names, columns=cov_cols or names),
            pd.DataFrame(X, columns=names)[exog_order or names])


SORTED = ["a", "b", "const", "d"]
SHUFFLED = ["d", "const", "b", "a"]


@pytest.mark.parametrize("orders", [
    {}, {"params_order": SORTED}, {"cov_rows": SORTED, "cov_cols": SORTED},
    {"cov_rows": SHUFFLED}, {"cov_cols": SORTED}, {"exog_order": SHUFFLED},
    {"params_order": SHUFFLED, "cov_rows": SORTED, "cov_cols": SHUFFLED, "exog_order": SORTED},
], ids=["in order", "params", "cov", "cov rows", "cov columns", "exog", "all"])
def test_pandas_values_paired_with_regressors_by_label(orders):
    beta, cov, X, names = seeded()
    got = ame(duck(*labelled(beta, cov, X, names, **orders), names))
    pd.testing.assert_frame_equal(got, ame(duck(beta, cov, X, names)), check_exact=True)


@pytest.mark.parametrize("orders, message", [
    ({"params_order": ["const", "a", "b"]}, "the index of params disagrees with "
     "model.exog_names: missing ['d']"),
    ({"params_order": ["const", "a", "b", "d", "e"]}, "the index of params disagrees with "
     "model.exog_names: extra ['e']"),
    ({"cov_cols": ["const", "a", "a", "b", "d"]}, "the columns of cov_params() disagrees with "
     "model.exog_names: duplicated ['a']"),
    ({"cov_rows": ["const", "x", "b", "d", "b"]}, "the index of cov_params() disagrees with "
     "model.exog_names: missing ['a'], extra ['x'], duplicated ['b']"),
    ({"exog_order": ["const", "a", "b"]}, "the columns of model.exog disagrees with "
     "model.exog_names: missing ['d']"),
    ({"params_order": [0, 1, 2, 3]}, "the index of params disagrees with model.exog_names: "
     "missing ['const', 'a', 'b', 'd'], extra [0, 1, 2, 3]"),
])
def test_pandas_labels_that_are_not_the_names_refused(orders, message):
    beta, cov, X, names = seeded()
    with pytest.raises(ValueError) as info:
        ame(duck(*labelled(beta, cov, X, names, **orders), names))
    assert str(info.value) == message


# --- which regressors get a row, and of which kind -----------------------------


@pytest.mark.parametrize("name, intercept", [
    ("const", True), ("CONST", True), ("Const", True), ("Intercept", True), ("INTERCEPT", True),
    ("constant", False), (" const", False), ("const ", False), ("const1", False),
    ("_const", False), ("intercept_", False), ("conſt", False), ("İNTERCEPT", False),
])
def test_intercept_names(name, intercept):
    beta, cov, X, _ = seeded()
    table = ame(duck(beta, cov, X, [name, "a", "b", "d"]))
    assert list(table.index) == (["a", "b", "d"] if intercept else [name, "a", "b", "d"])
    kinds = ["const" if intercept else "binary", "cont", "cont", "binary"]
    assert_matches(table, beta, cov, X, kinds)


@pytest.mark.parametrize("names, kinds", [
    (["const", "a", "Intercept", "d"], ["const", "cont", "const", "binary"]),
    (["one", "a", "b", "d"], ["binary", "cont", "cont", "binary"]),
    (["const", "a", "b", "d", "INTERCEPT"], ["const", "cont", "cont", "binary"]),
])
def test_several_or_no_intercepts(names, kinds):
    beta, cov, X, _ = seeded()
    table = ame(duck(beta, cov, X, names))
    assert list(table.index) == [n for n, kind in zip(names, kinds) if kind != "const"]
    assert_matches(table, beta, cov, X, kinds)


@pytest.mark.parametrize("column, kind", [
    ([0.0, 1.0, -0.0, 1.0], "binary"),
    ([1.0] * 4, "binary"),  # effect: mean(Phi(q) - Phi(q - beta_d))
    ([0.0] * 4, "binary"),  # effect: mean(Phi(q + beta_d) - Phi(q))
    ([0.0, 1.0, 2.0, 1.0], "cont"),
    ([0.0, 1.0, 1.0 + 2**-52, 0.0], "cont"),
    ([0.0, 1.0, 1e-300, 0.0], "cont"),
])
def test_binary_detection(column, kind):
    beta, cov, X, names = seeded()
    X[:, 3] = np.resize(column, X.shape[0])
    assert_matches(ame(duck(beta, cov, X, names)), beta, cov, X, ["const", "cont", "cont", kind])


@pytest.mark.parametrize("chunk_size", [None, 5])
def test_binary_detection_looks_at_every_row(chunk_size):
    beta, cov, X, names = seeded()
    X[-1, 3] = 0.5
    table = ame(duck(beta, cov, X, names), chunk_size)
    assert_matches(table, beta, cov, X, ["const", "cont", "cont", "cont"])


def test_nan_flows_through_with_zero_std_errors():
    beta, cov, X, names = seeded()
    X[5, 3] = np.nan
    table = ame(duck(beta, cov, X, names))
    assert table["dy/dx"].isna().all() and (table["Std. Err"] == 0.0).all()
    assert table["Pr(>|z|)"].isna().all() and (table["Significance"] == "").all()


def test_fit_probit_result_and_in_place_change(design):
    y, X = design
    r = fit_probit(y, X)
    table = ame(r)
    assert list(table.index) == ["x0", "x1", "x2", "x3"]  # x0, all 1.0, is binary
    assert_matches(table, r.params, r.cov_params(), X, ["binary", "cont", "cont", "binary"])
    r.params[1] += 0.5
    changed = ame(r)
    assert changed.loc["x1", "dy/dx"] != table.loc["x1", "dy/dx"]
    assert_matches(changed, r.params, r.cov_params(), X, ["binary", "cont", "cont", "binary"])


# --- chunks ------------------------------------------------------------------------


@pytest.mark.parametrize("chunk_size", [1, 5, 36, True])
def test_chunks_agree_up_to_rounding(chunk_size):
    model = duck(*seeded())
    whole, chunked = ame(model), ame(model, chunk_size)
    np.testing.assert_allclose(chunked.iloc[:, :4], whole.iloc[:, :4], rtol=1e-12)
    assert list(chunked["Significance"]) == list(whole["Significance"])
    if chunk_size is True:
        pd.testing.assert_frame_equal(chunked, ame(model, 1), check_exact=True)


@pytest.mark.parametrize("chunk_size", [None, 37, 38, 2**64 - 1, np.int64(40)])
def test_one_chunk_is_bitwise_identical(chunk_size):
    model = duck(*seeded())
    pd.testing.assert_frame_equal(ame(model, chunk_size), ame(model), check_exact=True)


# --- degenerate shapes, standard errors, z, p and markers -----------------------


def test_no_observations():
    table = ame(duck(np.array([0.5, -0.3]), np.eye(2), np.empty((0, 2)), ["a", "b"]))
    assert list(table.index) == ["a", "b"] and table["dy/dx"].isna().all()
    assert (table["Std. Err"] == 0.0).all() and (table["Significance"] == "").all()


@pytest.mark.parametrize("model", [
    duck(np.empty(0), np.empty((0, 0)), np.empty((4, 0)), []),
    duck(np.array([0.2]), np.array([[0.1]]), np.ones((4, 1)), ["const"]),
])
def test_no_rows(model):
    table = ame(model)
    assert isinstance(table, pd.DataFrame) and list(table.columns) == COLUMNS and len(table) == 0


def test_table_layout():
    beta, cov, X, names = seeded()
    table = ame(duck(beta, cov, X, ["const", "a", "a", "d"]))
    assert type(table) is pd.DataFrame and list(table.columns) == COLUMNS
    assert list(table.index) == ["a", "a", "d"]
    z = table["dy/dx"] / table["Std. Err"]
    np.testing.assert_allclose(table["z"], z, rtol=1e-15)
    np.testing.assert_allclose(table["Pr(>|z|)"], 2 * norm.sf(np.abs(z)), rtol=1e-9)


@pytest.mark.parametrize("beta, var, z, p, marker", [
    (0.0, 1.0, 0.0, 1.0, ""),
    (1.0, var_for_z(10.0), 10.0, 0.0, "***"),
    (-1.0, var_for_z(8.5), -8.5, 0.0, "***"),
    (-1.0, np.inf, -0.0, 1.0, ""),
    (1.0, 0.0, np.nan, np.nan, ""),
    (1.0, -1.0, np.nan, np.nan, ""),  # negative variance: se 0.0, not NaN
    (1.0, np.nan, np.nan, np.nan, ""),
])
def test_standard_error_z_and_p_rules(beta, var, z, p, marker):
    row = one_observation(beta, var)
    se = norm.pdf(beta / 2) * (1 - beta**2 / 4) * np.sqrt(var) if var > 0 else 0.0
    assert row["Std. Err"] == pytest.approx(se, rel=1e-12)
    assert row["z"] == pytest.approx(z, rel=1e-12, nan_ok=True)
    assert np.signbit(row["z"]) == np.signbit(z)
    assert row["Pr(>|z|)"] == p or (np.isnan(p) and np.isnan(row["Pr(>|z|)"]))
    assert row["Significance"] == marker


# A p-value is 2*(1 - c) with c a double in [0.5, 1], so a multiple of 2**-52,
# which none of the doubles 0.01, 0.05, 0.1 is: no p-value can equal a
# threshold, and the rule is checked just below and just above each one.
@pytest.mark.parametrize("threshold, below, above", [(0.01, "***", "**"), (0.05, "**", "*"),
                                                     (0.1, "*", "")])
@pytest.mark.parametrize("sign", [1.0, -1.0])
def test_marker_thresholds(threshold, below, above, sign):
    edge = norm.isf(threshold / 2)
    for factor, side, marker in [(1 + 1e-8, -1, below), (1 - 1e-8, 1, above)]:
        row = one_observation(sign, var_for_z(edge * factor))
        assert row["Pr(>|z|)"] == pytest.approx(2 * norm.sf(edge * factor), rel=1e-9)
        assert np.sign(row["Pr(>|z|)"] - threshold) == side and row["Significance"] == marker


def test_dataframe_built_from_plain_lists_at_call_time(monkeypatch):
    calls = []
    fake = SimpleNamespace(DataFrame=lambda *args, **kwargs: calls.append((args, kwargs)) or "t")
    monkeypatch.setitem(sys.modules, "pandas", fake)
    assert ame(duck(*seeded())) == "t"
    [(args, kwargs)] = calls
    assert args == () and list(kwargs) == ["data", "index"] and kwargs["index"] == ["a", "b", "d"]
    assert list(kwargs["data"]) == COLUMNS
    assert all(type(v) is list and len(v) == 3 for v in kwargs["data"].values())
    assert {type(x) for c in COLUMNS[:4] for x in kwargs["data"][c]} == {float}
    monkeypatch.setitem(sys.modules, "pandas", None)
    with pytest.raises(ModuleNotFoundError):
        ame(duck(*seeded()))


# --- internal failures and resources -------------------------------------------


@pytest.mark.parametrize("fault", ["extra name", "short params", "big cov", "wide cov",
                                   "missing name"])
def test_inconsistent_sizes_panic(fault, capfd):
    beta, cov, X, names = seeded()
    inputs = {"extra name": (beta, cov, X, names + ["e"]),
              "short params": (beta[:3], cov, X, names),
              "big cov": (beta, np.eye(5), X, names),
              "wide cov": (beta, np.ones((4, 3)), X, names),
              "missing name": (beta, cov, X, names[:3])}[fault]
    with pytest.raises(BaseException) as info:
        try:
            ame(duck(*inputs))
        except Exception:
            pytest.fail("an internal failure was caught by `except Exception`")
    assert type(info.value).__name__ == "PanicException"
    assert not isinstance(info.value, Exception)
    assert capfd.readouterr().err.strip()


def test_repeated_calls_leak_neither_memory_nor_references(capfd, resident_bytes):
    rng = np.random.default_rng(1)
    X = np.column_stack([np.ones(4000), rng.normal(size=(4000, 3)), rng.random(4000) < 0.5])
    beta, cov, names = np.full(5, 0.1), np.eye(5) / 100, ["const", "a", "b", "c", "d"]
    model = duck(beta, cov, X, names)
    frames = (pd.Series(beta, names[::-1]), pd.DataFrame(cov, names, names[::-1]),
              pd.DataFrame(X, columns=names).iloc[:, ::-1])  # every object reordered
    broken = [duck(beta, np.eye(3), X, names), duck(beta, cov, X, "abcde"),
              duck(beta.astype(np.float32), cov, X, names),
              duck(pd.Series(beta.astype(np.float32)), cov, X, names)]

    def run(times):
        for _ in range(times):
            ame(model, 1000)
            ame(duck(*frames, names), 1000)
            for bad in broken:
                with pytest.raises(BaseException):
                    ame(bad)

    run(200)
    counts = [sys.getrefcount(o) for o in (beta, cov, X, names, model, *frames)]
    before = resident_bytes() if resident_bytes else 0
    run(2000)
    if resident_bytes:
        assert resident_bytes() - before < 32 * 2**20
    assert [sys.getrefcount(o) for o in (beta, cov, X, names, model, *frames)] == counts
    capfd.readouterr()
