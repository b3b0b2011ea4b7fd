"""Effects of variables on Dask against the same in memory: the same bits on
one partition, 1e-10 on several, for slopes through squares and
interactions, factor contrasts, groups, predictions and comparisons."""

import numpy as np
import pandas as pd
import pytest

dask = pytest.importorskip("dask")
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
                          "w": rng.uniform(1, 9, size=n), "region": rng.integers(0, 4, size=n)})
    index = 0.2 + 0.7 * frame.x1 - 0.2 * frame.x1 ** 2 - 0.4 * frame.x2 * frame.d
    frame["y"] = (index + 0.3 * (frame.level == "mid") + rng.normal(size=n) > 0).astype(float)
    frame.loc[[5, 77, 4000], "x2"] = np.nan  # dropped rows
    return frame


def tables(results):
    return [results.ame(), results.ame(by="region", binary="slope"),
            results.predictions(by=["region", "level"]),
            results.comparisons({"x2": (-1, 1), "level": ("low", "high")})]


@pytest.mark.parametrize("partitions, scheduler", [(1, "sync"), (6, "threads")])
def test_dask_effects_match_memory(frame, partitions, scheduler):
    expected = tables(qm.probit(FORMULA, frame).fit())
    with dask.config.set(scheduler=scheduler):
        got = tables(qm.probit(FORMULA, dd.from_pandas(frame, npartitions=partitions)).fit())
    for mine, theirs in zip(got, expected):
        assert mine.index.equals(theirs.index)
        a, b = mine.select_dtypes("number").to_numpy(), theirs.select_dtypes("number").to_numpy()
        if partitions == 1:
            assert a.tobytes() == b.tobytes()
        else:
            np.testing.assert_allclose(a, b, rtol=1e-10, atol=1e-15)
