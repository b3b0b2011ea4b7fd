"""What one fit read, fixed when it returns.

A model's data source never changes after the model is made. A fit
chooses from it: the rows (those the data keep, after missing values and
zero weights, less those it leaves out for separation), the columns it
leaves out, the threads. `FitRecord` holds that choice; the results keep
it, and every later pass of theirs (effects, predictions, the null model,
the classification table) reads the rows the record names, whatever the
model is fitted to afterwards.
"""

from __future__ import annotations

from dataclasses import dataclass, replace
from typing import Any, Optional, overload

import numpy as np


@dataclass(frozen=True)
class Selection:
    """The caller's rows a fit read: the rows its data source keeps (missing
    values, then zero weights, left out as the source was made), less the
    rows predicted perfectly by each separation left out, in order."""

    # Each separation left out: its `direction` and its `rows_of(endog,
    # linear)`, which tell the rows it predicts perfectly, part by part.
    separated: tuple[Any, ...] = ()
    # In memory: the positions of the rows kept among the source's rows
    # (read-only), or None for all of them.
    kept: Optional[np.ndarray] = None
    removed: int = 0  # rows left out for separation
    # On Dask: whether the parts are checked again on reading (the source
    # dropped rows, or some were left out for separation).
    checked: bool = True


@dataclass(frozen=True)
class FitRecord:
    """One fit's choice of data: its rows, the weights and their kind, the
    columns left out, the threads, and the counts of its rows."""

    rows: Selection
    weight_kind: Optional[str]
    # In memory, the weights of the fitted rows (read-only); None without
    # weights, and on Dask, where they stay in the partitions.
    weights: Optional[np.ndarray]
    omitted: tuple[int, ...]
    n_jobs: Optional[int]
    nobs: int  # rows fitted (with frequency weights, not their sum)
    nobs_dropped: int  # rows of the data left out for missing values
    nobs_zero_weight: int  # rows left out for a zero weight
    const_idx: tuple[int, ...]
    model_spec: Any = None  # the formula's right-hand side, for the tests by term
    # Sampling weights' mean over the rows fitted, by which the fit's
    # iteration scaled its sums (its null model does the same); else None.
    mean_weight: Optional[float] = None
    # Once the data are dropped: the formula's terms and their columns, kept
    # in place of its spec, which pickles large.
    terms: Optional[tuple[tuple[str, tuple[int, ...]], ...]] = None

    def without_data(self, terms: Optional[tuple[tuple[str, tuple[int, ...]], ...]] = None
                     ) -> FitRecord:
        """The record less what names rows, for results that keep no data,
        with the formula's `terms` in place of its spec."""
        return replace(self, rows=Selection(removed=self.rows.removed), weights=None,
                       model_spec=None, terms=terms)


@dataclass(frozen=True)
class FittedRows:
    """The rows of a fit in memory, as the passes after it read them."""

    endog: np.ndarray
    exog: np.ndarray
    weights: Optional[np.ndarray]
    row_labels: Any  # their labels in the caller's data, or None
    kept_rows: Optional[np.ndarray]  # their positions in the caller's data, or None for all
    nobs: int


@overload
def read_only(values: np.ndarray) -> np.ndarray: ...


@overload
def read_only(values: None) -> None: ...


def read_only(values: Optional[np.ndarray]) -> Optional[np.ndarray]:
    """A view of `values` that cannot be written through."""
    if values is None:
        return None
    view = values.view()
    view.flags.writeable = False
    return view
