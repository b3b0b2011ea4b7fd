"""Data sets for the model layer's tests: the shared real data and those that
statsmodels ships, each with a formula and the statsmodels fit to compare."""

import warnings

import numpy as np
import pandas as pd
import pytest

sm = pytest.importorskip("statsmodels.api")
smf = pytest.importorskip("statsmodels.formula.api")
pytest.importorskip("formulaic")


def shipped(name):
    return getattr(sm.datasets, name).load_pandas().data


def fair():
    data = shipped("fair")
    return data.assign(had_affair=(data["affairs"] > 0).astype(float))


def randhie():
    data = shipped("randhie")
    return data.assign(visited=(data["mdvis"] > 0).astype(int))


# name -> (loader, formula, cluster column or None)
CASES = {
    "admissions": (None, "admit ~ gre + gpa + C(rank)", "rank"),
    "mroz": (None, "inlf ~ nwifeinc + educ + exper + I(exper**2) + age + kidslt6 + kidsge6", "unem"),
    "spector": (lambda: shipped("spector"), "GRADE ~ GPA + TUCE + PSI", None),
    "fair": (fair, "had_affair ~ rate_marriage + age + yrs_married + children + religious"
                   " + C(occupation)", "occupation_husb"),
    "anes96": (lambda: shipped("anes96"), "vote ~ logpopul + TVnews + selfLR + age + educ"
                                          " + income + C(PID)", "educ"),
    "modechoice": (lambda: shipped("modechoice"), "choice ~ ttme + gc + hinc:C(mode) + C(mode)",
                   "individual"),
    "randhie": (randhie, "visited ~ lncoins + idp + lpi + fmde + physlm + disea + hlthg",
                "lncoins"),
}


def statsmodels_fit(formula, data, **fit_options):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return smf.probit(formula, data).fit(disp=0, **fit_options)


def canonical(name):
    """A column name with the factors of an interaction in one order, so that
    formulaic's and patsy's names compare (formulaic before 1.1 writes T. for
    full-rank codings too)."""
    return ":".join(sorted(str(name).replace(" ", "").replace("[T.", "[").split(":")))


def by_name(ours, theirs):
    """statsmodels' Series (or square DataFrame) in the order of ours."""
    key = {canonical(n): n for n in theirs.index}
    order = [key[canonical(n)] for n in ours.index]
    if isinstance(theirs, pd.DataFrame):
        return theirs.loc[order, order].to_numpy()
    return theirs[order].to_numpy()


def relative_gap(ours, theirs):
    ours, theirs = np.asarray(ours, float), np.asarray(theirs, float)
    return float(np.max(np.abs(ours - theirs) / np.maximum(np.abs(theirs), 1e-300)))


@pytest.fixture(scope="session")
def frames(admissions, mroz):
    """name -> the data set's DataFrame; imported by the tests that use it."""
    loaded = {"admissions": admissions, "mroz": mroz}
    return lambda name: loaded[name] if name in loaded else CASES[name][0]()


def seeded_design(n=200, seed=0):
    """A constant, two continuous regressors and a 0/1 one, with a probit outcome."""
    rng = np.random.default_rng(seed)
    X = np.column_stack([np.ones(n), rng.normal(size=n), rng.uniform(-2, 2, n), rng.random(n) < 0.4])
    y = (X @ np.array([0.3, 0.8, -0.5, 0.6]) + rng.normal(size=n) > 0).astype(float)
    return y, X
