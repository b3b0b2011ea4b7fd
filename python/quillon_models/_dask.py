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

from dataclasses import dataclass, field
from typing import Any, Callable, Optional, Sequence

import numpy as np

from quillon_models import _partition as kernels

import dask
import dask.array as da
import dask.dataframe as dd

COV_TYPES = ("nonrobust", "HC0", "HC1", "cluster")


# --- One partition ---------------------------------------------------------


@dataclass
class Part:
    """One partition's rows as the kernels read them, missing rows dropped."""

    endog: np.ndarray  # (n,) float64
    exog: np.ndarray  # (n, k) float64
    groups: Optional[np.ndarray] = None  # (n, c) float64 cluster values
    labels: Optional[np.ndarray] = None  # group label of each code, when coded
    dropped: int = 0


def _float_rows(values: Any) -> np.ndarray:
    return np.ascontiguousarray(np.asarray(values, dtype=np.float64))


def _coded_groups(groups: Any) -> tuple[np.ndarray, np.ndarray]:
    """Group labels as codes in order of first appearance, and the labels."""
    import pandas as pd

    codes, labels = pd.factorize(pd.Series(groups), sort=False)
    return codes.astype(np.float64)[:, None], np.asarray(labels, dtype=object)


def _check_outcome(endog: np.ndarray) -> None:
    if not np.all((endog == 0.0) | (endog == 1.0)):
        raise ValueError("endog must hold only 0 and 1 (after dropping missing rows)")


def part_from_arrays(endog: np.ndarray, exog: np.ndarray, groups: Optional[np.ndarray]) -> Part:
    """A partition of Dask arrays: rows with a NaN in the outcome, a regressor
    or a cluster value are dropped."""
    y = np.asarray(endog, dtype=np.float64).reshape(len(endog))
    X = np.asarray(exog, dtype=np.float64)
    g = None if groups is None else np.asarray(groups, dtype=np.float64).reshape(len(y), -1)
    keep = ~np.isnan(y) & ~np.isnan(X).any(axis=1)
    if g is not None:
        keep &= ~np.isnan(g).any(axis=1)
    dropped = int(len(y) - keep.sum())
    if dropped:
        y, X = y[keep], X[keep]
        g = None if g is None else g[keep]
    _check_outcome(y)
    return Part(_float_rows(y), _float_rows(X), None if g is None else _float_rows(g), None,
                dropped)


def part_from_frame(frame: Any, spec: Any, groups: Optional[str]) -> Part:
    """A partition of a Dask DataFrame: its design from the one model spec,
    rows with a missing value in a used column or in the groups dropped."""
    rows = len(frame)
    if groups is not None:
        frame = frame[frame[groups].notna()]
    design = spec.get_model_matrix(frame)
    y = _float_rows(design.lhs.to_numpy()[:, 0])
    X = _float_rows(design.rhs.to_numpy())
    g = labels = None
    if groups is not None:
        g, labels = _coded_groups(frame[groups].loc[design.rhs.index].to_numpy())
    _check_outcome(y)
    return Part(y, X, g, labels, rows - len(y))


# --- The sums of one pass over the partitions --------------------------------


@dataclass
class Evaluation:
    loglike: float
    score: np.ndarray
    hessian: np.ndarray
    nobs: int
    dropped: int


def evaluate_part(part: Part, beta: np.ndarray) -> Evaluation:
    loglike, score, hessian = kernels.evaluate(part.endog, part.exog, beta)
    return Evaluation(loglike, score, hessian, len(part.endog), part.dropped)


def add_evaluations(a: Evaluation, b: Evaluation) -> Evaluation:
    return Evaluation(a.loglike + b.loglike, a.score + b.score, a.hessian + b.hessian,
                      a.nobs + b.nobs, a.dropped + b.dropped)


def score_product_part(part: Part, beta: np.ndarray) -> np.ndarray:
    return kernels.score_cross_product(part.endog, part.exog, beta)


def add_arrays(a: np.ndarray, b: np.ndarray) -> np.ndarray:
    return a + b


@dataclass
class ClusterSums:
    keys: list  # cluster keys (key text, or group labels), first seen first
    sums: np.ndarray  # one row of score sums per key


def cluster_part(part: Part, beta: np.ndarray) -> ClusterSums:
    keys, sums = kernels.cluster_sums(part.endog, part.exog, beta, part.groups)
    if part.labels is not None:
        keys = [part.labels[int(float(key))] for key in keys]
    return ClusterSums(list(keys), sums)


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


@dataclass
class DaskFit:
    """What a fit on Dask collections gives: plain numbers, names and the
    means to run the marginal-effects passes."""

    params: np.ndarray
    cov_params: np.ndarray
    llf: float
    iterations: int
    converged: bool
    nobs: int
    dropped: int
    names: list
    cov_type: str
    n_groups: Optional[int] = None
    llnull: Optional[float] = None
    parts: list = field(default_factory=list, repr=False)
    compute_kwargs: dict = field(default_factory=dict, repr=False)

    def ame(self, cov: Optional[np.ndarray] = None) -> Any:
        """The marginal-effects table: a pass for the 0/1 columns, then one
        for the effect sums; cov defaults to the fit's covariance."""
        return ame_table(self.parts, self.params, self.cov_params if cov is None else cov,
                         self.names, self.nobs, **self.compute_kwargs)


class Passes:
    """Runs one pass over the partitions and brings its summed result back."""

    def __init__(self, parts: list, compute_kwargs: dict):
        self.parts = parts
        self.compute_kwargs = compute_kwargs

    def run(self, per_part: Callable, combine: Callable, *args: Any) -> Any:
        sums = [dask.delayed(per_part, pure=True)(part, *args) for part in self.parts]
        (total,) = dask.compute(fixed_tree(sums, combine), **self.compute_kwargs)
        return total


def _newton(passes: Passes, k: int, max_iter: Optional[int], tol: Optional[float]) -> tuple:
    seen: list = []

    def evaluate(beta: np.ndarray) -> tuple:
        total = passes.run(evaluate_part, add_evaluations, beta)
        seen.append(total)
        return total.loglike, total.score, total.hessian

    params, llf, iterations, converged, hessian = kernels.newton(evaluate, k, max_iter, tol)
    return params, llf, iterations, converged, hessian, seen[0]


def _corrected(cov: np.ndarray, cov_type: str, nobs: int, k: int,
               n_groups: Optional[int], use_correction: bool) -> np.ndarray:
    if cov_type == "HC1":
        return cov * (nobs / (nobs - k))
    if cov_type == "cluster" and use_correction:
        return cov * ((n_groups / (n_groups - 1)) * ((nobs - 1) / (nobs - k)))
    return cov


def fit_parts(parts: list, names: list, *, cov_type: str = "nonrobust",
              use_correction: bool = True, max_iter: Optional[int] = None,
              tol: Optional[float] = None, null_parts: Optional[list] = None,
              **compute_kwargs: Any) -> DaskFit:
    if cov_type not in COV_TYPES:
        raise ValueError(f"cov_type must be one of {', '.join(COV_TYPES)}, got {cov_type!r}")
    passes = Passes(parts, compute_kwargs)
    k = len(names)
    params, llf, iterations, converged, hessian, first = _newton(passes, k, max_iter, tol)
    if first.nobs == 0:
        raise ValueError("no observations left after dropping rows with missing values")
    middle = None
    n_groups = None
    if cov_type in ("HC0", "HC1"):
        middle = passes.run(score_product_part, add_arrays, params)
    elif cov_type == "cluster":
        clusters = passes.run(cluster_part, merge_clusters, params)
        n_groups = len(clusters.keys)
        middle = kernels.cluster_cross_product(clusters.sums)
    cov, usable = kernels.covariance(hessian, params, middle)
    cov = _corrected(cov, cov_type, first.nobs, k, n_groups, use_correction)
    llnull = None
    if null_parts is not None:
        llnull = _newton(Passes(null_parts, compute_kwargs), 1, max_iter, tol)[1]
    return DaskFit(params, cov, llf, int(iterations), bool(converged and usable), first.nobs,
                   first.dropped, list(names), cov_type, n_groups, llnull, parts,
                   compute_kwargs)


def ame_table(parts: list, params: np.ndarray, cov: np.ndarray, names: list, nobs: int,
              **compute_kwargs: Any) -> Any:
    passes = Passes(parts, compute_kwargs)
    binary = passes.run(binary_part, both_binary)
    effects, jacobian = passes.run(effects_part, add_effects, params, list(names), binary)
    return kernels.ame_table(effects, jacobian, nobs, cov, list(names))


# --- Parts from Dask collections ---------------------------------------------------


def _null_part(part: Part) -> Part:
    return Part(part.endog, np.ones((len(part.endog), 1)), None, None, part.dropped)


def parts_from_arrays(endog: Any, exog: Any, groups: Any = None) -> list:
    """One delayed Part per row block of exog; endog and groups follow its
    row blocks."""
    exog = da.asarray(exog)
    if exog.ndim != 2:
        raise ValueError(f"exog must be two-dimensional, got {exog.ndim} dimensions")
    exog = exog.rechunk({1: -1})
    endog = da.asarray(endog)
    if endog.ndim == 2 and endog.shape[1] == 1:
        endog = endog[:, 0]
    if endog.ndim != 1:
        raise ValueError("endog must be shape (nobs,) or (nobs,1)")
    if endog.shape[0] != exog.shape[0]:
        raise ValueError(f"exog has {exog.shape[0]} rows but endog has {endog.shape[0]} "
                         "elements; exog needs one row per observation")
    endog = endog.rechunk((exog.chunks[0],))
    x_blocks = exog.to_delayed()[:, 0]
    y_blocks = endog.to_delayed()
    if groups is None:
        g_blocks = [None] * len(x_blocks)
    else:
        groups = da.asarray(groups)
        if groups.ndim == 1:
            groups = groups[:, None]
        if groups.shape[0] != exog.shape[0]:
            raise ValueError(f"cluster shape mismatch. got {groups.shape[0]} rows, "
                             f"nobs={exog.shape[0]}")
        g_blocks = groups.rechunk((exog.chunks[0], -1)).to_delayed()[:, 0]
    return [dask.delayed(part_from_arrays, pure=True)(y, x, g)
            for y, x, g in zip(y_blocks, x_blocks, g_blocks)]


def _categorical_levels(frame: Any, columns: Sequence[str], **compute_kwargs: Any) -> dict:
    """The distinct values of the non-numeric columns, over all partitions."""
    import pandas as pd

    wanted = [c for c in columns if not pd.api.types.is_numeric_dtype(frame.dtypes[c])
              or pd.api.types.is_bool_dtype(frame.dtypes[c])]
    if not wanted:
        return {}
    uniques = dask.compute(*[frame[c].dropna().unique() for c in wanted], **compute_kwargs)
    return {c: list(pd.unique(np.asarray(u, dtype=object))) for c, u in zip(wanted, uniques)}


def model_spec(formula: str, frame: Any, **compute_kwargs: Any) -> Any:
    """One formulaic model spec for every partition: built on a small frame
    that holds every level of every non-numeric column the formula uses."""
    import pandas as pd
    from formulaic import Formula, model_matrix

    used = [c for c in Formula(formula).required_variables if c in frame.columns]
    levels = _categorical_levels(frame, used, **compute_kwargs)
    rows = max([len(v) for v in levels.values()] + [2])
    prototype = {}
    for c in used:
        if c in levels:
            values = levels[c] or [None]
            prototype[c] = [values[i % len(values)] for i in range(rows)]
        else:
            prototype[c] = np.zeros(rows, dtype=frame.dtypes[c])
            prototype[c][1::2] = 1
    return model_matrix(formula, pd.DataFrame(prototype)).model_spec


def parts_from_frame(formula: str, frame: Any, groups: Optional[str] = None,
                     **compute_kwargs: Any) -> tuple:
    if groups is not None and groups not in frame.columns:
        raise KeyError(groups)
    spec = model_spec(formula, frame, **compute_kwargs)
    names = list(spec.rhs.column_names)
    parts = [dask.delayed(part_from_frame, pure=True)(p, spec, groups)
             for p in frame.to_delayed()]
    return names, parts


def fit_arrays(endog: Any, exog: Any, *, groups: Any = None, names: Optional[list] = None,
               **options: Any) -> DaskFit:
    parts = parts_from_arrays(endog, exog, groups)
    k = da.asarray(exog).shape[1]
    names = list(names) if names is not None else [f"x{j}" for j in range(k)]
    null_parts = [dask.delayed(_null_part, pure=True)(p) for p in parts]
    return fit_parts(parts, names, null_parts=null_parts, **options)


def fit_formula(formula: str, frame: Any, *, groups: Optional[str] = None,
                **options: Any) -> DaskFit:
    compute_kwargs = {k: v for k, v in options.items() if k == "scheduler"}
    names, parts = parts_from_frame(formula, frame, groups, **compute_kwargs)
    null_parts = [dask.delayed(_null_part, pure=True)(p) for p in parts]
    return fit_parts(parts, names, null_parts=null_parts, **options)
