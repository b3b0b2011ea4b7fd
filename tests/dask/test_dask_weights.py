"""Weights on Dask, read by every partition where it lies: the same fits,
covariances and effects as in memory (1e-10 on several partitions), zero
weights left out and counted, bad weights refused by the first pass with
the messages of data in memory, weights that cannot be paired with the
data's rows refused."""

import numpy as np
import pandas as pd
import pytest

dask = pytest.importorskip("dask")
da = pytest.importorskip("dask.array")
dd = pytest.importorskip("dask.dataframe")
pytest.importorskip("pyarrow")
pytest.importorskip("formulaic")

import quillon_models as qm  # noqa: E402

FORMULA = "y ~ x1 + x2 + C(level) + d"


def make_frame(n=5000, seed=12):
    rng = np.random.default_rng(seed)
    frame = pd.DataFrame({"x1": rng.normal(size=n), "x2": rng.uniform(-2, 2, size=n),
                          "level": rng.choice(["low", "mid", "high"], size=n),
                          "d": (rng.random(n) < 0.4).astype(float),
                          "school": rng.integers(0, 30, size=n),
                          "w": rng.choice([0.0, 2.0, 1.0, 3.0], size=n)})
    index = 0.2 + 0.7 * frame.x1 - 0.4 * frame.x2 + 0.5 * frame.d
    frame["y"] = (index + rng.normal(size=n) > 0).astype(float)
    frame.loc[[5, 77, 4000], "x2"] = np.nan
    return frame


def close(a, b, tol=1e-10):
    a, b = np.asarray(a, dtype=float), np.asarray(b, dtype=float)
    return np.max(np.abs(a - b)) <= tol * np.max(np.abs(b))


@pytest.mark.parametrize("kind, cov_type, kwds", [
    ("freq_weights", "nonrobust", None), ("freq_weights", "cluster", {"groups": "school"}),
    ("sampling_weights", "HC1", None), ("sampling_weights", "cluster", {"groups": "school"}),
])
def test_weighted_fit_on_dask_is_the_fit_in_memory(kind, cov_type, kwds):
    frame = make_frame()
    with dask.config.set(scheduler="sync"):
        on_dask = qm.probit(FORMULA, dd.from_pandas(frame, npartitions=4),
                            **{kind: "w"}).fit(cov_type=cov_type, cov_kwds=kwds)
        effects = on_dask.get_margeff().summary_frame()
    memory = qm.probit(FORMULA, frame, **{kind: "w"}).fit(cov_type=cov_type, cov_kwds=kwds)
    assert on_dask.nobs == memory.nobs and on_dask.nobs_dropped == memory.nobs_dropped == 3
    assert on_dask.model.nobs_zero_weight == memory.model.nobs_zero_weight > 0
    assert close(on_dask.params, memory.params) and close(on_dask.cov_params(),
                                                          memory.cov_params())
    assert abs(on_dask.llnull / memory.llnull - 1) < 1e-12
    assert close(effects["dy/dx"], memory.get_margeff().summary_frame()["dy/dx"])


def test_weights_of_dask_arrays_follow_exog_rows():
    frame = make_frame().dropna()
    exog = frame[["x1", "x2", "d"]].assign(const=1.0)
    memory = qm.Probit(frame.y, exog, sampling_weights=frame.w.to_numpy()).fit()
    with dask.config.set(scheduler="sync"):
        on_dask = qm.Probit(dd.from_pandas(frame.y, npartitions=3),
                            dd.from_pandas(exog, npartitions=3),
                            sampling_weights=dd.from_pandas(frame.w, npartitions=3)).fit()
    assert close(on_dask.params, memory.params) and close(on_dask.bse, memory.bse)


@pytest.mark.parametrize("scale", [1e-90, 1e-6, 1e-4, 1e6])
@pytest.mark.parametrize("on_dask", [False, True], ids=["memory", "dask"])
def test_the_scale_of_sampling_weights_changes_nothing(on_dask, scale):
    """Weights w and c * w: the same estimates and errors, the iteration's
    stop told relative to the weights, the log-likelihoods c times."""
    frame = make_frame()
    hold = (lambda f: dd.from_pandas(f, npartitions=3)) if on_dask else (lambda f: f)
    with dask.config.set(scheduler="sync"):
        fits = [qm.probit(FORMULA, hold(frame.assign(w=frame.w * c)),
                          sampling_weights="w").fit() for c in (1.0, scale)]
        base, scaled = fits
        assert close(scaled.params, base.params, 1e-12) and close(scaled.bse, base.bse, 1e-12)
        assert scaled.converged and scaled.iterations == base.iterations
        for name in ("llf", "llnull"):
            assert abs(getattr(scaled, name) / (scale * getattr(base, name)) - 1) < 1e-12


@pytest.mark.parametrize("change, message", [
    (lambda w: -w, r"freq_weights has \d+ negative values"),
    (lambda w: w.where(w.index != 9), "freq_weights has 1 NaN or infinite"),
    (lambda w: w * 0.0, "freq_weights are all zero"),
    (lambda w: w + 0.25, r"freq_weights has \d+ values that are not whole numbers.*"
                         "sampling_weights"),
])
def test_bad_weights_are_refused_on_dask(change, message):
    frame = make_frame()
    frame["w"] = change(frame["w"])
    model = qm.probit(FORMULA, dd.from_pandas(frame, npartitions=3), freq_weights="w")
    with dask.config.set(scheduler="sync"), pytest.raises(ValueError, match=message):
        model.fit()


@pytest.mark.parametrize("weights, message", [
    (lambda f: dd.from_pandas(f.w.set_axis(f.index[::-1]), npartitions=3, sort=False),
     "different indexes in a partition"),
    (lambda f: dd.from_pandas(f.w, npartitions=2).clear_divisions(),
     "has 2 partitions and the data 3, and the divisions"),
    (lambda f: da.from_array(f.w.to_numpy()[:-1], chunks=1000), "has 4999 rows and the data 5000"),
])
def test_weights_that_cannot_be_paired_with_the_rows_are_refused(weights, message):
    frame = make_frame()
    with dask.config.set(scheduler="sync"), pytest.raises(ValueError, match=message):
        qm.probit(FORMULA, dd.from_pandas(frame, npartitions=3),
                  freq_weights=weights(frame)).fit()


@pytest.mark.parametrize("weights", [
    lambda f: da.from_array(f.w.to_numpy(), chunks=((1000, 1000, 3000),)),
    lambda f: dd.from_pandas(f.w, npartitions=3).repartition(divisions=[0, 1000, 2000, 4999]),
    lambda f: dd.from_pandas(f.w, npartitions=2),
], ids=["array, other blocks", "Series, other boundaries", "Series, other partitions"])
def test_weights_in_other_blocks_than_the_data_are_paired_with_its_rows(weights):
    frame = make_frame()
    memory = qm.probit(FORMULA, frame, sampling_weights=frame.w).fit()
    with dask.config.set(scheduler="sync"):
        on_dask = qm.probit(FORMULA, dd.from_pandas(frame, npartitions=3),
                            sampling_weights=weights(frame)).fit()
    assert close(on_dask.params, memory.params) and close(on_dask.bse, memory.bse)


NOT_WEIGHTS = {
    "durations": (lambda f: pd.to_timedelta(f.w, unit="s"), TypeError,
                  r"sampling_weights must be numbers, got values of type timedelta64\[\w+\]"),
    "categories": (lambda f: f.w.astype("category"), TypeError,
                   "sampling_weights must be numbers, got values of type category"),
    "another index": (lambda f: f.w.set_axis(f.index + 7), ValueError,
                      "data and sampling_weights have different indexes"),
}


@pytest.mark.parametrize("case, where", [(case, where) for case in NOT_WEIGHTS
                                         for where in ["memory", "dask series", "dask column"]
                                         if (case, where) != ("another index", "dask column")])
def test_weights_refused_alike_in_memory_and_on_dask(case, where):
    weights, error, message = NOT_WEIGHTS[case]
    frame = make_frame()
    given = weights(frame)
    if where == "dask series":
        data, given = dd.from_pandas(frame, npartitions=3), dd.from_pandas(given, npartitions=2)
    elif where == "dask column":
        data, given = dd.from_pandas(frame.assign(v=given), npartitions=3), "v"
    else:
        data = frame
    with dask.config.set(scheduler="sync"), pytest.raises(error, match=message):
        qm.probit(FORMULA, data, sampling_weights=given).fit()


@pytest.mark.filterwarnings("ignore::quillon_models.PerfectSeparationWarning")
@pytest.mark.parametrize("partitions", [3, 7])
@pytest.mark.parametrize("kind, cov_type, kwds", [
    ("freq_weights", "nonrobust", None), ("freq_weights", "cluster", {"groups": "school"}),
    ("sampling_weights", "cluster", {"groups": "school"}),
])
def test_rows_left_out_for_separation_leave_the_weights_total(partitions, kind, cov_type, kwds):
    # d = 1 only where y = 1, and only in the first rows: the partitions that
    # lose rows for separation count the weights of those they keep, the
    # others keep their own count
    frame = make_frame().assign(d=lambda f: f.d.where(f.index < 1200, 0.0))
    frame = frame.assign(y=frame.y.where(frame.d == 0, 1.0))
    options = dict(separation="drop", cov_type=cov_type, cov_kwds=kwds)
    memory = qm.probit(FORMULA, frame, **{kind: "w"}).fit(**options)
    with dask.config.set(scheduler="threads"):
        on_dask = qm.probit(FORMULA, dd.from_pandas(frame, npartitions=partitions),
                            **{kind: "w"}).fit(**options)
    assert memory.omitted == on_dask.omitted == ["d"] and on_dask.nobs == memory.nobs
    kept = memory.params.notna()
    assert close(on_dask.params[kept], memory.params[kept])
    assert close(on_dask.bse[kept], memory.bse[kept])


@pytest.mark.filterwarnings("ignore::quillon_models.PerfectSeparationWarning")
@pytest.mark.parametrize("separation", ["warn", "drop"])
@pytest.mark.parametrize("build", [
    lambda data, w: qm.probit(FORMULA, data, freq_weights=w),
    lambda data, w: qm.Probit(data.y, data[["x1", "x2", "d"]].assign(const=1.0), missing="drop",
                              freq_weights=w),
], ids=["formula", "arrays"])
def test_fitted_predictions_are_of_the_rows_fitted(build, separation):
    # rows left out for missing values, zero weights and separation: those
    # of memory, labelled alike
    frame = make_frame().assign(d=lambda f: f.d.where(f.index < 1200, 0.0))
    frame = frame.assign(y=frame.y.where(frame.d == 0, 1.0))
    memory = build(frame, frame.w).fit(separation=separation).predict()
    data = dd.from_pandas(frame, npartitions=4)
    with dask.config.set(scheduler="threads"):
        on_dask = build(data, data.w).fit(separation=separation).predict()
        assert isinstance(on_dask, dd.Series)
        on_dask = on_dask.compute()
    np.testing.assert_array_equal(on_dask.index.to_numpy(), memory.index.to_numpy())
    assert close(on_dask, memory, 1e-12)
