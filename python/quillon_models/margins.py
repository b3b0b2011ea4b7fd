"""Average marginal effects: quillon's table with names and intervals, and
statsmodels' get_margeff form for code being ported."""

from __future__ import annotations

import warnings
from typing import TYPE_CHECKING, Any

import numpy as np
import pandas as pd

from .distributions import normal_quantile, two_sided_pvalues
from .exceptions import OmittedWarning
from .summary import Summary, estimate_rows, interval_columns
from .variances import covariance_hint, warn_unusable
from .tables import EffectTable

if TYPE_CHECKING:
    from .results import ProbitResults

def without_unusable_errors(table: pd.DataFrame, cov_type: str,
                            stacklevel: int = 4) -> pd.DataFrame:
    """The table with NaN for the standard error, z and p-value of an effect
    whose variance is not positive, and a CovarianceWarning naming those
    effects. An effect that is exactly zero with a zero variance (a
    derivative with respect to log x at x = 0, say) is exactly known, and
    kept; an effect that is NaN (omitted) is not an estimate, and not
    named."""
    se = table["Std. Err"].to_numpy(dtype=np.float64)
    effects = table["dy/dx"].to_numpy(dtype=np.float64)
    unusable = ~(se > 0.0) & ~((se == 0.0) & (effects == 0.0)) & ~np.isnan(effects)
    if unusable.any():
        warn_unusable([str(n) for n in table.index[unusable]], "marginal effects",
                      covariance_hint(cov_type), stacklevel=stacklevel)
        table.loc[unusable, ["Std. Err", "z", "Pr(>|z|)"]] = np.nan
    return table


class DiscreteMargins:
    """Average marginal effects with statsmodels' attributes and tables.

    Returned by :meth:`ProbitResults.get_margeff
    <quillon_models.ProbitResults.get_margeff>`.

    Attributes
    ----------
    results : ProbitResults
        The fit whose effects these are.
    names : list of str
        The regressors with an effect (not the constant).
    margeff, margeff_se, tvalues, pvalues : numpy.ndarray
        The effects, their standard errors, z statistics and p-values; NaN
        for a regressor left out of the fit.
    omitted : list of str
        The regressors of `names` left out of the fit: their rows are NaN,
        marked "(omitted)" in the summary.
    margeff_options : dict
        The ``at``, ``method``, ``dummy`` and ``count`` asked for.
    """

    def __init__(self, results: ProbitResults, table: pd.DataFrame,
                 options: dict[str, Any]) -> None:
        self.results = results
        self.margeff_options = options
        self._table = table
        self.names = [str(n) for n in table.index]
        self.omitted = [n for n in self.names if n in results.omitted]
        self.margeff = table["dy/dx"].to_numpy(dtype=np.float64)
        self.margeff_se = table["Std. Err"].to_numpy(dtype=np.float64)
        self.tvalues = table["z"].to_numpy(dtype=np.float64)
        self.pvalues = table["Pr(>|z|)"].to_numpy(dtype=np.float64)

    def conf_int(self, alpha: float = 0.05) -> np.ndarray:
        """Normal intervals of the effects.

        Parameters
        ----------
        alpha : float, default 0.05
            One minus the intervals' level.

        Returns
        -------
        numpy.ndarray
            One row per effect: lower and upper bound.
        """
        half = normal_quantile(alpha) * self.margeff_se
        return np.column_stack([self.margeff - half, self.margeff + half])

    def summary_frame(self, alpha: float = 0.05) -> EffectTable:
        """The effects as statsmodels' table, its column names' spelling included.

        Parameters
        ----------
        alpha : float, default 0.05
            One minus the intervals' level.

        Returns
        -------
        EffectTable
            Columns named as statsmodels names them: the effect's ("dy/dx",
            "d(lny)/d(lnx)", "dy/d(lnx)" or "d(lny)/dx", by the method),
            "Std. Err.", "z", "Pr(>|z|)", "Conf. Int. Low" and "Cont. Int.
            Hi.", one row per regressor by name (NaN for one omitted).
        """
        interval = self.conf_int(alpha)
        return EffectTable({self._effect_name: self.margeff, "Std. Err.": self.margeff_se,
                             "z": self.tvalues, "Pr(>|z|)": self.pvalues,
                             "Conf. Int. Low": interval[:, 0], "Cont. Int. Hi.": interval[:, 1]},
                            index=self.names)

    def summary(self, alpha: float = 0.05) -> Summary:
        """The effects in statsmodels' summary layout.

        Parameters
        ----------
        alpha : float, default 0.05
            One minus the intervals' level.

        Returns
        -------
        Summary
            Text with ``str()``, HTML with ``as_html()``.
        """
        header = [("Dep. Variable:", self.results.endog_name),
                  ("Method:", self.margeff_options["method"]),
                  ("At:", self.margeff_options["at"])]
        rows = estimate_rows(self.names, self.margeff, self.margeff_se, self.tvalues,
                             self.pvalues, alpha)
        rows = [(name, ["(omitted)"] + [""] * (len(values) - 1) if name in self.omitted
                 else values) for name, values in rows]
        notes = []
        if self.results.cov_type != "nonrobust":
            notes.append(f"Standard errors from the {self.results.cov_type} covariance.")
        if self.omitted:
            notes.append(f"Omitted: {self.results._omitted_why(self.omitted)}.")
        return Summary("Probit Marginal Effects", header,
                       [self._effect_name, "std err", "z", "P>|z|"] + interval_columns(alpha),
                       rows, notes, two_columns=False)

    @property
    def _effect_name(self) -> str:
        """The effect's column name, as statsmodels names it for the method."""
        return EFFECT_NAMES[self.margeff_options["method"]]

    def __repr__(self) -> str:
        return (f"<DiscreteMargins: {len(self.names)} average marginal effects "
                f"({self._effect_name})>")


# statsmodels' names of the effects of each method
EFFECT_NAMES = {"dydx": "dy/dx", "eyex": "d(lny)/d(lnx)", "dyex": "dy/d(lnx)",
                "eydx": "d(lny)/dx"}


def get_margeff(results: ProbitResults, at: str = "overall", method: str = "dydx",
                atexog: Any = None, dummy: bool = False, count: bool = False) -> DiscreteMargins:
    """statsmodels' per-column marginal effects, its options and defaults
    included (see `column_margins`)."""
    from .column_margins import column_effects, warn_if_order_differs

    model = results._fitted_model()
    warn_if_order_differs(model, atexog)
    omitted = [results.exog_names.index(n) for n in results.omitted]
    effects, se, shown = column_effects(model._data, results._fit_record(),
                                        results.fitted_params(),
                                        np.nan_to_num(results.cov_params().to_numpy(), nan=0.0),
                                        at, method, atexog, bool(dummy), bool(count), omitted)
    with np.errstate(invalid="ignore", divide="ignore"):
        z = np.where(se > 0.0, effects / se, np.nan)
    table = pd.DataFrame({"dy/dx": effects, "Std. Err": se, "z": z,
                          "Pr(>|z|)": two_sided_pvalues(z)},
                         index=[results.exog_names[j] for j in shown])
    table = without_unusable_errors(table, results.cov_type)
    left_out = [str(n) for n in table.index if n in results.omitted]
    if left_out:
        warnings.warn(f"regressors left out of the fit have no effect, NaN marked (omitted): "
                      f"{results._omitted_why(left_out)}", OmittedWarning, stacklevel=3)
    return DiscreteMargins(results, table, {"at": str(at).lower(), "method": str(method).lower(),
                                            "dummy": dummy, "count": count})
