"""statsmodels' per-column marginal effects (`get_margeff`), for code being
ported: every option of statsmodels' probit, from the kernels' sums.

A column's effect is its derivative ("dydx"), its elasticity ("eyex"), or
the semi-elasticities ("dyex", "eydx"); with `dummy`, a 0/1 column's effect
is the change from 0 to 1, and with `count` a count column's is half the
change from x - 1 to x + 1 (for "ey", of log P). Averaged over the rows
(at="overall") or taken at one point: the columns' means, medians, or zero.
`atexog` ({column name or position: value}) sets columns before that, as
statsmodels does (at="zero" ignores it, as statsmodels does). Positions are
those of this design, whose columns formulaic orders as the formula writes
its terms, where patsy sorts them by their numeric factors: when the two
differ, a position is warned of once. The Jacobians are exact,
so the standard errors are statsmodels' to rounding.
"""

from __future__ import annotations

import warnings
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Optional, Sequence

import numpy as np

from . import _kernels as kernels
from .exceptions import ModelWarning
from .parts import Part

if TYPE_CHECKING:
    from .record import FitRecord
    from .source import DataSource

AT = ("overall", "mean", "median", "zero")
METHODS = ("dydx", "eyex", "dyex", "eydx")


@dataclass(frozen=True)
class ColumnPlan:
    """What each column's effect is: "slope", "dummy" or "count" by column;
    `method`; the columns set by atexog."""

    kinds: tuple
    method: str
    settings: tuple  # ((column, value), ...)


def summary_part(part: Part) -> tuple:
    sums, mins, maxs, whole = kernels.column_summary(part.exog)
    return sums, mins, maxs, np.array(whole, dtype=bool)


def merge_summaries(a: tuple, b: tuple) -> tuple:
    return (a[0] + b[0], np.minimum(a[1], b[1]), np.maximum(a[2], b[2]), a[3] & b[3])


def column_sums(exog: np.ndarray, plan: ColumnPlan, beta: np.ndarray,
                weights: Optional[np.ndarray] = None) -> tuple:
    """The effect sums (k) and Jacobian sums (k x k) of every column over
    the rows of `exog` (weighted by `weights` when given): one kernel call
    per column on designs built from it."""
    k = len(beta)
    if plan.settings:
        exog = np.array(exog, dtype=np.float64, order="C")
        for column, value in plan.settings:
            exog[:, column] = value
    relative = plan.method.startswith("ey")
    effects, jacobian = np.zeros(k), np.zeros((k, k))
    for j, kind in enumerate(plan.kinds):
        if kind is None:
            continue
        column = exog[:, j:j + 1]
        if kind == "slope":
            derivative = column if plan.method.endswith("ex") else np.ones((len(exog), 1))
            e, jac = kernels.slope_sums(exog, derivative, [j], beta, None, 1, relative, weights)
        elif kind == "dummy":
            e, jac = kernels.contrast_sums(exog, [j], np.ones((len(exog), 1)),
                                           np.zeros((len(exog), 1)), beta, None, 1, relative,
                                           weights)
        else:
            e, jac = kernels.contrast_sums(exog, [j], column + 1.0, column - 1.0, beta, None, 1,
                                           relative, weights)
            e, jac = e / 2.0, jac / 2.0
        effects[j], jacobian[j] = e[0], jac[0]
    return effects, jacobian


def column_part(part: Part, plan: ColumnPlan, beta: np.ndarray) -> tuple:
    """The part's sums, and what they are averaged over: its rows, or the
    sum of its weights."""
    total = float(len(part.exog)) if part.weights is None else float(
        kernels.weight_totals(part.weights)[0])
    return (*column_sums(part.exog, plan, beta, part.weights), total)


def add_pairs_of_arrays(a: tuple, b: tuple) -> tuple:
    return tuple(x + y for x, y in zip(a, b))


def check_options(at: Any, method: Any, dummy: bool, count: bool) -> tuple[str, str]:
    if not isinstance(at, str) or at.lower() not in AT + ("all",):
        raise ValueError(f"at must be one of {', '.join(AT)}, got {at!r}")
    if not isinstance(method, str) or method.lower() not in METHODS:
        raise ValueError(f"method must be one of {', '.join(METHODS)}, got {method!r}")
    at, method = at.lower(), method.lower()
    if at == "all":
        raise NotImplementedError("at='all': quillon returns averages, not one effect per row")
    if (dummy or count) and method in ("dyex", "eyex"):
        raise ValueError(f"method={method!r} is not allowed with dummy or count (discrete "
                         "regressors)")
    if (dummy or count) and at in ("median", "zero"):
        raise ValueError(f"at={at!r} is not allowed with dummy or count (discrete regressors)")
    return at, method


def atexog_settings(atexog: Any, names: Sequence[str]) -> tuple:
    """((column position, value), ...) from atexog's keys: positions in the
    design, or the columns' names."""
    if atexog is None:
        return ()
    if not isinstance(atexog, dict):
        raise TypeError("atexog must be a dict {column name or position: value}, got "
                        f"{type(atexog).__name__}")
    k = len(names)
    settings = []
    for column, value in atexog.items():
        if isinstance(column, str):
            if column not in names:
                raise ValueError(f"atexog: {column!r} is not a column of the design: "
                                 f"{list(names)}")
            column = list(names).index(column)
        elif isinstance(column, bool) or not isinstance(column, (int, np.integer)) or not (
                0 <= column < k):
            raise ValueError(f"atexog: keys must be column names or positions 0 to {k - 1}, "
                             f"got {column!r}")
        if not np.isscalar(value) or isinstance(value, (str, bytes)):
            raise TypeError(f"atexog[{column}] must be a number, got {value!r}")
        number: Any = value
        settings.append((int(column), float(number)))
    return tuple(settings)


# Formulas whose positional atexog has been warned of, once each.
_WARNED_ORDER: set = set()


def warn_if_order_differs(model: Any, atexog: Any) -> None:
    """A one-time warning when atexog gives column positions and the
    formula's columns are in another order than statsmodels' (patsy's) for
    the same formula: the same position would set another column there."""
    if not isinstance(atexog, dict) or model.formula is None or model.formula in _WARNED_ORDER:
        return
    if not any(isinstance(c, (int, np.integer)) and not isinstance(c, bool) for c in atexog):
        return
    theirs = patsy_term_order(model)
    ours = [term_text(t) for t in model.model_spec.terms if len(model.model_spec.term_indices[t])]
    if theirs is None or [factors(t) for t in theirs] == [factors(t) for t in ours]:
        return
    _WARNED_ORDER.add(model.formula)
    shown = ", ".join(f"{j}: {n}" for j, n in enumerate(model.exog_names))
    warnings.warn(f"atexog by position: the columns of {model.formula!r} are in formulaic's "
                  f"order ({shown}), not in statsmodels' (patsy's, terms {theirs}), so a "
                  "position may name another column than in statsmodels; give column names "
                  "as keys (atexog={name: value})", ModelWarning, stacklevel=4)


def term_text(term: Any) -> str:
    return "Intercept" if str(term) == "1" else str(term)


def factors(term: str) -> frozenset:
    """A term's factors, whichever order the library writes them in."""
    return frozenset(f.strip() for f in term.split(":"))


def patsy_term_order(model: Any) -> Optional[list]:
    """The formula's terms in the order patsy puts them (it sorts them by
    their numeric factors, which formulaic does not), read from the design
    patsy builds on a few of the fitted rows; None without patsy, or when
    patsy cannot read the formula."""
    try:
        import patsy
    except ImportError:
        return None
    frame = model._data.frame
    rows = frame.head(50) if model._data.on_dask else frame.iloc[:50]
    try:
        info = patsy.dmatrices(model.formula, rows, return_type="dataframe",
                               eval_env=patsy.EvalEnvironment([dict(model._data.context or {})])
                               )[1].design_info
    except Exception:  # any formula patsy does not read: nothing to compare
        return None
    return list(info.term_names)


def column_effects(source: DataSource, record: FitRecord, beta: np.ndarray, cov: np.ndarray,
                   at: str, method: str, atexog: Any, dummy: bool, count: bool,
                   omitted: Sequence[int] = ()) -> tuple[np.ndarray, np.ndarray, list[int]]:
    """The effects and standard errors, over the rows of the fit `record`,
    of the columns that are not constants, and those columns' positions; a
    column omitted from the fit (at zero in `beta`) has none: NaN."""
    at, method = check_options(at, method, dummy, count)
    if record.weight_kind is not None and at in ("mean", "median"):
        raise NotImplementedError(f"at={at!r} with weights: the effects at the weighted "
                                  "means or medians are not available; at='overall' averages "
                                  "with the weights")
    k = len(beta)
    settings = atexog_settings(atexog, list(source.exog_names))
    passes = source.fitted_passes(record)
    sums, mins, maxs, whole = passes.run(summary_part, merge_summaries)
    constant = set(record.const_idx) | {j for j in range(k) if mins[j] == maxs[j]} | set(
        omitted)
    shown = [j for j in range(k) if j not in constant or (
        j in omitted and j not in record.const_idx)]
    kinds: list[Optional[str]] = []
    for j in range(k):
        binary = whole[j] and mins[j] == 0.0 and maxs[j] == 1.0
        if j in constant:
            kinds.append(None)
        elif dummy and binary:
            kinds.append("dummy")
        elif count and whole[j] and mins[j] >= 0.0 and not binary:
            kinds.append("count")
        else:
            kinds.append("slope")
    plan = ColumnPlan(tuple(kinds), method, settings if at != "zero" else ())
    if at == "overall" and method == "dydx" and not settings and not count:
        # every column in one pass of the engine's per-column kernel
        from .effects import add_arrays_of, column_sums_part

        placeholders = ["const" if kinds[j] is None else f"column {j}" for j in range(k)]
        flags = [kind == "dummy" for kind in kinds]
        effects, jacobian, total = passes.run(column_sums_part, add_arrays_of, beta,
                                              placeholders, flags)
        effects, jacobian = effects / total, jacobian / total
    elif at == "overall":
        effects, jacobian, total = passes.run(column_part, add_pairs_of_arrays, plan, beta)
        effects, jacobian = effects / total, jacobian / total
    else:
        point = at_point(source, record, at, sums, constant, settings, k)
        effects, jacobian = column_sums(point[None, :], ColumnPlan(tuple(kinds), method, ()),
                                        beta)
    with np.errstate(invalid="ignore"):
        se = np.sqrt(np.einsum("ij,jk,ik->i", jacobian, cov, jacobian))
    effects[list(omitted)], se[list(omitted)] = np.nan, np.nan
    return effects[shown], se[shown], shown


def at_point(source: DataSource, record: FitRecord, at: str, sums: np.ndarray, constant: set,
             settings: tuple, k: int) -> np.ndarray:
    """The one row statsmodels evaluates the effects at."""
    point: np.ndarray
    if at == "zero":
        point = np.zeros(k)
        point[sorted(constant)] = 1.0
        return point
    if at == "mean":
        point = sums / record.nobs
    else:
        rows = source.fitted_rows(record)
        if rows is None:
            raise NotImplementedError("at='median' needs every row at once: not available on "
                                      "Dask data")
        point = kernels.column_medians(rows.exog)
    for column, value in settings:
        point[column] = value
    return point
