"""Results: predictions through the formula, pickling, summaries, and
results built from plain numbers."""

import pickle
from inspect import signature

import numpy as np
import pandas as pd
import pytest

import quillon_models as qm
from model_cases import statsmodels_fit

FORMULA = "admit ~ gre + gpa + C(rank) + gpa:C(rank)"


@pytest.fixture(scope="module")
def fitted(admissions):
    return qm.probit(FORMULA, admissions).fit(cov_type="cluster", cov_kwds={"groups": "rank"})


@pytest.mark.parametrize("which", ["mean", "linear"])
def test_predictions_match_statsmodels(admissions, fitted, which):
    new = admissions.sample(25, random_state=1).assign(rank=lambda d: d["rank"])
    new.loc[new.index[3], "gpa"] = np.nan
    reference = statsmodels_fit(FORMULA, admissions)
    # statsmodels before 0.14 spells which="linear" as linear=True
    options = {"which": which} if "which" in signature(reference.model.predict).parameters else {
        "linear": which == "linear"}
    ours = fitted.predict(new, which=which)
    assert list(ours.index) == list(new.index) and np.isnan(ours.iloc[3])
    complete = new.drop(index=new.index[3])
    np.testing.assert_allclose(ours.drop(index=new.index[3]),
                               reference.predict(complete, **options), rtol=1e-6)
    np.testing.assert_allclose(fitted.predict(which=which), reference.predict(**options), rtol=1e-6)


def test_predictions_on_arrays(admissions):
    X = np.column_stack([np.ones(400), admissions[["gre", "gpa"]].to_numpy()])
    result = qm.Probit(admissions["admit"].to_numpy(), X).fit()
    eta = X[:5] @ result.params.to_numpy()
    np.testing.assert_allclose(result.predict(X[:5], which="linear"), eta, rtol=1e-15)
    assert result.predict(X[0]).shape == (1,)
    with pytest.raises(ValueError, match="3 columns"):
        result.predict(X[:, :2])
    with pytest.raises(ValueError, match="which"):
        result.predict(X, which="var")


@pytest.mark.parametrize("formula", [FORMULA, "admit ~ np.log(gre) + np.sqrt(gpa) + C(rank)"],
                         ids=["columns", "numpy's functions"])
def test_pickle_round_trip(admissions, formula):
    fitted = qm.probit(formula, admissions).fit(cov_type="cluster", cov_kwds={"groups": "rank"})
    again = pickle.loads(pickle.dumps(fitted))
    pd.testing.assert_series_equal(again.params, fitted.params)
    pd.testing.assert_frame_equal(again.cov_params(), fitted.cov_params())
    assert again.llnull == fitted.llnull and again.cov_kwds == fitted.cov_kwds
    pd.testing.assert_series_equal(again.predict(admissions.head()), fitted.predict(admissions.head()))
    pd.testing.assert_frame_equal(again.ame(), fitted.ame())


def test_summary_repr_and_html(fitted):
    text = str(fitted.summary(alpha=0.1))
    for expected in ("Probit Regression Results", "Dep. Variable:", "admit", "Covariance Type:",
                     "cluster", "[0.05", "0.95]", "gpa:C(rank)[T.3]", "4 groups"):
        assert expected in text
    lines = text.splitlines()
    rule = max(len(line) for line in lines if set(line) == {"="})
    assert max(map(len, lines[:-3])) == rule  # every row within the rules
    assert "<table" in fitted._repr_html_() and "gpa:C(rank)[T.3]" in fitted._repr_html_()
    assert "400 observations" in repr(fitted) and FORMULA in repr(fitted)
    margins = str(fitted.get_margeff().summary())
    assert "Probit Marginal Effects" in margins and "dy/dx" in margins


def test_results_from_numbers_match_scipy():
    stats = pytest.importorskip("scipy.stats")
    params = pd.Series([0.5, -1.2, 3e-5], index=["const", "a", "b"])
    cov = np.diag([0.04, 0.09, 1e-10])
    result = qm.ProbitResults(params, cov, llf=-120.0, nobs=300, llnull=-140.5)
    assert result.exog_names == ["const", "a", "b"] and result.df_model == 2
    z = params.to_numpy() / np.sqrt(np.diag(cov))
    np.testing.assert_allclose(result.pvalues, 2 * stats.norm.sf(np.abs(z)), rtol=1e-12)
    np.testing.assert_allclose(result.conf_int(0.01)[1],
                               params + stats.norm.ppf(0.995) * np.sqrt(np.diag(cov)), rtol=1e-12)
    for llr, df in [(41.0, 2), (0.3, 5), (900.0, 30), (2.0, 1)]:
        assert qm.results.chi2_sf(llr, df) == pytest.approx(stats.chi2.sf(llr, df), rel=1e-12)
    assert result.llr_pvalue == pytest.approx(stats.chi2.sf(41.0, 2), rel=1e-12)
    with pytest.raises(ValueError, match="no model"):
        result.ame()
    with pytest.raises(ValueError, match="do not fit together"):
        qm.ProbitResults(params, cov[:2, :2], llf=-1.0, nobs=3)


def test_labelled_numbers_pair_by_label():
    params = pd.Series([0.5, -1.2, 0.3], index=["const", "a", "b"])
    cov = pd.DataFrame(np.diag([0.04, 0.09, 0.01]), index=params.index, columns=params.index)
    reordered = qm.ProbitResults(params, cov.iloc[::-1, ::-1], llf=-1.0, nobs=30)
    np.testing.assert_array_equal(reordered.bse, [0.2, 0.3, 0.1])
    with pytest.raises(ValueError, match="cov_params is labelled"):
        qm.ProbitResults(params, cov.rename(index={"b": "c"}), llf=-1.0, nobs=30)


def test_remove_data_keeps_the_statistics_and_drops_the_rows(admissions):
    results = qm.probit("admit ~ gre + gpa", pd.concat([admissions] * 50)).fit()
    table = str(results.summary())
    results.remove_data()
    assert len(pickle.dumps(results)) < 4000
    assert str(results.summary()).split("Time:")[0] == table.split("Time:")[0]
    with pytest.raises(ValueError, match="remove_data"):
        results.predict()


def test_summary_stretches_for_long_names(admissions):
    outcome = admissions["admit"].rename("admitted_to_the_graduate_programme_of_first_choice")
    text = str(qm.Probit(outcome, admissions[["gre"]].assign(const=1.0)).fit().summary())
    assert outcome.name in text
    lines = text.splitlines()
    assert max(map(len, lines[:-3])) == max(len(line) for line in lines if set(line) == {"="})


def html_tables(markup):
    """Each <table> of the markup as rows of (tag, text) cells."""
    from html.parser import HTMLParser

    class Cells(HTMLParser):
        def __init__(self):
            super().__init__()
            self.tables, self.cell = [], None

        def handle_starttag(self, tag, attrs):
            if tag == "table":
                self.tables.append([])
            elif tag == "tr":
                self.tables[-1].append([])
            elif tag in ("th", "td"):
                self.cell = (tag, [])

        def handle_data(self, data):
            if self.cell:
                self.cell[1].append(data)

        def handle_endtag(self, tag):
            if tag in ("th", "td"):
                self.tables[-1][-1].append((self.cell[0], "".join(self.cell[1])))
                self.cell = None

    parser = Cells()
    parser.feed(markup)
    return parser.tables


def test_html_sets_labels_off_and_keeps_one_value_per_cell(fitted):
    summary = fitted.summary()
    header, estimates = html_tables(summary.as_html())
    pairs = [pair for row in header for pair in zip(row[::2], row[1::2]) if pair[0][1]]
    assert sorted((label, value) for (_, label), (_, value) in pairs) == sorted(summary.header)
    assert {tags for pair in pairs for tags in [(pair[0][0], pair[1][0])]} == {("th", "td")}
    assert estimates[0] == [("td", "")] + [("th", c) for c in summary.columns]
    assert estimates[1:] == [[("th", name)] + [("td", v.strip()) for v in values]
                             for name, values in summary.rows]


def test_effect_tables_print_every_column_within_80(fitted):
    table = fitted.ame()
    plain = pd.DataFrame(table)
    lines = repr(table).splitlines()
    assert max(map(len, lines)) <= 80
    assert all(str(c) in repr(table) for c in table.columns)
    assert "..." not in repr(table) and str(table) == repr(table)
    assert repr(table) != repr(plain)  # short formats, not pandas' own
    np.testing.assert_array_equal(table["dy/dx"].to_numpy(), plain["dy/dx"].to_numpy())
    frame = fitted.get_margeff().summary_frame()
    assert max(map(len, repr(frame).splitlines())) <= 80


def header_value(text, label):
    """The value printed after a label of the summary's header."""
    import re

    return re.search(rf"{re.escape(label)} +(\S+)", text).group(1)


def test_summary_prints_counts_in_full():
    results = qm.ProbitResults([0.1, 0.2], np.eye(2) * 1e-6, llf=-8e5, nobs=1_200_000,
                               exog_names=["const", "x"], llnull=-8.3e5)
    text = str(results.summary())
    assert header_value(text, "Df Residuals:") == "1199998"
    assert header_value(text, "Df Model:") == "1"


@pytest.mark.parametrize("kind", [None, "freq_weights", "sampling_weights"])
def test_summary_tests_the_model_as_the_weights_allow(admissions, kind):
    """A likelihood ratio for a likelihood; with sampling weights Stata's log
    pseudolikelihood and Wald test of all slopes, and no LLR p-value."""
    data = admissions.assign(w=np.where(admissions["rank"] <= 2, 1.0, 3.0))
    results = qm.probit("admit ~ gre + gpa + C(rank)", data,
                        **({kind: "w"} if kind else {})).fit()
    text = str(results.summary())
    if kind != "sampling_weights":
        assert float(header_value(text, "LLR p-value:")) == pytest.approx(results.llr_pvalue,
                                                                          rel=1e-3)
        assert "Log-Likelihood:" in text and "pseudo" not in text
        return
    assert "LLR p-value" not in text and "Log-Likelihood" not in text
    assert float(header_value(text, "Log pseudolikelihood:")) == pytest.approx(results.llf,
                                                                               rel=1e-4)
    slopes = "gre = 0, gpa = 0, C(rank)[T.2] = 0, C(rank)[T.3] = 0, C(rank)[T.4] = 0"
    wald = results.wald_test(slopes)
    assert float(header_value(text, "Wald chi2(5):")) == pytest.approx(wald.statistic, rel=1e-4)
    assert float(header_value(text, "Prob > chi2:")) == pytest.approx(wald.pvalue, rel=1e-3)
    assert results.wald_test_slopes().statistic == pytest.approx(wald.statistic, rel=1e-12)
    with pytest.raises(ValueError, match="not valid with sampling weights.*wald_test_slopes"):
        results.llr_pvalue
