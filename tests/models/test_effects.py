"""Effects of variables (`ame`, `predictions`, `comparisons`): the derivative
designs against analytic derivatives, the effects and their delta-method
standard errors against closed forms computed here from scratch and against
marginaleffects, the same bits on any number of threads, and the refusals."""

import warnings

import numpy as np
import pandas as pd
import pytest

import quillon_models as qm
from quillon_models.effects import Builder, EffectPart, Variable, variable_terms

pytest.importorskip("formulaic")
from scipy.stats import norm  # noqa: E402

MROZ = "inlf ~ nwifeinc + educ + exper + I(exper**2) + age + kidslt6 + kidsge6 + city"


def fitted_rows(results):
    model = results.model
    kept = model._data.design.kept_rows
    return model.data.iloc[kept] if kept is not None else model.data


def design(results, rows):
    return np.asarray(results.model.model_spec.get_model_matrix(rows), dtype=float)


def delta(results, average):
    """An effect and its delta-method standard error, the Jacobian taken by
    central differences of `average(beta)`."""
    beta, cov = results.params.to_numpy(), results.cov_params().to_numpy()
    jacobian = np.array([(average(beta + h) - average(beta - h)) / 2e-6
                         for h in np.eye(len(beta)) * 1e-6])
    return average(beta), float(np.sqrt(jacobian @ cov @ jacobian))


@pytest.mark.parametrize("formula, column, analytic", [
    ("y ~ x + I(x**2) + I(x**3)", "I(x ** 3)", lambda d: 3 * d.x ** 2),
    ("y ~ x + I(x**2)", "I(x ** 2)", lambda d: 2 * d.x),
    ("y ~ np.log(x) + z", "np.log(x)", lambda d: 1 / d.x),
    ("y ~ x*z", "x:z", lambda d: d.z),
    ("y ~ np.exp(x / 3) + z", "np.exp(x / 3)", lambda d: np.exp(d.x / 3) / 3),
    # a transform that drops the imaginary part: the difference takes over
    ("y ~ z + sq(x)", "sq(x)", lambda d: 2 * d.x),
])
def test_derivative_designs_match_analytic(formula, column, analytic):
    rng = np.random.default_rng(3)
    frame = pd.DataFrame({"x": rng.uniform(0.5, 40, 300), "z": rng.normal(size=300),
                          "y": rng.integers(0, 2, 300)})
    context = {"sq": lambda v: np.asarray(v, dtype=float) ** 2, "np": np}
    model = qm.probit(formula, frame, eval_env=context)
    builder = Builder(model.model_spec, context)
    variable = Variable("x", "slope", terms=variable_terms(model.model_spec, "x", frame.columns))
    derivative = np.zeros(model.exog.shape)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # the cast of sq() to float warns
        derivative[:, variable.positions] = builder.derivative(EffectPart(model.exog, frame),
                                                               variable)
    j = model.exog_names.index(column)
    np.testing.assert_allclose(derivative[:, j], analytic(frame), rtol=1e-9 if "sq" not in
                               formula else 1e-7)
    untouched = [i for i, n in enumerate(model.exog_names) if "x" not in n]
    assert not derivative[:, untouched].any()


def spline_slopes(d):
    """The derivatives of bs(x)'s columns: with bounds the data's range and
    no inner knot, the cubic B-splines but the first."""
    from scipy.interpolate import BSpline

    knots = [d.x.min()] * 4 + [d.x.max()] * 4
    return np.column_stack([BSpline(knots, np.eye(4)[i], 3).derivative()(d.x) for i in (1, 2, 3)])


@pytest.mark.parametrize("term, slopes", [
    # not analytic: the complex step gives a slope where there is none
    ("np.sign(x - 10.5)", lambda d: 0.0 * d.x),
    # analytic on the first rows of the first part only
    ("np.where(x > 20.5, x, np.abs(x - 41))", lambda d: np.where(d.x > 20.5, 1.0, -1.0)),
    # no complex values at all
    ("np.cbrt(x)", lambda d: d.x ** (-2 / 3) / 3),
    ("np.hypot(x, w)", lambda d: d.x / np.hypot(d.x, d.w)),
    ("np.logaddexp(x / 10, w)", lambda d: 0.1 / (1 + np.exp(d.w - d.x / 10))),
    # defined on the fitted range alone: one-sided at its ends
    ("bs(x)", spline_slopes),
])
def test_slopes_through_any_transform_against_closed_forms(monkeypatch, term, slopes):
    monkeypatch.setattr(qm.parts, "BLOCK_ROWS", 50)  # two effect parts of 200 rows
    rng = np.random.default_rng(8)
    # no value within a step of the kinks (10.5, 20.5)
    frame = pd.DataFrame({"x": np.round(rng.uniform(0.5, 40, 400), 1) + 0.05,
                          "w": rng.normal(size=400)})
    frame = frame.sort_values("x", ascending=False, key=lambda x: x > 20.5, kind="stable")
    frame["y"] = (np.sin(frame.x / 6) + frame.w + rng.normal(size=400) > 0).astype(float)
    res = qm.probit(f"y ~ w + {term}", frame).fit()
    columns = [n for n in res.model.exog_names if n.startswith(term)]
    index = design(res, frame) @ res.params.to_numpy()
    expected = np.mean(norm.pdf(index) * (np.reshape(np.asarray(slopes(frame)), (len(frame), -1)) @
                                          res.params[columns].to_numpy()))
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", qm.CovarianceWarning)  # sign: an exact zero
        got = res.ame(variables="x").loc[("x", "dY/dX"), "dy/dx"]
    np.testing.assert_allclose(got, expected, rtol=1e-7, atol=1e-12)


def test_a_transform_defined_on_the_data_alone_is_refused_naming_it():
    def whole(v):
        v = np.asarray(v)
        if not np.all(v == np.round(v)):
            raise ValueError("whole numbers only")
        return v * 1.0

    rng = np.random.default_rng(4)
    frame = pd.DataFrame({"x": rng.integers(0, 9, 200), "y": rng.integers(0, 2, 200)})
    res = qm.probit("y ~ whole(x)", frame, eval_env={"whole": whole}).fit()
    with pytest.raises(ValueError, match=r"slope of 'x' cannot be taken through whole\(x\)"):
        res.ame()


def test_slopes_contrasts_predictions_against_closed_forms(mroz):
    res = qm.probit(MROZ, mroz).fit(cov_type="HC0")
    rows = fitted_rows(res)
    X = design(res, rows)
    names = res.model.exog_names
    e, s, c = names.index("exper"), names.index("I(exper ** 2)"), names.index("city")
    x = rows["exper"].to_numpy(float)
    city1, city0 = X.copy(), X.copy()
    city1[:, c], city0[:, c] = 1.0, 0.0
    educ16, educ12 = (design(res, rows.assign(educ=v)) for v in (16.0, 12.0))
    table = res.ame()
    expected = {
        ("exper", "dY/dX"): lambda b: np.mean(norm.pdf(X @ b) * (b[e] + 2 * b[s] * x)),
        ("city", "1 - 0"): lambda b: np.mean(norm.cdf(city1 @ b) - norm.cdf(city0 @ b)),
    }
    for key, average in expected.items():
        effect, se = delta(res, average)
        assert table.loc[key, "dy/dx"] == pytest.approx(effect, rel=1e-10)
        assert table.loc[key, "Std. Err"] == pytest.approx(se, rel=1e-6)
    assert list(table.index.get_level_values("term")) == [
        "nwifeinc", "educ", "exper", "age", "kidslt6", "kidsge6", "city"]
    slope = res.ame(variables=["city"], binary="slope")
    assert slope.index.tolist() == [("city", "dY/dX")]
    assert slope.iloc[0, 0] == pytest.approx(np.mean(norm.pdf(X @ res.params.to_numpy()))
                                             * res.params["city"], rel=1e-12)
    compared = res.comparisons({"educ": (12, 16)}).loc[("educ", "16 - 12")]
    effect, se = delta(res, lambda b: np.mean(norm.cdf(educ16 @ b) - norm.cdf(educ12 @ b)))
    assert compared["estimate"] == pytest.approx(effect, rel=1e-10)
    assert compared["Std. Err"] == pytest.approx(se, rel=1e-6)
    predicted = res.predictions(by="city")
    for level, group in rows.groupby("city"):
        at = (rows["city"] == level).to_numpy()
        effect, se = delta(res, lambda b: np.mean(norm.cdf(X[at] @ b)))
        assert predicted.loc[level, "estimate"] == pytest.approx(effect, rel=1e-10)
        assert predicted.loc[level, "Std. Err"] == pytest.approx(se, rel=1e-6)


def test_factor_levels_against_their_reference_by_group(admissions):
    res = qm.probit("admit ~ gre + gpa + C(rank) + gpa:C(rank)", admissions).fit()
    X = design(res, admissions)
    table = res.ame(variables="rank")
    assert list(table.index.get_level_values("contrast")) == ["2 - 1", "3 - 1", "4 - 1"]
    base, top = (design(res, admissions.assign(rank=r)) for r in (1, 4))
    effect, se = delta(res, lambda b: np.mean(norm.cdf(top @ b) - norm.cdf(base @ b)))
    assert table.loc[("rank", "4 - 1"), "dy/dx"] == pytest.approx(effect, rel=1e-10)
    assert table.loc[("rank", "4 - 1"), "Std. Err"] == pytest.approx(se, rel=1e-6)
    grouped = res.ame(variables=["gpa"], by="admit")
    names = res.model.exog_names
    slope = np.zeros_like(X)
    for j, n in enumerate(names):
        if n == "gpa":
            slope[:, j] = 1.0
        elif n.startswith("gpa:"):
            slope[:, j] = X[:, names.index(n.replace("gpa:", ""))]
    for outcome in (0, 1):
        at = (admissions["admit"] == outcome).to_numpy()
        effect = np.mean(norm.pdf(X[at] @ res.params) * (slope[at] @ res.params))
        assert grouped.loc[("gpa", "dY/dX", outcome), "dy/dx"] == pytest.approx(effect, rel=1e-12)


def test_levels_of_a_factor_alone_against_closed_forms(admissions):
    """A factor whose terms read nothing else: every level's one row built
    at once, each contrast with the reference its own."""
    res = qm.probit("admit ~ gre + gpa + C(rank)", admissions).fit()
    b = res.params.to_numpy()
    base = design(res, admissions.assign(rank=1))
    table = res.ame(variables="rank")
    for level in (2, 3, 4):
        other = design(res, admissions.assign(rank=level))
        expected = np.mean(norm.cdf(other @ b) - norm.cdf(base @ b))
        assert table.loc[("rank", f"{level} - 1"), "dy/dx"] == pytest.approx(expected, rel=1e-10)


def test_same_bits_on_any_number_of_threads():
    rng = np.random.default_rng(0)
    n = 150_000
    frame = pd.DataFrame({"x": rng.normal(size=n), "g": rng.choice(list("abc"), n),
                          "d": rng.integers(0, 2, n)})
    frame["y"] = (frame.x + 0.3 * frame.x ** 2 - 0.5 * frame.d + rng.normal(size=n) > 0).astype(int)
    model = qm.probit("y ~ x + I(x**2) + g*d", frame)
    one = model.fit(n_jobs=1).ame(by="g").select_dtypes("number")
    four = model.fit(n_jobs=4).ame(by="g").select_dtypes("number")
    assert one.to_numpy().tobytes() == four.to_numpy().tobytes()


def test_arrays_fits_keep_the_per_column_numbers(admissions):
    X = admissions[["gre", "gpa"]].assign(const=1.0, top=(admissions["rank"] == 1) * 1.0)
    res = qm.Probit(admissions["admit"], X).fit()
    table = res.ame()
    assert table.index.tolist() == [("gre", "dY/dX"), ("gpa", "dY/dX"), ("top", "1 - 0")]
    np.testing.assert_allclose(table.to_numpy()[:, [0, 1, 2, 3, 5, 6]].astype(float),
                               res.get_margeff(dummy=True).summary_frame().to_numpy(),
                               rtol=1e-9)


@pytest.mark.parametrize("call, error, match", [
    (lambda r: r.ame(variables=["nope"]), ValueError, "variables"),
    (lambda r: r.ame(by="nope"), ValueError, "by"),
    (lambda r: r.ame(by=3), TypeError, "by"),
    (lambda r: r.ame(binary="odd"), ValueError, "binary"),
    (lambda r: r.ame(alpha=2), ValueError, "alpha"),
    (lambda r: r.comparisons(["gpa"]), TypeError, "variables"),
    (lambda r: r.comparisons({"gpa": 3}), ValueError, "variables"),
    (lambda r: r.comparisons({"gre": (np.nan, 500)}), ValueError, r"\['gre'\] .* finite"),
    (lambda r: r.comparisons({"gre": (400, np.inf)}), ValueError, r"\['gre'\] .* finite"),
    (lambda r: r.comparisons({"rank": (1, 9)}), ValueError, "level"),
])
def test_refusals_name_the_argument(admissions, call, error, match):
    before = admissions.copy()
    res = qm.probit("admit ~ gre + gpa + C(rank)", admissions).fit()
    with pytest.raises(error, match=match):
        call(res)
    pd.testing.assert_frame_equal(admissions, before)


def test_effects_leave_the_callers_data_untouched(admissions):
    """The designs read the caller's columns in place, through the complex
    step, the difference and the counterfactual levels: none is written."""
    data = admissions.assign(rank=admissions["rank"].astype(str))
    before = data.copy()
    context = {"sq": lambda v: np.asarray(v, dtype=float) ** 2}
    res = qm.probit("admit ~ gre + I(gre**2) + gpa:gre + C(rank) + sq(gpa)", data,
                    eval_env=context).fit()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # the cast of sq() to float warns
        res.ame(by="rank")
        res.comparisons({"gre": (300, 700), "rank": ("1", "4")})
    pd.testing.assert_frame_equal(data, before)


@pytest.fixture(scope="module")
def marginaleffects():
    return pytest.importorskip("marginaleffects")


def test_against_marginaleffects(marginaleffects, mroz, admissions):
    import statsmodels.formula.api as smf

    frame = admissions.assign(rank=admissions["rank"].astype(str).astype("category"))
    cases = [(MROZ, mroz.dropna(subset=["inlf"]), None), ("admit ~ gre + gpa + rank", frame, None),
             ("admit ~ gre + gpa + rank", frame, "rank")]
    for formula, data, by in cases:
        ours = qm.probit(formula, data).fit().ame(by=by)
        model = smf.probit(formula, data).fit(disp=0)
        options = {"by": by} if by else {}
        theirs = marginaleffects.avg_slopes(model, **options).to_pandas()
        keys = ["term", "contrast"] + ([by] if by else [])
        theirs = theirs.set_index(keys).loc[ours.index]
        np.testing.assert_allclose(ours["dy/dx"], theirs["estimate"], rtol=1e-5, atol=1e-7)
        # their Jacobian is a finite difference: standard errors within 0.5 %
        np.testing.assert_allclose(ours["Std. Err"], theirs["std_error"], rtol=5e-3)
    res, model = (qm.probit("admit ~ gre + gpa + rank", frame).fit(),
                  smf.probit("admit ~ gre + gpa + rank", frame).fit(disp=0))
    ours = res.predictions(by="rank")
    theirs = marginaleffects.avg_predictions(model, by="rank").to_pandas().set_index("rank")
    np.testing.assert_allclose(ours["estimate"], theirs.loc[ours.index, "estimate"], rtol=1e-9)
    ours = res.comparisons({"gpa": (3, 4)})
    theirs = marginaleffects.avg_comparisons(model, variables={"gpa": [3, 4]}).to_pandas()
    np.testing.assert_allclose(ours["estimate"], theirs["estimate"], rtol=1e-9)
    np.testing.assert_allclose(ours["Std. Err"], theirs["std_error"], rtol=5e-3)
