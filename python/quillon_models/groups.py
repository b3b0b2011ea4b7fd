"""Cluster groups of any dtype as the float64 codes the engine clusters on."""

from __future__ import annotations

from typing import Any, Sequence

import numpy as np
import pandas as pd


def group_columns(groups: Any, nobs: int) -> list[Any]:
    """One or two group variables as a list of one-dimensional columns: a
    list of one or two columns of equal length (statsmodels' two-way form;
    of the fitted rows or of every row of the data) is taken as they are."""
    if isinstance(groups, pd.DataFrame):
        columns = [groups.iloc[:, j] for j in range(groups.shape[1])]
    elif isinstance(groups, pd.Series):
        columns = [groups]
    elif isinstance(groups, (list, tuple)) and len(groups) in (1, 2) and all(
            np.ndim(g) == 1 for g in groups) and len({len(g) for g in groups}) == 1 and (
            nobs != len(groups)):
        columns = list(groups)
    else:
        values = np.asarray(groups)
        if values.ndim == 1:
            columns = [values]
        elif values.ndim == 2 and values.shape[1] in (1, 2):
            columns = [values[:, j] for j in range(values.shape[1])]
        else:
            raise ValueError(f"groups must be one or two columns (one value per row, an n x 2 "
                             f"array, or a list of two columns), got shape {values.shape}")
    if len(columns) not in (1, 2):
        raise ValueError(f"groups must be one or two columns, got {len(columns)}")
    return columns


def encode_groups(columns: Sequence[Any]) -> tuple[np.ndarray, tuple[int, ...]]:
    """Cluster groups of any type as the float64 codes the engine clusters on.

    Parameters
    ----------
    columns : sequence of array_like
        One or two group columns of equal length, of any type (integers,
        floats, strings, categories).

    Returns
    -------
    codes : numpy.ndarray
        n x m float64: 0, 1, ... per column in order of first appearance.
        Distinct values never share a code, however close.
    counts : tuple of int
        The number of groups of each column.

    Raises
    ------
    ValueError
        For columns of different lengths, or a missing value.
    """
    nobs = len(columns[0])
    codes = np.empty((nobs, len(columns)), dtype=np.float64)
    counts = []
    for j, column in enumerate(columns):
        if len(column) != nobs:
            raise ValueError(f"group columns differ in length: {nobs} and {len(column)}")
        column_codes, uniques = pd.factorize(np.asarray(column) if not isinstance(
            column, pd.Series) else column)
        missing = int((column_codes < 0).sum())
        if missing:
            raise ValueError(f"groups column {j} has {missing} missing values")
        codes[:, j] = column_codes
        counts.append(len(uniques))
    return codes, tuple(counts)


def intersection_count(codes: np.ndarray) -> int:
    """The number of distinct rows of a two-column code array."""
    width = codes[:, 0].max() + 1 if len(codes) else 1
    return len(np.unique(codes[:, 1] * width + codes[:, 0]))
