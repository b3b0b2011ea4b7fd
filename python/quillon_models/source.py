"""What a model's data source offers: the contract of `MemoryData`
(`memory.py`) and `DaskData` (`_dask.py`).

A source is made with the model and is never changed by a fit: the passes
of a fit, and those of its results later, are asked of it with the rows
and threads that a `FitRecord` names. What a source learns of Dask data
from a first pass (counts, constant columns) is a fact of the data, the
same for every fit, and is kept once.
"""

from __future__ import annotations

from typing import Any, Optional, Protocol

import numpy as np

from .driver import Fitted, Passes
from .record import FitRecord, FittedRows, Selection


class DataSource(Protocol):
    @property
    def on_dask(self) -> bool: ...

    @property
    def formula(self) -> Optional[str]: ...

    @property
    def model_spec(self) -> Any: ...  # formulaic's spec of the right-hand side, or None

    @property
    def context(self) -> dict: ...  # the formula's names from the caller

    @property
    def frame(self) -> Any: ...  # the caller's DataFrame (pandas or Dask), or None

    @property
    def endog_name(self) -> str: ...

    @property
    def exog_names(self) -> list[str]: ...

    # ---- the data's rows: in memory from the start, on Dask once a fit counted them

    @property
    def endog(self) -> Any: ...

    @property
    def exog(self) -> Any: ...

    @property
    def row_labels(self) -> Any: ...

    @property
    def weights(self) -> Optional[np.ndarray]: ...

    @property
    def weight_kind(self) -> Optional[str]: ...

    @property
    def nobs_known(self) -> bool: ...

    @property
    def nobs(self) -> int: ...

    @property
    def nobs_dropped(self) -> int: ...

    @property
    def nobs_zero_weight(self) -> int: ...

    @property
    def const_idx(self) -> list[int]: ...

    # ---- a fit's passes

    def fit_passes(self, groups: Any, n_jobs: Optional[int]) -> Passes:
        """Passes over the source's rows, with cluster groups when given."""

    def fit_options(self) -> dict:
        """The driver's options for this source's data."""

    def described(self, fitted: Fitted) -> None:
        """What a fit over the source's rows tells of them (kept once)."""

    def rows_for_test(self, passes: Passes, kept: list[int], nobs: int) -> Optional[tuple]:
        """The fitted rows' outcome and columns `kept`, for the exact test
        of separation; None when they are too many to bring together."""

    def without_rows(self, passes: Passes, found: Any, groups: Any,
                     n_jobs: Optional[int]) -> tuple[Passes, Selection]:
        """The passes less the rows that the separation `found` predicts
        perfectly, and the selection of rows they read."""

    def selection(self) -> Selection:
        """The selection of every row the source keeps."""

    # ---- the passes after a fit, over the rows of its record

    def fitted_passes(self, record: FitRecord) -> Passes: ...

    def null_passes(self, record: FitRecord) -> Passes:
        """The intercept-only model over the record's rows."""

    def fitted_rows(self, record: FitRecord) -> Optional[FittedRows]:
        """The record's rows in memory; None on Dask."""

    def prediction_design(self, exog: Any, transform: bool, record: FitRecord) -> tuple[
            np.ndarray, Any, Optional[np.ndarray]]: ...

    def predict(self, beta: np.ndarray, exog: Any, probability: bool, transform: bool,
                record: FitRecord) -> Any: ...
