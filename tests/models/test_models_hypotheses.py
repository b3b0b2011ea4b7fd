"""Tests of hypotheses, predictions with intervals and the classification
table against statsmodels' own on the same estimates and covariance; and
statsmodels' results from ours reading the formula as the fit did."""

import pickle
import warnings
from inspect import signature

import numpy as np
import pandas as pd
import pytest

import quillon_models as qm
from model_cases import CASES, canonical, frames, statsmodels_fit  # noqa: F401 (a fixture)

# name -> (fit options, constraints as text, matrix and (R, q) pairs)
HYPOTHESES = {
    "admissions": ({"cov_type": "HC0"}, "gre = 0, 100 * gpa = gre + 1",
                   ["C(rank)[T.2] = C(rank)[T.3]", "gpa + C(rank)[T.4] = 0.5"]),
    "mroz": ({}, "educ = exper, age = 0", ["nwifeinc", "2 * kidslt6 - kidsge6 = -1"]),
    "fair": ({"cov_type": "cluster", "cov_kwds": "occupation_husb"},
             "age = yrs_married, religious = -0.3", ["rate_marriage = 0"]),
    "anes96": ({}, "educ = 0, income = 0", ["TVnews = selfLR", "educ = 2 * income"]),
}


def statsmodels_options(options, data):
    if options.get("cov_type") != "cluster":
        return options
    return {**options, "cov_kwds": {"groups": data[options["cov_kwds"]].to_numpy()}}


@pytest.fixture(scope="module", params=sorted(HYPOTHESES))
def same_numbers(request, frames):
    """statsmodels' fit, and our results holding its estimates and covariance
    over our model of the same formula."""
    name = request.param
    _, formula, _ = CASES[name]
    options, text, singles = HYPOTHESES[name]
    data = frames(name)
    theirs = statsmodels_fit(formula, data, **statsmodels_options(options, data))
    model = qm.probit(formula, data)
    order = {canonical(n): n for n in theirs.params.index}
    names = [order[canonical(n)] for n in model.exog_names]
    ours = qm.ProbitResults(theirs.params[names].to_numpy(),
                            theirs.cov_params().loc[names, names].to_numpy(), theirs.llf,
                            int(theirs.nobs), exog_names=model.exog_names, model=model)
    return ours, theirs, text, singles


def test_t_and_wald_tests_match_statsmodels(same_numbers):
    ours, theirs, text, singles = same_numbers
    k = len(ours.params)
    matrix = np.eye(k)[[1, k - 1]] - np.eye(k)[[2, 1]]
    ours_index = {canonical(n): j for j, n in enumerate(ours.exog_names)}
    theirs_order = [ours_index[canonical(n)] for n in theirs.params.index]
    for constraint in [text, *singles, matrix, (matrix, [0.1, -0.2]), (matrix[0], 0.3)]:
        theirs_form = constraint
        if isinstance(constraint, tuple):
            theirs_form = (np.atleast_2d(constraint[0])[:, theirs_order], constraint[1])
        elif isinstance(constraint, np.ndarray):
            theirs_form = constraint[:, theirs_order]
        z, sm_z = ours.t_test(constraint), theirs.t_test(theirs_form)
        for mine, reference in [(z.effect, sm_z.effect), (z.sd, sm_z.sd),
                                (z.statistic, sm_z.statistic), (z.pvalue, sm_z.pvalue),
                                (z.conf_int(0.1), sm_z.conf_int(0.1))]:
            np.testing.assert_allclose(np.ravel(mine), np.ravel(reference), rtol=1e-8, atol=1e-300)
        chi2, sm_chi2 = ours.wald_test(constraint), theirs.wald_test(theirs_form, scalar=True)
        assert chi2.statistic == pytest.approx(sm_chi2.statistic, rel=1e-8)
        assert float(chi2.pvalue) == pytest.approx(float(sm_chi2.pvalue), rel=1e-8)
        assert chi2.df_denom == sm_chi2.df_denom == chi2.df_num
    frame = ours.t_test(text).summary_frame()
    assert list(frame.columns) == list(theirs.t_test(text).summary_frame().columns)


def test_wald_test_terms_match_statsmodels(same_numbers):
    ours, theirs, _, _ = same_numbers
    table = ours.wald_test_terms().table
    expected = theirs.wald_test_terms().table
    assert sorted(map(canonical, table.index)) == sorted(map(canonical, expected.index))
    expected.index = expected.index.map(canonical)
    expected = expected.loc[table.index.map(canonical)]
    # statsmodels before 0.14 keeps each statistic as a 1 x 1 array
    theirs_values = np.array([[float(np.ravel(v)[0]) for v in row]
                              for row in expected.iloc[:, :2].to_numpy()])
    np.testing.assert_allclose(table.iloc[:, :2], theirs_values, rtol=1e-8)
    np.testing.assert_array_equal(table["df_constraint"], expected["df_constraint"])
    frame = ours.wald_test_terms(skip_single=True).summary_frame()
    assert list(frame.columns) == ["chi2", "P>chi2", "df constraint"]
    assert (frame["df constraint"] > 1).all()


def test_constraints_of_lower_rank_warn_and_count_the_rank(same_numbers):
    ours, theirs, _, _ = same_numbers
    name = ours.exog_names[1]
    quoted = f"`{name}`"
    with pytest.warns(qm.CovarianceWarning, match="rank 1"):
        test = ours.wald_test(f"{quoted} = 0, 2 * {quoted} = 0")
    assert test.df_denom == 1
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        single = ours.wald_test(f"{quoted} = 0")
    assert test.statistic == pytest.approx(single.statistic, rel=1e-12)


@pytest.fixture(scope="module")
def region_fit(frames):
    """A formula with a factor of four levels and a transformed regressor."""
    data = frames("anes96").assign(region=lambda d: np.array(["n", "s", "e", "w"])[
        np.arange(len(d)) % 4])
    formula = "vote ~ np.log(popul + 1) + TVnews + C(region) + age"
    return qm.probit(formula, data).fit(cov_type="HC0"), data


@pytest.fixture(params=["patsy", "formulaic"])
def engine(request):
    """statsmodels' formula engine, set for the test and restored after."""
    formula = pytest.importorskip("statsmodels.formula")
    options = getattr(formula, "options", None)
    if options is None:
        if request.param != "patsy":
            pytest.skip("this statsmodels reads formulas through patsy only")
        yield request.param
        return
    before = options.formula_engine
    options.formula_engine = request.param
    yield request.param
    options.formula_engine = before


def test_statsmodels_reads_the_formula_of_our_fit(region_fit, engine):
    ours, data = region_fit
    theirs = ours.to_statsmodels()
    table = theirs.wald_test_terms().table
    assert table.loc["C(region)", "df_constraint"] == 3
    own = ours.wald_test_terms().table
    theirs_values = np.array([[float(np.ravel(v)[0]) for v in row]  # 1 x 1 arrays before 0.14
                              for row in table.iloc[:, :2].to_numpy()])
    np.testing.assert_allclose(theirs_values, own.iloc[:, :2].to_numpy(), rtol=1e-12)
    new = data.sample(9, random_state=3)
    new.loc[new.index[2], "TVnews"] = np.nan
    np.testing.assert_allclose(theirs.predict(new), ours.predict(new), rtol=1e-12)
    np.testing.assert_allclose(theirs.predict(new.iloc[[4]]), ours.predict(new.iloc[[4]]),
                               rtol=1e-12)


@pytest.mark.parametrize("which", ["mean", "linear"])
def test_predictions_with_intervals_match_statsmodels(region_fit, which):
    ours, data = region_fit
    theirs = ours.to_statsmodels()
    if not hasattr(theirs, "get_prediction") or "which" not in signature(
            theirs.get_prediction).parameters:
        pytest.skip("this statsmodels has no get_prediction for discrete models")
    new = data.sample(12, random_state=5)
    new.loc[new.index[3], "age"] = np.nan
    prediction = ours.get_prediction(new, which=which)
    frame = prediction.summary_frame(alpha=0.1)
    assert list(frame.index) == list(new.index) and frame.iloc[3].isna().all()
    complete = new.drop(index=new.index[3])
    expected = theirs.get_prediction(complete, which=which).summary_frame(alpha=0.1)
    np.testing.assert_allclose(frame.drop(index=new.index[3]), expected, rtol=1e-10)
    np.testing.assert_allclose(prediction.predicted, ours.predict(new, which=which), rtol=1e-15)
    if which == "mean":
        delta = theirs.get_prediction(complete).conf_int(method="delta", alpha=0.1)
        np.testing.assert_allclose(np.delete(prediction.conf_int(0.1, "delta"), 3, axis=0),
                                   delta, rtol=1e-10)


@pytest.mark.parametrize("threshold", [0.2, 0.5, 0.8])
def test_pred_table_matches_statsmodels(region_fit, threshold):
    ours, _ = region_fit
    np.testing.assert_array_equal(ours.pred_table(threshold),
                                  ours.to_statsmodels().pred_table(threshold))


@pytest.mark.parametrize("call, error, message", [
    (lambda r: r.t_test("gre = 0, spam = 1"), ValueError, "r_matrix .* names 'spam'"),
    (lambda r: r.t_test("gre >= 0"), ValueError, "r_matrix .* not a set of linear"),
    (lambda r: r.t_test("gre * gpa = 0"), ValueError, "r_matrix .* not a set of linear"),
    (lambda r: r.wald_test("gre = 0 = 1"), ValueError, "chains equalities"),
    (lambda r: r.wald_test(np.ones((2, 3))), ValueError, "r_matrix needs rows of 6"),
    (lambda r: r.wald_test((np.eye(6)[:2], [1.0, 2.0, 3.0])), ValueError, "2 rows and q 3"),
    (lambda r: r.wald_test({"gre": 0}), TypeError, "r_matrix must be"),
    (lambda r: r.t_test("gre = 0", cov_p=np.eye(3)), ValueError, "cov_p must be 6 x 6"),
    (lambda r: r.t_test("gre = 0", use_t=True), NotImplementedError, "use_t"),
    (lambda r: r.wald_test_terms(combine_terms=["spam"]), ValueError, "combine_terms"),
    (lambda r: r.get_prediction(which="var"), ValueError, "which"),
    (lambda r: r.get_prediction().conf_int(method="exact"), ValueError, "method"),
    (lambda r: r.pred_table("0.5"), TypeError, "threshold"),
])
def test_bad_arguments_are_named(admissions, call, error, message):
    results = qm.probit("admit ~ gre + gpa + C(rank)", admissions).fit()
    with pytest.raises(error, match=message):
        call(results)


@pytest.mark.parametrize("formula, text, row, value", [
    ("admit ~ gre + gpa", "gre = 3e-3", {"gre": 1}, 0.003),
    ("admit ~ gre + gpa", "gpa = 2.5E+1 * gre", {"gpa": 1, "gre": -25}, 0.0),
    ("admit ~ gpa + I(-gre)", "I(-gre) = 0", {"I(-gre)": 1}, 0.0),
    ("admit ~ gpa + I(-gre)", "gpa = -I(-gre) + 1", {"gpa": 1, "I(-gre)": 1}, 1.0),
])
def test_constraints_read_numbers_and_names_as_written(admissions, formula, text, row, value):
    results = qm.probit(formula, admissions).fit()
    matrix = np.array([[row.get(name, 0.0) for name in results.exog_names]])
    expected = results.t_test((matrix, value))
    test = results.t_test(text)
    assert (test.effect, test.statistic) == (expected.effect, expected.statistic)


def test_terms_are_tested_after_remove_data(admissions):
    results = qm.probit("admit ~ gre + gpa + C(rank)", admissions).fit()
    before = results.wald_test_terms().table
    results.remove_data()
    after = pickle.loads(pickle.dumps(results)).wald_test_terms().table
    assert list(after.index) == ["Intercept", "gre", "gpa", "C(rank)"]
    pd.testing.assert_frame_equal(after, before)


@pytest.mark.parametrize("test", [
    lambda r: r.t_test("gpa = 0.5, C(rank)[T.2] = gre").summary_frame(),
    lambda r: r.wald_test("gpa = 0, C(rank)[T.3] = 0").statistic,
    lambda r: r.wald_test_terms(extra_constraints=[
        ("gpa", np.eye(len(r.exog_names))[r.exog_names.index("gpa")])]).table,
])
def test_tests_after_an_omitted_column_read_the_estimates(admissions, test):
    """gre2 = 2 gre is left out: the tests are those of the fit without it,
    and a constraint on gre2 is refused, naming it."""
    data = admissions.assign(gre2=admissions.gre * 2)
    with pytest.warns(qm.CollinearityWarning):
        results = qm.probit("admit ~ gre + gpa + C(rank) + gre2", data).fit()
    without = qm.probit("admit ~ gre + gpa + C(rank)", data).fit()
    with warnings.catch_warnings():
        warnings.simplefilter("error", qm.CovarianceWarning)
        expected = test(without)
    if isinstance(expected, pd.DataFrame) and "df_constraint" in expected:
        with pytest.warns(qm.CovarianceWarning, match="gre2: omitted from the fit"):
            got = test(results)
        assert got.loc["gre2", "df_constraint"] == 0 and np.isnan(got.loc["gre2", "statistic"])
        got = got.drop(index="gre2")
    else:
        got = test(results)
    if isinstance(expected, pd.DataFrame):
        pd.testing.assert_frame_equal(got, expected)
    else:
        assert got == expected
    with pytest.raises(ValueError, match="involve gre2, omitted from the fit"):
        results.t_test("gre2 = gre")


def test_cov_p_replaces_the_covariance_by_label(admissions):
    results = qm.probit("admit ~ gre + gpa + C(rank)", admissions).fit()
    robust = qm.probit("admit ~ gre + gpa + C(rank)", admissions).fit(cov_type="HC0")
    shuffled = robust.cov_params().iloc[::-1, ::-1]
    before = shuffled.copy()
    test = results.t_test("gpa = 0", cov_p=shuffled)
    assert float(test.pvalue) == pytest.approx(robust.pvalues["gpa"], rel=1e-12)
    pd.testing.assert_frame_equal(shuffled, before)
