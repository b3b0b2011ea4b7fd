"""Effects of variables on Dask against the same in memory: the same bits on
one partition, 1e-10 on several, for slopes through squares and
interactions, factor contrasts, groups, predictions and comparisons; after
rows left out for missing and infinite values, zero weights and separation,
with weights as a column, a Dask Series or a Dask array."""

import numpy as np
import pandas as pd
import pytest

dask = pytest.importorskip("dask")
da = pytest.importorskip("dask.array")
dd = pytest.importorskip("dask.dataframe")
pytest.importorskip("formulaic")

import quillon_models as qm  # noqa: E402

FORMULA = "y ~ x1 + I(x1**2) + x2*d + C(level) + np.log(w)"


@pytest.fixture(scope="module")
def frame():
    rng = np.random.default_rng(5)
    n = 5000
    frame = pd.DataFrame({"x1": rng.normal(size=n), "x2": rng.uniform(-2, 2, size=n),
                          "level": rng.choice(["low", "mid", "high"], size=n),
                          "d": (rng.random(n) < 0.4).astype(float),
                          "w": rng.uniform(1, 9, size=n), "region": rng.integers(0, 4, size=n),
                          "s": (rng.random(n) < 0.1).astype(float),
                          "fw": rng.choice([0.0, 2.0, 1.0, 3.0], size=n)})
    index = 0.2 + 0.7 * frame.x1 - 0.2 * frame.x1 ** 2 - 0.4 * frame.x2 * frame.d
    frame["y"] = (index + 0.3 * (frame.level == "mid") + rng.normal(size=n) > 0).astype(float)
    frame.loc[frame.s == 1, "y"] = 1.0  # s = 1 predicts y = 1 perfectly
    frame.loc[[5, 77, 4000], "x2"] = np.nan  # dropped rows
    frame.loc[[9, 2600], "x1"] = np.inf
    return frame


def tables(results):
    return [results.ame(), results.ame(by="region", binary="slope"),
            results.predictions(by=["region", "level"]),
            results.comparisons({"x2": (-1, 1), "level": ("low", "high")})]


# weights on Dask as the Dask data give them (None: the column's name)
WEIGHTS = {
    None: lambda data, frame: "fw",
    "Series": lambda data, frame: dd.from_pandas(frame["fw"], npartitions=4),
    "array": lambda data, frame: data["fw"].to_dask_array(),  # blocks of unknown length
    "array, other blocks": lambda data, frame: da.from_array(frame["fw"].to_numpy(), chunks=700),
}
CASES = {  # the formula's extra term, fit options, the weights' kind and source
    "unweighted": ("", {}, None, None),
    "weights of a column, separation dropped": (" + s", {"separation": "drop"},
                                                "freq_weights", None),
    "weights of a Series": ("", {}, "sampling_weights", "Series"),
    "weights of an array, separation dropped": (" + s", {"separation": "drop"},
                                                "freq_weights", "array"),
    "weights of an array of other blocks": ("", {}, "sampling_weights", "array, other blocks"),
}


@pytest.mark.parametrize("case", CASES)
@pytest.mark.parametrize("partitions, scheduler", [(1, "sync"), (6, "threads")])
def test_dask_effects_match_memory(frame, partitions, scheduler, case):
    term, options, kind, source = CASES[case]
    expected = tables(qm.probit(FORMULA + term, frame, **({kind: "fw"} if kind else {}))
                      .fit(**options))
    data = dd.from_pandas(frame, npartitions=partitions)
    weights = {kind: WEIGHTS[source](data, frame)} if kind else {}
    with dask.config.set(scheduler=scheduler):
        fitted = qm.probit(FORMULA + term, data, **weights).fit(**options)
        got = tables(fitted)
    assert fitted.omitted == (["s"] if term else [])
    for mine, theirs in zip(got, expected):
        assert mine.index.equals(theirs.index)
        a, b = mine.select_dtypes("number").to_numpy(), theirs.select_dtypes("number").to_numpy()
        if partitions == 1:
            assert a.tobytes() == b.tobytes()
        else:
            np.testing.assert_allclose(a, b, rtol=1e-10, atol=1e-15)
