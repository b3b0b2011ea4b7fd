"""Ends of the Newton iteration that do not need statsmodels: no pass, a pass
limit, a single pass, NaN data and an empty outcome."""

import math
from functools import reduce

import numpy as np
import pytest

from quillon import fit_probit

TWO_PHI0 = math.sqrt(2.0 / math.pi)  # 2 * phi(0): the generalised residual at beta = 0


def running_sum(term, n):
    """term added n times from 0.0, in order, as the log-likelihood is summed."""
    return reduce(lambda acc, _: acc + term, range(n), 0.0)


def test_no_pass(design, capfd):
    y, X = design
    r = fit_probit(y, X, max_iter=0)
    assert capfd.readouterr().err == ""
    np.testing.assert_array_equal(r.params, np.zeros(X.shape[1]))
    assert r.loglike == running_sum(math.log(0.5), len(y))
    assert (r.iterations, r.converged) == (0, False)
    # at beta = 0 every weight is (2 phi(0))^2 = 2/pi, so -H^-1 = (pi/2) (X'X)^-1
    np.testing.assert_allclose(r.cov_params(), math.pi / 2 * np.linalg.inv(X.T @ X), rtol=1e-12)


@pytest.mark.parametrize("tol", [1e300, math.inf])
def test_single_pass_converges(design, tol):
    """One Newton step from zero is sqrt(pi/2) times the least-squares fit of 2y-1 on X."""
    y, X = design
    r = fit_probit(y, X, tol=tol)
    assert (r.iterations, r.converged) == (0, True)
    ols = np.linalg.lstsq(X, 2 * y - 1, rcond=None)[0]
    np.testing.assert_allclose(r.params, math.pi / 2 * TWO_PHI0 * ols, rtol=1e-12)


@pytest.mark.parametrize("tol", [0.0, -1.0, -math.inf, math.nan])
@pytest.mark.parametrize("max_iter", [1, 8])
def test_tolerance_never_met(design, tol, max_iter, capfd):
    y, X = design
    r = fit_probit(y, X, max_iter=max_iter, tol=tol)
    assert (r.iterations, r.converged) == (max_iter - 1, False)
    assert capfd.readouterr().err == ""
    if max_iter == 8:
        np.testing.assert_allclose(r.params, fit_probit(y, X).params, rtol=1e-8)


def test_nan_in_a_used_row(design, capfd):
    y, X = design
    X = X.copy()
    X[3, 1] = np.nan
    r = fit_probit(y, X)
    assert (r.iterations, r.converged) == (1, False)  # the log-likelihood settled on NaN estimates
    assert np.isnan(r.params).all()
    assert np.isnan(r.cov_params()).all()
    assert r.loglike == running_sum(math.log(1e-15), len(y))
    assert capfd.readouterr().err == ""


@pytest.mark.parametrize("case", ["nan", "inf", "dummies and a constant", "well posed"])
def test_converged_means_a_usable_maximum(design, admissions, case):
    """The log-likelihood settles in every case; only a fit with finite
    estimates and positive, finite variances is reported converged."""
    y, X = design
    X = X.copy()
    if case in ("nan", "inf"):
        X[7, 2] = float(case)
    elif case == "dummies and a constant":  # collinear, yet the Hessian inverts
        y = admissions["admit"].to_numpy(float)
        X = np.column_stack([np.ones(len(y)), admissions[["gre", "gpa"]]]
                            + [admissions["rank"] == rank for rank in (1, 2, 3, 4)]).astype(float)
    r = fit_probit(y, X)
    assert r.iterations < 34
    variances = np.diag(r.cov_params())
    usable = np.isfinite(r.params).all() and np.isfinite(variances).all() and (variances > 0).all()
    assert r.converged == usable == (case == "well posed")


@pytest.mark.parametrize("k", [1, 3])
def test_empty_outcome(k, capfd):
    r = fit_probit(np.empty(0), np.ones((0, k)))
    assert capfd.readouterr().err == (
        "Hessian near singular at iteration 0\nHessian singular => using identity for Cov\n"
    )
    assert r.loglike == 0.0
    assert (r.iterations, r.converged) == (0, False)
    np.testing.assert_array_equal(r.params, np.zeros(k))
    np.testing.assert_array_equal(r.cov_params(), np.eye(k))


def test_half_outcomes_add_nothing_but_a_constant(design):
    """y = 0.5 gives q = 0: a log-likelihood term ln 0.5 and no score or Hessian."""
    y, X = design
    half = np.arange(len(y)) % 4 == 0
    y_half = np.where(half, 0.5, y)
    r = fit_probit(y_half, X)
    ref = fit_probit(y[~half], X[~half])
    np.testing.assert_allclose(r.params, ref.params, rtol=1e-12)
    np.testing.assert_allclose(r.cov_params(), ref.cov_params(), rtol=1e-12)
    assert r.loglike == pytest.approx(ref.loglike + half.sum() * math.log(0.5), rel=1e-13)
