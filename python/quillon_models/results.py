"""The results of a probit fit, with statsmodels' names. Everything here is
derived from a few numbers (estimates, covariance, log-likelihoods, counts),
so a results object can be built from numbers computed anywhere."""

from __future__ import annotations

import math
from functools import cached_property
from typing import TYPE_CHECKING, Any, Mapping, Sequence

import numpy as np
import pandas as pd

from .covariance import DESCRIPTIONS
from .distributions import chi2_sf, normal_quantile, two_sided_pvalues

if TYPE_CHECKING:
    from matplotlib.axes import Axes

    from .margins import DiscreteMargins
    from .model import Probit
    from .summary import Summary


class ProbitResults:
    """Estimates of a probit model, their covariance and the statistics built
    on them. Returned by `Probit.fit`; it can also be built directly from the
    numbers of a fit run elsewhere.

    Parameters
    ----------
    params, cov_params : the estimates (k) and their covariance (k x k).
    llf : the log-likelihood at `params`.
    nobs : the number of observations fitted.
    exog_names : the regressors' names (default: the index of a `params`
        Series, else x1, x2, ...).
    endog_name : the outcome's name.
    llnull : the log-likelihood of the intercept-only model; when None, the
        model (if given) fits it on first use.
    k_constant : 1 when the model has a constant, else 0.
    converged, iterations : as the engine reports them (`iterations` is the
        0-based index of the last Newton pass).
    cov_type : "nonrobust", "HC0", "HC1" or "cluster".
    cov_kwds : what the covariance used: "use_correction", "n_groups".
    nobs_dropped : rows of the data left out for missing values.
    model : the `Probit` that was fitted, needed for predictions and
        marginal effects.
    """

    def __init__(self, params: Any, cov_params: Any, llf: float, nobs: int, *,
                 exog_names: Sequence[str] | None = None, endog_name: str = "y",
                 llnull: float | None = None, k_constant: int = 1, converged: bool = True,
                 iterations: int = 0, cov_type: str = "nonrobust",
                 cov_kwds: Mapping[str, Any] | None = None, nobs_dropped: int = 0,
                 model: Probit | None = None) -> None:
        names, values, cov = paired_by_label(params, cov_params, exog_names)
        self.exog_names = names
        self.endog_name = endog_name
        self.params = pd.Series(values, index=names)
        self._cov = cov
        self.llf = float(llf)
        self.nobs = int(nobs)
        self._llnull = None if llnull is None else float(llnull)
        self.k_constant = int(k_constant)
        self.converged = bool(converged)
        self.iterations = int(iterations)
        self.cov_type = cov_type
        self.cov_kwds = {**dict(cov_kwds or {}), "description": DESCRIPTIONS.get(cov_type, "")}
        self.nobs_dropped = int(nobs_dropped)
        self.model = model

    # ---- estimates and inference

    def cov_params(self) -> pd.DataFrame:
        return pd.DataFrame(self._cov.copy(), index=self.exog_names, columns=self.exog_names)

    @cached_property
    def bse(self) -> pd.Series:
        with np.errstate(invalid="ignore"):
            return pd.Series(np.sqrt(np.diag(self._cov)), index=self.exog_names)

    @cached_property
    def tvalues(self) -> pd.Series:
        with np.errstate(divide="ignore", invalid="ignore"):
            return self.params / self.bse

    @cached_property
    def pvalues(self) -> pd.Series:
        return pd.Series(two_sided_pvalues(self.tvalues.to_numpy()), index=self.exog_names)

    def conf_int(self, alpha: float = 0.05) -> pd.DataFrame:
        """Normal intervals at level 1 - alpha: columns 0 (lower) and 1 (upper)."""
        half = normal_quantile(alpha) * self.bse
        return pd.DataFrame({0: self.params - half, 1: self.params + half})

    # ---- fit statistics

    @property
    def df_model(self) -> float:
        return float(len(self.exog_names) - self.k_constant)

    @property
    def df_resid(self) -> float:
        return float(self.nobs - len(self.exog_names))

    @property
    def llnull(self) -> float:
        if self._llnull is None:
            if self.model is None:
                raise ValueError("llnull was not given and there is no model to fit it on")
            self._llnull = self.model.null_loglike()
        return self._llnull

    @property
    def prsquared(self) -> float:
        """McFadden's pseudo R-squared, 1 - llf / llnull."""
        return 1.0 - self.llf / self.llnull

    @property
    def llr(self) -> float:
        """The likelihood-ratio statistic against the intercept-only model."""
        return -2.0 * (self.llnull - self.llf)

    @property
    def llr_pvalue(self) -> float:
        return chi2_sf(self.llr, self.df_model)

    @property
    def aic(self) -> float:
        return -2.0 * self.llf + 2.0 * len(self.exog_names)

    @property
    def bic(self) -> float:
        return -2.0 * self.llf + math.log(self.nobs) * len(self.exog_names)

    # ---- predictions

    def predict(self, exog: Any = None, which: str = "mean", transform: bool = True) -> Any:
        """Fitted probabilities ("mean") or linear index ("linear") for new
        data (through the formula when the model has one), or for the fitted
        rows when `exog` is None."""
        return self._fitted_model().predict(self.params.to_numpy(), exog, which, transform)

    @property
    def fittedvalues(self) -> Any:
        """The linear index of the fitted rows, as statsmodels defines it."""
        return self.predict(which="linear")

    # ---- tables

    def summary(self, alpha: float = 0.05, title: str | None = None) -> Summary:
        from .summary import results_summary

        return results_summary(self, alpha, title)

    def _repr_html_(self) -> str:
        return self.summary().as_html()

    def __repr__(self) -> str:
        what = self.model.formula if self.model is not None and self.model.formula else (
            f"{self.endog_name} on {len(self.exog_names)} regressors")
        state = "converged" if self.converged else "NOT converged"
        return (f"<ProbitResults: {what}; {self.nobs} observations, {self.cov_type} covariance, "
                f"log-likelihood {self.llf:.6g}, {state}>")

    # ---- marginal effects and bridges

    def ame(self, alpha: float = 0.05, variables: Any = None, by: Any = None,
            binary: str = "contrast") -> pd.DataFrame:
        """Average marginal effects of the formula's variables: the slope
        ("dY/dX") of a numeric variable through every term it enters, and
        for a factor the contrast of each level with the reference
        ("4 - 1"); a numeric 0/1 variable gets its 0 -> 1 contrast ("1 - 0"),
        or its slope with binary="slope". Delta-method standard errors and
        1 - alpha intervals; rows indexed by ("term", "contrast"), and by the
        groups of `by` (column names of the data) when given. `variables`
        names the variables to show."""
        from .effects import Effects

        return Effects(self).ame(alpha, variables, by, binary)

    def predictions(self, by: Any = None, alpha: float = 0.05) -> pd.DataFrame:
        """The average predicted probability, overall or by the groups of
        `by`, with its delta-method standard error and interval."""
        from .effects import Effects

        return Effects(self).predictions(alpha, by)

    def comparisons(self, variables: Any, by: Any = None, alpha: float = 0.05) -> pd.DataFrame:
        """The average change in P(y = 1) when each variable of the dict
        `variables` moves from its first value to its second ({"educ": (12,
        16)}; two levels for a factor), every other variable at its observed
        value, with delta-method standard errors."""
        from .effects import Effects

        return Effects(self).comparisons(variables, alpha, by)

    def get_margeff(self, at: str = "overall", method: str = "dydx", atexog: Any = None,
                    dummy: bool = False, count: bool = False) -> DiscreteMargins:
        """Marginal effects of the design's columns as statsmodels' get_margeff
        takes them, its options and defaults included, for ported code: at
        "overall", "mean", "median" or "zero"; method "dydx", "eyex",
        "dyex" or "eydx"; atexog {column position: value}; dummy (0/1
        columns by their change from 0 to 1) and count (count columns by
        half their change from x - 1 to x + 1)."""
        from .margins import get_margeff

        return get_margeff(self, at, method, atexog, dummy, count)

    def plot_ame(self, ax: Axes | None = None, alpha: float = 0.05, by: Any = None) -> Axes:
        """Dot-and-whisker plot of the effects of `ame()` (matplotlib)."""
        from .plot import plot_ame

        return plot_ame(self, ax, alpha, by)

    def to_statsmodels(self) -> Any:
        """statsmodels' own probit results built from these numbers."""
        from .bridge import to_statsmodels

        return to_statsmodels(self)

    def remove_data(self) -> None:
        """Drops the model's reference to the data, so that the results pickle
        small: estimates, covariance, statistics and the summary remain
        (llnull is computed first); predictions and marginal effects need
        the data and are refused afterwards."""
        _ = self.llnull
        self.model = None

    def _fitted_model(self) -> Probit:
        if self.model is None:
            raise ValueError("these results have no model (built from numbers, or after "
                             "remove_data()): predictions and marginal effects need the data")
        return self.model


def paired_by_label(params: Any, cov_params: Any, exog_names: Sequence[str] | None) -> tuple[
        list[str], np.ndarray, np.ndarray]:
    """Estimates and covariance paired by their labels where they have them
    (a Series, a DataFrame), by position otherwise; labels that do not match
    are refused."""
    values: np.ndarray = np.array(params, dtype=np.float64).reshape(-1)
    labelled = isinstance(params, pd.Series)
    if exog_names is None:
        exog_names = ([str(c) for c in params.index] if labelled
                      else [f"x{j + 1}" for j in range(len(values))])
    names = [str(n) for n in exog_names]
    if len(set(names)) != len(names):
        raise ValueError(f"the regressors' names repeat: {names}")
    if labelled:
        values = np.array(by_label("params", params, names), dtype=np.float64).reshape(-1)
    if isinstance(cov_params, pd.DataFrame):
        frame = by_label("cov_params", cov_params, names)
        cov = np.array(by_label("cov_params' columns", frame.T, names).T, dtype=np.float64)
    else:
        cov = np.array(cov_params, dtype=np.float64)
    if len(names) != len(values) or cov.shape != (len(values), len(values)):
        raise ValueError(f"{len(values)} params, {len(names)} names and a covariance of "
                         f"shape {cov.shape} do not fit together")
    return names, values, cov


def by_label(what: str, values: Any, names: list[str]) -> Any:
    """`values` (Series or DataFrame rows) in the order of `names`."""
    labels = [str(c) for c in values.index]
    if sorted(labels) != sorted(names) or len(set(labels)) != len(labels):
        raise ValueError(f"{what} is labelled {labels}; the regressors are {names}")
    order = {label: i for i, label in enumerate(labels)}
    return values.iloc[[order[n] for n in names]]
