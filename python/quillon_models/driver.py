"""One driver for every fit, in memory and on Dask: the Newton iteration, the
covariances, the marginal effects and the predictions, each a few passes
over the parts of the data (see `parts`), with every sum over rows formed
by the kernels of `_kernels` and added along the fixed tree.

`passes` is anything with `run(per_part, combine, *args)`, which applies
`per_part(part, *args)` to every part and combines the results in the tree,
and `map(per_part, *args)`, which returns them in part order.
"""

from __future__ import annotations

from dataclasses import dataclass, replace
from typing import Any, Callable, Optional, Protocol

import numpy as np

from . import _kernels as kernels
from .covariance import (CovarianceChoice, clip_psd, cluster_factor, hc1_factor,
                         sampling_cluster_factor)
from .design import check_part_totals
from .collinearity import aliased_columns
from .separation import screen_fires
from .parts import Part, PartChecks


class Passes(Protocol):
    nobs: Optional[int]  # rows of the parts, when known without a pass

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
    loglike, score, hessian = kernels.evaluate(part.endog, part.exog, beta, part.weights)
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


def score_product_part(part: Part, beta: np.ndarray, frequency: bool) -> np.ndarray:
    """sum s_i s_i', with weights sum w_i s_i s_i' (frequency) or
    sum w_i^2 s_i s_i' (sampling)."""
    return kernels.score_cross_product(part.endog, part.exog, beta, part.weights, frequency)


def weight_totals_part(part: Part) -> Any:
    from .weights import part_totals

    assert part.weights is not None
    return part_totals(part.weights)


def add_arrays(a: Any, b: Any) -> Any:
    return a + b


@dataclass
class ClusterSums:
    keys: list  # group labels (a tuple per cluster), first seen first
    sums: np.ndarray  # one row of score sums per key


def cluster_part(part: Part, beta: np.ndarray) -> list[ClusterSums]:
    """The part's per-cluster score sums for each way of clustering and, for
    two, for their intersection, keyed by group labels (the kernel gives each
    cluster's codes, one per way)."""
    assert part.groups is not None and part.labels is not None
    ways = [[j] for j in range(part.groups.shape[1])]
    if len(ways) == 2:
        ways.append([0, 1])
    out = []
    for way in ways:
        codes = np.ascontiguousarray(part.groups[:, way])
        cluster_codes, sums = kernels.cluster_sums(part.endog, part.exog, beta, codes,
                                                   part.weights)
        labels = [tuple(part.labels[j][int(cluster_codes[g, i])] for i, j in enumerate(way))
                  for g in range(cluster_codes.shape[0])]
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


def part_rows(part: Part, columns: np.ndarray) -> tuple:
    """The part's outcomes and the given columns of its rows."""
    return part.endog, part.exog[:, columns]


def predicted_rows(part: Part, direction: np.ndarray, predicted: Any) -> np.ndarray:
    """Which rows of the part `direction` predicts perfectly
    (`predicted(endog, linear index along it)` tells them)."""
    return predicted(part.endog, kernels.predict(part.exog, direction, False))


def without_predicted(part: Part, direction: np.ndarray, predicted: Any) -> Part:
    """The part less the rows that `direction` predicts perfectly."""
    return without_rows(part, ~predicted_rows(part, direction, predicted))


def without_rows(part: Part, keep: np.ndarray) -> Part:
    """The part's rows where `keep` holds, its counts told of the others."""
    if keep.all():
        return part
    groups = None if part.groups is None else part.groups[keep]
    checks = part.checks
    weights = None if part.weights is None else part.weights[keep]
    if checks is not None:
        removed = int((~keep).sum())
        # The totals of the weights left, which give nobs with frequency
        # weights: every part must carry its own, as the parts' are added.
        totals = None
        if checks.weights is not None and weights is not None:
            from .weights import part_totals

            totals = part_totals(weights)
        checks = replace(checks, dropped=checks.dropped + removed,
                         ones=checks.ones - int((part.endog[~keep] == 1.0).sum()),
                         weights=totals)
    # The positions of the rows left among those the part was built from:
    # the effects read the caller's rows at them.
    kept = np.flatnonzero(keep) if part.kept is None else part.kept[keep]
    return Part(part.endog[keep], part.exog[keep], groups, part.labels, kept, checks, weights)


def constant_part(part: Part) -> Part:
    """The intercept-only model on the part's rows (a column of ones that
    takes no memory)."""
    return Part(part.endog, np.broadcast_to(np.float64(1.0), (len(part.endog), 1)),
                checks=part.checks, weights=part.weights)


# --- The fit ------------------------------------------------------------------------


@dataclass(frozen=True)
class Fitted:
    params: np.ndarray  # NaN for the columns left out
    cov_params: np.ndarray  # NaN rows and columns for the columns left out
    llf: float
    converged: bool
    iterations: int
    nobs: float  # rows fitted; with frequency weights, the sum of the weights
    dropped: int
    # Constant columns found by the first pass (None when not asked).
    const_idx: Optional[list[int]]
    n_groups: Optional[tuple[int, ...]] = None
    aliased: tuple[int, ...] = ()  # columns left out as collinear with others
    # The screen for separation fired (see `separation`).
    suspect: bool = False
    rows: int = 0  # rows fitted (nobs but with frequency weights)
    zero_weight: int = 0  # rows left out for a zero weight, as counted by the first pass
    mean_weight: Optional[float] = None  # sampling weights' mean over the rows fitted


class Evaluations:
    """The iteration's points, each one pass over the parts. The first pass
    (at zero, over every column) is kept for the counts and checks it
    carries; `on_first` runs once they are known, before the passes read the
    parts unchecked. Columns left out (`keep`) are fitted at zero: the sums
    over every column are formed and the kept ones taken, which adds exact
    zeros to each linear index and so gives the bits of a design without
    them. The last two points and Hessians are kept for the screen."""

    def __init__(self, passes: Passes, k: int, describe: bool, on_first: Any) -> None:
        self.passes, self.k, self.describe, self.on_first = passes, k, describe, on_first
        self.first: Optional[Evaluation] = None
        self.kept = np.arange(k)
        self.history: list = []
        self.scale = 1.0  # a power of two the sums are multiplied by (see `iteration_scale`)

    def first_pass(self) -> Evaluation:
        if self.first is None:
            self.first = self.passes.run(evaluate_part, add_evaluations, np.zeros(self.k),
                                         self.describe)
            if self.on_first is not None:
                self.on_first(self.first.checks)
            self.passes.checked(self.first.checks)
        return self.first

    def keep(self, kept: np.ndarray) -> None:
        self.kept = kept

    def full(self, beta: np.ndarray) -> np.ndarray:
        out = np.zeros(self.k)
        out[self.kept] = beta
        return out

    def __call__(self, beta: np.ndarray) -> tuple:
        if not beta.any() and self.first is not None:
            total = self.first
        else:
            total = self.passes.run(evaluate_part, add_evaluations, self.full(beta), False)
        kept = self.kept
        hessian = total.hessian if len(kept) == self.k else total.hessian[np.ix_(kept, kept)]
        loglike, score = total.loglike, total.score[kept]
        if self.scale != 1.0:
            loglike, score, hessian = loglike * self.scale, score * self.scale, hessian * self.scale
        self.history = self.history[-1:] + [(beta, hessian)]
        return loglike, score, hessian


def newton(passes: Passes, k: int, maxiter: Optional[int], tol: Optional[float],
           mean_weight: Optional[float] = None) -> tuple:
    return iterate(Evaluations(passes, k, False, None), k, maxiter, tol, mean_weight)


def iterate(evaluations: Evaluations, k: int, maxiter: Optional[int], tol: Optional[float],
            mean_weight: Optional[float]) -> tuple:
    """Newton-Raphson from zero over `evaluations`. With sampling weights of
    mean `mean_weight` over the rows, the iteration sees the sums scaled by
    `iteration_scale` and stops when the log-likelihood changes by less than
    tol times the mean weight: the same steps and the same stop for weights
    w and c * w. The log-likelihood and Hessian are returned unscaled."""
    if mean_weight is not None:
        evaluations.scale = iteration_scale(mean_weight)
        tol = (DEFAULT_TOL if tol is None else tol) * mean_weight * evaluations.scale
    params, llf, iterations, converged, hessian = kernels.newton(evaluations, k, maxiter, tol)
    return (params, llf / evaluations.scale, int(iterations), bool(converged),
            hessian / evaluations.scale)


DEFAULT_TOL = 1e-6  # the iteration's own default


def iteration_scale(mean_weight: float) -> float:
    """The power of two nearest 1 / mean_weight. Sampling weights' scale does
    not change the estimates, so the iteration sees the sums times it: an
    exact scaling, which leaves the steps' bits as they are and puts the
    log-likelihood, the Hessian's pivots and the stopping rule on the scale
    of weights of mean 1."""
    return float(2.0 ** -round(np.log2(mean_weight)))


def fit_parts(passes: Passes, k: int, choice: CovarianceChoice, maxiter: int, tol: float,
              endog_name: str, missing: str, describe: bool = False,
              collinear: str = "drop", weights: Optional[str] = None,
              names: Optional[Callable[[list[int]], dict]] = None) -> Fitted:
    """The fit of the parts: a first pass at zero, which counts and checks
    the rows and tells collinear columns (left out, or refused with
    collinear="raise"); Newton-Raphson from zero over the other columns, one
    pass per point; then the covariance's pass. `weights` is the kind of
    the parts' row weights ("frequency" or "sampling"), None without.
    `names`, for columns named once their constant is known (unnamed
    arrays), maps the constant columns the first pass found to the columns'
    names, by the names the parts counted missing values under."""

    def first(checks: Optional[PartChecks]) -> None:
        if checks is not None:
            if names is not None and evaluations.first is not None and any(
                    checks.missing.values()):
                renamed = names(constant_columns(evaluations.first))
                checks = replace(checks, missing={renamed.get(c, c): n
                                                  for c, n in checks.missing.items()})
            check_part_totals(checks, endog_name, missing)
            if checks.weights is not None:
                from .weights import ARGUMENTS, check_totals

                check_totals(ARGUMENTS[weights or ""], checks.weights, checks.rows - checks.dropped)

    evaluations = Evaluations(passes, k, describe, first)
    total = evaluations.first_pass()
    aliased = tuple(aliased_columns(-total.hessian))
    if aliased and collinear == "raise":
        raise CollinearityError(aliased)
    kept = np.array([j for j in range(k) if j not in aliased], dtype=np.intp)
    evaluations.keep(kept)
    checks = total.checks
    rows = passes.nobs if passes.nobs is not None else (
        checks.rows - checks.dropped - checks.zero_weight if checks else 0)
    dropped = checks.dropped if checks is not None else 0
    weight_total = None if weights is None else total_weight(passes, checks)
    mean_weight = weight_total / rows if weights == "sampling" and weight_total else None
    params, llf, iterations, converged, hessian = iterate(evaluations, len(kept), maxiter, tol,
                                                          mean_weight)
    suspect = screen_fires(evaluations.history, not converged and int(iterations) >= maxiter - 1)
    nobs: float = rows
    if weights == "frequency" and weight_total is not None:
        nobs = weight_total
    full = evaluations.full(params)
    if choice.cov_type == "cluster":
        cov, usable, n_groups = clustered(passes, hessian, full, kept, choice, nobs, weights,
                                          evaluations.scale)
    else:
        (cov, usable), n_groups = covariance(passes, hessian, full, kept, choice, nobs,
                                             weights, evaluations.scale), None
    const_idx = constant_columns(total) if describe else None
    return Fitted(spread(params, kept, k), spread(cov, kept, k), llf, bool(converged) and usable,
                  int(iterations), nobs, dropped, const_idx, n_groups, aliased, suspect,
                  int(rows), checks.zero_weight if checks is not None else 0,
                  mean_weight)


def total_weight(passes: Passes, checks: Optional[PartChecks]) -> float:
    """The sum of the parts' weights: known from the weights' check (in
    memory: the same blocks, added along the same tree), else a pass."""
    known = getattr(passes, "weight_total", None)
    if known is None and checks is not None and checks.weights is not None:
        known = checks.weights.total
    return known if known is not None else passes.run(weight_totals_part, add_arrays).total


def constant_columns(total: Evaluation) -> list[int]:
    """The columns that hold one nonzero value on every row a pass read
    (found when the pass describes the columns)."""
    return [] if total.constant is None else [
        int(j) for j in np.flatnonzero(total.constant & (total.first_row != 0))]


def spread(values: np.ndarray, kept: np.ndarray, k: int) -> np.ndarray:
    """A vector or square matrix over the kept columns, spread over all k
    with NaN for the others."""
    if len(kept) == k:
        return values
    if values.ndim == 1:
        out = np.full(k, np.nan)
        out[kept] = values
        return out
    square = np.full((k, k), np.nan)
    square[np.ix_(kept, kept)] = values
    return square


class CollinearityError(ValueError):
    """Columns of the design are linear combinations of others."""

    def __init__(self, columns: tuple[int, ...]) -> None:
        super().__init__(columns)
        self.columns = columns


def covariance(passes: Passes, hessian: np.ndarray, full: np.ndarray, kept: np.ndarray,
               choice: CovarianceChoice, nobs: float,
               weights: Optional[str] = None, scale: float = 1.0) -> tuple[np.ndarray, bool]:
    """The classical or HC covariance over the kept columns, and whether the
    maximum is usable; `full` is the estimate over every column. HC1's
    factor is n / (n - k), the replicated rows' with frequency weights, and
    n / (n - 1) over the rows with sampling weights, as Stata's. The
    sandwich is formed from the Hessian times `scale` and the middle times
    its square (the iteration's scale, see `iterate`): the same bits, with
    the inverse's checks on the scale of weights of mean 1."""
    middle = None
    if choice.cov_type in ("HC0", "HC1"):
        middle = passes.run(score_product_part, add_arrays, full, weights == "frequency")
        if len(kept) != len(full):
            middle = middle[np.ix_(kept, kept)]
    if scale != 1.0:
        hessian, middle = hessian * scale, None if middle is None else middle * (scale * scale)
    cov, usable = kernels.covariance(hessian, full[kept], middle)
    if choice.cov_type == "HC1":
        cov = cov * hc1_factor(nobs, 1 if weights == "sampling" else len(kept))
    return cov, usable


def clustered(passes: Passes, hessian: np.ndarray, full: np.ndarray, kept: np.ndarray,
              choice: CovarianceChoice, nobs: float, weights: Optional[str] = None,
              scale: float = 1.0) -> tuple[np.ndarray, bool, tuple[int, ...]]:
    """The cluster-robust covariance from one pass, for one way or two, and
    whether the maximum is usable; two ways as statsmodels combines them:
    each way's covariance plus the other's, less that of their
    intersection. With sampling weights the correction is G / (G - 1), as
    Stata's for weighted likelihoods; `scale` as for `covariance`."""
    ways = passes.run(cluster_part, merge_cluster_ways, full)
    if scale != 1.0:
        hessian = hessian * scale
    covs = []
    usable = True
    for way in ways:
        sums = way.sums if len(kept) == len(full) else way.sums[:, kept]
        sums = sums * scale if scale != 1.0 else sums
        cov, usable = kernels.covariance(hessian, full[kept], kernels.cluster_cross_product(sums))
        if choice.use_correction:
            cov = cov * (sampling_cluster_factor(len(way.keys)) if weights == "sampling" else
                         cluster_factor(len(way.keys), nobs, len(kept)))
        covs.append(cov)
    cov = covs[0] if len(covs) == 1 else covs[0] + covs[1] - covs[2]
    if choice.psd == "clip":
        cov = clip_psd(cov)
    return cov, usable, tuple(len(way.keys) for way in ways[:2])


def null_loglike(constant_passes: Passes, mean_weight: Optional[float] = None) -> float:
    """The log-likelihood of the intercept-only model: `constant_passes` run
    over the fitted parts' constant_part (`mean_weight` as for `iterate`)."""
    return float(newton(constant_passes, 1, None, None, mean_weight)[1])


def predict_part(part: Part, beta: np.ndarray, probability: bool) -> np.ndarray:
    """The part's predictions at `beta`. A NaN estimate is a column without
    one (a level no fitted row had): the rows with a nonzero value in it are
    NaN, the others predict from the estimated columns."""
    unknown = np.flatnonzero(np.isnan(beta))
    if not len(unknown):
        return kernels.predict(part.exog, beta, probability)
    values = np.array(kernels.predict(part.exog, np.where(np.isnan(beta), 0.0, beta),
                                      probability))
    values[(part.exog[:, unknown] != 0.0).any(axis=1)] = np.nan
    return values
