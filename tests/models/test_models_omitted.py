"""Regressors left out of the fit (separation, a level no fitted row has,
collinearity): their effects are NaN marked "(omitted)" with the reason,
never a zero; rows that load on a level without an estimate predict NaN,
never the reference level's probability; in memory and on Dask."""

import re
import warnings

import numpy as np
import pandas as pd
import pytest

import quillon_models as qm

pytest.importorskip("formulaic")

# How level "d" of s comes to have no estimate, and the reason the fit gives.
KINDS = {
    "separation": "separation",
    "unused category": "empty",
    "zero weights": "empty",
    "only rows dropped for missing values": "empty",
}


def data_with(kind, n=300):
    rng = np.random.default_rng(5)
    df = pd.DataFrame({"x": rng.normal(size=n), "s": rng.choice(["a", "b", "c"], n),
                       "w": rng.integers(1, 4, n).astype(float)})
    df["y"] = (df.x + (df.s == "b") + rng.normal(size=n) > 0) * 1.0
    at_d = np.arange(n) % 30 == 0
    if kind == "unused category":
        df["s"] = pd.Categorical(df.s, categories=["a", "b", "c", "d"])
        return df
    df.loc[at_d, "s"] = "d"
    if kind == "separation":
        df.loc[at_d, "y"] = 1.0
    elif kind == "zero weights":
        df.loc[at_d, "w"] = 0.0
    else:
        df.loc[at_d, "x"] = np.nan
    return df


def fitted(kind, data=None):
    data = data_with(kind) if data is None else data
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", qm.CollinearityWarning)
        return qm.probit("y ~ x + C(s)", data, freq_weights="w").fit(separation="drop")


def recorded(call):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        value = call()
    return value, [w for w in caught if issubclass(w.category, qm.OmittedWarning)]


@pytest.mark.parametrize("kind", KINDS)
def test_effects_of_an_omitted_level_are_marked_not_zero(kind):
    results = fitted(kind)
    assert results.omitted_reasons == {"C(s)[T.d]": KINDS[kind]}
    why = {"separation": "left out for separation", "empty": "zero on every fitted row"}[
        KINDS[kind]]
    for frame, caught in (recorded(results.ame),
                          recorded(lambda: results.comparisons({"s": ("a", "d")}))):
        row = frame.loc[("s", "d - a")]
        assert row.drop("Significance").isna().all() and row["Significance"] == "(omitted)"
        assert len(caught) == 1 and "s d - a" in str(caught[0].message)
        assert f"C(s)[T.d] ({why})" in str(caught[0].message)
        assert "not positive" not in str(caught[0].message)
        # the other levels keep their numbers
        assert frame.drop(("s", "d - a")).drop(columns="Significance").notna().all().all()
    margins, caught = recorded(results.get_margeff)
    assert np.isnan(margins.summary_frame().loc["C(s)[T.d]"]).all() and len(caught) == 1
    marked = re.compile(r"\nC\(s\)\[T\.d\] +\(omitted\) *\n")
    assert margins.omitted == ["C(s)[T.d]"] and marked.search(str(margins.summary()))
    assert marked.search(str(results.summary()))


def test_plot_marks_an_omitted_effect():
    matplotlib = pytest.importorskip("matplotlib")
    matplotlib.use("Agg")
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", qm.OmittedWarning)
        ax = fitted("unused category").plot_ame()
    labels = [t.get_text() for t in ax.figure.axes[1].get_yticklabels()]
    assert labels[-1] == "(omitted)" and "nan" not in " ".join(labels)


def test_a_variable_omitted_as_collinear_is_marked_and_predicts():
    """A column that repeats another: its effect is omitted, and rows predict
    through the column it repeats."""
    df = data_with("zero weights").assign(twice=lambda d: 2.0 * d.x)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", qm.CollinearityWarning)
        results = qm.probit("y ~ x + twice", df).fit()
    assert results.omitted_reasons == {"twice": "collinear"}
    frame, caught = recorded(results.ame)
    assert frame.loc[("twice", "dY/dX"), "Significance"] == "(omitted)"
    assert "collinear" in str(caught[0].message)
    assert results.predict(df.head(5)).notna().all()


@pytest.mark.parametrize("on_dask", [False, True])
@pytest.mark.parametrize("kind", KINDS)
def test_rows_at_a_level_without_estimate_predict_nan(kind, on_dask):
    results = fitted(kind)
    new = pd.DataFrame({"x": [0.5, 0.5, 0.5], "s": ["a", "d", "b"]})
    if kind == "unused category":
        new["s"] = pd.Categorical(new.s, categories=["a", "b", "c", "d"])
    if on_dask:
        dd = pytest.importorskip("dask.dataframe")
        data = dd.from_pandas(data_with(kind), npartitions=2)
        results = fitted(kind, data)
        predicted = results.predict(dd.from_pandas(new, npartitions=1)).compute()
    else:
        predicted = results.predict(new)
        frame = results.get_prediction(new).summary_frame()
        assert frame.iloc[1].isna().all() and frame.drop(index=1).notna().all().all()
    assert np.isnan(predicted.iloc[1]) and predicted.drop(index=1).notna().all()
    # of the fitted rows, only those at "d" (rows dropped for separation,
    # which Dask's fitted rows still list) have no prediction
    fitted_rows = results.predict()
    fitted_rows = fitted_rows.compute() if on_dask else fitted_rows
    at_d = data_with(kind).loc[fitted_rows.index, "s"] == "d"
    assert fitted_rows.isna().equals(at_d)
