"""Fits on Dask collections against the same fits in memory: 1e-12 on one
partition (the part kernels mirror the Hessian, the engine forms both of its
triangles), 1e-10 on several, the same bits whichever scheduler runs a
partitioning, and faults that reach the caller or are recovered from."""

import os
import pickle
import sys
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pandas as pd
import pytest

dask = pytest.importorskip("dask")
da = pytest.importorskip("dask.array")
dd = pytest.importorskip("dask.dataframe")
distributed = pytest.importorskip("distributed")
pytest.importorskip("pyarrow")
pytest.importorskip("formulaic")

import cloudpickle  # noqa: E402

import quillon_models as qm  # noqa: E402
from quillon_models._dask_threads import partition_chains  # noqa: E402

# Workers import nothing from this folder: they get its functions by value.
cloudpickle.register_pickle_by_value(sys.modules[__name__])

FORMULA = "y ~ x1 + x2 + C(level) + d"
COVARIANCES = [("nonrobust", None), ("HC0", None), ("HC1", None),
               ("cluster", {"groups": "school"}), ("cluster", {"groups": ["school", "region"]})]


def make_frame(n=6000, seed=11):
    rng = np.random.default_rng(seed)
    frame = pd.DataFrame({
        "x1": rng.normal(size=n),
        "x2": rng.uniform(-2, 2, size=n),
        "level": rng.choice(["low", "mid", "high"], size=n),
        "d": (rng.random(n) < 0.4).astype(float),
        "school": rng.choice([f"s{j:02d}" for j in range(37)], size=n),
        "region": rng.integers(0, 5, size=n),
    })
    index = 0.2 + 0.7 * frame.x1 - 0.4 * frame.x2 + 0.5 * frame.d + 0.3 * (frame.level == "mid")
    frame["y"] = (index + rng.normal(size=n) > 0).astype(float)
    frame.loc[[5, 77, 4000], "x2"] = np.nan  # dropped rows
    return frame


@pytest.fixture(scope="module")
def frame():
    return make_frame()


@pytest.fixture(scope="module")
def cluster():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, host="127.0.0.1",
                                  dashboard_address=None, processes=True) as local:
        with distributed.Client(local, set_as_default=False) as client:
            yield client


def fit(formula, data, cov, kwds, **options):
    return qm.probit(formula, data).fit(cov_type=cov, cov_kwds=kwds, **options)


def numbers(results):
    """Every number of a fit and its margins, as bytes."""
    table = results.ame()
    return {
        "params": results.params.to_numpy().tobytes(),
        "cov": results.cov_params().to_numpy().tobytes(),
        "llf": np.float64(results.llf).tobytes(),
        "llnull": np.float64(results.llnull).tobytes(),
        "ame": table.iloc[:, [0, 1, 2, 3, 5, 6]].to_numpy().tobytes(),
        "names": (tuple(results.params.index), tuple(table.index)),
        "counts": (results.nobs, results.nobs_dropped, results.iterations, results.converged),
    }


def relative_gap(a, b):
    a, b = np.asarray(a, dtype=float), np.asarray(b, dtype=float)
    return float(np.max(np.abs(a - b) / np.maximum(np.abs(b), 1e-300)))


def assert_agree(results, memory, tolerance):
    """Names and counts the same; estimates, covariances, log-likelihoods and
    the effects' estimates, errors and z within `tolerance`."""
    exact = ("names", "counts")
    assert {key: numbers(results)[key] for key in exact} == {
        key: numbers(memory)[key] for key in exact}
    assert relative_gap(results.params, memory.params) < tolerance
    assert relative_gap(results.cov_params(), memory.cov_params()) < tolerance
    assert relative_gap([results.llf, results.llnull], [memory.llf, memory.llnull]) < tolerance
    assert relative_gap(results.ame().iloc[:, :3], memory.ame().iloc[:, :3]) < tolerance


@pytest.mark.parametrize("cov, kwds", COVARIANCES)
def test_one_partition_agrees_with_memory_within_1e_12(frame, cov, kwds):
    with dask.config.set(scheduler="sync"):
        on_dask = fit(FORMULA, dd.from_pandas(frame, npartitions=1), cov, kwds)
        assert_agree(on_dask, fit(FORMULA, frame, cov, kwds), 1e-12)


@pytest.mark.parametrize("cov, kwds", COVARIANCES)
def test_several_partitions_agree_within_1e_10(frame, cov, kwds):
    memory = fit(FORMULA, frame, cov, kwds)
    with dask.config.set(scheduler="threads"):
        on_dask = fit(FORMULA, dd.from_pandas(frame, npartitions=7), cov, kwds)
        table = on_dask.ame()
    expected = memory.ame()
    assert relative_gap(on_dask.params, memory.params) < 1e-10
    assert relative_gap(on_dask.cov_params(), memory.cov_params()) < 1e-10
    assert relative_gap([on_dask.llf, on_dask.llnull], [memory.llf, memory.llnull]) < 1e-10
    assert relative_gap(table.iloc[:, :2], expected.iloc[:, :2]) < 1e-10
    assert (on_dask.nobs, on_dask.nobs_dropped) == (memory.nobs, memory.nobs_dropped) == (5997, 3)


def test_arrays_fit_like_memory_and_predict_lazily(frame):
    X = np.column_stack([np.ones(len(frame)), frame.x1, frame.d])
    y = frame.y.to_numpy()
    memory = qm.Probit(y, X).fit(cov_type="HC0")
    with dask.config.set(scheduler="threads"):
        results = qm.Probit(da.from_array(y, chunks=len(y)),
                            da.from_array(X, chunks=(len(y), 3))).fit(cov_type="HC0")
        predicted = results.predict()
        assert isinstance(predicted, dd.Series)
        np.testing.assert_allclose(predicted.compute().to_numpy(), memory.predict(), rtol=1e-12)
        assert_agree(results, memory, 1e-12)
        assert numbers(pickle.loads(pickle.dumps(results))) == numbers(results)


def test_one_partitioning_gives_the_same_bits_on_every_scheduler(frame, cluster):
    data = dd.from_pandas(frame, npartitions=5)
    kwds = {"groups": "school"}
    runs = []
    # A pool of the caller's sends the threaded passes through Dask's scheduler.
    with ThreadPoolExecutor(2) as pool:
        for options in ({"scheduler": "sync"}, {"scheduler": "threads"},
                        {"scheduler": "threads", "pool": pool}, {"scheduler": "processes"},
                        {"scheduler": cluster}):
            with dask.config.set(**options):
                runs.append(numbers(fit(FORMULA, data, "cluster", kwds)))
    assert all(run == runs[0] for run in runs[1:])


def test_partitions_run_in_this_process_only_when_they_share_no_task():
    own = [dask.delayed(np.multiply)(dask.delayed(np.add)(np.arange(3.0), i), 2.0)
           for i in range(4)]
    chains = partition_chains(own)
    assert chains is not None
    for chain, expected in zip(chains, dask.compute(*own)):
        np.testing.assert_array_equal(chain.compute(), expected)
    source = dask.delayed(np.arange)(3.0)
    assert partition_chains([dask.delayed(np.add)(source, i) for i in range(4)]) is None


def test_string_clusters_from_parquet(frame, tmp_path):
    dd.from_pandas(frame, npartitions=4).to_parquet(tmp_path / "set", write_index=False)
    with dask.config.set(scheduler="threads"):
        results = fit(FORMULA, dd.read_parquet(tmp_path / "set"), "cluster",
                      {"groups": "school"})
        on_dask = numbers(results)
    memory = fit(FORMULA, frame, "cluster", {"groups": "school"})
    assert results.cov_kwds["n_groups"] == (37,)
    assert on_dask["names"] == numbers(memory)["names"]
    assert relative_gap(results.cov_params(), memory.cov_params()) < 1e-10


def load_part(i, frame, marker):
    """Partition i. While `marker` holds a count, each load of partition 2
    lowers it, and the load that brings it to 0 kills its worker process."""
    if i == 2 and marker is not None and os.path.exists(marker):
        with open(marker) as f:
            left = int(f.read()) - 1
        if left == 0:
            os.remove(marker)
            os._exit(1)
        with open(marker, "w") as f:
            f.write(str(left))
    if i == 3 and marker is None:
        raise OSError("partition 3 cannot be read")
    return frame.iloc[i * 1500:(i + 1) * 1500]


def test_a_worker_killed_mid_fit_changes_no_bit(frame, cluster, tmp_path):
    marker = str(tmp_path / "armed")
    data = dd.from_map(load_part, range(4), frame=frame, marker=marker, enforce_metadata=False)
    with dask.config.set(scheduler=cluster):
        calm = numbers(fit(FORMULA, data, "HC1", None))
        with open(marker, "w") as f:
            f.write("3")  # the levels' pass, then the first two Newton passes
        assert numbers(fit(FORMULA, data, "HC1", None)) == calm
    assert not os.path.exists(marker)  # the worker did die


def test_an_unreadable_partition_raises_its_own_error(frame):
    data = dd.from_map(load_part, range(4), frame=frame, marker=None, enforce_metadata=False)
    with dask.config.set(scheduler="threads"), pytest.raises(OSError, match="partition 3"):
        fit(FORMULA, data, "nonrobust", None)


@pytest.mark.parametrize("change, options, error", [
    (lambda f: f.assign(y=f.y * 2), {}, "must hold 0/1 values"),
    (lambda f: f, {"cov_type": "HC3"}, "not available"),
    (lambda f: f, {"cov_type": "cluster"}, "needs cov_kwds"),
    (lambda f: f, {"maxiter": -1}, "at least 0"),
    (lambda f: f.assign(x1=np.inf), {}, "no observations left"),
])
def test_bad_inputs_get_the_errors_of_memory(frame, change, options, error):
    data = change(frame)
    with pytest.raises((ValueError, NotImplementedError), match=error) as in_memory:
        qm.probit(FORMULA, data).fit(**options)
    with dask.config.set(scheduler="sync"), pytest.raises(in_memory.type, match=error):
        qm.probit(FORMULA, dd.from_pandas(data, npartitions=2)).fit(**options)


def test_transforms_that_learn_from_the_data_are_refused(frame):
    with pytest.raises(NotImplementedError, match="center"):
        qm.probit("y ~ center(x1)", dd.from_pandas(frame, npartitions=2))


def test_the_callers_dask_collections_named_by_the_formula(frame):
    data = dd.from_pandas(frame, npartitions=2)
    x1 = data["x1"] * 2  # noqa: F841 -- hidden by the column of that name
    scale = data["x1"].std()  # noqa: F841 -- not a column: refused
    with dask.config.set(scheduler="sync"):
        fitted = qm.probit("y ~ x1", data).fit()
    np.testing.assert_allclose(fitted.params, qm.probit("y ~ x1", frame).fit().params,
                               rtol=1e-10)
    with pytest.raises(ValueError, match="'scale' are Dask collections"):
        qm.probit("y ~ I(x1 / scale)", data)


# Set once the model is built: from then on, reading the third partition
# presses Ctrl-C, so that it lands in the fit's passes.
CTRL_C_ARMED = []


def interrupting_part(i, frame):
    import signal
    import time

    if i == 2 and CTRL_C_ARMED:
        os.kill(os.getpid(), signal.SIGINT)
    time.sleep(0.3)
    return frame.iloc[i * 1500:(i + 1) * 1500]


def test_ctrl_c_stops_the_fit_with_keyboard_interrupt(frame):
    import signal

    data = dd.from_map(interrupting_part, range(4), frame=frame, enforce_metadata=False)
    # Python's own Ctrl-C handler, even where the run was started with SIGINT
    # ignored (in the background of a shell without job control).
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    with dask.config.set(scheduler="threads"):
        model = qm.probit(FORMULA, data)
        CTRL_C_ARMED.append(True)
        try:
            with pytest.raises(KeyboardInterrupt):
                model.fit()
        finally:
            CTRL_C_ARMED.clear()
            signal.signal(signal.SIGINT, previous)
