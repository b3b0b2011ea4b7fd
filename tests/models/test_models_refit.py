"""A model fitted again, with any options in any order, in memory and on
Dask: every earlier result keeps its numbers bit for bit (read again after
the later fits, pickled, after remove_data), and each fit gives what the
same fit of a new model gives."""

import contextlib
import pickle
import re
import warnings

import numpy as np
import pandas as pd
import pytest

import quillon_models as qm

pytest.importorskip("formulaic")
pytest.importorskip("scipy")

FORMULA = "y ~ x + z + C(level) + d"
CLUSTER = {"cov_type": "cluster", "cov_kwds": {"groups": "g"}}
DROP = {"separation": "drop"}


def frame(n=600, seed=8):
    rng = np.random.default_rng(seed)
    data = pd.DataFrame({"x": rng.normal(size=n), "z": rng.uniform(-1, 1, size=n),
                         "level": rng.choice(["a", "b", "c"], size=n),
                         "g": rng.integers(0, 15, size=n),
                         "w": rng.choice([0.0, 1.0, 2.0, 3.0], size=n)})
    data["y"] = (0.2 + 0.8 * data.x - 0.5 * data.z + rng.normal(size=n) > 0).astype(float)
    # d = 1 on a few rows, all with y = 1: separated
    data["d"] = ((data.y == 1) & (rng.random(n) < 0.08)).astype(float)
    data.loc[[3, 250], "z"] = np.nan
    return data


def arrays_model(data):
    data = data.dropna()
    return qm.Probit(data.y, data[["x", "z", "d"]].assign(const=1.0))


MODELS = {"formula": lambda data: qm.probit(FORMULA, data),
          "frequency weights": lambda data: qm.probit(FORMULA, data, freq_weights="w"),
          "sampling weights": lambda data: qm.probit(FORMULA, data, sampling_weights="w"),
          "arrays": arrays_model}

# (the model, its fits in order); a fit that raises must change nothing either
SEQUENCES = {
    "warn, drop, warn": ("formula", [{}, DROP, {}]),
    "drop, raise, cluster": ("formula", [DROP, {"separation": "raise"}, CLUSTER]),
    "threads and covariances": ("formula", [{"n_jobs": 1, "cov_type": "HC0"},
                                            {**DROP, "n_jobs": 2, "cov_type": "HC1"},
                                            {"collinear": "raise", **CLUSTER}]),
    "frequency weights": ("frequency weights", [{}, {**DROP, **CLUSTER}, {}]),
    "sampling weights": ("sampling weights", [{**DROP, **CLUSTER}, {}, {**DROP, "n_jobs": 1}]),
    "arrays": ("arrays", [{}, DROP, {"cov_type": "HC1"}]),
}


def on(where, data):
    """The data as `where` holds them, and the context the fits run in."""
    if where == "memory":
        return data, contextlib.nullcontext()
    dask = pytest.importorskip("dask")
    dd = pytest.importorskip("dask.dataframe")
    return dd.from_pandas(data, npartitions=2), dask.config.set(scheduler="threads")


def values(x):
    """The bytes of numbers, computed first when they are lazy (Dask)."""
    x = x.compute() if hasattr(x, "compute") else x
    return np.ascontiguousarray(np.asarray(x, dtype=np.float64)).tobytes()


def text(summary):
    """A summary's text less the date and time it was made."""
    return re.sub(r"(Date|Time):\s+[^\n]*?   ", "", str(summary))


def told(read):
    """What reading a result gives: its numbers, or the error it raises."""
    try:
        return read()
    except (ValueError, NotImplementedError) as error:
        return type(error).__name__, str(error)


def numbers(results, only=None):
    """Everything a result tells (or the reads `only`), read now."""
    formula = results.model.formula is not None
    reads = {"params": lambda: values(results.params),
             "cov": lambda: values(results.cov_params()),
             "llnull": lambda: values(results.llnull), "nobs": lambda: results.nobs,
             "omitted": lambda: results.omitted, "predict": lambda: values(results.predict()),
             "summary": lambda: text(results.summary()),
             "margeff": lambda: values(results.get_margeff().summary_frame().iloc[:, :4]),
             "t_test": lambda: values(results.t_test("x = 0").effect),
             "wald_test": lambda: values(results.wald_test("x = 0, z = 0").statistic),
             "terms": lambda: values(results.wald_test_terms().table),
             "ame": lambda: values((results.ame(by="level") if formula else results.ame())
                                   .select_dtypes("number")),
             "pred_table": lambda: values(results.pred_table()),
             "prediction": lambda: values(results.get_prediction().summary_frame())}
    return {name: told(read) for name, read in reads.items() if only is None or name in only}


FIRST = ["predict", "ame", "margeff"]
PICKLED = ["llnull", "predict", "ame", "summary"]


def kept(results):
    """What results keep after remove_data()."""
    reads = {"summary": lambda: text(results.summary()), "llnull": lambda: values(results.llnull),
             "t_test": lambda: values(results.t_test("x = 0").effect),
             "terms": lambda: values(results.wald_test_terms().table)}
    return {name: told(read) for name, read in reads.items()}


def fit(model, options):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        try:
            return model.fit(**options)
        except qm.PerfectSeparationError:
            return None


# The numbers of each fit of a new model, by (where, model, options).
ALONE: dict = {}


def alone(where, name, data, options):
    """The numbers of the fit of a new model, and what it keeps after
    remove_data() (None for a fit refused)."""
    key = (where, name, repr(options))
    if key not in ALONE:
        results = fit(MODELS[name](data), options)
        if results is None:
            ALONE[key] = None
        else:
            told = numbers(results)
            results.remove_data()
            ALONE[key] = told, kept(results)
    return ALONE[key]


@pytest.mark.filterwarnings("ignore")
@pytest.mark.parametrize("where", ["memory", "dask"])
@pytest.mark.parametrize("sequence", SEQUENCES)
def test_later_fits_leave_earlier_results_as_they_were(where, sequence):
    name, fits = SEQUENCES[sequence]
    data, scheduler = on(where, frame())
    with scheduler:
        model = MODELS[name](data)
        results, first = [], []
        for options in fits:  # each result read once before the next fit
            results.append(fit(model, options))
            first.append(results[-1] and numbers(results[-1], FIRST))
        for options, got, early in zip(fits, results, first):
            expected = alone(where, name, data, options)
            if expected is None:
                assert got is None
                continue
            assert got.model is model
            now = numbers(got)
            assert now == expected[0] and early == {k: now[k] for k in FIRST}
            pickled = numbers(pickle.loads(pickle.dumps(got)), PICKLED)
            assert pickled == {k: expected[0][k] for k in PICKLED}
            got.remove_data()
            got.remove_data()  # a second time changes nothing either
            assert kept(got) == kept(pickle.loads(pickle.dumps(got))) == expected[1]
