"""Row weights of a fit: frequency weights (row i stands for w_i identical
rows) and sampling weights (w_i is the inverse of row i's probability of
selection, as Stata's pweights).

Both enter every sum over rows as a factor w_i, formed by the weighted part
kernels. They differ in what the sums mean: frequency weights make the
model's own covariance that of the replicated data, with nobs = sum w_i;
sampling weights make the estimates weighted maximum likelihood, whose only
valid covariance is the sandwich built from the weighted scores w_i s_i,
and nobs the count of rows with a positive weight.

Rows with zero weight take no part in the fit: they are left out before it,
as rows with missing values are, and counted apart.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any, Optional

import numpy as np
import pandas as pd

from . import _kernels as kernels
from .parts import add_pairs, block_slices

KINDS = {"freq_weights": "frequency", "sampling_weights": "sampling"}
ARGUMENTS = {kind: name for name, kind in KINDS.items()}


@dataclass(frozen=True)
class WeightTotals:
    """What one pass over the weights learns: their sum, and how many are
    positive, negative, not finite and (finite) not whole numbers."""

    total: float
    positive: int
    negative: int
    nonfinite: int
    fractional: int = 0

    def __add__(self, other: WeightTotals) -> WeightTotals:
        return WeightTotals(self.total + other.total, self.positive + other.positive,
                            self.negative + other.negative, self.nonfinite + other.nonfinite,
                            self.fractional + other.fractional)


def part_totals(weights: np.ndarray) -> WeightTotals:
    return WeightTotals(*kernels.weight_totals(weights))


def chosen_weights(freq_weights: Any, sampling_weights: Any) -> tuple[Optional[str], Any]:
    """The argument given (its name) and its value; at most one of the two."""
    if freq_weights is not None and sampling_weights is not None:
        raise ValueError("give freq_weights or sampling_weights, not both: they mean different "
                         "things (repeated rows, or inverse probabilities of selection)")
    if freq_weights is not None:
        return "freq_weights", freq_weights
    if sampling_weights is not None:
        return "sampling_weights", sampling_weights
    return None, None


def weight_values(name: str, weights: Any) -> np.ndarray:
    """Weights given as an array-like (a Series, a one-column DataFrame) as
    float64; a column name is read by the caller."""
    if isinstance(weights, pd.DataFrame):
        if weights.shape[1] != 1:
            raise ValueError(f"{name} must be one column, got {weights.shape[1]}")
        weights = weights.iloc[:, 0]
    if isinstance(weights, pd.Series):
        check_weight_dtype(name, weights.dtype)
        values = weights.to_numpy()
    else:
        values = np.asarray(weights)
    if values.ndim != 1:
        raise ValueError(f"{name} must be one value per row, got shape {values.shape}")
    check_weight_dtype(name, values.dtype)
    return np.ascontiguousarray(values, dtype=np.float64)


def check_weight_dtype(name: str, dtype: Any) -> None:
    """Weights are real numbers: categories, durations and dates are
    refused, even where they hold numbers."""
    if (isinstance(dtype, pd.CategoricalDtype) or dtype == object or
            not (pd.api.types.is_numeric_dtype(dtype) or pd.api.types.is_bool_dtype(dtype)) or
            getattr(dtype, "kind", "") in "mM"):
        raise TypeError(f"{name} must be numbers, got values of type {dtype}")
    if pd.api.types.is_complex_dtype(dtype):
        raise TypeError(f"{name} must be real numbers, got {dtype}")


# Sampling weights whose mean lies outside this range are refused: their
# squares, in the sandwich, would leave floating point's range.
SAMPLING_MEAN_RANGE = (1e-100, 1e100)
# Frequency weights count rows: beyond 2**53 a count is not exact.
FREQUENCY_TOTAL_LIMIT = 2.0 ** 53


def check_totals(name: str, totals: WeightTotals, rows: int) -> None:
    """Refuses negative, NaN or infinite weights, frequency weights that are
    not whole numbers, weights all zero, and weights too large or too small
    for the sums of the fit."""
    if totals.nonfinite:
        raise ValueError(f"{name} has {totals.nonfinite} NaN or infinite values (of {rows}); "
                         "weights must be finite")
    if totals.negative:
        raise ValueError(f"{name} has {totals.negative} negative values (of {rows}); weights "
                         "must not be negative")
    if totals.fractional and name == "freq_weights":
        raise ValueError(f"freq_weights has {totals.fractional} values that are not whole "
                         f"numbers (of {rows}); frequency weights count repeated rows. For "
                         "weights that are not counts (inverse probabilities of selection, "
                         "say) use sampling_weights")
    if totals.positive == 0:
        raise ValueError(f"{name} are all zero (all {rows} rows): no row would take part in "
                         "the fit")
    check_scale(name, totals)


def check_scale(name: str, totals: WeightTotals) -> None:
    if KINDS[name] == "frequency":
        if not totals.total <= FREQUENCY_TOTAL_LIMIT:
            raise ValueError(f"{name} sum to {totals.total:.6g}, more than 2**53 rows, beyond "
                             "which counts are not exact; weights that are not counts of "
                             "rows are sampling_weights")
        return
    mean = totals.total / totals.positive
    low, high = SAMPLING_MEAN_RANGE
    if not low <= mean <= high:
        raise ValueError(f"{name} have a mean of {mean:.6g}, outside [{low:g}, {high:g}], where "
                         "the sums of the fit leave floating point's range; divide them by a "
                         "constant (sampling weights' scale does not change the estimates)")


def weighted_part(part: Any, values: np.ndarray, checked: bool) -> Any:
    """A part (parts.Part) of Dask data given its rows' weights: checked,
    its totals join the first pass's checks; rows of zero weight are left
    out of it (and, checked, counted)."""
    values = np.ascontiguousarray(values, dtype=np.float64)
    positive = values > 0.0
    if checked and part.checks is not None:
        part.checks.weights = part_totals(values)
        part.checks.zero_weight = int(len(values) - positive.sum())
        # the outcomes counted are those of the rows that take part
        part.checks.ones -= int((part.endog[~positive] == 1.0).sum())
    if not positive.all():
        part.endog, part.exog = part.endog[positive], part.exog[positive]
        if part.groups is not None:
            part.groups = part.groups[positive]
        part.kept = np.flatnonzero(positive) if part.kept is None else part.kept[positive]
        values = values[positive]
    part.weights = values
    return part


def memory_totals(values: np.ndarray) -> WeightTotals:
    """The totals of weights in memory, block by block along the fixed tree."""
    return add_pairs([part_totals(values[s]) for s in block_slices(len(values))],
                     lambda a, b: a + b)
