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
from .variances import covariance_hint, standard_errors

if TYPE_CHECKING:
    from matplotlib.axes import Axes

    from .hypothesis import ContrastResults
    from .margins import DiscreteMargins
    from .model import Probit
    from .prediction import PredictionResults
    from .record import FitRecord
    from .summary import Summary
    from .terms import WaldTestResults


# Why a regressor was left out of the fit, as warnings and notes say it.
REASONS = {"separation": "left out for separation",
           "empty": "zero on every fitted row",
           "collinear": "collinear with the columns before it"}


class ProbitResults:
    """Estimates of a probit model, their covariance and the statistics built
    on them.

    Returned by :meth:`Probit.fit <quillon_models.Probit.fit>`; it can also be
    built directly from the numbers of a fit run elsewhere, for the same
    statistics and summary (predictions and marginal effects then need a
    `model`).

    Parameters
    ----------
    params : array_like or pandas.Series
        The estimates, k of them.
    cov_params : array_like
        Their covariance, k x k.
    llf : float
        The log-likelihood at `params`.
    nobs : int or float
        The number of observations fitted.
    exog_names : sequence of str, optional
        The regressors' names; by default the index of a `params` Series,
        else ``x1, x2, ...``.
    endog_name : str, default "y"
        The outcome's name.
    llnull : float, optional
        The log-likelihood of the intercept-only model; when None, the model
        (if given) fits it on first use.
    k_constant : int, default 1
        1 when the model has a constant, else 0.
    converged : bool, default True
        As the engine reports it.
    iterations : int, default 0
        The 0-based index of the last Newton pass.
    cov_type : {"nonrobust", "HC0", "HC1", "cluster"}
        The covariance's type.
    cov_kwds : mapping, optional
        What the covariance used: ``"use_correction"``, ``"n_groups"``.
    nobs_dropped : int, default 0
        Rows of the data left out for missing values.
    model : Probit, optional
        The model that was fitted, needed for predictions and marginal
        effects.
    omitted : sequence of str, optional
        Regressors left out of the fit (their estimates NaN).
    omitted_reasons : mapping, optional
        Why each of `omitted` was left out: "separation", "empty" (zero on
        every fitted row) or "collinear"; by default "collinear".
    notes : sequence of str, optional
        Notes printed under the summary.

    Attributes
    ----------
    params : pandas.Series
        The estimates by name.
    exog_names : list of str
        The regressors' names.
    endog_name : str
        The outcome's name.
    llf : float
        The log-likelihood.
    nobs, nobs_dropped : int
        Rows fitted, and rows dropped for missing values.
    converged : bool
        True when the log-likelihood settled at finite estimates whose
        classical variances are all positive and finite.
    iterations : int
        The 0-based index of the last Newton pass.
    cov_type : str
        The covariance's type.
    cov_kwds : dict
        What the covariance used, with its ``"description"``.
    model : Probit or None
        The fitted model.
    omitted : list of str
        Regressors left out of the fit: their estimates are NaN, the
        summary and the effects that rest on them show "(omitted)".
    omitted_reasons : dict
        Why each was left out: "separation", "empty" or "collinear".

    Raises
    ------
    ValueError
        If `params`, `exog_names` and `cov_params` differ in size.
    """

    def __init__(self, params: Any, cov_params: Any, llf: float, nobs: float, *,
                 exog_names: Sequence[str] | None = None, endog_name: str = "y",
                 llnull: float | None = None, k_constant: int = 1, converged: bool = True,
                 iterations: int = 0, cov_type: str = "nonrobust",
                 cov_kwds: Mapping[str, Any] | None = None, nobs_dropped: int = 0,
                 model: Probit | None = None, omitted: Sequence[str] = (),
                 omitted_reasons: Mapping[str, str] | None = None,
                 notes: Sequence[str] = ()) -> None:
        names, values, cov = paired_by_label(params, cov_params, exog_names)
        self.exog_names = names
        self.endog_name = endog_name
        self.params = pd.Series(values, index=names)
        self._cov = cov
        self.llf = float(llf)
        # With frequency weights nobs is their sum, which need not be whole.
        self.nobs: float = int(nobs) if float(nobs).is_integer() else float(nobs)
        self._llnull = None if llnull is None else float(llnull)
        self.k_constant = int(k_constant)
        self.converged = bool(converged)
        self.iterations = int(iterations)
        self.cov_type = cov_type
        self.cov_kwds = {**dict(cov_kwds or {}), "description": DESCRIPTIONS.get(cov_type, "")}
        self.nobs_dropped = int(nobs_dropped)
        self.model = model
        unknown = [n for n in omitted if n not in names]
        if unknown:
            raise ValueError(f"omitted names {unknown} are not regressors")
        self.omitted = list(omitted)
        reasons = dict(omitted_reasons or {})
        odd = {n: w for n, w in reasons.items() if n not in self.omitted or w not in REASONS}
        if odd:
            raise ValueError(f"omitted_reasons: {odd} are not omitted regressors with a reason "
                             f"among {sorted(REASONS)}")
        self.omitted_reasons = {n: reasons.get(n, "collinear") for n in self.omitted}
        self.notes = list(notes)
        # What the fit read (set by Probit.fit); for results built from
        # numbers with a model, every row of its data (see `_fit_record`).
        self._fit: FitRecord | None = None

    # ---- estimates and inference

    def cov_params(self) -> pd.DataFrame:
        """The covariance of the estimates.

        Returns
        -------
        pandas.DataFrame
            k x k, indexed by name on both axes; a copy.
        """
        return pd.DataFrame(self._cov.copy(), index=self.exog_names, columns=self.exog_names)

    @cached_property
    def bse(self) -> pd.Series:
        """Standard errors; NaN, with a CovarianceWarning naming the terms,
        where a variance is not positive (z, p-values and intervals follow)."""
        errors = standard_errors(np.diag(self._cov), self.exog_names, "estimates",
                                 covariance_hint(self.cov_type), stacklevel=3)
        return pd.Series(errors, index=self.exog_names)

    @cached_property
    def tvalues(self) -> pd.Series:
        """z statistics by name, the estimates over their standard errors."""
        with np.errstate(divide="ignore", invalid="ignore"):
            return self.params / self.bse

    @cached_property
    def pvalues(self) -> pd.Series:
        """Two-sided p-values of the z statistics (normal), by name."""
        return pd.Series(two_sided_pvalues(self.tvalues.to_numpy()), index=self.exog_names)

    def conf_int(self, alpha: float = 0.05) -> pd.DataFrame:
        """Normal confidence intervals of the estimates.

        Parameters
        ----------
        alpha : float, default 0.05
            One minus the intervals' level.

        Returns
        -------
        pandas.DataFrame
            Columns 0 (lower bound) and 1 (upper bound), one row per
            estimate by name.
        """
        half = normal_quantile(alpha) * self.bse
        return pd.DataFrame({0: self.params - half, 1: self.params + half})

    # ---- fit statistics

    @property
    def k_fitted(self) -> int:
        """The estimates fitted: the regressors less those omitted."""
        return len(self.exog_names) - len(self.omitted)

    @property
    def df_model(self) -> float:
        """The number of fitted regressors (less those omitted) less the constant."""
        return float(self.k_fitted - self.k_constant)

    @property
    def df_resid(self) -> float:
        """The number of observations less the number of fitted regressors."""
        return float(self.nobs - self.k_fitted)

    @property
    def llnull(self) -> float:
        """The log-likelihood of the intercept-only model, fitted on first use.

        Raises
        ------
        ValueError
            If it was not given and there is no model to fit it on.
        """
        if self._llnull is None:
            if self.model is None:
                raise ValueError("llnull was not given and there is no model to fit it on")
            self._llnull = self.model._null_loglike(self._fit_record())
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
        """The chi-squared p-value of :attr:`llr` on :attr:`df_model` degrees.

        Raises
        ------
        ValueError
            With sampling weights: the likelihood ratio of a weighted
            (pseudo) likelihood is not chi-squared, so it has no p-value of
            this kind. :meth:`wald_test_slopes` gives the test of all
            slopes that holds with such weights (Stata's "Wald chi2").
        """
        if self._sampling_weighted:
            raise ValueError("llr_pvalue is not valid with sampling weights (the likelihood "
                             "ratio of a pseudo-likelihood is not chi-squared): "
                             "wald_test_slopes() tests all slopes with the robust covariance")
        return chi2_sf(self.llr, self.df_model)

    @property
    def _sampling_weighted(self) -> bool:
        """Whether the model was fitted with sampling weights."""
        return getattr(self.model, "weight_kind", None) == "sampling"

    def wald_test_slopes(self) -> ContrastResults:
        """The joint Wald test that every fitted slope (all estimates but the
        constant and those omitted) is zero, on the fit's covariance: the
        test of the model that holds with sampling weights.

        Returns
        -------
        ContrastResults
            chi-squared: ``statistic``, ``pvalue`` and ``df_denom`` (the
            degrees of freedom).

        Raises
        ------
        ValueError
            If there is no slope, or their covariance is not usable.
        """
        from .hypothesis import ContrastResults, wald_statistic

        slopes = self._slope_positions()
        if not slopes:
            raise ValueError("the model has no slope to test")
        cov = self._cov[np.ix_(slopes, slopes)]
        statistic, rank = wald_statistic(np.eye(len(slopes)), np.zeros(len(slopes)),
                                         self.params.to_numpy()[slopes], cov)
        return ContrastResults(statistic, np.asarray(chi2_sf(statistic, rank)), float(rank),
                               "chi2")

    def _slope_positions(self) -> list[int]:
        """Positions of the fitted estimates other than the constant."""
        const = (set(self.model.const_idx) if self.model is not None else
                 {j for j, n in enumerate(self.exog_names) if n in ("Intercept", "const")}
                 if self.k_constant else set())
        return [j for j, n in enumerate(self.exog_names)
                if j not in const and n not in self.omitted]

    @property
    def aic(self) -> float:
        """Akaike's information criterion, -2 llf + 2 k (k the fitted regressors)."""
        return -2.0 * self.llf + 2.0 * self.k_fitted

    @property
    def bic(self) -> float:
        """Schwarz's Bayesian information criterion, -2 llf + log(n) k."""
        return -2.0 * self.llf + math.log(self.nobs) * self.k_fitted

    # ---- predictions

    def predict(self, exog: Any = None, which: str = "mean", transform: bool = True) -> Any:
        """Fitted probabilities or linear index, for new data or the fitted rows.

        Parameters
        ----------
        exog : DataFrame or array_like, optional
            New data: the formula's variables when the model has a formula
            (categories included; `transform` True), else the regressors'
            columns. None for the fitted rows.
        which : {"mean", "linear"}
            Probabilities, or the linear index.
        transform : bool, default True
            Whether new data go through the model's formula.

        Returns
        -------
        pandas.Series or numpy.ndarray
            One value per row; NaN for a row with a missing value, and for
            a row with a nonzero value in a regressor left out for
            separation or zero on every fitted row (a level the fit had no
            row of: no estimate speaks for it). A Dask Series for a model
            fitted on Dask data.

        Raises
        ------
        ValueError
            If `which` is neither, the columns do not fit, or the results
            have no model.
        """
        return self._fitted_model()._predict(self._prediction_params(), exog, which, transform,
                                             self._fit_record())

    def fitted_params(self) -> np.ndarray:
        """The estimates with those omitted at zero: what the model computes
        with."""
        params = self.params.to_numpy().copy()
        params[[self.exog_names.index(n) for n in self.omitted]] = 0.0
        return params

    def _prediction_params(self) -> np.ndarray:
        """The estimates predictions use: those omitted as collinear at zero
        (what they add is carried by the columns they combine), those with
        no fitted row behind them (left out for separation, or zero on every
        fitted row) NaN, so that only the rows loading on them are NaN."""
        params = self.fitted_params()
        params[self._unestimable_columns()] = np.nan
        return params

    def _unestimable_columns(self) -> list[int]:
        """Positions of the omitted regressors whose rows have no estimate."""
        return [self.exog_names.index(n) for n in self.omitted
                if self.omitted_reasons.get(n) in ("separation", "empty")]

    def _omitted_why(self, names: Sequence[str]) -> str:
        """The omitted regressors `names` with the reason each was left out."""
        by_reason: dict[str, list[str]] = {}
        for name in names:
            by_reason.setdefault(self.omitted_reasons.get(name, "collinear"), []).append(name)
        return "; ".join(f"{', '.join(listed)} ({REASONS[why]})"
                         for why, listed in by_reason.items())

    @property
    def fittedvalues(self) -> Any:
        """The linear index of the fitted rows, as statsmodels defines it."""
        return self.predict(which="linear")

    # ---- tables

    def summary(self, alpha: float = 0.05, title: str | None = None) -> Summary:
        """The fit's summary in statsmodels' layout.

        Parameters
        ----------
        alpha : float, default 0.05
            One minus the level of the intervals shown.
        title : str, optional
            The title; by default "Probit Regression Results".

        Returns
        -------
        Summary
            Text with ``str()``, HTML with :meth:`Summary.as_html
            <quillon_models.summary.Summary.as_html>`.
        """
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
        """Average marginal effects of the formula's variables.

        A numeric variable gets its slope ("dY/dX"), the average derivative
        of the probability through every term it enters; a factor the
        contrast of each level with the reference ("4 - 1"); a numeric 0/1
        variable its 0 -> 1 contrast ("1 - 0"), or its slope with
        ``binary="slope"``. Every other variable stays at its observed value.
        The standard errors are the delta method's with the exact Jacobian
        and the fit's covariance.

        Parameters
        ----------
        alpha : float, default 0.05
            One minus the level of the intervals.
        variables : str or list of str, optional
            The variables to show; by default all of the formula's.
        by : str or list of str, optional
            Column names of the data: the effects within each group.
        binary : {"contrast", "slope"}
            The effect of a numeric 0/1 variable.

        Returns
        -------
        pandas.DataFrame
            Rows indexed by ("term", "contrast") (and the groups of `by`),
            with the columns "dy/dx", "Std. Err", "z", "Pr(>|z|)",
            "Significance" and the interval's bounds.

        Raises
        ------
        ValueError
            If the results have no model, or an argument names what the
            model does not have.
        """
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
        """Marginal effects of the design's columns, as statsmodels' get_margeff.

        For code being ported: statsmodels' options and defaults.

        Parameters
        ----------
        at : {"overall", "mean", "median", "zero"}
            Effects averaged over the observations, or at the regressors'
            means, medians or zero.
        method : {"dydx", "eyex", "dyex", "eydx"}
            Derivatives of the probability or its logarithm, with respect to
            the regressors or their logarithms.
        atexog : dict, optional
            {column name or position: value}: regressors held at given
            values. Names are safest: positions count the columns of this
            design (``exog_names``), which formulaic orders as the formula
            writes its terms, while statsmodels' patsy puts terms of
            categories before numeric ones (``y ~ x + C(g)`` has x at 1
            here, ``C(g)[T.b]`` at 1 in statsmodels). When the orders
            differ, positions are warned of once per formula.
        dummy : bool, default False
            0/1 columns by their change from 0 to 1.
        count : bool, default False
            Count columns by half their change from x - 1 to x + 1.

        Returns
        -------
        DiscreteMargins
            With statsmodels' ``margeff``, ``margeff_se``, ``summary_frame()``
            and ``summary()``.
        """
        from .margins import get_margeff

        return get_margeff(self, at, method, atexog, dummy, count)

    def plot_ame(self, ax: Axes | None = None, alpha: float = 0.05, by: Any = None) -> Axes:
        """Dot-and-whisker plot of the effects of `ame()`.

        Parameters
        ----------
        ax : matplotlib.axes.Axes, optional
            Where to draw; by default a new figure's.
        alpha : float, default 0.05
            One minus the level of the intervals drawn.
        by : str or list of str, optional
            As for `ame`.

        Returns
        -------
        matplotlib.axes.Axes
            The axes, one row per effect, zero marked and the values on the
            right. Needs matplotlib (``quillon[plot]``).
        """
        from .plot import plot_ame

        return plot_ame(self, ax, alpha, by)

    def to_statsmodels(self) -> Any:
        """statsmodels' own probit results built from these numbers.

        Returns
        -------
        statsmodels.discrete.discrete_model.BinaryResultsWrapper
            For ``t_test``, ``wald_test`` and the rest, without refitting.
            Needs statsmodels (``quillon[statsmodels]``).
        """
        from .bridge import to_statsmodels

        return to_statsmodels(self)

    def remove_data(self) -> None:
        """Drops the model's reference to the data, so that the results pickle
        small: estimates, covariance, statistics and the summary remain
        (llnull and the formula's terms are kept first); predictions and
        marginal effects need the data and are refused afterwards."""
        from .terms import term_columns

        _ = self.llnull
        if self.model is not None:
            terms = tuple((name, tuple(columns)) for name, columns in term_columns(self))
            self._fit = self._fit_record().without_data(terms)
        self.model = None

    def _fitted_model(self) -> Probit:
        if self.model is None:
            raise ValueError("these results have no model (built from numbers, or after "
                             "remove_data()): predictions and marginal effects need the data")
        return self.model

    def _fit_record(self) -> FitRecord:
        """What the fit read: its rows, weights, omitted columns and threads."""
        if self._fit is None:
            model = self._fitted_model()
            self._fit = model._data_record(tuple(self.exog_names.index(n)
                                                 for n in self.omitted))
        return self._fit

    def _kept_record(self) -> FitRecord | None:
        """The fit's record, kept by remove_data(); None for results built
        from numbers alone."""
        return None if self._fit is None and self.model is None else self._fit_record()

    @property
    def _weight_kind(self) -> str | None:
        record = self._kept_record()
        return None if record is None else record.weight_kind

    @property
    def _model_spec(self) -> Any:
        """The formula's spec of the fit's columns, or None."""
        record = self._kept_record()
        return None if record is None else record.model_spec

    # ---- tests of hypotheses and predictions with intervals

    def t_test(self, r_matrix: Any, cov_p: Any = None,
               use_t: bool | None = None) -> ContrastResults:
        """One z test per linear constraint: a string ("educ = exper, age =
        0"), a matrix R (tested against 0) or an (R, q) pair; `cov_p` replaces
        the fit's covariance."""
        from .hypothesis import t_test

        refuse_t(use_t, "use_t")
        return t_test(self, r_matrix, cov_p)

    def wald_test(self, r_matrix: Any, cov_p: Any = None, use_f: bool | None = None,
                  scalar: bool = True) -> ContrastResults:
        """The joint chi-squared test of the constraints (as for t_test)."""
        from .hypothesis import wald_test

        refuse_t(use_f, "use_f")
        return wald_test(self, r_matrix, cov_p, scalar)

    def wald_test_terms(self, skip_single: bool = False, extra_constraints: Any = None,
                        combine_terms: Any = None, scalar: bool = True) -> WaldTestResults:
        """One joint test per formula term (a factor's levels together); its table
        holds scalars whatever `scalar` says."""
        from .terms import wald_test_terms

        return wald_test_terms(self, skip_single, extra_constraints, combine_terms)

    def get_prediction(self, exog: Any = None, which: str = "mean",
                       transform: bool = True) -> PredictionResults:
        """Predictions as `predict` gives them, with standard errors and
        intervals (delta method for probabilities)."""
        from .prediction import get_prediction

        return get_prediction(self, exog, which, transform)

    def pred_table(self, threshold: float = 0.5) -> np.ndarray:
        """Classification table of the fitted rows: observed 0/1 by predicted
        probability above `threshold`."""
        from .prediction import pred_table

        return pred_table(self, threshold)


def refuse_t(flag: bool | None, name: str) -> None:
    if flag:
        raise NotImplementedError(f"{name}: inference is on the normal distribution only")


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
