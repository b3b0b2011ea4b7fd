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
    @property
    def exog(self) -> _Float64Array: ...
    @property
    def endog(self) -> _Float64Array: ...
    @property
    def exog_names(self) -> list[str]: ...

@final
@type_check_only
class CorvidProbitResults:
    @property
    def params(self) -> _Float64Array: ...
    def cov_params(self) -> _Float64Array: ...
    @property
    def model(self) -> CorvidProbitModel: ...
    @property
    def loglike(self) -> float: ...
    @property
    def iterations(self) -> int: ...
    @property
    def converged(self) -> bool: ...

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
    """Calculates Average Marginal Effects (AME) for a Probit model"""

def fit_probit(
    endog_py: _Float64Array,
    exog_py: _Float64Array,
    max_iter: SupportsIndex | None = ...,
    tol: SupportsFloat | SupportsIndex | None = ...,
    robust: bool | None = ...,
    cluster_vars: _Float64Array | None = ...,
) -> CorvidProbitResults: ...
