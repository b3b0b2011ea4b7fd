"""Probit fits on Dask collections: the data stay in their partitions, and
only k-sized and k x k-sized sums (and the per-cluster sums) reach the client.

Every sum over rows is formed by the partition kernels of
``quillon_models._partition``, the engine's own sweeps run on one partition
without the interpreter lock; the Newton iteration, the covariances and the
marginal-effects table are the engine's own steps over the summed parts.
Partition sums are added in partition order along a fixed tree, so a given
partitioning gives the same bits whichever scheduler runs it and in
whichever order its tasks finish.

Dask is imported here only, when a fit is given Dask collections.
"""

from __future__ import annotations

import re

from dataclasses import dataclass
from typing import Any, Callable, Optional, Sequence

import numpy as np

from quillon_models import _partition as kernels
from quillon_models.covariance import CovarianceChoice, cluster_factor, hc1_factor
from quillon_models.design import check_outcome, finite_rows, import_formulaic

import dask
import dask.array as da
import dask.dataframe as dd


# --- One partition ---------------------------------------------------------


@dataclass
class Part:
    """One partition's rows as the kernels read them, missing rows dropped."""

    endog: np.ndarray  # (n,) float64
    exog: np.ndarray  # (n, k) float64
    groups: Optional[np.ndarray] = None  # (n, m) float64 group codes, one column per way
    labels: Optional[list] = None  # per way, the group label of each code
    dropped: int = 0


def _float64(values: Any) -> np.ndarray:
    """float64 values in their own layout: the kernels read any strides in
    place, so only another element type is copied."""
    return np.asarray(values, dtype=np.float64)


def coded_groups(columns: list) -> tuple[np.ndarray, list]:
    """Each column of group labels as codes in order of first appearance
    (an n x m float64 array), and each column's labels; a missing label is
    refused, as in memory."""
    import pandas as pd

    codes = np.empty((len(columns[0]), len(columns)))
    labels = []
    for j, column in enumerate(columns):
        column_codes, uniques = pd.factorize(pd.Series(column), sort=False)
        missing = int((column_codes < 0).sum())
        if missing:
            raise ValueError(f"groups column {j} has {missing} missing values")
        codes[:, j] = column_codes
        labels.append(np.asarray(uniques, dtype=object))
    return codes, labels


def part_from_arrays(endog: Any, exog: Any, groups: Any, missing: str, endog_name: str,
                     names: list, checked: bool = True) -> Part:
    """A partition of Dask arrays: rows with NaN or inf in the outcome or a
    regressor dropped (missing="drop") or refused, as in memory. Unchecked
    (`checked` false), the rows are taken as they are: for the passes after
    a first one has checked every partition and dropped no row."""
    y = np.asarray(endog, dtype=np.float64).reshape(len(endog))
    X = np.asarray(exog, dtype=np.float64)
    complete = finite_rows(y, X, endog_name, names, missing) if checked else None
    dropped = 0
    if complete is not None:
        dropped = int(len(y) - complete.sum())
        y, X = y[complete], X[complete]
        groups = None if groups is None else np.asarray(groups)[complete]
    if checked:
        check_outcome(y, endog_name)
    g = labels = None
    if groups is not None:
        values = np.asarray(groups).reshape(len(y), -1)
        g, labels = coded_groups([values[:, j] for j in range(values.shape[1])])
    return Part(_float64(y), _float64(X), g, labels, dropped)


def part_from_frame(frame: Any, spec: Any, groups: Optional[list], missing: str,
                    checked: bool = True) -> Part:
    """A partition of a Dask DataFrame: its design from the one model spec,
    rows with a missing value in a used column dropped (missing="drop");
    `checked` as for part_from_arrays."""
    design = spec.get_model_matrix(frame)
    y = design.lhs.to_numpy(dtype=np.float64)[:, 0]
    X = design.rhs.to_numpy(dtype=np.float64)
    name = str(design.lhs.columns[0])
    complete = finite_rows(y, X, name, list(design.rhs.columns), missing) if checked else None
    kept = design.rhs.index
    if complete is not None:
        y, X, kept = y[complete], X[complete], kept[complete]
    if checked:
        check_outcome(y, name)
    g = labels = None
    if groups is not None:
        g, labels = coded_groups([frame[c].loc[kept].to_numpy() for c in groups])
    return Part(_float64(y), _float64(X), g, labels, len(frame) - len(y))


def constant_part(part: Part) -> Part:
    """The intercept-only model on the same rows."""
    return Part(part.endog, np.ones((len(part.endog), 1)), None, None, part.dropped)


# --- The sums of one pass over the partitions --------------------------------


@dataclass
class Evaluation:
    loglike: float
    score: np.ndarray
    hessian: np.ndarray
    nobs: int
    dropped: int
    # The first row, and which columns repeat it on every row; None for a
    # part without rows.
    first_row: Optional[np.ndarray] = None
    constant: Optional[np.ndarray] = None


def evaluate_part(part: Part, beta: np.ndarray, describe: bool = False) -> Evaluation:
    """The part's sums at beta; with `describe`, also its constant columns."""
    loglike, score, hessian = kernels.evaluate(part.endog, part.exog, beta)
    first = constant = None
    if describe and len(part.endog):
        first = part.exog[0]
        constant = np.ones(part.exog.shape[1], dtype=bool)
        for start in range(0, len(part.endog), 1 << 14):  # small temporaries
            live = np.flatnonzero(constant)  # only the columns still constant
            if live.size == 0:
                break
            block = part.exog[start:start + (1 << 14), live]
            constant[live] = (block == first[live]).all(axis=0)
    return Evaluation(loglike, score, hessian, len(part.endog), part.dropped, first, constant)


def add_evaluations(a: Evaluation, b: Evaluation) -> Evaluation:
    first, constant = a.first_row, a.constant
    if first is None:
        first, constant = b.first_row, b.constant
    elif b.first_row is not None and b.constant is not None and constant is not None:
        constant = constant & b.constant & (first == b.first_row)
    return Evaluation(a.loglike + b.loglike, a.score + b.score, a.hessian + b.hessian,
                      a.nobs + b.nobs, a.dropped + b.dropped, first, constant)


def score_product_part(part: Part, beta: np.ndarray) -> np.ndarray:
    return kernels.score_cross_product(part.endog, part.exog, beta)


def add_arrays(a: np.ndarray, b: np.ndarray) -> np.ndarray:
    return a + b


@dataclass
class ClusterSums:
    keys: list  # cluster keys (key text, or group labels), first seen first
    sums: np.ndarray  # one row of score sums per key


def cluster_part(part: Part, beta: np.ndarray) -> list:
    """The part's per-cluster sums for each way of clustering (and, for two,
    for their intersection), keyed by group labels: the kernel's keys are the
    codes' text, "3.0000" or "3.0000|1.0000"."""
    assert part.groups is not None and part.labels is not None
    ways = [[j] for j in range(part.groups.shape[1])]
    if len(ways) == 2:
        ways.append([0, 1])
    out = []
    for way in ways:
        keys, sums = kernels.cluster_sums(part.endog, part.exog, beta,
                                          np.ascontiguousarray(part.groups[:, way]))
        labels = [tuple(part.labels[j][int(float(code))] for j, code in zip(way, key.split("|")))
                  for key in keys]
        out.append(ClusterSums(labels, sums))
    return out


def merge_cluster_ways(a: list, b: list) -> list:
    return [merge_clusters(x, y) for x, y in zip(a, b)]


def merge_clusters(a: ClusterSums, b: ClusterSums) -> ClusterSums:
    """b's sums added to a's by key; keys new to a follow a's, in b's order."""
    at = {key: i for i, key in enumerate(a.keys)}
    sums = a.sums.copy()
    new = []
    for j, key in enumerate(b.keys):
        i = at.get(key)
        if i is None:
            new.append(j)
        else:
            sums[i] = a.sums[i] + b.sums[j]
    return ClusterSums(a.keys + [b.keys[j] for j in new], np.concatenate([sums, b.sums[new]]))


def binary_part(part: Part) -> list:
    return kernels.binary_columns(part.exog)


def both_binary(a: list, b: list) -> list:
    return [x and y for x, y in zip(a, b)]


def effects_part(part: Part, beta: np.ndarray, names: list, binary: list) -> tuple:
    return kernels.effect_sums(part.exog, beta, names, binary)


def add_effects(a: tuple, b: tuple) -> tuple:
    return (a[0] + b[0], a[1] + b[1])


def fixed_tree(items: list, combine: Callable) -> Any:
    """Adjacent pairs combined level by level, left before right: a tree
    fixed by the number of partitions alone."""
    level = list(items)
    while len(level) > 1:
        paired = [dask.delayed(combine, pure=True)(level[i], level[i + 1])
                  for i in range(0, len(level) - 1, 2)]
        if len(level) % 2:
            paired.append(level[-1])
        level = paired
    return level[0]


# --- The fit -------------------------------------------------------------------


@dataclass(frozen=True)
class DaskEngineFit:
    params: np.ndarray
    cov_params: np.ndarray
    llf: float
    converged: bool
    iterations: int
    nobs: int
    dropped: int
    const_idx: list
    n_groups: Optional[tuple] = None


class Passes:
    """Runs one pass over the partitions and brings its summed result back:
    on the current Dask client, else on Dask's default scheduler, unless
    compute options (scheduler=...) say otherwise.

    `trusted`, when given, are the same partitions unchecked: once a first
    pass has checked every row and dropped none, the later passes read them
    without checking the outcome and the finiteness of every value again."""

    def __init__(self, parts: list, compute_kwargs: dict, trusted: Optional[list] = None):
        self.parts = parts
        self.trusted = trusted
        self.compute_kwargs = compute_kwargs

    def checked(self, dropped: int) -> None:
        """The first pass has checked the partitions and dropped `dropped` rows."""
        if dropped == 0 and self.trusted is not None:
            self.parts = self.trusted

    def run(self, per_part: Callable, combine: Callable, *args: Any) -> Any:
        sums = [dask.delayed(per_part, pure=True)(part, *args) for part in self.parts]
        (total,) = dask.compute(fixed_tree(sums, combine), **self.compute_kwargs)
        return total


def newton(passes: Passes, k: int, maxiter: Optional[int], tol: Optional[float]) -> tuple:
    """The engine's iteration, one pass over the data per point; also the
    sums of the first pass (counts and constant columns)."""
    first: list = []

    def evaluate(beta: np.ndarray) -> tuple:
        total = passes.run(evaluate_part, add_evaluations, beta, not first)
        if not first:
            first.append(total)
            if total.nobs == 0:
                raise ValueError("no observations left: every row has a missing value")
            passes.checked(total.dropped)
        return total.loglike, total.score, total.hessian

    params, llf, iterations, converged, hessian = kernels.newton(evaluate, k, maxiter, tol)
    return params, llf, int(iterations), bool(converged), hessian, first[0]


def fit_parts(parts: list, k: int, choice: CovarianceChoice, maxiter: Optional[int],
              tol: Optional[float], compute_kwargs: dict,
              trusted: Optional[list] = None) -> DaskEngineFit:
    passes = Passes(parts, compute_kwargs, trusted)
    params, llf, iterations, converged, hessian, first = newton(passes, k, maxiter, tol)
    middle = None
    if choice.cov_type in ("HC0", "HC1"):
        middle = passes.run(score_product_part, add_arrays, params)
    cov, usable = kernels.covariance(hessian, params, middle)
    if choice.cov_type == "HC1":
        cov = cov * hc1_factor(first.nobs, k)
    n_groups = None
    if choice.cov_type == "cluster":
        ways = passes.run(cluster_part, merge_cluster_ways, params)
        covs = [clustered_covariance(hessian, params, way.sums, len(way.keys), first.nobs,
                                     choice.use_correction) for way in ways]
        # Two ways as statsmodels combines them: each way's covariance plus
        # the other's, less that of their intersection.
        cov = covs[0] if len(covs) == 1 else covs[0] + covs[1] - covs[2]
        n_groups = tuple(len(way.keys) for way in ways[:2])
    const_idx = [] if first.constant is None else [
        int(j) for j in np.flatnonzero(first.constant & (first.first_row != 0))]
    return DaskEngineFit(params, cov, llf, converged and usable, iterations, first.nobs,
                         first.dropped, const_idx, n_groups)


def clustered_covariance(hessian: np.ndarray, params: np.ndarray, sums: np.ndarray,
                         n_groups: int, nobs: int, use_correction: bool) -> np.ndarray:
    """The engine's cluster-robust sandwich, with statsmodels' correction."""
    cov = kernels.covariance(hessian, params, kernels.cluster_cross_product(sums))[0]
    return cov * cluster_factor(n_groups, nobs, len(params)) if use_correction else cov


def null_loglike(parts: list, compute_kwargs: dict) -> float:
    """The log-likelihood of the intercept-only model on the same rows."""
    null_parts = [dask.delayed(constant_part, pure=True)(p) for p in parts]
    return float(newton(Passes(null_parts, compute_kwargs), 1, None, None)[1])


def ame_table(parts: list, params: np.ndarray, cov: np.ndarray, names: list, nobs: int,
              compute_kwargs: dict) -> Any:
    """The engine's marginal-effects table: a pass for the 0/1 columns, then
    one for the effect sums."""
    passes = Passes(parts, compute_kwargs)
    binary = passes.run(binary_part, both_binary)
    effects, jacobian = passes.run(effects_part, add_effects, params, list(names), binary)
    return kernels.ame_table(effects, jacobian, nobs, cov, list(names))


# --- Parts from Dask collections ---------------------------------------------------


def row_blocks(values: Any, rows: tuple) -> list:
    """The delayed row blocks of a Dask array (or Series), in the row chunks
    `rows`, each a NumPy array."""
    array = values.to_dask_array(lengths=True) if hasattr(values, "to_dask_array") else (
        da.asarray(values))
    if array.shape[0] != sum(rows):
        raise ValueError(f"endog has {array.shape[0]} rows and exog {sum(rows)}")
    if array.ndim == 2:
        return list(array.rechunk((rows, -1)).to_delayed()[:, 0])
    return list(array.rechunk((rows,)).to_delayed())


def exog_array(exog: Any) -> tuple:
    """exog as a Dask array with one column block, and its column names."""
    if isinstance(exog, dd.DataFrame):
        names = [str(c) for c in exog.columns]
        exog = exog.to_dask_array(lengths=True)
    else:
        exog = da.asarray(exog)
        names = None
    if exog.ndim == 1:
        exog = exog[:, None]
    if exog.ndim != 2:
        raise ValueError(f"exog must be two-dimensional, got shape {exog.shape}")
    return exog.rechunk({1: -1}), names


def parts_from_arrays(endog: Any, exog: Any, groups: Any, missing: str, endog_name: str,
                      names: list, checked: bool = True) -> list:
    """One delayed Part per row block of exog; endog and groups follow its
    row blocks."""
    rows = exog.chunks[0]
    y_blocks = row_blocks(endog, rows)
    g_blocks = [None] * len(y_blocks) if groups is None else row_blocks(groups, rows)
    return [dask.delayed(part_from_arrays, pure=True)(y, x, g, missing, endog_name, names,
                                                      checked)
            for y, x, g in zip(y_blocks, exog.to_delayed()[:, 0], g_blocks)]


def mentions(text: str, name: str) -> bool:
    """Whether `name` appears in `text` as a whole identifier."""
    return re.search(rf"(?<![\w.]){re.escape(name)}(?!\w)", text) is not None


def used_columns(formula: str, frame: Any) -> list:
    """The columns of the data that the formula names (formulaic's own list
    leaves out the arguments of some transforms)."""
    named = import_formulaic().Formula(formula).required_variables
    return [str(c) for c in frame.columns if c in named or mentions(formula, str(c))]


def categorical_columns(formula: str, frame: Any, used: Sequence[str]) -> list:
    """The columns that the formula encodes as categories (text, category or
    bool columns, and numbers inside C()), told from a model built on Dask's
    two-row stand-in of the data."""
    formulaic = import_formulaic()
    probe = formulaic.model_matrix(formula, frame._meta_nonempty, na_action="ignore")
    factors = [name for spec in (probe.model_spec.lhs, probe.model_spec.rhs)
               for name, (kind, _) in spec.encoder_state.items()
               if getattr(kind, "value", kind) == "categorical"]
    return [c for c in used if any(mentions(f, c) for f in factors)]


def category_levels(frame: Any, columns: Sequence[str], compute_kwargs: dict) -> dict:
    """The distinct values of the columns over all partitions (a first pass)."""
    import pandas as pd

    if not columns:
        return {}
    uniques = dask.compute(*[frame[c].dropna().unique() for c in columns], **compute_kwargs)
    return {c: pd.unique(np.asarray(u)) for c, u in zip(columns, uniques)}


def model_spec(formula: str, frame: Any, missing: str, compute_kwargs: dict) -> Any:
    """One formulaic model spec for every partition, built on a small frame
    that holds every level of every column the formula encodes as
    categories, found by a first pass over the data."""
    import pandas as pd

    formulaic = import_formulaic()
    used = used_columns(formula, frame)
    levels = category_levels(frame, categorical_columns(formula, frame, used), compute_kwargs)
    rows = max([len(v) for v in levels.values()] + [2])
    prototype = {}
    for c in used:
        dtype = frame.dtypes[c]
        if c in levels:
            values = list(levels[c]) or [None]
            prototype[c] = pd.Series([values[i % len(values)] for i in range(rows)])
            if isinstance(dtype, pd.CategoricalDtype) or pd.api.types.is_numeric_dtype(dtype):
                prototype[c] = prototype[c].astype(dtype)
        else:
            prototype[c] = pd.Series(np.arange(rows) % 2).astype(dtype)
    na_action = {"drop": "drop", "raise": "raise", "none": "ignore"}[missing]
    specs = formulaic.model_matrix(formula, pd.DataFrame(prototype),
                                   na_action=na_action).model_spec
    learned = sorted(specs.lhs.transform_state) + sorted(specs.rhs.transform_state)
    if learned:
        raise NotImplementedError(f"{', '.join(learned)}: transforms that learn from the data "
                                  "(center, scale, ...) are not available on Dask data; "
                                  "compute the column first")
    return specs


def parts_from_frame(spec: Any, frame: Any, groups: Optional[list], missing: str,
                     checked: bool = True) -> list:
    return [dask.delayed(part_from_frame, pure=True)(p, spec, groups, missing, checked)
            for p in frame.to_delayed()]
