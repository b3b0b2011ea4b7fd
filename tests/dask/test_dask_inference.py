"""Tests of hypotheses on fits to Dask data: the formula's terms come from its
model spec, so wald_test_terms needs no data in memory; what needs the
design says so."""

import numpy as np
import pandas as pd
import pytest

dask = pytest.importorskip("dask")
dd = pytest.importorskip("dask.dataframe")
pytest.importorskip("formulaic")

import quillon_models as qm  # noqa: E402

FORMULA = "y ~ x1 + C(level) + x1:C(level)"


@pytest.fixture(scope="module")
def frame():
    rng = np.random.default_rng(5)
    n = 3000
    frame = pd.DataFrame({"x1": rng.normal(size=n), "level": rng.choice(list("abc"), size=n)})
    index = 0.3 + 0.6 * frame.x1 - 0.5 * (frame.level == "b")
    return frame.assign(y=(index + rng.normal(size=n) > 0).astype(float))


def test_wald_test_terms_on_dask_as_in_memory(frame):
    with dask.config.set(scheduler="sync"):
        on_dask = qm.probit(FORMULA, dd.from_pandas(frame, npartitions=1)).fit(cov_type="HC0")
        table = on_dask.wald_test_terms().table
    memory = qm.probit(FORMULA, frame).fit(cov_type="HC0").wald_test_terms().table
    pd.testing.assert_frame_equal(table, memory)
    assert list(table.index) == ["Intercept", "x1", "C(level)", "x1:C(level)"]
    assert list(table["df_constraint"]) == [1, 1, 2, 2]
    with pytest.raises(NotImplementedError, match="get_prediction needs the design in memory"):
        on_dask.get_prediction()
    np.testing.assert_array_equal(on_dask.get_prediction(frame.head()).se,
                                  qm.probit(FORMULA, frame).fit(cov_type="HC0")
                                  .get_prediction(frame.head()).se)
    with pytest.raises(NotImplementedError, match="pred_table needs"):
        on_dask.pred_table()
