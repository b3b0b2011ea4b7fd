"""The probit model: data in, `fit` through the one driver, predictions out.

The model holds a data source: `MemoryData` for arrays and DataFrames in
memory (`memory.py`), `DaskData` for Dask collections (`_dask.py`). Both
hand the driver (`driver.py`) the parts of the data and a way to run passes
over them; everything else, the fit, the covariances, the effects and the
predictions, is the same code for both.
"""

from __future__ import annotations

import operator
import warnings
from dataclasses import dataclass
from typing import Any, Optional, Sequence

import numpy as np
import pandas as pd

from . import driver
from .covariance import CovarianceChoice, parse_cov_options
from .formula_context import formula_context
from .design import caller_context, check_missing_option, design_from_arrays, design_from_formula
from .diagnostics import warn_about_fit
from .exceptions import CollinearityWarning, PerfectSeparationError, PerfectSeparationWarning
from .separation import exact_test
from .memory import MemoryData
from .parts import usable_threads
from .record import FitRecord, Selection, read_only
from .source import DataSource
from .weights import chosen_weights
from .results import ProbitResults


class Probit:
    """Binary probit model, fitted by quillon's Newton-Raphson.

    Given Dask collections, the model fits on Dask, partition by partition,
    with the same results class.

    Parameters
    ----------
    endog : array_like, pandas.Series or pandas.DataFrame
        The 0/1 outcome (bool, integer or float): an array, a Series or a
        one-column DataFrame.
    exog : array_like or pandas.DataFrame
        The regressors, two-dimensional, with a constant column if the model
        has one (add it yourself); a DataFrame's column names name the
        estimates, else ``x1, x2, ...`` and ``const``.
    missing : {"none", "raise", "drop"}
        "none" and "raise" refuse NaN and inf values with a ValueError that
        names the columns; "drop" drops those rows and counts them.
    freq_weights : array_like or str, optional
        Frequency weights, one non-negative whole number per row (or a
        column name of a DataFrame `exog`): row i counts as w_i identical
        rows, ``nobs`` is their sum and the covariance the model's own.
        Weights that are not whole numbers are refused: they are not
        counts, and sampling_weights is meant for them.
    sampling_weights : array_like or str, optional
        Sampling weights (Stata's pweights): weighted maximum likelihood
        with the sandwich of the weighted scores; the covariance defaults
        to HC1 and "nonrobust" is refused. Rows of zero weight, of either
        kind, are left out of the fit and counted (``nobs_zero_weight``).

    Raises
    ------
    ValueError
        For an outcome that is not 0/1 (the message shows its values), or
        missing values under "none" or "raise".

    See Also
    --------
    probit : The model of a formula.

    Examples
    --------
    >>> import quillon_models as qm
    >>> from quillon_models import datasets
    >>> df = datasets.load("admissions")
    >>> res = qm.Probit(df["admit"], df[["gre", "gpa"]].assign(const=1.0)).fit()
    >>> list(res.params.index)
    ['gre', 'gpa', 'const']
    """

    def __init__(self, endog: Any, exog: Any, missing: str = "none", *,
                 freq_weights: Any = None, sampling_weights: Any = None) -> None:
        check_missing_option(missing)
        weight_name, weights = chosen_weights(freq_weights, sampling_weights)
        if on_dask(endog, exog):
            from ._dask import DaskData

            dask_data = DaskData.from_arrays(endog, exog, missing)
            if weight_name is not None:
                dask_data.use_weights(weight_name, weights)
            self._set_data(dask_data, missing)
        else:
            data = MemoryData(design_from_arrays(endog, exog, missing),
                              exog if isinstance(exog, pd.DataFrame) else None, (endog, exog))
            if weight_name is not None:
                data.use_weights(weight_name, weights)
            self._set_data(data, missing)

    @classmethod
    def from_formula(cls, formula: str, data: Any, missing: str = "drop",
                     eval_env: Any = 0, *, freq_weights: Any = None,
                     sampling_weights: Any = None) -> Probit:
        """The model of a formula on the columns of `data`.

        Parameters
        ----------
        formula : str
            In formulaic's syntax, e.g. ``"admit ~ gre + gpa + C(rank)"``.
        data : pandas.DataFrame or dask.dataframe.DataFrame
            The variables of the formula, by column name.
        missing : {"drop", "none", "raise"}
            By default rows with a missing value are dropped and counted.
        eval_env : int or dict, default 0
            Where the formula's names that are not columns come from: the
            frame that many levels above the caller's, or a dict.

        Returns
        -------
        Probit
        """
        context = (dict(eval_env) if isinstance(eval_env, dict) else
                   caller_context(formula, operator.index(eval_env) + 1)
                   if isinstance(formula, str) else {})
        return cls._from_formula(formula, data, missing, context,
                                 chosen_weights(freq_weights, sampling_weights))

    @classmethod
    def _from_formula(cls, formula: str, data: Any, missing: str, context: dict,
                      weights: tuple = (None, None)) -> Probit:
        check_missing_option(missing)
        context = formula_context(context)
        model = cls.__new__(cls)
        if on_dask(data):
            from ._dask import DaskData

            dask_data = DaskData.from_formula(formula, data, missing, context)
            if weights[0] is not None:
                dask_data.use_weights(weights[0], weights[1])
            model._set_data(dask_data, missing)
        else:
            frame = data if isinstance(data, pd.DataFrame) else pd.DataFrame(data)
            memory = MemoryData(design_from_formula(formula, frame, missing, context), frame)
            if weights[0] is not None:
                memory.use_weights(weights[0], weights[1])
            model._set_data(memory, missing)
        return model

    def _set_data(self, data: DataSource, missing: str) -> None:
        self._data = data
        self.missing = missing
        self.formula: Optional[str] = data.formula
        self.model_spec = data.model_spec
        self.endog_names: str = data.endog_name

    # ---- what the data say

    exog_names = property(lambda self: list(self._data.exog_names),
                          doc="The regressors' names.")
    endog = property(lambda self: self._data.endog,
                     doc="The outcome of the model's rows (in memory).")
    exog = property(lambda self: self._data.exog,
                    doc="The design of the model's rows (in memory).")
    data = property(lambda self: self._data.frame,
                    doc="The caller's data, for groups given by column name.")
    row_labels = property(lambda self: self._data.row_labels,
                          doc="The labels of the model's rows in the caller's data.")
    nobs = property(lambda self: self._data.nobs,
                    doc="The model's rows: the data's less missing values and zero weights "
                    "(a fit's results count the rows it fitted).")
    nobs_dropped = property(lambda self: self._data.nobs_dropped,
                            doc="Rows of the data left out for missing values.")
    const_idx = property(lambda self: self._data.const_idx,
                         doc="The positions of the constant columns, told by their values.")
    weights = property(lambda self: self._data.weights,
                       doc="The weights of the model's rows (all positive), or None.")
    weight_kind = property(lambda self: self._data.weight_kind,
                           doc='"frequency", "sampling", or None for a model without weights.')
    nobs_zero_weight = property(lambda self: int(self._data.nobs_zero_weight),
                                doc="Rows left out of the fit for a zero weight.")

    @property
    def k_constant(self) -> int:
        return 1 if self.const_idx else 0

    @property
    def df_model(self) -> float:
        return float(len(self.exog_names) - self.k_constant)

    @property
    def df_resid(self) -> float:
        return float(self.nobs - len(self.exog_names))

    # ---- the fit

    def fit(self, start_params: Any = None, method: str = "newton", maxiter: int = 35,
            tol: float = 1e-6, cov_type: Optional[str] = None, cov_kwds: dict[str, Any] | None = None,
            use_t: bool | None = None, disp: bool = False, callback: Any = None,
            n_jobs: Optional[int] = None, separation: str = "warn", collinear: str = "drop",
            **kwargs: Any) -> ProbitResults:
        """Maximum likelihood by Newton-Raphson from zero, one pass over the data a step.

        Parameters
        ----------
        start_params : None
            Not available: the iteration starts at zero.
        method : {"newton"}
            The only method.
        maxiter : int, default 35
            The most Newton passes.
        tol : float, default 1e-6
            The iteration stops when the log-likelihood changes by less
            (with sampling weights, by less than tol times their mean, so
            that their scale does not matter).
        cov_type : {"nonrobust", "HC0", "HC1", "cluster"}, optional
            The inverse of the negative Hessian, the heteroskedasticity-robust
            sandwich, HC0 times n / (n - k), or the cluster-robust sandwich.
            By default "nonrobust", and "HC1" with sampling weights (whose
            HC1 is HC0 times n / (n - 1), as Stata's).
        cov_kwds : dict, optional
            For "cluster": ``{"groups": ..., "use_correction": True}``; groups
            are an array, a Series or column name(s) of the data, one column
            or two (two-way clustering).
        use_t : None
            Not available: inference is normal.
        disp : bool, default False
            Print a line about convergence, as statsmodels does.
        callback : None
            Not available.
        n_jobs : int, optional
            Threads for data in memory; None (the default) for every core the
            process may use. The result does not depend on it.
        separation : {"warn", "raise", "drop"}
            A separated outcome: a PerfectSeparationWarning naming the
            estimates that run to infinity (the result not converged), a
            PerfectSeparationError, or those regressors and the rows they
            predict perfectly left out and the rest refitted.
        collinear : {"drop", "raise"}
            Columns that are linear combinations of the columns before them:
            left out (NaN estimates, named in ``omitted``), or a ValueError.
        **kwargs
            None available.

        Returns
        -------
        ProbitResults

        Raises
        ------
        NotImplementedError
            For an option of statsmodels' fit that quillon does not have.
        ValueError
            For a negative `maxiter`, bad covariance options, or collinear
            columns with ``collinear="raise"``.
        PerfectSeparationError
            For a separated outcome with ``separation="raise"``.

        Warns
        -----
        ConvergenceWarning
            When the log-likelihood had not settled after `maxiter` passes.
        CollinearityWarning
            When collinear columns were left out.
        PerfectSeparationWarning
            When the outcome is separated (``separation="warn"``).
        HessianInversionWarning
            When the Hessian at the estimates is not negative definite.
        """
        refuse_unavailable(start_params, method, use_t, callback, kwargs)
        maxiter = operator.index(maxiter)
        if maxiter < 0:
            raise ValueError(f"maxiter must be at least 0, got {maxiter}")
        check_choice("separation", separation, ("warn", "raise", "drop"))
        check_choice("collinear", collinear, ("drop", "raise"))
        usable_threads(n_jobs)  # checked alike in memory and on Dask, which has its own threads
        tol = float(tol)
        if cov_type is None:
            cov_type = "HC1" if self.weight_kind == "sampling" else "nonrobust"
        choice = parse_cov_options(cov_type, cov_kwds)
        if self.weight_kind == "sampling" and choice.cov_type == "nonrobust":
            raise ValueError("cov_type='nonrobust' is not available with sampling_weights: the "
                             "inverse Hessian of a weighted likelihood is not the covariance of "
                             "its estimates; use 'HC1' (the default), 'HC0' or 'cluster'")
        groups = choice.groups if choice.cov_type == "cluster" else None
        passes = self._data.fit_passes(groups, n_jobs)
        fitted = self._fit_parts(passes, choice, maxiter, tol, collinear)
        self._data.described(fitted)
        rows = self._data.selection()
        found = self._separation(fitted, passes) if fitted.suspect else None
        separated: list[int] = []
        notes = []
        if found is not None and separation != "warn":
            names = [self.exog_names[j] for j in found.columns]
            if separation == "raise":
                raise PerfectSeparationError(separation_message(names, found, fitted.rows))
            # Without the rows it predicts perfectly, the direction is a linear
            # relation among the columns: the refit's collinearity check
            # leaves out the later columns in it, as Stata drops them.
            passes, rows = self._data.without_rows(passes, found, groups, n_jobs)
            fitted = self._fit_parts(passes, choice, maxiter, tol, "drop")
            separated = [j for j in fitted.aliased if j in found.columns]
            notes.append(f"Left out for separation: {', '.join(self.exog_names[j] for j in separated)}"
                         f", and the {found.predicted} observations predicted perfectly.")
            found = self._separation(fitted, passes) if fitted.suspect else None
        record = self._record(rows, fitted.rows, fitted.aliased, n_jobs, fitted.mean_weight)
        warn_about_fit(fitted.converged, fitted.iterations, maxiter, 0, fitted.rows)
        reasons = omitted_reasons(fitted.aliased, separated,
                                  self._zero_columns(fitted.aliased, record))
        said = []
        collinear_columns = [self.exog_names[j] for j in fitted.aliased
                             if reasons[j] == "collinear"]
        if collinear_columns:
            said.append(f"{', '.join(collinear_columns)} omitted because of collinearity: "
                        "each is a linear combination of the columns before it")
            notes.append(f"{', '.join(collinear_columns)} omitted because of collinearity.")
        empty = [self.exog_names[j] for j in fitted.aliased if reasons[j] == "empty"]
        if empty:
            said.append(f"{', '.join(empty)} omitted: zero on every fitted row (a level or "
                        "column no fitted observation has), so without an estimate")
            notes.append(f"{', '.join(empty)} omitted: zero on every fitted row.")
        if said:
            warnings.warn("; ".join(said), CollinearityWarning, stacklevel=2)
        converged = fitted.converged
        if found is not None:
            names = [self.exog_names[j] for j in found.columns]
            message = separation_message(names, found, fitted.rows)
            warnings.warn(message, PerfectSeparationWarning, stacklevel=2)
            notes.append(f"Not converged: {message}")
            converged = False
        if disp:
            report_fit(converged, fitted.llf / fitted.nobs, fitted.iterations)
        results = ProbitResults(
            fitted.params, fitted.cov_params, fitted.llf, fitted.nobs,
            exog_names=self.exog_names, endog_name=self.endog_names,
            k_constant=1 if record.const_idx else 0, converged=converged,
            iterations=fitted.iterations, cov_type=choice.cov_type,
            cov_kwds=cov_record(choice, fitted.n_groups), nobs_dropped=record.nobs_dropped,
            model=self, omitted=[self.exog_names[j] for j in record.omitted],
            omitted_reasons={self.exog_names[j]: why for j, why in reasons.items()},
            notes=notes + weight_notes(record.weight_kind, record.nobs_zero_weight, fitted.nobs,
                                       record.nobs))
        results._fit = record
        return results

    def _record(self, rows: Selection, nobs: int, omitted: tuple[int, ...],
                n_jobs: Optional[int], mean_weight: Optional[float] = None) -> FitRecord:
        """The record of a fit of `nobs` of the data's rows (`rows`), with
        the columns `omitted` left out, on `n_jobs` threads (`mean_weight`:
        sampling weights' mean over the rows fitted)."""
        data = self._data
        weights = data.weights
        if weights is not None and rows.kept is not None:
            weights = weights[rows.kept]
        return FitRecord(rows, data.weight_kind, read_only(weights), tuple(sorted(omitted)),
                         n_jobs, nobs, data.nobs_dropped, data.nobs_zero_weight,
                         tuple(data.const_idx), data.model_spec, mean_weight)

    def _data_record(self, omitted: tuple[int, ...] = ()) -> FitRecord:
        """A record of every row of the data, on every core: what the
        model's own methods read, and results built from numbers."""
        return self._record(self._data.selection(),
                            self._data.nobs if self._data.nobs_known else 0, omitted, None)

    def _fit_parts(self, passes: Any, choice: CovarianceChoice, maxiter: int, tol: float,
                   collinear: str) -> driver.Fitted:
        try:
            return driver.fit_parts(passes, len(self.exog_names), choice, maxiter, tol,
                                    self.endog_names, self.missing, collinear=collinear,
                                    **self._data.fit_options())
        except driver.CollinearityError as error:
            names = ", ".join(self.exog_names[j] for j in error.columns)
            raise ValueError(f"{names}: each is a linear combination of the columns before it "
                             "(collinear='drop' leaves such columns out)") from None

    def _separation(self, fitted: driver.Fitted, passes: Any) -> Optional[FoundSeparation]:
        """The exact test, run when the screen fired, over the fitted
        columns."""
        kept = [j for j in range(len(self.exog_names)) if j not in fitted.aliased]
        rows = self._data.rows_for_test(passes, kept, fitted.rows)
        if rows is None:
            warnings.warn("the fit shows signs of separation (variances that grow from pass to "
                          "pass), not confirmed: the exact test would bring more rows to this "
                          "machine than it takes", PerfectSeparationWarning, stacklevel=3)
            return None
        found = exact_test(*rows)
        if found is None:
            return None
        direction = np.zeros(len(self.exog_names))
        direction[kept] = found.direction
        return FoundSeparation([kept[j] for j in found.columns], found.predicted,
                               read_only(direction))

    def _zero_columns(self, columns: Sequence[int], record: FitRecord) -> set[int]:
        """Which of `columns` are zero on every row of the fit `record` (one
        pass over its rows, run only when a column was left out)."""
        if not columns:
            return set()
        from .column_margins import merge_summaries, summary_part

        _, mins, maxs, _ = self._data.fitted_passes(record).run(summary_part, merge_summaries)
        return {j for j in columns if mins[j] == 0.0 and maxs[j] == 0.0}

    def null_loglike(self) -> float:
        """The log-likelihood of the intercept-only model, fitted by quillon
        on the model's rows (a fit's results, ``llnull``, on the rows it fitted).

        Returns
        -------
        float
        """
        return self._null_loglike(self._data_record())

    def _null_loglike(self, record: FitRecord) -> float:
        return driver.null_loglike(self._data.null_passes(record), record.mean_weight)

    def binary_columns(self) -> list[bool]:
        """Which regressors hold only 0 and 1 on the model's rows."""
        return self._binary_columns(self._data_record())

    def _binary_columns(self, record: FitRecord) -> list[bool]:
        result: list[bool] = self._data.fitted_passes(record).run(driver.binary_part,
                                                                  driver.both_binary)
        return result

    # ---- predictions

    def predict(self, params: Any, exog: Any = None, which: str = "mean",
                transform: bool = True) -> Any:
        """Probabilities or linear index at `params`.

        Parameters
        ----------
        params : array_like
            The estimates. A NaN estimate marks a column without one: the
            rows with a nonzero value in that column predict NaN, the others
            predict from the rest.
        exog : pandas.DataFrame or array_like, optional
            New data (through the formula when `transform`), or None for the
            fitted rows.
        which : {"mean", "linear"}
            Probabilities, or the linear index.
        transform : bool, default True
            Whether new data go through the model's formula.

        Returns
        -------
        pandas.Series or numpy.ndarray
            One value per row; NaN for a row with a missing value.
        """
        return self._predict(params, exog, which, transform, self._data_record())

    def _predict(self, params: Any, exog: Any, which: str, transform: bool,
                 record: FitRecord) -> Any:
        """`predict`, the fitted rows those of `record`."""
        if which not in ("mean", "linear"):
            raise ValueError(f"which must be 'mean' or 'linear', got {which!r}")
        beta = np.asarray(params, dtype=np.float64).reshape(-1)
        if len(beta) != len(self.exog_names):
            raise ValueError(f"params has {len(beta)} values for {len(self.exog_names)} "
                             "regressors")
        return self._data.predict(beta, exog, which == "mean", transform, record)

    def _prediction_design(self, exog: Any, transform: bool, record: FitRecord) -> tuple[
            np.ndarray, Optional[pd.Index], Optional[np.ndarray]]:
        """The design matrix to predict on (in memory; the rows of `record`
        for none given), the index of the answer, and the positions of the
        rows it covers when some were dropped."""
        return self._data.prediction_design(exog, transform, record)

    def __repr__(self) -> str:
        what = self.formula or f"{self.endog_names} on {', '.join(self.exog_names)}"
        where = " on Dask data" if self._data.on_dask else ""
        rows = f"; {self.nobs} observations" if self._data.nobs_known else ""
        return f"<Probit{where}: {what}{rows}>"


@dataclass(frozen=True)
class FoundSeparation:
    """Separation over the model's columns: the positions of the estimates
    that run to infinity, the rows predicted perfectly, and the direction."""

    columns: list[int]
    predicted: int
    direction: np.ndarray

    def rows_of(self, endog: np.ndarray, linear: np.ndarray) -> np.ndarray:
        """Which rows of a part the direction predicts perfectly, from their
        outcomes and their linear index along it."""
        scale = np.abs(linear).max() if len(linear) else 0.0
        return (2.0 * endog - 1.0) * linear > 1e-9 * max(scale, 1e-300)


def omitted_reasons(aliased: Sequence[int], separated: Sequence[int],
                    zero: set[int]) -> dict[int, str]:
    """Why each column was left out: "separation", "empty" (zero on every
    fitted row: a level no fitted row has) or "collinear"."""
    return {j: "separation" if j in separated else "empty" if j in zero else "collinear"
            for j in aliased}


def separation_message(names: list[str], found: FoundSeparation, nobs: int) -> str:
    return (f"the outcome is separated: the estimates of {', '.join(names)} run to infinity, "
            f"and {found.predicted} of {nobs} observations are predicted perfectly; those "
            "estimates and their standard errors are not usable (fit(separation='drop') "
            "leaves out the regressors and the observations they predict)")


def weight_notes(kind: Optional[str], zero: int, nobs: float, rows: int) -> list[str]:
    if kind is None:
        return []
    notes = [f"Frequency weights: No. Observations is their sum over {rows} rows."
             if kind == "frequency" else
             f"Sampling weights: estimates of weighted likelihood over {rows} rows."]
    if zero:
        notes.append(f"{zero} rows with zero weight took no part in the fit.")
    return notes


def check_choice(name: str, value: Any, allowed: tuple[str, ...]) -> None:
    if value not in allowed:
        raise ValueError(f"{name} must be one of {', '.join(map(repr, allowed))}, got {value!r}")


def on_dask(*objects: Any) -> bool:
    """Whether any object is a Dask collection, told without importing Dask."""
    return any(type(o).__module__.split(".")[0] in ("dask", "dask_expr") for o in objects)


def probit(formula: str, data: Any, missing: str = "drop", eval_env: Any = 0, *,
           freq_weights: Any = None, sampling_weights: Any = None) -> Probit:
    """A probit model from a formula, as ``statsmodels.formula.api.probit``.

    Parameters
    ----------
    formula : str
        In formulaic's syntax: ``C()`` for categories, ``a:b`` and ``a*b``
        for interactions, ``I()`` for arithmetic, ``0 +`` to leave out the
        intercept. ``C(x, levels=[...])`` must list every value of ``x``,
        and a column of dates is refused as a regressor (convert it to a
        number, or use ``C()``).
    data : pandas.DataFrame or dask.dataframe.DataFrame
        The variables of the formula, by column name.
    missing : {"drop", "none", "raise"}
        By default rows with a missing value are dropped and counted.
    eval_env : int or dict, default 0
        Where the formula's names that are not columns come from: the
        caller's frame (0), one further up, or a dict.
    freq_weights : array_like or str, optional
        Frequency weights (a column name of `data`, or one value per row;
        on Dask data, a Dask Series paired with its rows by index or a Dask
        array by position): the fit of the data with row i repeated w_i
        times; whole numbers only (else use sampling_weights).
    sampling_weights : array_like or str, optional
        Sampling weights, as Stata's pweights: weighted maximum likelihood
        with a robust covariance (HC1 unless told otherwise).

    Returns
    -------
    Probit
        Fitted with :meth:`Probit.fit`.

    Examples
    --------
    >>> import quillon_models as qm
    >>> from quillon_models import datasets
    >>> res = qm.probit("admit ~ gre + gpa + C(rank)", datasets.load("admissions")).fit()
    >>> round(res.llf, 4)
    -229.2066
    """
    context = (dict(eval_env) if isinstance(eval_env, dict) else
               caller_context(formula, operator.index(eval_env) + 1)
               if isinstance(formula, str) else {})
    return Probit._from_formula(formula, data, missing, context,
                                chosen_weights(freq_weights, sampling_weights))


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
        if choice.psd is not None:
            record["psd"] = choice.psd
    return record


def report_fit(converged: bool, value: float, iterations: int) -> None:
    print("Optimization terminated successfully." if converged else
          "Warning: the fit did not converge.")
    print(f"         Current function value: {-value:.6f}")
    print(f"         Iterations {iterations + 1}")
