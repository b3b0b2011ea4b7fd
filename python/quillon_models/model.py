"""The probit model: data in, `fit` through the engine, predictions out."""

from __future__ import annotations

import operator
from typing import Any

import numpy as np
import pandas as pd

from .covariance import CovarianceChoice, parse_cov_options
from .design import Design, constant_columns, design_from_arrays, design_from_formula
from .diagnostics import linear_index, warn_about_fit
from .distributions import normal_cdf
from .engine import fit_with_engine, null_loglike
from .groups import encode_groups, group_columns
from .results import ProbitResults


class Probit:
    """Binary probit model, fitted by quillon's Newton-Raphson.

    Parameters
    ----------
    endog : the 0/1 outcome (bool, integer or float): array, Series or
        one-column DataFrame.
    exog : the regressors, with a constant column if the model has one:
        two-dimensional array or DataFrame (its column names name the
        estimates).
    missing : "none" or "raise" refuse NaN and inf values with a ValueError
        that names the columns; "drop" drops those rows and counts them.
    """

    def __new__(cls, endog: Any = None, exog: Any = None, *args: Any, **kwargs: Any) -> Any:
        # Dask collections are fitted where they are, partition by partition.
        if cls is Probit and on_dask(endog, exog):
            from ._dask_model import DaskProbit

            return DaskProbit(endog, exog, *args, **kwargs)
        return super().__new__(cls)

    def __init__(self, endog: Any, exog: Any, missing: str = "none") -> None:
        self._set_design(design_from_arrays(endog, exog, missing), missing,
                         exog if isinstance(exog, pd.DataFrame) else None)

    @classmethod
    def from_formula(cls, formula: str, data: Any, missing: str = "drop") -> Probit:
        """The model of a formula ("admit ~ gre + gpa + C(rank)", formulaic's
        syntax) on the columns of `data`; rows with missing values are
        dropped and counted."""
        if on_dask(data):
            from ._dask_model import DaskProbit

            return DaskProbit.from_formula(formula, data, missing)  # type: ignore[return-value]
        model = cls.__new__(cls)
        frame = data if isinstance(data, pd.DataFrame) else pd.DataFrame(data)
        model._set_design(design_from_formula(formula, frame, missing), missing, frame)
        return model

    def _set_design(self, design: Design, missing: str, data: pd.DataFrame | None) -> None:
        self.endog = design.endog
        self.exog = design.exog
        self.endog_names = design.endog_name
        self.exog_names = list(design.exog_names)
        self.formula = design.formula
        self.model_spec = design.model_spec
        self.missing = missing
        self.nobs_dropped = design.nobs_dropped
        self.row_labels = design.row_labels
        self._kept_rows = design.kept_rows
        # The caller's data, for groups given by column name.
        self.data = data
        self.const_idx = (constant_columns(self.exog) if design.const_idx is None
                          else design.const_idx)
        self.k_constant = 1 if self.const_idx else 0

    @property
    def nobs(self) -> int:
        return int(self.exog.shape[0])

    @property
    def df_model(self) -> float:
        return float(self.exog.shape[1] - self.k_constant)

    @property
    def df_resid(self) -> float:
        return float(self.nobs - self.exog.shape[1])

    def fit(self, start_params: Any = None, method: str = "newton", maxiter: int = 35,
            tol: float = 1e-6, cov_type: str = "nonrobust", cov_kwds: dict[str, Any] | None = None,
            use_t: bool | None = None, disp: bool = False, callback: Any = None,
            **kwargs: Any) -> ProbitResults:
        """Maximum likelihood by Newton-Raphson in quillon.

        maxiter is the most Newton passes; the iteration stops when the
        log-likelihood changes by less than tol. cov_type: "nonrobust"
        (inverse of the negative Hessian), "HC0", "HC1" (HC0 times
        n / (n - k)) or "cluster" with cov_kwds={"groups": ...,
        "use_correction": True}; groups are an array, a Series or column
        name(s) of the data, one column or two (two-way clustering).
        """
        refuse_unavailable(start_params, method, use_t, callback, kwargs)
        maxiter = operator.index(maxiter)
        if maxiter < 0:
            raise ValueError(f"maxiter must be at least 0, got {maxiter}")
        tol = float(tol)
        choice = parse_cov_options(cov_type, cov_kwds)
        codes, counts = self._group_codes(choice.groups) if choice.cov_type == "cluster" else (
            None, None)
        fitted = fit_with_engine(self.endog, self.exog, choice, codes, counts, maxiter, tol)
        warn_about_fit(fitted.converged, fitted.iterations, maxiter, self.exog, fitted.params)
        if disp:
            report_fit(fitted.converged, fitted.llf / self.nobs, fitted.iterations)
        return ProbitResults(
            fitted.params, fitted.cov_params, fitted.llf, self.nobs, exog_names=self.exog_names,
            endog_name=self.endog_names, k_constant=self.k_constant, converged=fitted.converged,
            iterations=fitted.iterations, cov_type=choice.cov_type,
            cov_kwds=cov_record(choice, fitted.n_groups), nobs_dropped=self.nobs_dropped,
            model=self)

    def _group_codes(self, groups: Any) -> tuple[np.ndarray, tuple[int, ...]]:
        if isinstance(groups, str) or (isinstance(groups, (list, tuple)) and groups
                                       and all(isinstance(g, str) for g in groups)):
            columns = self._data_columns([groups] if isinstance(groups, str) else list(groups))
        else:
            columns = group_columns(groups, self.nobs)
        return encode_groups([self._aligned(c) for c in columns])

    def _data_columns(self, names: list[str]) -> list[pd.Series]:
        if self.data is None:
            raise ValueError("groups given by column name need the model's data: a formula, "
                             "or exog as a DataFrame")
        absent = [n for n in names if n not in self.data.columns]
        if absent:
            raise KeyError(f"groups {absent} are not columns of the data")
        return [self.data[n] for n in names]

    def _aligned(self, column: Any) -> Any:
        """A group column for the fitted rows: one given for every row of the
        caller's data loses the rows that were dropped."""
        length, rows = len(column), self.nobs + self.nobs_dropped
        if length == self.nobs:
            return column
        if length == rows and self._kept_rows is not None:
            return np.asarray(column)[self._kept_rows]
        raise ValueError(f"groups have {length} rows; the model has {self.nobs} "
                         f"(of {rows} in the data)")

    def null_loglike(self) -> float:
        """The log-likelihood of the intercept-only model, fitted by quillon."""
        return null_loglike(self.endog)

    def predict(self, params: Any, exog: Any = None, which: str = "mean",
                transform: bool = True) -> Any:
        """Probabilities ("mean") or linear index ("linear") at `params`."""
        if which not in ("mean", "linear"):
            raise ValueError(f"which must be 'mean' or 'linear', got {which!r}")
        design, index, rows = self._prediction_design(exog, transform)
        linear = linear_index(design, np.asarray(params, dtype=np.float64))
        values = linear if which == "linear" else normal_cdf(linear)
        if rows is not None and index is not None:
            filled = np.full(len(index), np.nan)
            filled[rows] = values
            values = filled
        return values if index is None else pd.Series(values, index=index)

    def _prediction_design(self, exog: Any, transform: bool) -> tuple[
            np.ndarray, pd.Index | None, np.ndarray | None]:
        """The design matrix to predict on, the index of the answer, and the
        positions of the complete rows when the formula dropped some."""
        if exog is None:
            return self.exog, self.row_labels, None
        if self.model_spec is not None and transform:
            frame = exog if isinstance(exog, pd.DataFrame) else pd.DataFrame(exog)
            index = frame.index
            frame = frame.copy(deep=False)
            frame.index = pd.RangeIndex(len(frame))
            matrix = self.model_spec.get_model_matrix(frame)
            rows = np.asarray(matrix.index, dtype=np.intp)
            return (np.asarray(matrix.to_numpy(dtype=np.float64)), index,
                    None if len(rows) == len(frame) else rows)
        if isinstance(exog, pd.DataFrame):
            if set(self.exog_names) <= set(map(str, exog.columns)):
                exog = exog[self.exog_names]
            return exog.to_numpy(dtype=np.float64), exog.index, None
        values = np.asarray(exog, dtype=np.float64)
        if values.ndim == 1:
            values = values[None, :]
        if values.ndim != 2 or values.shape[1] != len(self.exog_names):
            raise ValueError(f"exog needs {len(self.exog_names)} columns, got shape {values.shape}")
        return values, None, None

    def __repr__(self) -> str:
        what = self.formula or f"{self.endog_names} on {', '.join(self.exog_names)}"
        return f"<Probit: {what}; {self.nobs} observations>"


def on_dask(*objects: Any) -> bool:
    """Whether any object is a Dask collection, told without importing Dask."""
    return any(type(o).__module__.split(".")[0] in ("dask", "dask_expr") for o in objects)


def probit(formula: str, data: Any, missing: str = "drop") -> Probit:
    """A probit model from a formula, as statsmodels.formula.api.probit."""
    return Probit.from_formula(formula, data, missing=missing)


def refuse_unavailable(start_params: Any, method: str, use_t: bool | None, callback: Any,
                       kwargs: dict[str, Any]) -> None:
    """Options of statsmodels' fit that quillon does not offer are errors,
    never ignored."""
    if start_params is not None:
        raise NotImplementedError("start_params: quillon's Newton iteration always starts at zero")
    if method != "newton":
        raise NotImplementedError(f"method={method!r}: quillon fits by Newton-Raphson only "
                                  "(method='newton')")
    if use_t:
        raise NotImplementedError("use_t: inference is on the normal distribution only")
    if callback is not None:
        raise NotImplementedError("callback: quillon's iteration runs natively, without callbacks")
    if kwargs:
        raise NotImplementedError(f"fit options {sorted(kwargs)} are not available in quillon")


def cov_record(choice: CovarianceChoice, n_groups: tuple[int, ...] | None) -> dict[str, Any]:
    record: dict[str, Any] = {}
    if choice.cov_type == "cluster":
        record["use_correction"] = choice.use_correction
        record["n_groups"] = n_groups
    return record


def report_fit(converged: bool, value: float, iterations: int) -> None:
    print("Optimization terminated successfully." if converged else
          "Warning: the fit did not converge.")
    print(f"         Current function value: {-value:.6f}")
    print(f"         Iterations {iterations + 1}")
