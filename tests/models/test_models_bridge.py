"""statsmodels' results from ours, and quillon.ame on statsmodels' results:
a probit's are read, those of other models refused."""

from types import SimpleNamespace

import numpy as np
import pytest

import quillon
import quillon_models as qm
from model_cases import seeded_design, sm


@pytest.mark.parametrize("cov_type", ["nonrobust", "HC1", "cluster"])
def test_to_statsmodels_carries_our_numbers(admissions, cov_type):
    kwds = {"groups": "rank"} if cov_type == "cluster" else None
    ours = qm.probit("admit ~ gre + gpa + C(rank)", admissions).fit(cov_type=cov_type,
                                                                    cov_kwds=kwds)
    theirs = ours.to_statsmodels()
    np.testing.assert_array_equal(theirs.params, ours.params)
    np.testing.assert_array_equal(theirs.cov_params(), ours.cov_params())
    assert theirs.llf == ours.llf and theirs.llnull == ours.llnull and theirs.nobs == ours.nobs
    assert theirs.cov_type == cov_type
    test = theirs.t_test("gpa = 0")
    assert float(np.squeeze(test.pvalue)) == pytest.approx(ours.pvalues["gpa"], rel=1e-12)
    wald = theirs.wald_test("gre = 0, gpa = 0", scalar=True)
    assert 0 < float(np.squeeze(wald.pvalue)) < 0.01


@pytest.mark.parametrize("model_class", ["Logit", "OLS", "GLM"])
def test_ame_refuses_other_statsmodels_models(model_class):
    y, X = seeded_design()
    model = getattr(sm, model_class)(y, X)
    result = model.fit(disp=0) if model_class == "Logit" else model.fit()
    with pytest.raises(TypeError, match=f"statsmodels {model_class} model"):
        quillon.ame(result)


def test_ame_takes_probit_and_other_objects():
    y, X = seeded_design()
    probit = sm.Probit(y, X).fit(disp=0)
    table = quillon.ame(probit)
    # An object of another origin, even a class called Logit, is read as before.
    Logit = type("Logit", (), {})
    model = Logit()
    model.exog, model.exog_names = X, list(probit.model.exog_names)
    duck = SimpleNamespace(params=probit.params, cov_params=probit.cov_params, model=model)
    np.testing.assert_array_equal(quillon.ame(duck)["dy/dx"], table["dy/dx"])


def test_plot_rows_and_axis(admissions):
    pytest.importorskip("matplotlib")
    import matplotlib

    matplotlib.use("Agg")
    result = qm.probit("admit ~ gre + gpa + C(rank)", admissions).fit(cov_type="HC0")
    ax = result.plot_ame(alpha=0.1)
    assert [t.get_text() for t in ax.get_yticklabels()] == [
        "gre", "gpa", "rank: 2 - 1", "rank: 3 - 1", "rank: 4 - 1"]
    assert "90% interval" in ax.get_xlabel() and "HC0 covariance" in ax.get_xlabel()
    ax.figure.canvas.draw()
