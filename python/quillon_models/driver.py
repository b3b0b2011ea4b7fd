"""One driver for every fit, in memory and on Dask: the Newton iteration, the
covariances, the marginal effects and the predictions, each a few passes
over the parts of the data (see `parts`), with every sum over rows formed
by the kernels of `_partition` and added along the fixed tree.

`passes` is anything with `run(per_part, combine, *args)`, which applies
`per_part(part, *args)` to every part and combines the results in the tree,
and `map(per_part, *args)`, which returns them in part order.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any, Optional, Protocol

import numpy as np
import pandas as pd

from . import _partition as kernels
from .covariance import CovarianceChoice, cluster_factor, hc1_factor
from .design import check_part_totals
from .diagnostics import CLIP_INDEX
from .parts import Part, PartChecks


class Passes(Protocol):
    def checked(self, checks: Optional[PartChecks]) -> None: ...

    def run(self, per_part: Any, combine: Any, *args: Any) -> Any: ...

    def map(self, per_part: Any, *args: Any) -> list[Any]: ...


# --- What one part contributes ------------------------------------------------


@dataclass
class Evaluation:
    loglike: float
    score: np.ndarray
    hessian: np.ndarray
    checks: Optional[PartChecks] = None
    # The first row, and which columns repeat it on every row (asked of the
    # first pass on data whose constant columns are not known yet).
    first_row: Optional[np.ndarray] = None
    constant: Optional[np.ndarray] = None


def evaluate_part(part: Part, beta: np.ndarray, describe: bool = False) -> Evaluation:
    loglike, score, hessian = kernels.evaluate(part.endog, part.exog, beta)
    first = constant = None
    if describe and len(part.endog):
        first, constant = part.exog[0], constant_mask(part.exog)
    return Evaluation(loglike, score, hessian, part.checks, first, constant)


def constant_mask(exog: np.ndarray) -> np.ndarray:
    """Which columns repeat the first row on every row, read in small blocks
    and only while a column still may be constant."""
    first = exog[0]
    constant = np.ones(exog.shape[1], dtype=bool)
    for start in range(0, len(exog), 1 << 14):
        live = np.flatnonzero(constant)
        if live.size == 0:
            break
        constant[live] = (exog[start:start + (1 << 14), live] == first[live]).all(axis=0)
    return constant


def add_evaluations(a: Evaluation, b: Evaluation) -> Evaluation:
    checks = a.checks if b.checks is None else (b.checks if a.checks is None else
                                                a.checks + b.checks)
    first, constant = a.first_row, a.constant
    if first is None:
        first, constant = b.first_row, b.constant
    elif b.first_row is not None and b.constant is not None and constant is not None:
        constant = constant & b.constant & (first == b.first_row)
    return Evaluation(a.loglike + b.loglike, a.score + b.score, a.hessian + b.hessian, checks,
                      first, constant)


def score_product_part(part: Part, beta: np.ndarray) -> np.ndarray:
    return kernels.score_cross_product(part.endog, part.exog, beta)


def add_arrays(a: Any, b: Any) -> Any:
    return a + b


@dataclass
class ClusterSums:
    keys: list  # group labels (a tuple per cluster), first seen first
    sums: np.ndarray  # one row of score sums per key


def cluster_part(part: Part, beta: np.ndarray) -> list[ClusterSums]:
    """The part's per-cluster score sums for each way of clustering and, for
    two, for their intersection, keyed by group labels (the kernel's keys are
    the codes' text: "3.0000", or "3.0000|1.0000")."""
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


def merge_cluster_ways(a: list[ClusterSums], b: list[ClusterSums]) -> list[ClusterSums]:
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


def binary_part(part: Part) -> list[bool]:
    return kernels.binary_columns(part.exog)


def both_binary(a: list[bool], b: list[bool]) -> list[bool]:
    return [x and y for x, y in zip(a, b)]


def effects_part(part: Part, beta: np.ndarray, names: list[str], binary: list[bool]) -> tuple:
    return kernels.effect_sums(part.exog, beta, names, binary)


def add_effects(a: tuple, b: tuple) -> tuple:
    return (a[0] + b[0], a[1] + b[1])


def clipped_part(part: Part, beta: np.ndarray) -> int:
    """Rows whose fitted probability lies at the engine's clip."""
    index = kernels.predict(part.exog, beta, False)
    return int(np.count_nonzero(np.abs(index) >= CLIP_INDEX))


def constant_part(part: Part) -> Part:
    """The intercept-only model on the part's rows (a column of ones that
    takes no memory)."""
    return Part(part.endog, np.broadcast_to(np.float64(1.0), (len(part.endog), 1)),
                checks=part.checks)


# --- The fit ------------------------------------------------------------------------


@dataclass(frozen=True)
class Fitted:
    params: np.ndarray
    cov_params: np.ndarray
    llf: float
    converged: bool
    iterations: int
    nobs: int
    dropped: int
    # Constant columns found by the first pass (None when not asked).
    const_idx: Optional[list[int]]
    n_groups: Optional[tuple[int, ...]] = None
    clipped: int = 0


class FirstPass:
    """The iteration's evaluations; the sums of its first pass are kept for
    the counts and checks they carry, and `on_first` runs once they are
    known, before the passes read the parts unchecked."""

    def __init__(self, passes: Passes, describe: bool, on_first: Any = None) -> None:
        self.passes, self.describe, self.on_first = passes, describe, on_first
        self.total: Optional[Evaluation] = None

    def __call__(self, beta: np.ndarray) -> tuple:
        total = self.passes.run(evaluate_part, add_evaluations, beta,
                                self.describe and self.total is None)
        if self.total is None:
            self.total = total
            if self.on_first is not None:
                self.on_first(total.checks)
            self.passes.checked(total.checks)
        return total.loglike, total.score, total.hessian


def newton(passes: Passes, k: int, maxiter: Optional[int], tol: Optional[float],
           describe: bool = False, on_first: Any = None) -> tuple:
    evaluate = FirstPass(passes, describe, on_first)
    params, llf, iterations, converged, hessian = kernels.newton(evaluate, k, maxiter, tol)
    assert evaluate.total is not None
    return params, llf, int(iterations), bool(converged), hessian, evaluate.total


def fit_parts(passes: Passes, k: int, choice: CovarianceChoice, maxiter: int, tol: float,
              endog_name: str, missing: str, nobs: Optional[int] = None,
              describe: bool = False) -> Fitted:
    """The fit of the parts: Newton-Raphson from zero, one pass per point,
    then the covariance's pass and the count of rows at the clip. `nobs` is
    the number of rows when known beforehand (in memory); otherwise the first
    pass counts them, checks them and refuses what the data's checks found."""

    def first(checks: Optional[PartChecks]) -> None:
        if checks is not None:
            check_part_totals(checks, endog_name, missing)

    params, llf, iterations, converged, hessian, total = newton(
        passes, k, maxiter, tol, describe, first)
    checks = total.checks
    rows = nobs if nobs is not None else (checks.rows - checks.dropped if checks else 0)
    dropped = checks.dropped if checks is not None else 0
    cov, usable = covariance(passes, hessian, params, choice, rows)
    n_groups = None
    if choice.cov_type == "cluster":
        cov, n_groups = clustered(passes, hessian, params, choice, rows)
    const_idx = None
    if describe:
        const_idx = [] if total.constant is None else [
            int(j) for j in np.flatnonzero(total.constant & (total.first_row != 0))]
    clipped = passes.run(clipped_part, add_arrays, params) if np.isfinite(params).all() else 0
    return Fitted(params, cov, llf, converged and usable, iterations, rows, dropped, const_idx,
                  n_groups, int(clipped))


def covariance(passes: Passes, hessian: np.ndarray, params: np.ndarray,
               choice: CovarianceChoice, nobs: int) -> tuple[np.ndarray, bool]:
    """The classical or HC covariance, and whether the maximum is usable."""
    middle = None
    if choice.cov_type in ("HC0", "HC1"):
        middle = passes.run(score_product_part, add_arrays, params)
    cov, usable = kernels.covariance(hessian, params, middle)
    if choice.cov_type == "HC1":
        cov = cov * hc1_factor(nobs, len(params))
    return cov, usable


def clustered(passes: Passes, hessian: np.ndarray, params: np.ndarray, choice: CovarianceChoice,
              nobs: int) -> tuple[np.ndarray, tuple[int, ...]]:
    """The cluster-robust covariance from one pass, for one way or two; two
    ways as statsmodels combines them: each way's covariance plus the
    other's, less that of their intersection."""
    ways = passes.run(cluster_part, merge_cluster_ways, params)
    covs = []
    for way in ways:
        cov = kernels.covariance(hessian, params, kernels.cluster_cross_product(way.sums))[0]
        if choice.use_correction:
            cov = cov * cluster_factor(len(way.keys), nobs, len(params))
        covs.append(cov)
    cov = covs[0] if len(covs) == 1 else covs[0] + covs[1] - covs[2]
    return cov, tuple(len(way.keys) for way in ways[:2])


def null_loglike(constant_passes: Passes) -> float:
    """The log-likelihood of the intercept-only model: `constant_passes` run
    over the fitted parts' constant_part."""
    return float(newton(constant_passes, 1, None, None)[1])


def ame_table(passes: Passes, params: np.ndarray, cov: np.ndarray, names: list[str],
              const_idx: list[int], nobs: int) -> pd.DataFrame:
    """The engine's marginal-effects table, one row per regressor that is not
    a constant: a pass for the 0/1 columns, then one for the effect sums.
    Constants are told by their values: the kernels leave out the columns
    named as constants, so they see placeholder names."""
    placeholders = ["const" if j in const_idx else f"column {j}" for j in range(len(names))]
    binary = passes.run(binary_part, both_binary)
    effects, jacobian = passes.run(effects_part, add_effects, params, placeholders, binary)
    table = kernels.ame_table(effects, jacobian, nobs, cov, placeholders)
    shown = [names[j] for j in range(len(names)) if j not in const_idx]
    table.index = pd.Index(shown, name=table.index.name)
    return table


def predict_part(part: Part, beta: np.ndarray, probability: bool) -> np.ndarray:
    return kernels.predict(part.exog, beta, probability)
