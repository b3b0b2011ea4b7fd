"""One fit through quillon.fit_probit per covariance choice: the estimates,
the covariance with its small-sample factor, and what the engine reports."""

from __future__ import annotations

from dataclasses import dataclass
from typing import TYPE_CHECKING

import numpy as np

import quillon

if TYPE_CHECKING:
    from quillon import CorvidProbitResults

from .covariance import CovarianceChoice, clip_psd, cluster_factor, hc1_factor
from .groups import intersection_count


@dataclass(frozen=True)
class EngineFit:
    params: np.ndarray
    cov_params: np.ndarray
    llf: float
    converged: bool
    iterations: int
    n_groups: tuple[int, ...] | None = None


def fit_with_engine(endog: np.ndarray, exog: np.ndarray, choice: CovarianceChoice,
                    codes: np.ndarray | None, counts: tuple[int, ...] | None,
                    maxiter: int, tol: float) -> EngineFit:
    """The fit for `choice`; `codes` and `counts` are the encoded groups of a
    cluster-robust fit (one or two columns)."""
    nobs, k = exog.shape
    if choice.cov_type != "cluster":
        result = quillon.fit_probit(endog, exog, max_iter=maxiter, tol=tol,
                                    robust=choice.robust)
        cov = result.cov_params()
        if choice.cov_type == "HC1":
            cov = cov * hc1_factor(nobs, k)
        return from_result(result, cov)
    assert codes is not None and counts is not None
    if codes.shape[1] == 1:
        result, cov = clustered(endog, exog, codes, counts[0], choice, maxiter, tol)
        return from_result(result, clip_psd(cov) if choice.psd else cov, counts)
    # Two-way, as statsmodels forms it: each way's covariance plus the other's,
    # less that of their intersection, each with its own correction.
    first, cov0 = clustered(endog, exog, codes[:, :1], counts[0], choice, maxiter, tol)
    _, cov1 = clustered(endog, exog, codes[:, 1:], counts[1], choice, maxiter, tol)
    _, cov01 = clustered(endog, exog, codes, intersection_count(codes), choice, maxiter, tol)
    cov = cov0 + cov1 - cov01
    return from_result(first, clip_psd(cov) if choice.psd else cov, counts)


def clustered(endog: np.ndarray, exog: np.ndarray, codes: np.ndarray, n_groups: int,
              choice: CovarianceChoice, maxiter: int, tol: float) -> tuple[CorvidProbitResults, np.ndarray]:
    result = quillon.fit_probit(endog, exog, max_iter=maxiter, tol=tol, robust=True,
                                cluster_vars=np.ascontiguousarray(codes))
    cov = result.cov_params()
    if choice.use_correction:
        cov = cov * cluster_factor(n_groups, *exog.shape)
    return result, cov


def from_result(result: CorvidProbitResults, cov: np.ndarray,
                counts: tuple[int, ...] | None = None) -> EngineFit:
    return EngineFit(params=result.params, cov_params=cov, llf=float(result.loglike),
                     converged=bool(result.converged), iterations=int(result.iterations),
                     n_groups=counts)


def null_loglike(endog: np.ndarray) -> float:
    """The log-likelihood of the intercept-only model."""
    return float(quillon.fit_probit(endog, np.ones((len(endog), 1))).loglike)
