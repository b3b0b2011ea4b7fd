"""The design matrix of new data to predict on: through the formula's spec,
with the columns it uses read by name and levels it never saw refused, or
the regressors read by name (or by position, for a model fitted on
unnamed arrays)."""

from __future__ import annotations

import re
import warnings
from typing import Any, Iterator, Optional

import numpy as np
import pandas as pd

from .design import design_rows, plain_text


def formula_design(spec: Any, exog: Any, context: dict) -> tuple[
        np.ndarray, Optional[pd.Index], Optional[np.ndarray]]:
    """The rows of `exog` (a DataFrame or what makes one) through the
    formula; rows with a missing value are left out and their positions
    returned, so that their predictions can be NaN."""
    frame = exog if isinstance(exog, pd.DataFrame) else pd.DataFrame(exog)
    index = frame.index
    frame = plain_text(frame, data_variables(spec)).copy(deep=False)
    frame.index = pd.RangeIndex(len(frame))
    frame.columns = [str(c) for c in frame.columns]
    check_prediction_frame(spec, frame, context)
    with warnings.catch_warnings():
        # Any level that slipped past the check above is an error, not a NaN.
        warnings.filterwarnings("error", message=".*categories outside of the nominated levels")
        try:
            matrix = spec.get_model_matrix(frame, context=context)
        except Warning as warning:
            raise ValueError(f"the data to predict on hold levels the fit never saw: "
                             f"{warning}") from None
    rows = np.asarray(matrix.index, dtype=np.intp)
    return design_rows(matrix)[0], index, None if len(rows) == len(frame) else rows


def check_prediction_frame(spec: Any, frame: pd.DataFrame, context: dict) -> None:
    """New data must hold every column the formula reads, and only levels
    the fit saw."""
    absent = sorted(v for v in data_variables(spec)
                    if v not in frame.columns and v not in context)
    if absent:
        raise ValueError(f"the data to predict on lack columns the formula uses: "
                         f"{', '.join(map(repr, absent))}")
    refuse_unseen_levels(spec, frame)


def data_variables(spec: Any) -> set:
    """The variables formulaic's model spec reads from the data (older
    formulaic lists them by source only)."""
    try:
        return set(spec.required_variables)
    except AttributeError:
        return {str(v) for v in spec.variables_by_source.get("data", set())}


def levels_outside(spec: Any, frame: pd.DataFrame) -> Iterator[tuple[str, str, list, list]]:
    """(factor, column, its levels, the column's values outside them) for
    each factor of the formula that reads one column of the data and holds
    values its levels do not list."""
    for factor, (kind, state) in spec.encoder_state.items():
        if getattr(kind, "value", kind) != "categorical" or "categories" not in state:
            continue
        column = factor_column(str(factor), frame.columns)
        if column is None:
            continue
        levels = list(state["categories"])
        known = set(levels)
        outside = [v for v in pd.unique(frame[column].dropna()) if v not in known]
        if outside:
            yield str(factor), column, levels, outside


def refuse_unseen_levels(spec: Any, frame: pd.DataFrame) -> None:
    """A ValueError naming each level of a factor of the formula that the fit
    never saw, where the factor reads one column of the data."""
    for _, column, known, unseen in levels_outside(spec, frame):
        shown = ", ".join(str(v) for v in unseen[:8])
        raise ValueError(f"column {column!r} holds levels the fit never saw: {shown}; "
                         f"the fit knows {sorted(map(str, known))}")
def factor_column(factor: str, columns: Any) -> Optional[str]:
    """The data column a factor reads: the factor itself, or the first
    argument of C(...)."""
    if factor in columns:
        return factor
    match = re.fullmatch(r"C\(\s*([A-Za-z_][A-Za-z0-9_]*)\s*(,.*)?\)", factor)
    return match.group(1) if match and match.group(1) in columns else None


def regressor_design(exog: Any, names: list[str], from_frame: bool) -> tuple[
        np.ndarray, Optional[pd.Index], None]:
    """Regressors given directly: a DataFrame is read by column name (any
    order, extra columns ignored) when the model's regressors were named by
    a DataFrame; otherwise columns are taken in order, and must be as many."""
    if isinstance(exog, pd.Series):
        exog = exog.to_frame().T  # one row, its labels naming the regressors
    if isinstance(exog, pd.DataFrame):
        by_text = {str(c): c for c in exog.columns}
        if from_frame:
            absent = [n for n in names if n not in by_text]
            if absent:
                raise ValueError(f"exog lacks the regressors {', '.join(map(repr, absent))}")
            exog = exog[[by_text[n] for n in names]]
        check_width(exog.shape, names)
        return exog.to_numpy(dtype=np.float64, na_value=np.nan), exog.index, None
    values = np.asarray(exog)
    if values.ndim == 1:
        values = values[None, :]
    check_width(values.shape, names)
    if not (values.dtype == np.bool_ or values.dtype.kind in "iuf"):
        raise TypeError(f"exog has dtype {values.dtype}: regressors must be numbers")
    return values.astype(np.float64, copy=False), None, None


def check_width(shape: tuple, names: list[str]) -> None:
    if len(shape) != 2 or shape[1] != len(names):
        raise ValueError(f"exog needs {len(names)} columns ({', '.join(names)}), "
                         f"got shape {shape}")
