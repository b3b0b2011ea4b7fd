"""Average marginal effects: quillon's table with names and intervals, and
statsmodels' get_margeff form for code being ported."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any

import numpy as np
import pandas as pd

from .distributions import normal_quantile, two_sided_pvalues
from .summary import Summary, estimate_rows, interval_columns

if TYPE_CHECKING:
    from .results import ProbitResults

def engine_table(results: ProbitResults) -> pd.DataFrame:
    """quillon's table for the fit, from the model's own passes over its
    data (in memory or on Dask)."""
    return results._fitted_model().engine_ame(results.params.to_numpy(),
                                              results.cov_params().to_numpy())


def ame_table(results: ProbitResults, alpha: float = 0.05) -> pd.DataFrame:
    """quillon's table ("dy/dx", "Std. Err", "z", "Pr(>|z|)", "Significance")
    with the bounds of the 1 - alpha interval."""
    quantile = normal_quantile(alpha)
    table = engine_table(results)
    low, high = interval_columns(alpha)
    table[low] = table["dy/dx"] - quantile * table["Std. Err"]
    table[high] = table["dy/dx"] + quantile * table["Std. Err"]
    return table


class DiscreteMargins:
    """Average marginal effects with statsmodels' attributes and tables."""

    def __init__(self, results: ProbitResults, table: pd.DataFrame,
                 options: dict[str, Any]) -> None:
        self.results = results
        self.margeff_options = options
        self._table = table
        self.names = [str(n) for n in table.index]
        self.margeff = table["dy/dx"].to_numpy(dtype=np.float64)
        self.margeff_se = table["Std. Err"].to_numpy(dtype=np.float64)
        self.tvalues = table["z"].to_numpy(dtype=np.float64)
        self.pvalues = table["Pr(>|z|)"].to_numpy(dtype=np.float64)

    def conf_int(self, alpha: float = 0.05) -> np.ndarray:
        half = normal_quantile(alpha) * self.margeff_se
        return np.column_stack([self.margeff - half, self.margeff + half])

    def summary_frame(self, alpha: float = 0.05) -> pd.DataFrame:
        """statsmodels' columns, its spelling included."""
        interval = self.conf_int(alpha)
        return pd.DataFrame({"dy/dx": self.margeff, "Std. Err.": self.margeff_se,
                             "z": self.tvalues, "Pr(>|z|)": self.pvalues,
                             "Conf. Int. Low": interval[:, 0], "Cont. Int. Hi.": interval[:, 1]},
                            index=self.names)

    def summary(self, alpha: float = 0.05) -> Summary:
        header = [("Dep. Variable:", self.results.endog_name),
                  ("Method:", self.margeff_options["method"]),
                  ("At:", self.margeff_options["at"])]
        rows = estimate_rows(self.names, self.margeff, self.margeff_se, self.tvalues,
                             self.pvalues, alpha)
        notes = []
        if self.results.cov_type != "nonrobust":
            notes.append(f"Standard errors from the {self.results.cov_type} covariance.")
        return Summary("Probit Marginal Effects", header,
                       ["dy/dx", "std err", "z", "P>|z|"] + interval_columns(alpha), rows,
                       notes, two_columns=False)

    def __repr__(self) -> str:
        return f"<DiscreteMargins: {len(self.names)} average marginal effects (dy/dx)>"


def get_margeff(results: ProbitResults, at: str = "overall", method: str = "dydx",
                atexog: Any = None, dummy: bool = False, count: bool = False) -> DiscreteMargins:
    """statsmodels' per-column marginal effects, its options and defaults
    included (see `column_margins`)."""
    from .column_margins import column_effects

    model = results._fitted_model()
    effects, se, shown = column_effects(model, results.params.to_numpy(),
                                        results.cov_params().to_numpy(), at, method, atexog,
                                        bool(dummy), bool(count))
    with np.errstate(invalid="ignore", divide="ignore"):
        z = np.where(se > 0.0, effects / se, np.nan)
    table = pd.DataFrame({"dy/dx": effects, "Std. Err": se, "z": z,
                          "Pr(>|z|)": two_sided_pvalues(z)},
                         index=[results.exog_names[j] for j in shown])
    return DiscreteMargins(results, table, {"at": str(at).lower(), "method": str(method).lower(),
                                            "dummy": dummy, "count": count})
