"""Data on Dask as the driver reads it: the partitions are the parts, each
built where it lies by the same checks as data in memory, and a pass is one
Dask graph whose partition sums are added along the fixed tree; only
k-sized and k x k-sized sums (and per-cluster sums) reach the client.

Dask is imported here only, when a model is given Dask collections.
"""

from __future__ import annotations

import uuid
import warnings
from typing import Any, Callable, Optional, Sequence

import numpy as np
import pandas as pd

import dask
import dask.array as da
import dask.dataframe as dd
from dask.delayed import Delayed
from dask.highlevelgraph import HighLevelGraph

from . import driver
from ._dask_threads import local_passes
from .design import (array_names, check_formula, check_outcome_columns, design_rows, dtype_text,
                     finite_rows, formula_columns, import_formulaic, listed_levels_only,
                     mentions, missing_counts, outcome_name, outside_values, plain_text,
                     refuse_dates, refuse_duplicates, refuse_repeated_columns, screen_design,
                     text_as_categories, text_dtype)
from .formula_context import formula_context
from .parts import Part, PartChecks, add_pairs
from .prediction_design import (check_prediction_frame, data_variables, formula_design,
                                regressor_design)
from .record import FitRecord, Selection
from .weights import KINDS, check_weight_dtype, weight_values, weighted_part

# --- One partition -------------------------------------------------------------


def coded_groups(columns: list) -> tuple[np.ndarray, list]:
    """Each column of group labels as codes in order of first appearance
    (an n x m float64 array), and each column's labels; a missing label is
    refused, as in memory."""
    codes = np.empty((len(columns[0]), len(columns)))
    labels = []
    for j, column in enumerate(columns):
        column_codes, uniques = pd.factorize(pd.Series(np.asarray(column)), sort=False)
        missing = int((column_codes < 0).sum())
        if missing:
            raise ValueError(f"groups column {j} has {missing} missing values")
        codes[:, j] = column_codes
        labels.append(np.asarray(uniques, dtype=object))
    return codes, labels


def checked_part(y: np.ndarray, X: np.ndarray, name: str, names: list, missing: str,
                 kept: np.ndarray, rows: int, extra_missing: Optional[dict] = None,
                 screened: Optional[tuple] = None) -> Part:
    """A partition's rows with what the first pass must know of them: rows
    with NaN or inf are dropped for the sums and counted by column, and
    outcomes other than 0/1 counted; the driver refuses them over all
    partitions at once, as data in memory are refused. `screened` is X's
    part of the checks when design_rows made them."""
    finite = screen_design(y, X, screened)[0]
    complete = None if finite else finite_rows(y, X, name, names, "drop")
    counts: dict = dict(extra_missing or {})
    if complete is not None and missing != "drop":
        # Missing values of the data's columns are counted there (extra_missing):
        # the design adds its infinite values.
        bad = np.isinf if extra_missing is not None else (lambda v: ~np.isfinite(v))
        for column, count in missing_counts(bad(y), bad(X), name, names).items():
            counts[column] = counts.get(column, 0) + count
    if complete is not None:
        y, X, kept = y[complete], X[complete], kept[complete]
    outside, values = outside_values(y)
    checks = PartChecks(rows, rows - len(y), counts, outside, values, int((y == 1.0).sum()))
    return Part(np.asarray(y, dtype=np.float64), np.asarray(X, dtype=np.float64), kept=kept,
                checks=checks)


def part_from_arrays(endog: Any, exog: Any, groups: Any, missing: str, endog_name: str,
                     names: list, checked: bool = True, weights: Any = None) -> Part:
    """A partition of Dask arrays. Unchecked (`checked` false), its rows are
    taken as they are: for the passes after a first one that checked every
    partition and dropped no row."""
    y = np.asarray(endog, dtype=np.float64).reshape(len(endog))
    X = np.asarray(exog, dtype=np.float64)
    if checked:
        part = checked_part(y, X, endog_name, names, missing, np.arange(len(y)), len(y))
    else:
        part = Part(y, X)
    if groups is not None:
        values = np.asarray(groups).reshape(len(y), -1)
        if part.kept is not None and len(part.kept) != len(y):
            values = values[part.kept]
        part.groups, part.labels = coded_groups([values[:, j] for j in range(values.shape[1])])
    if weights is not None:
        w = np.asarray(weights, dtype=np.float64).reshape(len(y))
        if part.kept is not None and len(part.kept) != len(y):
            w = w[part.kept]
        part = weighted_part(part, w, checked)
    return part


def partition_weights(frame: pd.DataFrame, weights: Any, name: str) -> np.ndarray:
    """The weights of a partition's rows: a column of it (by name), or the
    partition's block of a Dask Series (paired by index, as in memory) or
    array (by position) given beside the data."""
    if isinstance(weights, str):
        values = frame[weights]
    elif isinstance(weights, pd.Series):
        if not weights.index.equals(frame.index):
            raise ValueError(f"{name} and the data have different indexes in a partition "
                             f"({len(weights)} and {len(frame)} rows): a Series of weights is "
                             "paired with the data's rows by index; give the data the weights "
                             "as a column (data.assign(w=...)) and their name")
        values = weights
    else:
        values = np.asarray(weights)
        if values.shape != (len(frame),):
            raise ValueError(f"{name} has a block of shape {values.shape} for a partition of "
                             f"{len(frame)} rows: an array of weights is paired with the data's "
                             "rows by position, so its blocks must be the data's partitions")
    if isinstance(values, pd.Series):
        check_weight_dtype(name, values.dtype)
        return values.to_numpy(dtype=np.float64, na_value=np.nan)
    return weight_values(name, values)


def part_from_frame(frame: pd.DataFrame, spec: Any, groups: Optional[list], missing: str,
                    context: dict, used: list, checked: bool = True, weights: Any = None,
                    weight_name: str = "weights", formula: str = "") -> Part:
    """A partition of a Dask DataFrame: its design from the one model spec
    (its text read as in memory, see `text_as_categories`), rows with a
    missing value in a used column dropped (missing="drop") or counted for
    refusal. `weights`, when given, is a column name or the partition's
    block of the weights (see `partition_weights`)."""
    w = None if weights is None else partition_weights(frame, weights, weight_name)
    extra = None
    if checked and missing != "drop":
        # every used column, in the data's order, so that the counts of all
        # parts merge into one order
        extra = {c: int(n) for c, n in frame[used].isna().sum().items()}
        if any(extra.values()):  # refused after this pass: only the counts are needed
            k = len(spec.rhs.column_names)
            checks = PartChecks(len(frame), len(frame), extra)
            empty = Part(np.empty(0), np.empty((0, k)), kept=np.empty(0, dtype=np.intp),
                         checks=checks)
            return empty if weights is None else weighted_part(empty, np.empty(0), checked)
    frame = frame.reset_index(drop=True)  # rows tracked by position
    readable = (text_as_categories(formula, frame.copy(deep=False)) if formula else
                plain_text(frame))
    design = spec.get_model_matrix(readable, context=context)
    y = design.lhs.to_numpy(dtype=np.float64)[:, 0]
    X, screened = design_rows(design.rhs)
    positions = np.asarray(design.rhs.index, dtype=np.intp)
    if checked:
        part = checked_part(y, X, str(design.lhs.columns[0]), list(design.rhs.columns), missing,
                            positions, len(frame), extra, screened)
    else:
        part = Part(y, X, kept=positions)
    if groups is not None:
        rows = frame.iloc[part.kept] if part.kept is not None else frame
        part.groups, part.labels = coded_groups([rows[c].to_numpy() for c in groups])
    if w is not None:
        part = weighted_part(part, w if part.kept is None else w[part.kept], checked)
    return part


# --- Passes ---------------------------------------------------------------------


class PassArguments:
    """A pass's arguments, opaque to Dask's graph (which would otherwise look
    into lists for keys)."""

    def __init__(self, values: tuple) -> None:
        self.values = values


def call_part(per_part: Callable, part: Part, arguments: PassArguments) -> Any:
    return per_part(part, *arguments.values)


class DaskPasses:
    """Runs one pass over the partitions and brings its summed result back:
    under Dask's threaded or synchronous scheduler on this process's threads
    (`_dask_threads`), else through the current client or scheduler.

    Through a scheduler, the graph of the partitions is built once; a pass
    adds its own tasks to it (one per partition, and the fixed tree of sums)
    under a name of its own, so that its cost is the kernels' and the
    scheduler's, not that of building a graph anew. `trusted`, when given, are the same partitions
    unchecked: once a first pass has checked every row and dropped none,
    the later passes read them without checking again."""

    def __init__(self, parts: list, trusted: Optional[list] = None) -> None:
        self.trusted = trusted
        self.nobs: Optional[int] = None  # counted by the first pass
        self.use(parts)

    def use(self, parts: list) -> None:
        self.parts = parts
        self.local = local_passes(parts)
        self.keys = [p.key for p in parts]
        if self.local is None:
            self.graph = dict(HighLevelGraph.merge(*[p.__dask_graph__() for p in parts]))

    def checked(self, checks: Optional[PartChecks]) -> None:
        if checks is not None and checks.dropped == 0 and self.trusted is not None:
            self.use(self.trusted)
            self.trusted = None

    def each(self, per_part: Callable, *args: Any) -> tuple[dict, list]:
        """The graph with the pass's task on every part, and their keys."""
        name = f"quillon-pass-{uuid.uuid4().hex}"
        graph = dict(self.graph)
        arguments = PassArguments(args)
        keys = []
        for i, part in enumerate(self.keys):
            graph[(name, 0, i)] = (call_part, per_part, part, arguments)
            keys.append((name, 0, i))
        return graph, keys

    def run(self, per_part: Callable, combine: Callable, *args: Any) -> Any:
        if self.local is not None:
            return add_pairs(self.map(per_part, *args), combine)
        graph, keys = self.each(per_part, *args)
        name = keys[0][0]

        def pair(a: Any, b: Any) -> Any:
            key = (name, 1, len(graph))
            graph[key] = (combine, a, b)
            return key

        (total,) = dask.compute(Delayed(add_pairs(keys, pair), graph), optimize_graph=False)
        return total

    def map(self, per_part: Callable, *args: Any) -> list:
        if self.local is not None:
            chains, threads = self.local
            return threads.map(lambda chain: per_part(chain.compute(), *args), chains)
        graph, keys = self.each(per_part, *args)
        return list(dask.compute(*[Delayed(key, graph) for key in keys], optimize_graph=False))


# --- The model's data on Dask -------------------------------------------------------


class DaskData:
    """A model's data as Dask collections: arrays (`from_arrays`) or a
    DataFrame and a formula (`from_formula`). The rows are counted and
    checked by the fit's first pass."""

    on_dask = True
    row_labels = None
    weights = None  # they stay in the partitions

    def __init__(self, missing: str, endog_name: str, exog_names: list[str], *,
                 unnamed: bool = False, frame: Any = None, endog: Any = None, exog: Any = None,
                 formula: Optional[str] = None, spec: Any = None,
                 context: Optional[dict] = None, used: Optional[list] = None) -> None:
        self.missing = missing
        self.endog_name = endog_name
        self.exog_names = exog_names
        self._unnamed = unnamed  # names to be given as statsmodels gives them
        self.frame = frame
        self.endog, self.exog = endog, exog
        self.formula = formula
        self._spec = spec
        self.model_spec = None if spec is None else spec.rhs
        self.context = context or {}
        self._used = used or []
        self._nobs: Optional[int] = None
        self.nobs_dropped = 0
        self.const_idx: list[int] = []
        # Row weights: with a formula, a column name of the data or the
        # weights' blocks, one per partition (see `weight_blocks`); without,
        # a Dask array or Series with exog's rows. The argument's name, their
        # kind; rows of zero weight.
        self._weights: Any = None
        self._weight_name = "weights"
        self.weight_kind: Optional[str] = None
        self.nobs_zero_weight = 0

    def use_weights(self, name: str, given: Any) -> None:
        """Weights for the rows, read by every part where it lies and
        checked by the fit's first pass."""
        if isinstance(given, str):
            if self.frame is None or given not in self.frame.columns:
                raise ValueError(f"{name}: {given!r} is not a column of the data")
            refuse_repeated_columns(name, self.frame.columns, [given])
            check_weight_dtype(name, self.frame[given].dtype)
            given = given if self.formula is not None else self.frame[given]
        elif not isinstance(given, (da.Array, dd.Series)):
            raise TypeError(f"{name} of Dask data must be a Dask array or Series, or a column "
                            f"name; got {type(given).__name__}")
        elif given.ndim != 1:
            raise ValueError(f"{name} must be one value per row, got {given.ndim} dimensions")
        else:
            check_weight_dtype(name, given.dtype)
        if not isinstance(given, str) and self.formula is not None:
            given = weight_blocks(self.frame, given, name)
        self._weights = given
        self._weight_name = name
        self.weight_kind = KINDS[name]

    @classmethod
    def from_arrays(cls, endog: Any, exog: Any, missing: str) -> DaskData:
        x, names = exog_array(exog)
        if isinstance(endog, da.Array):
            known_rows(endog, "endog")
        endog_name = (str(endog.name) if isinstance(endog, dd.Series) and endog.name is not None
                      else "y")
        return cls(missing, endog_name, names or array_names(x.shape[1], []),
                   unnamed=names is None, frame=exog if isinstance(exog, dd.DataFrame) else None,
                   endog=endog, exog=x)

    @classmethod
    def from_formula(cls, formula: str, frame: Any, missing: str, context: dict) -> DaskData:
        check_formula(formula)
        if not isinstance(frame, dd.DataFrame):
            raise TypeError(f"data on Dask must be a Dask DataFrame, got {type(frame).__name__}")
        used = used_columns(formula, frame)
        refuse_dates(formula, frame.dtypes)
        context = partition_context(context, frame)
        spec = model_spec(formula, frame, missing, context, used)
        endog_name = outcome_name(pd.DataFrame(columns=spec.lhs.column_names))
        return cls(missing, endog_name, [str(c) for c in spec.rhs.column_names], frame=frame,
                   formula=formula, spec=spec, context=context, used=used)

    # ---- what the first pass tells

    @property
    def nobs_known(self) -> bool:
        return self._nobs is not None

    @property
    def nobs(self) -> int:
        if self._nobs is None:
            raise ValueError("the number of observations is known once the model is fitted")
        return self._nobs

    def fit_options(self) -> dict:
        names = self.column_names if self._unnamed else None
        return {"describe": True, "weights": self.weight_kind, "names": names}

    def column_names(self, const_idx: list[int]) -> dict:
        """The names the parts counted unnamed columns under, mapped to the
        names they get once the constant among them is known."""
        return dict(zip(self.exog_names, array_names(len(self.exog_names), const_idx)))

    def described(self, fitted: driver.Fitted) -> None:
        """The counts and constant columns of the data, from the first fit
        over all of its rows; every later fit finds the same."""
        if self._nobs is not None:
            return
        self._nobs, self.nobs_dropped = fitted.rows, fitted.dropped
        self.nobs_zero_weight = fitted.zero_weight
        self.const_idx = list(fitted.const_idx or [])
        if self._unnamed:
            self.exog_names = array_names(len(self.exog_names), self.const_idx)

    def selection(self) -> Selection:
        """Every row of the data; read unchecked once a first pass found
        nothing to drop."""
        return Selection(checked=self._nobs is None or self.nobs_dropped > 0)

    # ---- passes

    def make_parts(self, groups: Any, checked: bool = True,
                   rows: Optional[Selection] = None) -> list:
        """The delayed parts of the data, with groups when given, less the
        rows that the separations of `rows` left out."""
        if self.formula is not None:
            frames = self.frame.to_delayed()
            weights = (self._weights if isinstance(self._weights, list) else
                       [self._weights] * len(frames))
            parts = [dask.delayed(part_from_frame, pure=True)(
                p, self._spec, groups, self.missing, self.context, self._used, checked, w,
                self._weight_name, self.formula)
                for p, w in zip(frames, weights)]
        else:
            parts = parts_from_arrays(self.endog, self.exog, groups, self.missing,
                                      self.endog_name, self.exog_names, checked, self._weights,
                                      self._weight_name)
        for found in () if rows is None else rows.separated:
            parts = [dask.delayed(driver.without_predicted, pure=True)(p, found.direction,
                                                                       found.rows_of)
                     for p in parts]
        return parts

    # Rows and columns beyond this many values are not brought to the client
    # for the exact test of separation.
    TEST_VALUES = 20_000_000

    def rows_for_test(self, passes: driver.Passes, kept: list[int], nobs: int) -> Optional[tuple]:
        if nobs * len(kept) > self.TEST_VALUES:
            return None
        rows = passes.map(driver.part_rows, np.asarray(kept, dtype=np.intp))
        return (np.concatenate([r[0] for r in rows]),
                np.concatenate([r[1] for r in rows]) if rows else np.empty((0, len(kept))))

    def without_rows(self, passes: driver.Passes, found: Any, groups: Any,
                     n_jobs: Optional[int]) -> tuple[DaskPasses, Selection]:
        """Passes over the parts less the rows that the separation `found`
        predicts perfectly, which their first pass counts again, and the
        selection of the rows left."""
        rows = Selection((found,), removed=found.predicted, checked=True)
        return self.passes_over(groups, rows), rows

    def fit_passes(self, groups: Any, n_jobs: Optional[int]) -> DaskPasses:
        return self.passes_over(groups, Selection())

    def passes_over(self, groups: Any, rows: Selection) -> DaskPasses:
        source = None if groups is None else self.group_source(groups)
        return DaskPasses(self.make_parts(source, True, rows),
                          self.make_parts(source, False, rows))

    def fitted_parts(self, record: FitRecord) -> list:
        """The parts a fit read: unchecked when its data dropped no row."""
        return self.make_parts(None, record.rows.checked, record.rows)

    def fitted_passes(self, record: FitRecord) -> DaskPasses:
        return DaskPasses(self.fitted_parts(record))

    def null_passes(self, record: FitRecord) -> DaskPasses:
        return DaskPasses([dask.delayed(driver.constant_part, pure=True)(p)
                           for p in self.fitted_parts(record)])

    def fitted_rows(self, record: FitRecord) -> None:
        """The rows stay in the partitions."""
        return None

    def group_source(self, groups: Any) -> Any:
        """What the parts read the groups from: column names of the data (one
        or two), or a Dask array or Series with exog's rows (one or two
        columns)."""
        names = [groups] if isinstance(groups, str) else groups
        if isinstance(names, (list, tuple)) and names and all(isinstance(g, str) for g in names):
            if len(names) > 2:
                raise ValueError(f"groups must be one or two columns, got {len(names)}: "
                                 f"{list(names)}")
            refuse_duplicates("groups", list(names))
            absent = [g for g in names if self.frame is None or g not in self.frame.columns]
            if absent:
                raise ValueError(f"groups {absent} are not columns of the data")
            refuse_repeated_columns("groups", self.frame.columns, names)
            if self.formula is not None:
                return list(names)
            return self.frame[list(names)]
        if self.formula is not None:
            raise ValueError("with a formula, give groups as column names of the data")
        if isinstance(groups, (list, tuple)) and len(groups) in (1, 2) and all(
                isinstance(g, (da.Array, dd.Series)) for g in groups):
            groups = stacked_columns(groups)
        if not isinstance(groups, (da.Array, dd.Series, dd.DataFrame)):
            raise TypeError("groups of a fit on Dask data must be a Dask array, Series or "
                            f"DataFrame, or column names; got {type(groups).__name__}")
        if groups.ndim == 2 and groups.shape[1] not in (1, 2):
            raise ValueError(f"groups must be one or two columns, got {groups.shape[1]}")
        return groups

    # ---- predictions

    def prediction_design(self, exog: Any, transform: bool, record: FitRecord) -> Any:
        """The design of new rows in memory (a pandas DataFrame or arrays);
        the fitted rows' design stays in the partitions."""
        if exog is None or on_dask_collection(exog):
            raise NotImplementedError("get_prediction needs the design in memory: on Dask data, "
                                      "give the rows to predict as a pandas DataFrame, or use "
                                      "predict() for the values alone")
        if self.formula is not None and transform:
            return formula_design(self._spec.rhs, exog, self.context)
        return regressor_design(exog, self.exog_names, from_frame=not self._unnamed)

    def predict(self, beta: np.ndarray, exog: Any, probability: bool, transform: bool,
                record: FitRecord) -> Any:
        """A Dask Series over the rows of the record's fit (exog None), or
        over every row of new data (NaN where a value is missing); a pandas
        Series for pandas data."""
        if exog is None:
            return self.fitted_predictions(beta, probability, record)
        if self.formula is not None and transform:
            spec, context = self._spec.rhs, self.context

            def on_frame(part: pd.DataFrame) -> pd.Series:
                part = plain_text(part, data_variables(spec))
                check_prediction_frame(spec, part, context)
                design = spec.get_model_matrix(part.reset_index(drop=True), context=context)
                rows = np.asarray(design.index, dtype=np.intp)
                values = driver.predict_part(Part(np.empty(0), design_rows(design)[0]), beta,
                                             probability)
                filled = np.full(len(part), np.nan)
                filled[rows] = values
                return pd.Series(filled, index=part.index, dtype=np.float64)

            if isinstance(exog, pd.DataFrame):
                return on_frame(exog)
            return exog.map_partitions(on_frame, meta=pd.Series([], dtype=np.float64))
        if isinstance(exog, (pd.DataFrame, pd.Series)):
            # rows in memory: read as memory reads them, a pandas Series back
            design, index, _ = regressor_design(exog, self.exog_names,
                                                from_frame=not self._unnamed)
            values = driver.predict_part(Part(np.empty(0), design), beta, probability)
            return pd.Series(values, index=index, dtype=np.float64)
        x = exog_array(exog)[0]
        if x.shape[1] != len(beta):
            raise ValueError(f"exog needs {len(beta)} columns, got {x.shape[1]}")

        def on_block(block: np.ndarray) -> np.ndarray:
            return driver.predict_part(Part(np.empty(0), np.asarray(block, dtype=np.float64)),
                                       beta, probability)

        return dd.from_dask_array(x.map_blocks(on_block, drop_axis=1, dtype=np.float64))

    def fitted_predictions(self, beta: np.ndarray, probability: bool,
                           record: FitRecord) -> Any:
        """A Dask Series over the rows the record's fit read (as the fit read
        them, in its parts), labelled as in the data: by its index, or for
        arrays by position."""
        meta = pd.Series([], dtype=np.float64)
        if self.formula is not None:
            rows: list = list(self.frame.to_delayed())
            divisions = self.frame.divisions if self.frame.known_divisions else None
        else:
            ends = np.cumsum(self.exog.chunks[0])
            rows = [int(end - length) for end, length in zip(ends, self.exog.chunks[0])]
            divisions = tuple(rows) + (max(int(ends[-1]) - 1, 0),)
        series = [dask.delayed(fitted_series, pure=True)(part, at, beta, probability)
                  for part, at in zip(self.fitted_parts(record), rows)]
        return dd.from_delayed(series, meta=meta, divisions=divisions, verify_meta=False)


def fitted_series(part: Part, rows: Any, beta: np.ndarray, probability: bool) -> pd.Series:
    """A part's predictions labelled by its rows: `rows` is the partition
    it was built from (its index labels them) or, for arrays, the position
    of its block's first row."""
    at = np.arange(len(part.exog)) if part.kept is None else part.kept
    index = rows.index[at] if isinstance(rows, pd.DataFrame) else pd.Index(rows + at)
    return pd.Series(driver.predict_part(part, beta, probability), index=index, dtype=np.float64)


def on_dask_collection(value: Any) -> bool:
    return isinstance(value, (da.Array, dd.DataFrame, dd.Series))


# --- Parts from Dask collections ---------------------------------------------------


def row_blocks(values: Any, rows: tuple, name: str = "endog") -> list:
    """The delayed row blocks of a Dask array (or Series), in the row chunks
    `rows`, each a NumPy array."""
    array = series_array(values) if hasattr(values, "to_dask_array") else (
        known_rows(da.asarray(values), name))
    if array.shape[0] != sum(rows):
        raise ValueError(f"{name} has {array.shape[0]} rows and exog {sum(rows)}")
    if array.ndim == 2:
        return list(array.rechunk((rows, -1)).to_delayed()[:, 0])
    return list(array.rechunk((rows,)).to_delayed())


def known_rows(array: da.Array, name: str) -> da.Array:
    """The array, refused when the lengths of its blocks are unknown (as
    after a selection by a mask): its rows could not be paired."""
    if array.ndim and any(np.isnan(n) for n in array.chunks[0]):
        raise ValueError(f"{name} has blocks of unknown length (as after selecting rows by a "
                         f"mask), so its rows cannot be paired with the others'; compute them "
                         f"first: {name} = {name}.compute_chunk_sizes()")
    return array


def series_array(values: Any) -> da.Array:
    """A Dask Series or DataFrame as a Dask array of known row blocks; the
    values of pandas' own types (strings) as objects, which is what the
    parts read, without Dask's warning that it makes them so."""
    with warnings.catch_warnings():
        warnings.filterwarnings("ignore", ".*extension dtypes to arrays", UserWarning)
        return values.to_dask_array(lengths=True)


def stacked_columns(columns: Sequence) -> da.Array:
    """One or two columns of group labels (Dask arrays or Series, given as
    a list: statsmodels' two-way form) as one n x m Dask array."""
    arrays = [series_array(c) if isinstance(c, dd.Series) else known_rows(c, "groups")
              for c in columns]
    if any(a.ndim != 1 for a in arrays):
        raise ValueError("groups given as a list must be one or two one-dimensional columns, "
                         f"got shapes {[a.shape for a in arrays]}")
    if len({a.shape[0] for a in arrays}) > 1:
        raise ValueError(f"the columns of groups differ in length: "
                         f"{' and '.join(str(a.shape[0]) for a in arrays)}")
    return da.stack([a.rechunk(arrays[0].chunks) for a in arrays], axis=1)


def exog_array(exog: Any) -> tuple:
    """exog as a Dask array with one column block, and its column names."""
    names = None
    if isinstance(exog, dd.DataFrame):
        names = [str(c) for c in exog.columns]
        refuse_duplicates("exog", names)
        bad = [(str(c), t) for c, t in exog.dtypes.items()
               if isinstance(t, pd.CategoricalDtype) or not (
                   pd.api.types.is_numeric_dtype(t) or pd.api.types.is_bool_dtype(t))]
        if bad:
            raise ValueError(f"exog column {bad[0][0]!r} {dtype_text(bad[0][1])}: regressors "
                             "must be numbers (use a formula with C() for categories)")
        exog = exog.to_dask_array(lengths=True)
    else:
        exog = known_rows(da.asarray(exog), "exog")
    if exog.ndim == 1:
        exog = exog[:, None]
    if exog.ndim != 2:
        raise ValueError(f"exog must be two-dimensional, got shape {exog.shape}")
    return exog.rechunk({1: -1}), names


def parts_from_arrays(endog: Any, exog: Any, groups: Any, missing: str, endog_name: str,
                      names: list, checked: bool = True, weights: Any = None,
                      weight_name: str = "weights") -> list:
    """One delayed Part per row block of exog; endog, groups and weights
    follow its row blocks."""
    rows = exog.chunks[0]
    y_blocks = row_blocks(endog, rows)
    g_blocks = [None] * len(y_blocks) if groups is None else row_blocks(groups, rows, "groups")
    w_blocks = ([None] * len(y_blocks) if weights is None else
                row_blocks(weights, rows, weight_name))
    return [dask.delayed(part_from_arrays, pure=True)(y, x, g, missing, endog_name, names,
                                                      checked, w)
            for y, x, g, w in zip(y_blocks, exog.to_delayed()[:, 0], g_blocks, w_blocks)]


def weight_blocks(frame: Any, given: Any, name: str) -> list:
    """Weights given beside a Dask DataFrame as one delayed block per
    partition of it: a Series's partitions (paired with the data's rows by
    index), an array's blocks (by position), rechunked to the partitions'
    lengths when they are other blocks. Each part checks that its block
    pairs with its rows."""
    parts = frame.npartitions
    if isinstance(given, dd.Series):
        known = frame.known_divisions and given.known_divisions
        if known and (given.divisions[0], given.divisions[-1]) != (frame.divisions[0],
                                                                   frame.divisions[-1]):
            raise ValueError(f"data and {name} have different indexes (from {frame.divisions[0]}"
                             f" to {frame.divisions[-1]}, and from {given.divisions[0]} to "
                             f"{given.divisions[-1]}): a Series of weights is paired with the "
                             "data's rows by index; align them (or pass arrays) first")
        if given.npartitions != parts and not known:
            raise ValueError(
                f"{name} has {given.npartitions} partitions and the data {parts}, and the "
                "divisions of their indexes are not both known, so their rows cannot be "
                "paired by index; give the weights the data's partitions, or give the data "
                "the weights as a column and their name")
        if known and given.divisions != frame.divisions:
            given = given.repartition(divisions=frame.divisions, force=True)
        return list(given.to_delayed())
    if np.isnan(given.shape[0]):
        if given.numblocks[0] != parts:
            raise ValueError(f"{name} has {given.numblocks[0]} blocks of unknown length and "
                             f"the data {parts} partitions, so their rows cannot be paired; "
                             "give the weights the data's partitions")
        return list(given.to_delayed())  # each part checks its block's length
    lengths = tuple(int(n) for n in frame.map_partitions(len).compute())
    if given.shape[0] != sum(lengths):
        raise ValueError(f"{name} has {given.shape[0]} rows and the data {sum(lengths)}")
    if tuple(given.chunks[0]) != lengths:
        given = given.rechunk((lengths,))
    return list(given.to_delayed())


# --- The formula's spec -----------------------------------------------------------------


def partition_context(context: dict, frame: Any) -> dict:
    """The formula's names from the caller that every partition needs: a
    column of the data hides a name of the caller's, which is left out; a
    Dask collection is refused, as a partition cannot read one."""
    out = {name: value for name, value in context.items() if name not in frame.columns}
    lazy = [name for name, value in out.items() if dask.is_dask_collection(value)]
    if lazy:
        raise ValueError(f"the formula's {', '.join(map(repr, lazy))} are Dask collections of "
                         "the caller's, which the partitions cannot read: compute them first "
                         "(.compute()), or make them columns of the data")
    return formula_context(out)


def used_columns(formula: str, frame: Any) -> list:
    """The columns of the data that the formula names."""
    return formula_columns(formula, frame.columns)


def partition_uniques(part: pd.DataFrame, columns: Sequence[str],
                      categories: Sequence[str] = ()) -> dict:
    """The distinct values of the columns in a partition; of the columns in
    `categories` (categoricals whose categories Dask does not know), the
    partition's categories, used or not, with whether the partitions agree
    on them (so far: True)."""
    out: dict = {c: pd.unique(part[c].dropna()) for c in columns if c not in categories}
    for c in categories:
        dtype = part[c].dtype
        out[c] = ((dtype.categories.to_numpy(), True) if isinstance(dtype, pd.CategoricalDtype)
                  else (pd.unique(part[c].dropna()), False))
    return out


def merge_uniques(a: dict, b: dict) -> dict:
    out: dict = {}
    for c in a:
        if isinstance(a[c], tuple):  # categories, and whether they agree
            (first, same), (second, also) = a[c], b[c]
            out[c] = (union(first, second),
                      same and also and list(first) == list(second))
        else:
            out[c] = union(a[c], b[c])
    return out


def union(a: Any, b: Any) -> np.ndarray:
    """The values of a, then those of b not in a."""
    return pd.unique(np.concatenate([np.asarray(a, dtype=object), np.asarray(b, dtype=object)]))


def distinct_values(frame: Any, columns: Sequence[str], categories: Sequence[str] = ()) -> dict:
    """The distinct values of the columns over all partitions (see
    `partition_uniques`): each partition's own, merged in the partitions'
    order along the fixed tree on the client's side (no shuffle)."""
    if not columns:
        return {}
    parts = [dask.delayed(partition_uniques, pure=True)(p, list(columns), list(categories))
             for p in frame.to_delayed()]
    (merged,) = dask.compute(add_pairs(parts, lambda a, b: dask.delayed(merge_uniques)(a, b)))
    return merged


def categorical_columns(frame: Any, used: Sequence[str], factors: Sequence[str]) -> list:
    """The used columns the formula encodes as categories: text, category and
    bool columns, and any column named inside a categorical factor."""
    out = []
    for c in used:
        dtype = frame.dtypes[c]
        textual = not (pd.api.types.is_numeric_dtype(dtype) or pd.api.types.is_bool_dtype(dtype))
        if (isinstance(dtype, pd.CategoricalDtype) or textual or pd.api.types.is_bool_dtype(dtype)
                or any(mentions(f, c) for f in factors)):
            out.append(c)
    return out


def unknown_categories(dtype: Any) -> bool:
    return isinstance(dtype, pd.CategoricalDtype) and (
        dtype.categories is None or "__UNKNOWN_CATEGORIES__" in list(dtype.categories))


def level_values(dtype: Any, found: Any) -> list:
    """A column's levels as formulaic sees them in memory: a categorical's
    own categories when Dask knows them, or when every partition has the
    same (an unknown categorical's, in their order, used or not); else
    the values found (or the partitions' categories), sorted, as pandas
    makes a categorical of the whole column. The levels never depend on how
    the rows are partitioned."""
    if isinstance(dtype, pd.CategoricalDtype) and not unknown_categories(dtype):
        return list(dtype.categories)
    if isinstance(found, tuple):
        found, same = found
        if same:
            return list(found)
    values = list(found)
    try:
        return sorted(values)
    except TypeError:
        return sorted(values, key=str)


def model_spec(formula: str, frame: Any, missing: str, context: dict, used: list) -> Any:
    """One formulaic model spec for every partition, built on a small frame
    that holds every level of every column the formula encodes as
    categories, found by a first pass over the data."""
    formulaic = import_formulaic()
    probe = formulaic.model_matrix(formula, plain_text(frame._meta_nonempty), na_action="ignore",
                                   context=context)
    factors = [name for spec in (probe.model_spec.lhs, probe.model_spec.rhs)
               for name, (kind, _) in spec.encoder_state.items()
               if getattr(kind, "value", kind) == "categorical"]
    categorical = categorical_columns(frame, used, factors)
    outcome = formula_columns(formula.split("~", 1)[0], frame.columns)
    found = distinct_values(frame, sorted(set(categorical) | set(outcome)),
                            [c for c in categorical if c not in outcome and
                             unknown_categories(frame.dtypes[c])])
    check_outcome_columns(formula, frame.dtypes, lambda c: found[c])
    levels = {c: level_values(frame.dtypes[c], found[c]) for c in categorical}
    rows = max([len(v) for v in levels.values()] + [2])
    prototype = {}
    for c in used:
        dtype = frame.dtypes[c]
        if c in levels:
            values = levels[c] or [None]
            column = [values[i % len(values)] for i in range(rows)]
            if isinstance(dtype, pd.CategoricalDtype):
                prototype[c] = pd.Series(pd.Categorical(column, categories=levels[c],
                                                        ordered=bool(dtype.ordered)))
            elif text_dtype(dtype):
                prototype[c] = pd.Series(column, dtype=object)  # as partitions are read
            else:
                prototype[c] = pd.Series(column).astype(dtype)
        else:
            prototype[c] = pd.Series(np.arange(rows) % 2).astype(dtype)
    na_action = "drop" if missing == "drop" else "ignore"
    specs = listed_levels_only(lambda: formulaic.model_matrix(
        formula, pd.DataFrame(prototype), na_action=na_action, context=context),
        pd.DataFrame(prototype)).model_spec
    learned = sorted(specs.lhs.transform_state) + sorted(specs.rhs.transform_state)
    if learned:
        raise NotImplementedError(f"{', '.join(learned)}: transforms that learn from the data "
                                  "(center, scale, ...) are not available on Dask data; "
                                  "compute the column first")
    return specs
