"""One contract, four ways: the same inputs through memory on one thread,
memory on two threads, Dask's threaded scheduler and a two-worker
LocalCluster give the same refusals and the same numbers: the same bits
where the partitioning is the same (memory's blocks of rows set to the Dask
partitions' size), and the same answers to hostile input."""

import contextlib
import sys
import warnings

import numpy as np
import pandas as pd
import pytest

dask = pytest.importorskip("dask")
dd = pytest.importorskip("dask.dataframe")
distributed = pytest.importorskip("distributed")
pytest.importorskip("formulaic")

import cloudpickle  # noqa: E402

import quillon_models as qm  # noqa: E402
import quillon_models.parts  # noqa: E402

cloudpickle.register_pickle_by_value(sys.modules[__name__])

ROWS = 250  # rows per part, in memory and on Dask alike
WAYS = ["memory, 1 thread", "memory, 2 threads", "dask threads", "dask cluster"]


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, host="127.0.0.1",
                                  dashboard_address=None, processes=True) as local:
        with distributed.Client(local, set_as_default=False) as connected:
            yield connected


@pytest.fixture
def way_of(request, monkeypatch):
    """way_of(way, frame) -> (data, fit options, scheduler): the frame as the
    way holds it, the options that choose its threads, and the context in
    which its passes run."""
    monkeypatch.setattr(quillon_models.parts, "BLOCK_ROWS", ROWS)

    def holding(way, frame):
        if way.startswith("memory"):
            return frame, {"n_jobs": 1 if "1" in way else 2}, contextlib.nullcontext()
        data = dd.from_pandas(frame, chunksize=ROWS, sort=False)
        if way == "dask cluster":
            return data, {}, request.getfixturevalue("client").as_current()
        return data, {}, dask.config.set(scheduler=way.split()[1])  # threads, synchronous

    return holding


@pytest.fixture
def run(way_of):
    """run(way, frame, build, **fit_options): build(data) fitted the way's way."""

    def runner(way, frame, build, **fit_options):
        data, options, scheduler = way_of(way, frame)
        with scheduler:
            return build(data).fit(**options, **fit_options)

    return runner


def frame(n=1000, seed=5):
    rng = np.random.default_rng(seed)
    data = pd.DataFrame({"x": rng.normal(size=n), "g": rng.choice(["a", "b", "c"], size=n),
                         "d": (rng.random(n) < 0.4).astype(float),
                         "school": rng.integers(0, 23, size=n)})
    index = 0.3 + 0.8 * data.x - 0.5 * data.d + 0.4 * (data.g == "b")
    data["y"] = (index + rng.normal(size=n) > 0).astype(float)
    return data


def formula_model(formula, **options):
    return lambda data: qm.probit(formula, data, **options)


def numbers(results):
    table = results.ame()
    return (results.params.to_dict(), results.cov_params().to_numpy().tobytes(),
            np.float64(results.llf).tobytes(), table.select_dtypes("number").to_numpy().tobytes(),
            list(table.index), results.nobs)


@pytest.mark.filterwarnings("ignore::quillon_models.CovarianceWarning")  # two ways, 3 groups
@pytest.mark.parametrize("cov_type, cov_kwds", [("HC1", None),
                                                ("cluster", {"groups": ["school", "g"]})])
def test_the_same_bits_every_way(run, cov_type, cov_kwds):
    data = frame()
    got = [numbers(run(way, data, formula_model("y ~ x + C(g) + d"), cov_type=cov_type,
                       cov_kwds=cov_kwds)) for way in WAYS]
    assert all(g == got[0] for g in got[1:])


@pytest.mark.parametrize("term", [
    # analytic on the rows the first part reads first, not on the others'
    "np.where(x > -0.5, x, np.abs(x - 1))",
    # no complex values: differences on every part
    "np.cbrt(x + 5)"])
def test_effects_through_any_transform_the_same_bits_every_way(run, term):
    data = frame().sort_values("x", key=lambda x: x > -0.5, ascending=False, kind="stable")
    ways = ["memory, 1 thread", "memory, 2 threads", "dask threads", "dask synchronous"]
    got = [run(way, data.reset_index(drop=True), formula_model(f"y ~ {term} + C(g)"))
           .ame().select_dtypes("number").to_numpy().tobytes() for way in ways]
    assert all(g == got[0] for g in got[1:])


def unknown_categories(data):
    """A category column whose categories Dask learns only by reading it."""
    if isinstance(data, pd.DataFrame):
        return data.astype({"g": "category"})
    return data.assign(g=data["g"].astype("category").cat.as_unknown())


@pytest.mark.parametrize("way", WAYS)
def test_unknown_categories_are_found(run, way):
    """Each partition holds its own levels (c, then c and b, ...): the levels
    are sorted, as pandas sorts them for the whole column, whatever the
    partitions' order."""
    data = frame().sort_values("g", ascending=False, kind="stable")
    results = run(way, data, lambda d: qm.probit("y ~ x + g", unknown_categories(d)))
    assert list(results.params.index) == ["Intercept", "x", "g[T.b]", "g[T.c]"]


def with_holes(data):
    out = data.copy()
    out.loc[[3, 400, 999], "x"] = np.nan  # in three different parts
    out.loc[[10, 620], "g"] = None
    return out


REFUSALS = {
    "category 0/1 outcome": (lambda d: d.assign(y=d.y.astype(int).astype("category")),
                             "y ~ x", {}, "dtype category with values 0, 1"),
    "text outcome": (lambda d: d.assign(y=d.y.map({0.0: "no", 1.0: "yes"})), "y ~ x", {},
                     "must hold 0/1 values .* values 'no', 'yes'"),
    "text 0/1 outcome": (lambda d: d.assign(y=d.y.astype(int).astype(str)), "y ~ x", {},
                         "values '0', '1'"),
    "two outcomes": (lambda d: d, "y + d ~ x", {}, "left-hand side gave 2 columns"),
    "a value C() does not list": (lambda d: d, "y ~ x + C(g, levels=['a', 'b'])", {},
                                  r"column 'g' holds values that C\(g, .* does not list: c;"),
    "a column of dates as a regressor": (
        lambda d: d.assign(t=pd.Timestamp("2020-01-01") + pd.to_timedelta(d.index, unit="D")),
        "y ~ x + t", {}, r"column 't' holds dates \(datetime64.*or use C\(t\)"),
    "one outcome on the rows of positive weight": (lambda d: d.assign(w=d.y), "y ~ x",
                                                   {"freq_weights": "w"}, "is 1 in all"),
    "sampling weights beyond floating point": (lambda d: d.assign(w=1e155), "y ~ x",
                                               {"sampling_weights": "w"}, "mean of 1e.155"),
    "frequency weights beyond exact counts": (lambda d: d.assign(w=1e305), "y ~ x",
                                              {"freq_weights": "w"}, r"more than 2\*\*53 rows"),
    "outcome 2 in two parts": (lambda d: d.assign(y=d.y.where(~d.index.isin([1, 900]), 2.0)),
                               "y ~ x", {}, "2 rows hold other values: 2.0"),
    "missing, counted over every part": (with_holes, "y ~ x + C(g)", {"missing": "raise"},
                                         "column 'x': 3; column 'g': 2"),
    "missing category with missing='none'": (with_holes, "y ~ C(g)", {"missing": "none"},
                                             "column 'g': 2"),
    "one outcome value": (lambda d: d.assign(y=0.0), "y ~ x", {}, "is 0 in all 1000 rows used"),
}


@pytest.mark.parametrize("case", REFUSALS)
@pytest.mark.parametrize("way", WAYS)
def test_the_same_refusals_every_way(run, way, case):
    change, formula, options, message = REFUSALS[case]
    with pytest.raises(ValueError, match=message):
        run(way, change(frame()), formula_model(formula, **options))


@pytest.mark.parametrize("n_jobs", [0, -2, 1.5, True, "2"])
@pytest.mark.parametrize("way", ["memory, 1 thread", "dask threads"])
def test_n_jobs_checked_every_way(way_of, way, n_jobs):
    data, _, scheduler = way_of(way, frame())
    with scheduler, pytest.raises(ValueError, match="n_jobs must be a positive whole number"):
        qm.probit("y ~ x", data).fit(n_jobs=n_jobs)


def as_dictionary(values):
    import pyarrow as pa

    return values.astype(pd.ArrowDtype(pa.dictionary(pa.int32(), pa.string())))


def large_string(values):
    import pyarrow as pa

    return values.astype(pd.ArrowDtype(pa.large_string()))


# Each way of holding text or levels: the memory frame's column, and what
# Dask makes of it (None: what from_pandas gives; object columns become
# Dask's own strings). The categories are in an order of their own, with a
# level no row uses; unknown to Dask, every partition still holds them all.
TEXT_TYPES = {
    "object": (lambda v: v.astype(object), None),
    "string[python]": (lambda v: v.astype("string[python]"), None),
    "string[pyarrow]": (lambda v: v.astype("string[pyarrow]"), None),
    "large_string": (large_string, None),
    "arrow dictionary": (as_dictionary, None),
    "category, unused level": (
        lambda v: v.astype(pd.CategoricalDtype(["c", "a", "b", "z", "no", "yes"])), None),
    "category, unknown levels": (
        lambda v: v.astype(pd.CategoricalDtype(["c", "a", "b", "z", "no", "yes"])),
        lambda v: v.cat.as_unknown()),
}
TEXT_ROLES = {
    "regressor": lambda d: qm.probit("y ~ x + g", d).fit().ame(),
    "regressor in C()": lambda d: qm.probit("y ~ x + C(g) + d", d).fit(),
    "outcome": lambda d: qm.probit("t ~ x", d).fit(),
    "group": lambda d: qm.probit("y ~ x", d).fit(cov_type="cluster", cov_kwds={"groups": "g"}),
    "by": lambda d: qm.probit("y ~ x + d", d).fit().ame(by="g"),
    "new data": lambda d: qm.probit("y ~ x + g", d).fit().predict(d),
}


def text_result(role, data):
    """A role's numbers as bytes, or the message of its refusal."""
    try:
        got = TEXT_ROLES[role](data)
    except ValueError as error:
        return str(error)
    if hasattr(got, "compute"):  # Dask's predictions
        got = got.compute()
    if isinstance(got, pd.Series):
        return list(got.index), got.to_numpy().tobytes()
    if isinstance(got, pd.DataFrame):
        return list(got.index), got.select_dtypes("number").to_numpy().tobytes()
    return list(got.params.index), got.params.to_numpy().tobytes(), got.bse.to_numpy().tobytes()


@pytest.mark.filterwarnings("ignore::quillon_models.CovarianceWarning")  # 3 groups
@pytest.mark.filterwarnings("ignore::quillon_models.CollinearityWarning")  # the unused level
@pytest.mark.parametrize("role", TEXT_ROLES)
@pytest.mark.parametrize("text_type", TEXT_TYPES)
def test_text_and_levels_every_dtype_the_same_bits_or_refusal(way_of, text_type, role):
    """Text and levels of every pandas and Arrow type, as regressor (its
    effects and predictions included), outcome, cluster group and by=
    column: Dask (its own strings by default) gives memory's numbers, bit
    for bit, or memory's refusal."""
    in_memory, on_dask = TEXT_TYPES[text_type]
    data = frame().assign(t=lambda d: d.y.map({0.0: "no", 1.0: "yes"}))
    data = data.assign(g=in_memory(data.g), t=in_memory(data.t))
    held, _, scheduler = way_of("dask threads", data)
    if on_dask is not None:
        held = held.assign(g=on_dask(held.g), t=on_dask(held.t))
    if text_type == "object":  # Dask's default: its own strings
        assert held.dtypes["g"] != object
    with scheduler:
        got = text_result(role, held)
    expected = text_result(role, data)
    assert got == expected
    if role == "outcome":
        assert "values 'no', 'yes'" in expected
    else:
        assert isinstance(expected, tuple)


def effects(results):
    """The effects' numbers, which read the fitted rows alone."""
    tables = [results.ame(binary="slope"), results.predictions(),
              results.comparisons({"x": (-1, 1)})]
    return np.concatenate([t.select_dtypes("number").to_numpy().ravel() for t in tables])


@pytest.mark.parametrize("build", [formula_model("y ~ x + d"),
                                   lambda d: qm.Probit(d.y, d[["x", "d"]].assign(const=1.0))],
                         ids=["formula", "arrays"])
@pytest.mark.parametrize("way", WAYS)
def test_separation_found_and_left_out_every_way(way_of, way, build):
    data = frame().assign(y=lambda d: d.y.where(d.d == 0, 1.0))
    held, options, scheduler = way_of(way, data)
    with scheduler:
        with pytest.raises(qm.PerfectSeparationError, match="estimates of d run to infinity"):
            build(held).fit(separation="raise", **options)
        dropped = build(held).fit(separation="drop", **options)
        assert dropped.omitted == ["d"] and dropped.nobs == int((data.d == 0).sum())
        got = effects(dropped)
    # in memory the effects' blocks are of the rows left, on Dask the
    # partitions less the rows left out: other sums of the same rows
    in_memory = effects(build(data).fit(separation="drop", n_jobs=1))
    np.testing.assert_allclose(got, in_memory, rtol=1e-10, atol=1e-15)


@pytest.mark.parametrize("way", WAYS)
def test_groups_are_one_or_two_columns(run, way):
    with pytest.raises(ValueError, match="one or two columns, got 3"):
        run(way, frame(), formula_model("y ~ x"), cov_type="cluster",
            cov_kwds={"groups": ["school", "g", "d"]})


def design_arrays(n=1000, seed=5):
    """A constant, two regressors, an outcome and cluster labels, as arrays."""
    data = frame(n, seed)
    X = np.column_stack([np.ones(n), data.x, data.d])
    return data.y.to_numpy(), X, data.school.to_numpy()


def lazy(way, values):
    """Arrays as the way holds them: in memory, or Dask's in blocks of ROWS."""
    if way.startswith("memory"):
        return values
    import dask.array as da

    return da.from_array(values, chunks=(ROWS,) + values.shape[1:])


def with_nan(X):
    out = X.copy()
    out[7, 1] = np.nan  # the second column, which the fit names x1
    return out


def repeated(data, name):
    """The data with a second column called `name`."""
    return pd.concat([data, data[[name]]], axis=1)


def masked(way, values):
    """Rows selected by a mask: on Dask, blocks of unknown length."""
    held = lazy(way, values)
    return held[held[:, 0] > -1] if held.ndim == 2 else held[held > -1]


# Each refused input, by arrays and by a formula's data: the same message in
# memory and on Dask (the last two cases have no memory counterpart).
HOSTILE = {
    "NaN named as the fit names its column": (
        lambda way, y, X, g: qm.Probit(lazy(way, y), lazy(way, with_nan(X))).fit(),
        r"in column 'x1': 1;"),
    "groups of another length": (
        lambda way, y, X, g: qm.Probit(lazy(way, y), lazy(way, X)).fit(
            cov_type="cluster", cov_kwds={"groups": lazy(way, g[:-5])}),
        r"^groups has 995 rows"),
    "weights of another length": (
        lambda way, y, X, g: qm.Probit(lazy(way, y), lazy(way, X),
                                       freq_weights=lazy(way, g[:-5] + 1.0)).fit(),
        r"^freq_weights has 995 rows"),
    "text regressor without a formula": (
        lambda way, y, X, g: (lambda d: qm.Probit(d.y, d[["x", "g"]]))(held_as(way, frame())),
        r"^exog column 'g' is text: regressors must be numbers"),
    "groups by a repeated column": (
        lambda way, y, X, g: qm.probit("y ~ x", held_as(way, repeated(frame(), "g"))).fit(
            cov_type="cluster", cov_kwds={"groups": "g"}),
        r"^groups: 'g' names 2 columns of the data"),
    "weights by a repeated column": (
        lambda way, y, X, g: qm.probit("y ~ x", held_as(way, repeated(frame(), "d")),
                                       freq_weights="d"),
        r"^freq_weights: 'd' names 2 columns of the data"),
    "by= a repeated column": (
        lambda way, y, X, g: qm.probit("y ~ x", held_as(way, repeated(frame(), "g"))).fit().ame(
            by="g"),
        r"^by: 'g' names 2 columns of the data"),
    "exog in blocks of unknown length": (
        lambda way, y, X, g: qm.Probit(lazy(way, y), masked(way, X)),
        r"exog has blocks of unknown length .* exog = exog.compute_chunk_sizes\(\)"),
    "endog in blocks of unknown length": (
        lambda way, y, X, g: qm.Probit(masked(way, y), lazy(way, X)),
        r"endog has blocks of unknown length .* endog.compute_chunk_sizes\(\)"),
}


def held_as(way, data):
    return data if way.startswith("memory") else dd.from_pandas(data, chunksize=ROWS, sort=False)


@pytest.mark.parametrize("case, way", [
    (case, way) for case in HOSTILE for way in ["memory, 1 thread", "dask threads"]
    if way.startswith("dask") or "unknown length" not in case])
def test_hostile_inputs_refused_naming_the_input(case, way):
    build, message = HOSTILE[case]
    with pytest.raises(ValueError, match=message):
        build(way, *design_arrays())


def two_way_fit(way, y, X, groups):
    return qm.Probit(lazy(way, y), lazy(way, X)).fit(cov_type="cluster",
                                                     cov_kwds={"groups": groups})


@pytest.mark.parametrize("way", ["memory, 1 thread", "dask threads"])
def test_inputs_memory_takes_are_taken(monkeypatch, way):
    """Two group columns given as a list are statsmodels' two-way form, the
    same clusters as the n x 2 array (in memory also for every row of a
    formula's data when rows were dropped); a Dask fit of arrays predicts
    rows given as a pandas DataFrame as memory does."""
    monkeypatch.setattr(quillon_models.parts, "BLOCK_ROWS", ROWS)
    y, X, g = design_arrays()
    labels = np.where(g % 2 == 0, "even", "odd")
    as_list = two_way_fit(way, y, X, [lazy(way, g), lazy(way, labels)])
    as_array = two_way_fit("memory, 1 thread", y, X, np.column_stack([g, labels]))
    np.testing.assert_array_equal(as_list.bse, as_array.bse)
    rows = pd.DataFrame(X[:5], columns=["c", "a", "b"], index=list("vwxyz"))
    predicted = as_list.predict(rows)
    pd.testing.assert_series_equal(predicted, as_array.predict(rows), check_exact=True)
    if way.startswith("memory"):
        data = with_holes(frame())
        dropped = qm.probit("y ~ x", data).fit(cov_type="cluster",
                                               cov_kwds={"groups": [data.school.to_numpy(),
                                                                    data.d.to_numpy()]})
        kept = data.dropna(subset=["x"])
        one = qm.probit("y ~ x", data).fit(cov_type="cluster",
                                           cov_kwds={"groups": kept[["school", "d"]].to_numpy()})
        np.testing.assert_array_equal(dropped.bse, one.bse)


@pytest.mark.parametrize("way", WAYS)
def test_predictions_name_their_rows_and_refuse_new_levels(way_of, way):
    data = with_holes(frame())
    held, options, scheduler = way_of(way, data)
    with scheduler:
        results = qm.probit("y ~ x + C(g)", held).fit(**options)
        fitted, every = (results.predict(), results.predict(held))
        if not isinstance(fitted, pd.Series):
            fitted, every = fitted.compute(), every.compute()
        # the fitted rows by label; new data row for row, NaN where a value is missing
        assert list(fitted.index) == list(data.dropna().index)
        assert every.isna().sum() == 5 and list(every.index) == list(data.index)
        # the same estimates predict the same bits in memory, row by row
        in_memory = qm.probit("y ~ x + C(g)", data).predict(results.params.to_numpy(), data)
        np.testing.assert_array_equal(every.to_numpy(), in_memory.to_numpy())
        with pytest.raises(ValueError, match="levels the fit never saw: z"):
            results.predict(pd.DataFrame({"x": [0.1], "g": ["z"]}))
        with pytest.raises(ValueError, match="lack columns the formula uses: 'x'"):
            results.predict(pd.DataFrame({"g": ["a"]}))


@pytest.mark.parametrize("way", WAYS)
def test_formulas_see_the_callers_names(way_of, way):
    scale = 2.0
    data, options, scheduler = way_of(way, frame().assign(missing=lambda d: d.x))
    with scheduler, pytest.warns(qm.CollinearityWarning, match="missing omitted"):
        results = qm.probit("y ~ I(x / scale) + missing", data).fit(**options)
    # x / 2, then x: the second is the first scaled, and left out
    assert list(results.params.index) == ["Intercept", "I(x / scale)", "missing"]
    assert results.omitted == ["missing"]


def test_threads_never_change_the_bits_of_a_large_fit():
    """Memory's own block size, several blocks: 1, 2 and every thread."""
    rng = np.random.default_rng(2)
    n = 3 * quillon_models.parts.BLOCK_ROWS + 17
    X = np.column_stack([np.ones(n), rng.normal(size=(n, 3))])
    y = (X @ [0.1, 0.5, -0.3, 0.2] + rng.normal(size=n) > 0).astype(float)
    fits = [qm.Probit(y, X).fit(cov_type="HC0", n_jobs=j) for j in (1, 2, None)]
    assert len({f.params.to_numpy().tobytes() + f.cov_params().to_numpy().tobytes()
                for f in fits}) == 1
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        assert fits[0].predict().shape == (n,)
