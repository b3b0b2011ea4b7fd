"""The probit model on Dask collections: what `Probit` and `probit` become
when given Dask arrays or a Dask DataFrame. The data stay in their
partitions; fits, marginal effects and predictions run as passes over them
(see `_dask`), and the results are the same `ProbitResults` as in memory."""

from __future__ import annotations

import operator
from typing import Any, Optional

import numpy as np
import pandas as pd

import dask.array as da
import dask.dataframe as dd

from . import _dask
from .covariance import parse_cov_options
from .design import array_names, check_missing_option
from .diagnostics import warn_about_fit
from .distributions import normal_cdf
from .model import cov_record, refuse_unavailable, report_fit
from .results import ProbitResults


class DaskProbit:
    """Binary probit model on Dask data, fitted by quillon's Newton-Raphson
    with one pass over the partitions per Newton step.

    Built by `Probit(endog, exog)` with Dask arrays, Series or DataFrames,
    and by `probit(formula, data)` with a Dask DataFrame; pandas or NumPy
    data go through `dask.dataframe.from_pandas` or `dask.array.from_array`.
    Passes run on the current Dask client or, without one, on Dask's default
    scheduler (`dask.config.set(scheduler=...)` chooses another).
    """

    _spec: Any = None  # formulaic's model spec of both sides, for a formula

    def __init__(self, endog: Any, exog: Any, missing: str = "none") -> None:
        self.missing = check_missing_option(missing)
        self._exog, names = _dask.exog_array(exog)
        self._endog = endog
        self.endog_names = str(getattr(endog, "name", None) or "y")
        self.exog_names = names or array_names(self._exog.shape[1], [])
        self.data = exog if isinstance(exog, dd.DataFrame) else None
        self.exog = self._exog
        self.formula: Optional[str] = None
        self.model_spec: Any = None
        self._init_common()

    @classmethod
    def from_formula(cls, formula: str, data: Any, missing: str = "drop") -> DaskProbit:
        if not isinstance(formula, str) or "~" not in formula:
            raise ValueError(f"formula must be a string 'outcome ~ regressors', got {formula!r}")
        model = cls.__new__(cls)
        model.missing = check_missing_option(missing)
        model.data = data
        model.formula = formula
        spec = _dask.model_spec(formula, data, missing, {})
        model._spec = spec
        model.model_spec = spec.rhs
        model.endog_names = str(spec.lhs.column_names[0])
        model.exog_names = [str(c) for c in spec.rhs.column_names]
        model.exog = None
        model._init_common()
        return model

    def _init_common(self) -> None:
        self.const_idx: list[int] = []
        self.k_constant = 0
        self.nobs_dropped = 0
        self._nobs: Optional[int] = None
        self._parts = self._make_parts(None)
        self._llnull: Optional[float] = None

    def _make_parts(self, groups: Any, checked: bool = True) -> list:
        if self.formula is not None:
            return _dask.parts_from_frame(self._spec, self.data, groups, self.missing, checked)
        return _dask.parts_from_arrays(self._endog, self._exog, groups, self.missing,
                                       self.endog_names, self.exog_names, checked)

    def _fitted_parts(self) -> list:
        """The partitions for the passes after a fit: unchecked when the fit
        checked them all and dropped no row."""
        return self._make_parts(None, checked=self.nobs_dropped != 0)

    @property
    def nobs(self) -> int:
        if self._nobs is None:
            raise ValueError("the number of observations is known once the model is fitted")
        return self._nobs

    def fit(self, start_params: Any = None, method: str = "newton", maxiter: int = 35,
            tol: float = 1e-6, cov_type: str = "nonrobust", cov_kwds: dict[str, Any] | None = None,
            use_t: bool | None = None, disp: bool = False, callback: Any = None,
            **kwargs: Any) -> ProbitResults:
        """As `Probit.fit`: Newton-Raphson from zero, one pass over the data
        per Newton step, then the covariance's pass; groups of a
        cluster-robust fit are a Dask array or Series with exog's rows, or a
        column name of the data."""
        refuse_unavailable(start_params, method, use_t, callback, kwargs)
        maxiter = operator.index(maxiter)
        if maxiter < 0:
            raise ValueError(f"maxiter must be at least 0, got {maxiter}")
        choice = parse_cov_options(cov_type, cov_kwds)
        source = self._group_source(choice.groups) if choice.cov_type == "cluster" else None
        parts = self._parts if source is None else self._make_parts(source)
        fitted = _dask.fit_parts(parts, len(self.exog_names), choice, maxiter, float(tol), {},
                                 self._make_parts(source, checked=False))
        self._nobs, self.nobs_dropped = fitted.nobs, fitted.dropped
        self.const_idx = fitted.const_idx
        self.k_constant = 1 if self.const_idx else 0
        k = len(self.exog_names)
        if self.formula is None and self.exog_names == array_names(k, []):
            self.exog_names = array_names(k, list(self.const_idx))
        warn_about_fit(fitted.converged, fitted.iterations, maxiter,
                       np.empty((0, len(self.exog_names))), fitted.params)
        if disp:
            report_fit(fitted.converged, fitted.llf / fitted.nobs, fitted.iterations)
        return ProbitResults(
            fitted.params, fitted.cov_params, fitted.llf, fitted.nobs,
            exog_names=self.exog_names, endog_name=self.endog_names, k_constant=self.k_constant,
            converged=fitted.converged, iterations=fitted.iterations, cov_type=choice.cov_type,
            cov_kwds=cov_record(choice, fitted.n_groups), nobs_dropped=fitted.dropped,
            model=self)  # type: ignore[arg-type]

    def _group_source(self, groups: Any) -> Any:
        """What the parts read the groups from: column names of the data (one
        or two), or a Dask array or Series with exog's rows (one or two
        columns)."""
        names = [groups] if isinstance(groups, str) else groups
        if isinstance(names, (list, tuple)) and names and all(isinstance(g, str) for g in names):
            if len(names) > 2:
                raise ValueError(f"groups must be one or two columns, got {len(names)}")
            absent = [g for g in names if self.data is None or g not in self.data.columns]
            if absent:
                raise KeyError(f"groups {absent} are not columns of the data")
            if self.formula is not None:
                return list(names)
            assert self.data is not None
            return self.data[list(names)]
        if self.formula is not None:
            raise ValueError("with a formula, give groups as column names of the data")
        if not isinstance(groups, (da.Array, dd.Series, dd.DataFrame)):
            raise TypeError("groups of a fit on Dask data must be a Dask array, Series or "
                            f"DataFrame, or column names; got {type(groups).__name__}")
        if groups.ndim == 2 and groups.shape[1] not in (1, 2):
            raise ValueError(f"groups must be one or two columns, got {groups.shape[1]}")
        return groups

    def null_loglike(self) -> float:
        """The log-likelihood of the intercept-only model on the same rows."""
        if self._llnull is None:
            self._llnull = _dask.null_loglike(self._fitted_parts(), {})
        return self._llnull

    def engine_ame(self, params: np.ndarray, cov: np.ndarray, names: list[str]) -> pd.DataFrame:
        """quillon's marginal-effects table over the partitions."""
        return _dask.ame_table(self._fitted_parts(), params, cov, names, self.nobs, {})

    def predict(self, params: Any, exog: Any = None, which: str = "mean",
                transform: bool = True) -> Any:
        """Probabilities ("mean") or linear index ("linear") at `params`, as a
        Dask Series over the fitted rows (exog None) or over new Dask data."""
        if which not in ("mean", "linear"):
            raise ValueError(f"which must be 'mean' or 'linear', got {which!r}")
        beta = np.asarray(params, dtype=np.float64)
        if self.formula is not None and (exog is None or transform):
            frame = self.data if exog is None else exog
            assert frame is not None
            spec = self.model_spec

            def on_frame(part: pd.DataFrame) -> pd.Series:
                design = spec.get_model_matrix(part)
                linear = design.to_numpy(dtype=np.float64) @ beta
                values = linear if which == "linear" else normal_cdf(linear)
                return pd.Series(values, index=design.index, dtype=np.float64)

            if isinstance(frame, pd.DataFrame):
                return on_frame(frame)
            return frame.map_partitions(on_frame, meta=pd.Series([], dtype=np.float64))
        x = self._exog if exog is None else _dask.exog_array(exog)[0]

        def on_block(block: np.ndarray) -> np.ndarray:
            linear = np.asarray(block, dtype=np.float64) @ beta
            return linear if which == "linear" else normal_cdf(linear)

        values = x.map_blocks(on_block, drop_axis=1, dtype=np.float64)
        return dd.from_dask_array(values)

    def __repr__(self) -> str:
        what = self.formula or f"{self.endog_names} on {', '.join(self.exog_names)}"
        return f"<Probit on Dask data: {what}>"

