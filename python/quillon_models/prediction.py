"""Predictions with their uncertainty: the linear index x'b with standard
error sqrt(x' V x), and the probability Phi(x'b) with the delta method's
standard error phi(x'b) sqrt(x' V x); and the classification table of the
fitted rows."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any

import numpy as np
import pandas as pd

from . import _kernels as kernels
from .distributions import normal_cdf, normal_pdf, normal_quantile
from .variances import standard_errors

if TYPE_CHECKING:
    from .results import ProbitResults

WHICH = ("mean", "linear")


class PredictionResults:
    """Predictions (`predicted`), their standard errors (`se`), intervals
    (`conf_int`) and statsmodels' `summary_frame`. Rows of new data that
    the formula could not use (missing values) are NaN throughout."""

    def __init__(self, linear: np.ndarray, linear_se: np.ndarray, which: str,
                 row_labels: pd.Index | None) -> None:
        self.which = which
        self.linpred = linear
        self.linpred_se = linear_se
        self.row_labels = row_labels
        if which == "linear":
            self.predicted, self.se = linear, linear_se
        else:
            self.predicted = normal_cdf(linear)
            self.se = normal_pdf(linear) * linear_se

    def conf_int(self, alpha: float = 0.05, method: str = "endpoint") -> np.ndarray:
        """(m, 2) intervals at level 1 - alpha. For probabilities, "endpoint"
        maps the linear index's interval through Phi (it stays within 0 and
        1, as statsmodels' default); "delta" is predicted +- z * se."""
        if method not in ("endpoint", "delta"):
            raise ValueError(f"method must be 'endpoint' or 'delta', got {method!r}")
        quantile = normal_quantile(alpha)
        if method == "delta" or self.which == "linear":
            center, half = self.predicted, quantile * self.se
            return np.column_stack([center - half, center + half])
        half = quantile * self.linpred_se
        return np.column_stack([normal_cdf(self.linpred - half), normal_cdf(self.linpred + half)])

    def summary_frame(self, alpha: float = 0.05) -> pd.DataFrame:
        """Columns predicted, se, ci_lower, ci_upper, by the rows' labels."""
        interval = self.conf_int(alpha)
        return pd.DataFrame({"predicted": self.predicted, "se": self.se,
                             "ci_lower": interval[:, 0], "ci_upper": interval[:, 1]},
                            index=self.row_labels)

    def __repr__(self) -> str:
        return f"<PredictionResults: {len(self.predicted)} predictions (which={self.which!r})>"


def get_prediction(results: ProbitResults, exog: Any = None, which: str = "mean",
                   transform: bool = True) -> PredictionResults:
    if which not in WHICH:
        raise ValueError(f"which must be 'mean' or 'linear', got {which!r}")
    model = results._fitted_model()
    design, index, positions = model._prediction_design(exog, transform, results._fit_record())
    linear = kernels.predict(design, results.fitted_params(), False)
    # columns omitted from the fit enter at zero, with no variance
    cov = np.nan_to_num(results.cov_params().to_numpy(), nan=0.0)
    labels = (range(len(linear)) if index is None else
              index if positions is None else index[positions])
    variances = np.einsum("ij,jk,ik->i", design, cov, design)
    linear_se = standard_errors(variances, [str(label) for label in labels], "predictions",
                                stacklevel=4, zero_usable=True)
    # rows that load on a column with no estimate have no prediction
    unestimable = results._unestimable_columns()
    if unestimable:
        rows = (design[:, unestimable] != 0.0).any(axis=1)
        linear, linear_se = np.where(rows, np.nan, linear), np.where(rows, np.nan, linear_se)
    if positions is not None and index is not None:
        linear, linear_se = spread(linear, positions, len(index)), spread(linear_se, positions,
                                                                         len(index))
    return PredictionResults(linear, linear_se, which, index)


def spread(values: np.ndarray, positions: np.ndarray, length: int) -> np.ndarray:
    """Values at `positions` of a vector of NaN."""
    filled = np.full(length, np.nan)
    filled[positions] = values
    return filled


def pred_table(results: ProbitResults, threshold: float = 0.5) -> np.ndarray:
    """The 2 x 2 classification table of the fitted rows: rows the observed
    outcome (0, 1), columns the prediction (probability above `threshold`);
    with weights, each row counts its weight."""
    if isinstance(threshold, bool) or not isinstance(threshold, (int, float, np.floating,
                                                                 np.integer)):
        raise TypeError(f"threshold must be a number, got {type(threshold).__name__}")
    rows = results._fitted_model()._data.fitted_rows(results._fit_record())
    if rows is None:
        raise NotImplementedError("pred_table needs the fitted outcome and design in memory; "
                                  "a fit on Dask data does not hold them")
    predicted = np.asarray(results.predict(), dtype=np.float64) > threshold
    cells = 2 * (rows.endog == 1.0).astype(np.intp) + predicted.astype(np.intp)
    return np.bincount(cells, weights=rows.weights, minlength=4).reshape(2, 2).astype(np.float64)
