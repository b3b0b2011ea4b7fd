"""Probit regression by Newton-Raphson with classical, heteroskedasticity-robust
and cluster-robust covariances, and average marginal effects with
delta-method standard errors."""

from typing import Any, Protocol, SupportsFloat, SupportsIndex, final, type_check_only

import numpy as np
import numpy.typing as npt
import pandas as pd

__all__ = ["ame", "fit_probit"]

_Float64Array = npt.NDArray[np.float64]

# The two result classes are not attributes of the module: objects of these
# types come only from fit_probit and from reading `model`, and neither class
# can be called.

@final
@type_check_only
class CorvidProbitModel:
    """The data of a fit, as :func:`fit_probit` copied them (read-only)."""

    @property
    def exog(self) -> _Float64Array:
        """The regressors, n x k float64."""
    @property
    def endog(self) -> _Float64Array:
        """The outcome, n float64."""
    @property
    def exog_names(self) -> list[str]:
        """``["x0", "x1", ...]``, one per column of :attr:`exog`."""

@final
@type_check_only
class CorvidProbitResults:
    """A fit of :func:`fit_probit` (read-only; the arrays are the ones it
    holds, not copies)."""

    @property
    def params(self) -> _Float64Array:
        """The estimates, k float64 in column order."""
    def cov_params(self) -> _Float64Array:
        """The covariance of the estimates, k x k float64: classical, HC0 or
        cluster-robust as the fit was asked for."""
    @property
    def model(self) -> CorvidProbitModel:
        """The fitted data."""
    @property
    def loglike(self) -> float:
        """The log-likelihood at :attr:`params`."""
    @property
    def iterations(self) -> int:
        """The 0-based index of the last Newton pass: 3 means four passes."""
    @property
    def converged(self) -> bool:
        """True only when the log-likelihood settled at finite estimates whose
        classical variances are all positive and finite."""

# What ame reads from a fitted model: a CorvidProbitResults, a statsmodels
# probit result, or any object of this shape. `model` must offer `exog` (a
# two-dimensional float64 array or DataFrame) and `exog_names` (a sequence of
# str).
@type_check_only
class _FittedProbit(Protocol):
    @property
    def params(self) -> Any: ...
    def cov_params(self) -> Any: ...
    @property
    def model(self) -> Any: ...

def ame(probit_model: _FittedProbit, chunk_size: SupportsIndex | None = ...) -> pd.DataFrame:
    """Calculates Average Marginal Effects (AME) for a Probit model

    A 0/1 regressor's effect is the average change of the probability from 0
    to 1, any other's the average derivative; regressors named ``const`` or
    ``intercept`` (any letter case) get no row. Standard errors come from the
    delta method with the fit's own covariance.

    Parameters
    ----------
    probit_model : CorvidProbitResults or fitted probit
        A result of :func:`fit_probit`, a statsmodels probit result, or any
        object with ``params``, ``cov_params()``, ``model.exog`` and
        ``model.exog_names`` (strings).
    chunk_size : int, optional
        Rows summed per chunk (default: all at once); results with different
        chunk sizes agree up to rounding.

    Returns
    -------
    pandas.DataFrame
        One row per regressor by name: "dy/dx", "Std. Err", "z", "Pr(>|z|)"
        and "Significance" (``***`` below 0.01, ``**`` 0.05, ``*`` 0.1).

    Raises
    ------
    TypeError
        For a model of another statsmodels family (Logit, OLS, ...), names
        that are not strings, or arrays of the wrong type.
    ValueError
        For labels that do not match the regressors, or ``chunk_size=0``.

    Examples
    --------
    >>> import numpy as np, quillon
    >>> rng = np.random.default_rng(0)
    >>> x = rng.normal(size=500)
    >>> y = (0.2 + 0.8 * x + rng.normal(size=500) > 0).astype(float)
    >>> r = quillon.fit_probit(y, np.column_stack([np.ones(500), x]))
    >>> quillon.ame(r)["dy/dx"].round(3)  # x0, the constant, is not named so
    x0    0.035
    x1    0.248
    Name: dy/dx, dtype: float64
    """

def fit_probit(
    endog_py: _Float64Array,
    exog_py: _Float64Array,
    max_iter: SupportsIndex | None = ...,
    tol: SupportsFloat | SupportsIndex | None = ...,
    robust: bool | None = ...,
    cluster_vars: _Float64Array | None = ...,
) -> CorvidProbitResults:
    """Fit a probit model by Newton-Raphson from zero.

    Parameters
    ----------
    endog_py : numpy.ndarray
        The 0/1 outcome, float64, shaped ``(n,)`` or ``(n, 1)``.
    exog_py : numpy.ndarray
        The regressors, float64, n x k; add a column of ones for a constant.
    max_iter : int, optional
        The most Newton passes (default 35).
    tol : float, optional
        The fit stops when the log-likelihood changes by less (default 1e-6).
    robust : bool, optional
        True for the heteroskedasticity-robust (HC0) covariance, or the
        cluster-robust one with `cluster_vars`; else classical.
    cluster_vars : numpy.ndarray, optional
        float64, n x m: a cluster is a distinct combination of the rows'
        values rounded to four decimals. Used only with `robust`.

    Returns
    -------
    CorvidProbitResults
        Estimates, covariance, log-likelihood, passes and convergence, and
        copies of the data.

    Raises
    ------
    TypeError
        For an argument that is not a float64 NumPy array of the right
        dimensions, named in the message.
    ValueError
        For arrays whose numbers of rows differ.

    Examples
    --------
    >>> import numpy as np, quillon
    >>> rng = np.random.default_rng(0)
    >>> X = np.column_stack([np.ones(500), rng.normal(size=500)])
    >>> y = (X @ [0.2, 0.8] + rng.normal(size=500) > 0).astype(float)
    >>> r = quillon.fit_probit(y, X, robust=True)
    >>> r.converged
    True
    """
