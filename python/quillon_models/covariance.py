"""Covariance options (statsmodels' cov_type and cov_kwds) and the
small-sample factors applied to the engine's covariances."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any, Mapping

import numpy as np

COV_TYPES = ("nonrobust", "HC0", "HC1", "cluster")

DESCRIPTIONS = {
    "nonrobust": "Standard Errors assume that the covariance matrix of the errors is "
                 "correctly specified.",
    "HC0": "Standard Errors are heteroscedasticity robust (HC0)",
    "HC1": "Standard Errors are heteroscedasticity robust (HC1)",
    "cluster": "Standard Errors are robust to cluster correlation (cluster)",
}


@dataclass(frozen=True)
class CovarianceChoice:
    """A checked covariance option: its type, the groups as given (array,
    Series, DataFrame or column names) and whether the cluster correction
    applies."""

    cov_type: str
    groups: Any = None  # as given: array, Series, DataFrame, column name(s)
    use_correction: bool = True
    # "clip": negative eigenvalues of the clustered covariance set to zero.
    psd: str | None = None

    @property
    def robust(self) -> bool:
        return self.cov_type != "nonrobust"


def parse_cov_options(cov_type: str, cov_kwds: Mapping[str, Any] | None) -> CovarianceChoice:
    """Check statsmodels' covariance options against what the engine forms.

    Parameters
    ----------
    cov_type : {"nonrobust", "HC0", "HC1", "cluster"}
        In any letter case.
    cov_kwds : mapping, optional
        For "cluster": ``"groups"`` (required) and ``"use_correction"``
        (bool, default True); nothing for the others.

    Returns
    -------
    CovarianceChoice
        The canonical type, the groups as given and the correction.

    Raises
    ------
    NotImplementedError
        For another covariance type or another cluster option.
    ValueError
        For missing groups, or options given to a type that takes none.
    TypeError
        For a `use_correction` that is not a bool.
    """
    kwds = dict(cov_kwds or {})
    canonical = {c.lower(): c for c in COV_TYPES}.get(str(cov_type).lower())
    if canonical is None:
        raise NotImplementedError(f"cov_type={cov_type!r} is not available; choose one of "
                                  f"{', '.join(map(repr, COV_TYPES))}")
    if canonical != "cluster":
        if kwds:
            raise ValueError(f"cov_type={canonical!r} takes no cov_kwds, got {sorted(kwds)}")
        return CovarianceChoice(canonical)
    if "groups" not in kwds:
        raise ValueError("cov_type='cluster' needs cov_kwds={'groups': ...}")
    unknown = sorted(set(kwds) - {"groups", "use_correction", "psd"})
    if unknown:
        raise NotImplementedError(f"cov_kwds {unknown} are not available for cov_type='cluster'; "
                                  "only 'groups', 'use_correction' and 'psd' are")
    use_correction = kwds.get("use_correction", True)
    if not isinstance(use_correction, bool):
        raise TypeError(f"use_correction must be True or False, got {use_correction!r}")
    psd = kwds.get("psd")
    if psd not in (None, "clip"):
        raise ValueError(f"psd must be 'clip' or None, got {psd!r}")
    return CovarianceChoice("cluster", kwds["groups"], use_correction, psd)


def clip_psd(cov: Any) -> np.ndarray:
    """The covariance made positive semi-definite: its symmetric part with
    negative eigenvalues set to zero (Cameron, Gelbach and Miller 2011, for
    multi-way clustering). One that has none comes back unchanged."""
    matrix = np.array(cov, dtype=np.float64)
    if matrix.ndim != 2 or matrix.shape[0] != matrix.shape[1]:
        raise ValueError(f"cov must be a square matrix, got shape {matrix.shape}")
    if not np.isfinite(matrix).all():
        raise ValueError("cov holds NaN or infinite values: it has no eigenvalues to clip")
    symmetric = 0.5 * (matrix + matrix.T)
    values, vectors = np.linalg.eigh(symmetric)
    if values.min(initial=0.0) >= 0.0:
        return matrix
    clipped = (vectors * np.maximum(values, 0.0)) @ vectors.T
    return 0.5 * (clipped + clipped.T)

def hc1_factor(nobs: float, k_params: int) -> float:
    """HC1's factor on the HC0 covariance.

    Parameters
    ----------
    nobs : int
        Observations fitted, n.
    k_params : int
        Estimates, k.

    Returns
    -------
    float
        n / (n - k).
    """
    check_residual_degrees("HC1", nobs, k_params)
    return nobs / (nobs - k_params)


def cluster_factor(n_groups: int, nobs: float, k_params: int) -> float:
    """statsmodels' small-sample correction of a cluster-robust covariance.

    Parameters
    ----------
    n_groups : int
        Clusters, G.
    nobs : int
        Observations fitted, n.
    k_params : int
        Estimates, k.

    Returns
    -------
    float
        G / (G - 1) * (n - 1) / (n - k).

    Raises
    ------
    ValueError
        For fewer than two groups.
    """
    if n_groups < 2:
        raise ValueError(f"cluster-robust covariance needs at least two groups, got {n_groups}")
    check_residual_degrees("the cluster correction", nobs, k_params)
    return n_groups / (n_groups - 1.0) * ((nobs - 1.0) / (nobs - k_params))


def sampling_cluster_factor(n_groups: int) -> float:
    """The correction of a cluster-robust covariance under sampling weights,
    G / (G - 1), as Stata's for weighted likelihoods."""
    if n_groups < 2:
        raise ValueError(f"cluster-robust covariance needs at least two groups, got {n_groups}")
    return n_groups / (n_groups - 1.0)


def check_residual_degrees(what: str, nobs: float, k_params: int) -> None:
    """Small-sample factors divide by n - k: refused when it is not positive."""
    if nobs <= k_params:
        raise ValueError(f"{what} needs more observations than parameters; the fit has "
                         f"{nobs} observations and {k_params} parameters")
