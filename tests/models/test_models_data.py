"""What the model takes: formulas, arrays, Series and DataFrames; missing
values dropped and counted or refused; outcomes that are not 0/1 refused."""

import numpy as np
import pandas as pd
import pytest

import quillon_models as qm
from model_cases import by_name, statsmodels_fit

FORMULA = "admit ~ gre + gpa + C(rank)"


@pytest.fixture
def holes(admissions):
    data = admissions.copy()
    data.loc[[3, 10], "gre"] = np.nan
    data.loc[20, "admit"] = np.nan
    data.index = data.index * 10  # labels that are not positions
    return data


def test_formula_drops_and_counts_missing_rows(holes):
    result = qm.probit(FORMULA, holes).fit()
    theirs = statsmodels_fit(FORMULA, holes)
    assert (result.nobs, result.nobs_dropped) == (397, 3)
    np.testing.assert_allclose(result.params, by_name(result.params, theirs.params), rtol=1e-6)
    assert "3 rows with missing values were dropped" in str(result.summary())
    assert list(result.fittedvalues.index) == list(theirs.fittedvalues.index)
    # groups given for every row of the data lose the dropped rows
    by_column = qm.probit(FORMULA, holes).fit(cov_type="cluster", cov_kwds={"groups": "rank"})
    by_array = qm.probit(FORMULA, holes).fit(cov_type="cluster",
                                             cov_kwds={"groups": holes["rank"].to_numpy()})
    np.testing.assert_array_equal(by_column.cov_params(), by_array.cov_params())


@pytest.mark.parametrize("missing", ["none", "raise"])
def test_missing_values_refused_with_columns_and_counts(holes, missing):
    with pytest.raises(ValueError, match=r"'admit': 1; column 'gre': 2.*missing='drop'"):
        qm.Probit(holes["admit"], holes[["gre", "gpa"]], missing=missing)
    with pytest.raises(ValueError):
        qm.probit(FORMULA, holes, missing=missing)


def test_infinite_values_dropped_or_refused(admissions):
    data = admissions.assign(gpa=admissions["gpa"].replace(4.0, np.inf))
    n_inf = int(np.isinf(data["gpa"]).sum())
    assert qm.probit("admit ~ gpa", data).fit().nobs_dropped == n_inf > 0
    with pytest.raises(ValueError, match=f"column 'gpa': {n_inf}"):
        qm.Probit(data["admit"], data[["gpa"]])
    assert qm.Probit(data["admit"], data[["gpa"]], missing="drop").nobs == 400 - n_inf


@pytest.mark.parametrize("outcome, shown", [
    (lambda y: y.map({0: "no", 1: "yes"}), "'no', 'yes'"),
    (lambda y: y + (y.index % 7 == 0), "2.0"),
    (lambda y: y.astype("category"), "dtype category"),
    (lambda y: y - 0.5, "-0.5, 0.5"),
])
def test_outcomes_other_than_0_1_refused_with_values(admissions, outcome, shown):
    data = admissions.assign(admit=outcome(admissions["admit"]))
    with pytest.raises(ValueError, match="must hold 0/1 values") as array_error:
        qm.Probit(data["admit"], data[["gre"]].assign(const=1.0))
    assert shown in str(array_error.value)
    with pytest.raises(ValueError, match="0/1"):
        qm.probit("admit ~ gre", data)


@pytest.mark.parametrize("cast", [bool, int, float, "Int64", "boolean"])
def test_outcome_types_accepted(admissions, cast):
    y = admissions["admit"].astype(cast)
    X = admissions[["gre", "gpa"]].assign(const=1)[["const", "gre", "gpa"]]
    result = qm.Probit(y, X).fit()
    reference = qm.probit("admit ~ gre + gpa", admissions).fit()
    np.testing.assert_array_equal(result.params[["gre", "gpa"]], reference.params[["gre", "gpa"]])


def test_names_from_arrays_series_and_frames(admissions):
    X = np.column_stack([np.ones(400), admissions[["gre", "gpa"]].to_numpy()])
    assert qm.Probit(admissions["admit"].to_numpy(), X).exog_names == ["const", "x1", "x2"]
    model = qm.Probit(admissions["admit"], admissions[["gre", "gpa"]].assign(ones=1.0))
    assert model.endog_names == "admit" and model.exog_names == ["gre", "gpa", "ones"]
    # a constant under another name is still left out of the effects
    assert list(model.fit().ame().index.get_level_values("term")) == ["gre", "gpa"]
    with pytest.raises(ValueError, match="exog column 'rank' has dtype category"):
        qm.Probit(admissions["admit"], admissions[["rank"]].astype("category"))


def test_formulas_with_transforms_interactions_and_no_intercept(admissions):
    result = qm.probit("admit ~ 0 + np.log(gre) + I(gpa**2) + gpa:C(rank)", admissions).fit()
    theirs = statsmodels_fit("admit ~ 0 + np.log(gre) + I(gpa**2) + gpa:C(rank)", admissions)
    np.testing.assert_allclose(result.params, by_name(result.params, theirs.params), rtol=1e-6)
    assert result.k_constant == 0 and len(result.params) == 6


def test_pandas_inputs_with_other_indexes_refused(admissions):
    y, X = admissions["admit"], admissions[["gre"]].assign(const=1.0)
    with pytest.raises(ValueError, match="endog and exog have different indexes"):
        qm.Probit(y, X.set_axis(X.index + 1))
    shifted = admissions["rank"].set_axis(admissions.index + 1)
    for model in (qm.Probit(y, X), qm.probit("admit ~ gre", admissions)):
        with pytest.raises(ValueError, match="and groups have different indexes"):
            model.fit(cov_type="cluster", cov_kwds={"groups": shifted})


TEXT_TYPES = ["object", "string[python]", "string[pyarrow]", "large_string", "arrow dictionary"]


def text_dtype(name):
    """The text type named; the test is skipped where pyarrow, or pandas'
    type of Arrow columns (pandas 1.5 on), is missing."""
    if name in ("object", "string[python]"):
        return object if name == "object" else name
    pa = pytest.importorskip("pyarrow")
    if name == "string[pyarrow]":
        return name
    if not hasattr(pd, "ArrowDtype"):
        pytest.skip("pandas without ArrowDtype")
    return pd.ArrowDtype(pa.large_string() if name == "large_string" else
                         pa.dictionary(pa.int32(), pa.string()))


@pytest.mark.parametrize("text_type", TEXT_TYPES)
@pytest.mark.parametrize("rhs", ["gpa + C(tier)", "gpa * tier", "C(tier, Treatment('r3')) + gre",
                                 "gpa + I(tier == 'r2')", "gpa + tier.str.len()"])
def test_text_columns_give_formulaics_own_design(admissions, rhs, text_type):
    """Text of any pandas or Arrow type gives formulaic's design of the same
    text as objects (formulaic itself reads the other types as numbers)."""
    import formulaic

    data = admissions.assign(tier="r" + admissions["rank"].astype(str)).astype({"tier": object})
    data.loc[[4, 9], "tier"] = [None, np.nan]
    theirs = formulaic.model_matrix(f"admit ~ {rhs}", data).rhs
    typed = data.astype({"tier": text_dtype(text_type)})
    model = qm.probit(f"admit ~ {rhs}", typed)
    assert model.exog_names == list(theirs.columns)
    assert typed["tier"].dtype == text_dtype(text_type)
    np.testing.assert_array_equal(model.exog, theirs.to_numpy(dtype=np.float64))


class Text(str):
    pass


_shared = np.array(["b", "a", "é"], dtype=object)


@pytest.mark.parametrize("values", [
    ["b", None, "a", np.nan, "b", "é", "a\x00", "", "😀", "a", None],
    [Text("x"), "y", "x"],
    _shared[np.arange(40) % 3],
    np.array([f"level {i % 300:03}" * (i % 4) for i in range(3000)], dtype=object)[::2],
    [None, np.nan], [],
    ["a", 1, "b"], ["a", pd.NA], ["a", "\ud800"], ["a", np.float64("nan")],
], ids=["missing", "subclass", "shared", "many-strided", "all-missing", "empty", "number",
        "pd-na", "surrogate", "numpy-nan"])
def test_text_levels_read_by_the_kernels_are_pandas_own(values):
    from pandas._testing import assert_categorical_equal

    from quillon_models.design import text_categorical

    column = pd.Series(values, dtype=object)
    assert_categorical_equal(text_categorical(column), pd.Categorical(column))


@pytest.mark.parametrize("text_type", TEXT_TYPES[1:])
def test_text_types_give_the_kernels_levels_and_codes(text_type):
    """pandas' own categorical of a text dtype and the kernels' reading of
    the same text as objects: the same levels (as str) and codes."""
    from pandas._testing import assert_categorical_equal

    from quillon_models.design import text_categorical

    column = pd.Series(["b", None, "a", "b", "é", "a\x00", "", "😀", "Z", "a", None] * 3,
                       dtype=object)
    assert_categorical_equal(text_categorical(column.astype(text_dtype(text_type))),
                             text_categorical(column))
