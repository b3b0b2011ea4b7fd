"""Data in memory as the driver reads it: the design's arrays in blocks of
rows, read in place, on a pool of threads."""

from __future__ import annotations

from typing import Any, Optional

import numpy as np
import pandas as pd

from . import driver
from .design import (Design, check_same_index, refuse_duplicates, refuse_repeated_columns,
                     refuse_one_outcome)
from .groups import encode_groups, group_columns
from .parts import MemoryPasses, Part, block_slices, memory_parts
from .prediction_design import formula_design, regressor_design
from .record import FitRecord, FittedRows, Selection, read_only
from .weights import KINDS, check_totals, memory_totals, weight_values


class MemoryData:
    """The checked design of a model whose data are in memory. `frame` is the
    caller's DataFrame (for groups given by column name); `inputs` the
    caller's endog and exog, whose index groups must share."""

    on_dask = False
    nobs_known = True

    def __init__(self, design: Design, frame: Optional[pd.DataFrame],
                 inputs: tuple = ()) -> None:
        self.design = design
        self.frame = frame
        self.inputs = inputs
        self.endog = design.endog
        self.exog = design.exog
        self.endog_name = design.endog_name
        self.exog_names = list(design.exog_names)
        self.formula = design.formula
        self.model_spec = design.model_spec
        self.context = design.context or {}
        self.row_labels = design.row_labels
        self.kept_rows = design.kept_rows
        self.nobs = int(design.exog.shape[0])
        self.nobs_dropped = design.nobs_dropped
        self.const_idx = list(design.const_idx)
        # Row weights of the fitted rows (all positive), their kind
        # ("frequency" or "sampling"), and the rows left out for a zero
        # weight: positions among the rows kept for missing values.
        self.weights: Optional[np.ndarray] = None
        self.weight_kind: Optional[str] = None
        self.nobs_zero_weight = 0
        self.weighted_rows: Optional[np.ndarray] = None
        self.weight_total: Optional[float] = None  # the sum of the weights

    def use_weights(self, name: str, given: Any) -> None:
        """Weights for the rows, checked, and the rows of zero weight left
        out. `given` is a column name of the data or one value per row (of
        the data, or of the rows kept for missing values)."""
        if isinstance(given, str):
            if self.frame is None:
                raise ValueError(f"{name} given by column name needs the model's data: a "
                                 "formula, or exog as a DataFrame")
            if given not in self.frame.columns:
                raise ValueError(f"{name}: {given!r} is not a column of the data")
            refuse_repeated_columns(name, self.frame.columns, [given])
            given = self.frame[given]
        elif isinstance(given, (pd.Series, pd.DataFrame)):
            check_same_index(*self.indexed_inputs(), (name, given))
        values = self.aligned(weight_values(name, given), name)
        totals = memory_totals(values)
        check_totals(name, totals, len(values))
        self.weight_total = totals.total
        positive = values > 0.0
        self.weight_kind = KINDS[name]
        if not positive.all():
            self.nobs_zero_weight = int((~positive).sum())
            self.weighted_rows = np.flatnonzero(positive)
            self.endog, self.exog = self.endog[positive], self.exog[positive]
            self.row_labels = None if self.row_labels is None else self.row_labels[positive]
            self.kept_rows = (self.weighted_rows if self.kept_rows is None
                              else self.kept_rows[positive])
            self.nobs = int(positive.sum())
            values = values[positive]
            refuse_one_outcome(self.endog_name, int((self.endog == 1.0).sum()), self.nobs)
        self.weights = values

    # ---- passes

    def fit_passes(self, groups: Any, n_jobs: Optional[int]) -> MemoryPasses:
        codes = None if groups is None else self.group_codes(groups)
        passes = MemoryPasses(memory_parts(self.endog, self.exog, codes, self.weights), n_jobs)
        passes.weight_total = self.weight_total
        return passes

    def fit_options(self) -> dict:
        return {"weights": self.weight_kind}

    def described(self, fitted: driver.Fitted) -> None:
        """Nothing to learn: the design was checked before the fit."""

    def selection(self) -> Selection:
        return Selection()

    def fitted_rows(self, record: FitRecord) -> FittedRows:
        """The rows of the record's fit: the design's, less those it left
        out for separation."""
        kept = record.rows.kept
        if kept is None:
            return FittedRows(self.endog, self.exog, record.weights, self.row_labels,
                              self.kept_rows, self.nobs)
        return FittedRows(self.endog[kept], self.exog[kept], record.weights,
                          None if self.row_labels is None else self.row_labels[kept],
                          kept if self.kept_rows is None else self.kept_rows[kept], len(kept))

    def fitted_passes(self, record: FitRecord) -> MemoryPasses:
        rows = self.fitted_rows(record)
        return MemoryPasses(memory_parts(rows.endog, rows.exog, None, rows.weights),
                            record.n_jobs)

    def null_passes(self, record: FitRecord) -> MemoryPasses:
        rows = self.fitted_rows(record)
        parts = [driver.constant_part(p)
                 for p in memory_parts(rows.endog, rows.exog, None, rows.weights)]
        return MemoryPasses(parts, record.n_jobs)

    def rows_for_test(self, passes: Any, kept: list[int], nobs: int) -> tuple:
        """The fitted rows and columns, for the exact test of separation."""
        parts = passes.parts
        return (np.concatenate([p.endog for p in parts]),
                np.concatenate([p.exog[:, kept] for p in parts]))

    def without_rows(self, passes: Any, found: Any, groups: Any,
                     n_jobs: Optional[int]) -> tuple[MemoryPasses, Selection]:
        """The passes less the rows that the separation `found` predicts
        perfectly, and the selection of the rows left."""
        predicted = passes.map(driver.predicted_rows, found.direction, found.rows_of)
        parts = [driver.without_rows(part, ~rows) for part, rows in zip(passes.parts, predicted)]
        keep = ~np.concatenate(predicted)
        refuse_one_outcome(self.endog_name, int((self.endog[keep] == 1.0).sum()), int(keep.sum()))
        selection = Selection((found,), read_only(np.flatnonzero(keep)), int((~keep).sum()))
        return MemoryPasses(parts, n_jobs), selection

    # ---- groups

    def group_codes(self, groups: Any) -> np.ndarray:
        if isinstance(groups, str) or (isinstance(groups, (list, tuple)) and groups
                                       and all(isinstance(g, str) for g in groups)):
            columns = self.data_columns([groups] if isinstance(groups, str) else list(groups))
        else:
            if isinstance(groups, (pd.Series, pd.DataFrame)):
                check_same_index(*self.indexed_inputs(), ("groups", groups))
            columns = group_columns(groups, self.nobs)
        return encode_groups([self.aligned(c, "groups") for c in columns])[0]

    def indexed_inputs(self) -> list[tuple[str, Any]]:
        if self.frame is not None and self.formula is not None:
            return [("data", self.frame)]
        return list(zip(("endog", "exog"), self.inputs))

    def data_columns(self, names: list[str]) -> list[pd.Series]:
        if self.frame is None:
            raise ValueError("groups given by column name need the model's data: a formula, "
                             "or exog as a DataFrame")
        if len(names) > 2:
            raise ValueError(f"groups must be one or two columns, got {len(names)}: {names}")
        refuse_duplicates("groups", names)
        absent = [n for n in names if n not in self.frame.columns]
        if absent:
            raise ValueError(f"groups {absent} are not columns of the data")
        refuse_repeated_columns("groups", self.frame.columns, names)
        return [self.frame[n] for n in names]

    def aligned(self, column: Any, name: str) -> Any:
        """A column for the fitted rows: one given for every row of the
        caller's data loses the rows that were dropped, one given for the
        rows kept for missing values those of zero weight."""
        length = len(column)
        unweighted = self.nobs + self.nobs_zero_weight
        rows = unweighted + self.nobs_dropped
        if length == self.nobs:
            return column
        if length == unweighted and self.weighted_rows is not None:
            return np.asarray(column)[self.weighted_rows]
        if length == rows and self.kept_rows is not None:
            return np.asarray(column)[self.kept_rows]
        raise ValueError(f"{name} has {length} rows; the model has {self.nobs} "
                         f"(of {rows} in the data)")

    # ---- predictions

    def prediction_design(self, exog: Any, transform: bool, record: FitRecord) -> tuple[
            np.ndarray, Optional[pd.Index], Optional[np.ndarray]]:
        if exog is None:
            rows = self.fitted_rows(record)
            return rows.exog, rows.row_labels, None
        if self.model_spec is not None and transform:
            return formula_design(self.model_spec, exog, self.context)
        return regressor_design(exog, self.exog_names, from_frame=self.frame is not None
                                and self.formula is None)

    def predict(self, beta: np.ndarray, exog: Any, probability: bool, transform: bool,
                record: FitRecord) -> Any:
        design, index, rows = self.prediction_design(exog, transform, record)
        values = np.empty(len(design))
        blocks = block_slices(len(design))
        parts = [Part(np.empty(0), design[s]) for s in blocks]

        def into_values(part: Part, at: slice) -> None:
            values[at] = driver.predict_part(part, beta, probability)

        MemoryPasses(parts, record.n_jobs).map_with(into_values, blocks)
        if rows is not None and index is not None:
            filled = np.full(len(index), np.nan)
            filled[rows] = values
            values = filled
        return values if index is None else pd.Series(values, index=index)

