"""Effects of variables: slopes of numeric variables through every term they
enter, contrasts of factor levels, average predictions and comparisons,
overall or by group, with delta-method standard errors.

The designs they need are built a part at a time, from the rows of the part:
a derivative design D = dx/dv for a slope, a pair of counterfactual designs
(X1, X0) for a contrast. The kernels of `_kernels` reduce each part to
G effect sums and G x k Jacobian sums (G groups); the parts' sums are added
along the fixed tree, so the result has the same bits on any number of
threads. Python only builds designs and combines k-sized sums.

Derivatives of the design are taken by the complex step: the formula is
evaluated with v + i h for a tiny h (2^-70), and the imaginary part over h
is the derivative, exact to rounding for the analytic transforms (powers,
products, logarithms, exponentials); no difference is subtracted, so there
is no cancellation. It is wrong for transforms that are not analytic (the
sign, the absolute value, a cast to float): whether it holds is decided once
per variable, before the effect passes, by a pass that compares it with a
central difference on the first rows of every part. Transforms that refuse
complex values or fail that check fall back to a central difference
extrapolated by Richardson's rule, one-sided at the ends of the variable's
fitted range (a spline's bounds are those of the fitted data).
"""

from __future__ import annotations

import re
import warnings
from dataclasses import dataclass, field, replace
from typing import Any, Optional, Sequence

import numpy as np
import pandas as pd

from . import _kernels as kernels
from . import driver
from .design import plain_text, plain_values, refuse_repeated_columns, text_dtype
from .parts import add_pairs
from .record import FitRecord, FittedRows
from .distributions import normal_quantile, two_sided_pvalues
from .exceptions import OmittedWarning
from .summary import interval_columns
from .tables import EffectTable
from .variances import covariance_hint, warn_unusable

SLOPE = "dY/dX"
STEP = 2.0 ** -70  # the complex step: a power of two, so that dividing by it is exact
PROBE_ROWS = 32  # rows of each part on which the complex step is checked
DIFFERENCE_STEP = 1e-3  # the fallback's step, relative to max(1, |v|)
CHECK_STEP = 1e-6  # the check's difference, relative to |v|: small, as it is on few rows
BLOCKS_PER_PART = 4  # the fit's blocks of rows in one effect part in memory


# --- The variables of a model -------------------------------------------------------------


@dataclass(frozen=True)
class Terms:
    """The design columns a variable enters: those that are the variable
    itself (`bare`: their derivative is 1, their counterfactual the value),
    and the others, built by the model spec of their terms alone (`spec`,
    None when there are none) from the data columns `reads`."""

    spec: Any
    built: tuple  # positions of the model spec's columns in the design
    bare: tuple
    reads: tuple
    # The model spec's columns that are the variable's (None: all of them).
    select: Optional[tuple] = None
    names: tuple = ()  # the terms built by `spec`, as the formula writes them

    @property
    def positions(self) -> list[int]:
        return list(self.bare) + list(self.built)


@dataclass(frozen=True)
class Variable:
    """A variable of the formula (or a column of an arrays fit): `kind` is
    "slope" (numeric), "binary" (numeric, all 0 and 1) or "factor";
    `levels` the factor's levels, the reference first."""

    name: str
    kind: str
    levels: tuple = ()
    column: Optional[int] = None  # arrays fits: the design column
    terms: Optional[Terms] = field(default=None, compare=False)
    # How its slope is taken, decided before the passes (`decided_derivatives`):
    # by the complex step, or by differences within `bounds`, the range of
    # its fitted values.
    complex_step: bool = True
    bounds: tuple = (-np.inf, np.inf)

    @property
    def positions(self) -> list[int]:
        if self.terms is None:
            assert self.column is not None
            return [self.column]
        return self.terms.positions


@dataclass
class Setting:
    """What one pass computes: the slope of `variable` (no pairs), its
    contrasts high - low for each of `pairs`, or (no variable) the average
    prediction."""

    variable: Optional[Variable] = None
    pairs: tuple = ()


@dataclass
class EffectPart:
    """One part as the effect passes read it: the fitted design's rows, the
    caller's rows they came from (formula fits: `source` at `positions`),
    group codes."""

    exog: np.ndarray
    source: Optional[pd.DataFrame] = None
    # The rows of `source`: positions, a range, or None for all of them.
    positions: Optional[np.ndarray | slice] = None
    groups: Optional[np.ndarray] = None
    # The rows the kernels sum apart, in order (None: all at once).
    splits: Optional[list] = None
    # The rows' weights (None: unweighted): the averages are weighted.
    weights: Optional[np.ndarray] = None

    def rows(self, columns: Sequence[str], first: Optional[int] = None) -> dict:
        """The caller's values of `columns` on the part's rows (the `first`
        only, when given), by name: views of the data when the rows are a
        range, so they are only read; a design that changes a variable
        replaces its entry (see `rows_frame`)."""
        source, positions = self.source, self.positions
        assert source is not None
        if positions is None:
            positions = slice(0, len(source))
        if first is not None:
            positions = positions[:first] if isinstance(positions, np.ndarray) else slice(
                positions.start, min(positions.start + first, positions.stop))
        if isinstance(positions, slice):
            rows = {c: source[c].array[positions] for c in columns}
        else:
            rows = {c: source[c].array.take(positions) for c in columns}
        # text of pandas' and Arrow's dtypes as the model spec reads text
        return {c: plain_values(v) if text_dtype(v.dtype) else v for c, v in rows.items()}

    def probe_rows(self, columns: Sequence[str]) -> dict:
        """The values of `columns` on the first PROBE_ROWS rows of each split."""
        splits = self.splits or [slice(0, len(self.exog))]
        at = np.concatenate([np.arange(s.start, min(s.stop, s.start + PROBE_ROWS))
                             for s in splits])
        source, positions = self.source, self.positions
        assert source is not None
        if isinstance(positions, slice):
            at = at + (positions.start or 0)  # the effect parts' ranges step by 1
        elif positions is not None:
            at = positions[at]
        return {c: source[c].array.take(at) for c in columns}


def rows_frame(columns: dict, **replaced: Any) -> pd.DataFrame:
    """The rows `columns` as a DataFrame for the model spec, with the
    entries of `replaced` in place of theirs; the columns are not copied,
    and none is written to."""
    return pd.DataFrame({**columns, **replaced}, copy=False)


def variable_terms(spec: Any, name: str, columns: Sequence[str]) -> Terms:
    """The design columns `name` enters; the terms that are more than the
    variable itself get their own spec, which costs a fraction of the whole
    design to evaluate."""
    names = list(spec.column_names)
    terms = [t for t in spec.terms if name in spec.term_variables[t]]
    bare = [t for t in terms if str(t) == name and name in names and
            list(spec.term_slices[t].indices(len(names)))[:2] == [names.index(name),
                                                                   names.index(name) + 1]]
    others = [t for t in terms if t not in bare]
    bare_positions = tuple(names.index(name) for _ in bare)
    if not others:
        return Terms(None, (), bare_positions, (name,))
    if hasattr(spec, "subset"):
        subset = spec.subset(others)
        built = tuple(names.index(c) for c in subset.column_names)
        needed = set(subset.required_variables)
        return Terms(subset, built, bare_positions,
                     tuple(c for c in columns if c == name or c in needed),
                     names=tuple(str(t) for t in others))
    # formulaic before 1.1: the whole design is built, and the terms'
    # columns taken from it.
    built = tuple(j for t in others for j in range(len(names))[spec.term_slices[t]])
    needed = set(spec.variables_by_source.get("data", set()))
    return Terms(spec, built, bare_positions, tuple(c for c in columns if c in needed), built,
                 tuple(str(t) for t in others))


def constant_column(like: Any, value: Any, n: int) -> Any:
    """`value` on every row, of the type of the values (an array of the
    data) it replaces."""
    if isinstance(like.dtype, pd.CategoricalDtype):
        return pd.Categorical.from_codes(np.full(n, like.dtype.categories.get_loc(value)),
                                         dtype=like.dtype)
    return np.full(n, value, dtype=object if pd.api.types.is_object_dtype(like.dtype) else None)


def values_column(like: Any, values: Sequence) -> Any:
    """`values`, one a row, of the type of the values they replace."""
    if isinstance(like.dtype, pd.CategoricalDtype):
        return pd.Categorical.from_codes([like.dtype.categories.get_loc(v) for v in values],
                                         dtype=like.dtype)
    return np.array(values, dtype=object if pd.api.types.is_object_dtype(like.dtype) else None)


@dataclass
class Builder:
    """How a part's designs are made: only the columns a variable enters,
    from the model spec of its terms on the part's rows; or (arrays fits)
    the one column. The kernels read the rest from the fitted design."""

    spec: Any = None
    context: dict = field(default_factory=dict)
    # The one row of the terms of a variable alone, by (variable, value).
    rows_alone: dict = field(default_factory=dict)

    def columns(self, part: EffectPart, variable: Variable, value: Any) -> np.ndarray:
        """The variable's columns with the variable at `value` on every row."""
        n = len(part.exog)
        terms = variable.terms
        if terms is None:
            return np.broadcast_to(np.float64(value), (n, 1))
        # Terms of the variable alone are the same on every row: one row is
        # built, and read by the kernels for every row (a stride of 0).
        alone = terms.reads == (variable.name,)
        if alone and (variable.name, value) in self.rows_alone:
            return np.broadcast_to(self.rows_alone[variable.name, value], (n, len(terms.positions)))
        out = np.empty((1 if alone else n, len(terms.positions)))
        out[:, :len(terms.bare)] = float(value) if terms.bare else 0.0
        if terms.spec is not None:
            rows = part.rows(terms.reads, 1 if alone else None)
            like = rows[variable.name]
            rows[variable.name] = constant_column(like, value, len(like))
            out[:, len(terms.bare):] = self.evaluate(terms, rows)
        if not alone:
            return out
        self.rows_alone[variable.name, value] = out
        return np.broadcast_to(out, (n, out.shape[1]))

    def prepare(self, part: EffectPart, variable: Variable, values: Sequence) -> None:
        """When the variable's terms are of the variable alone, the one row
        of each of `values` not built yet, all in one evaluation of the
        model spec (whose cost is mostly per call)."""
        terms = variable.terms
        if terms is None or terms.spec is None or terms.reads != (variable.name,):
            return
        missing = [v for v in dict.fromkeys(values) if (variable.name, v) not in self.rows_alone]
        if len(missing) < 2 or len(part.exog) == 0:
            return
        like = part.rows(terms.reads, 1)[variable.name]
        out = np.empty((len(missing), len(terms.positions)))
        out[:, :len(terms.bare)] = (np.array([float(v) for v in missing])[:, None] if terms.bare
                                    else 0.0)
        out[:, len(terms.bare):] = self.evaluate(terms, {variable.name: values_column(like,
                                                                                      missing)})
        for i, value in enumerate(missing):
            self.rows_alone[variable.name, value] = out[i:i + 1]

    def evaluate(self, terms: Terms, rows: dict, **replaced: Any) -> np.ndarray:
        """The terms' columns on `rows`, with the variables of `replaced`
        at the values given."""
        design = np.asarray(terms.spec.get_model_matrix(rows_frame(rows, **replaced),
                                                        context=self.context))
        return design if terms.select is None else design[:, list(terms.select)]

    def derivative(self, part: EffectPart, variable: Variable) -> np.ndarray:
        """The derivative of the variable's columns for every row of the part
        (read-only: the columns that are the variable itself are 1 on every
        row, one value read for all), by the method decided for the variable."""
        n = len(part.exog)
        terms = variable.terms
        if terms is None or terms.spec is None:
            return np.broadcast_to(1.0, (n, len(variable.positions)))
        out = np.empty((n, len(terms.positions)))
        out[:, :len(terms.bare)] = 1.0
        rows = part.rows(terms.reads)
        values = np.asarray(rows[variable.name].to_numpy(dtype=np.float64))
        columns = None
        if variable.complex_step:
            columns = self.complex_step(terms, rows, variable, values)
        if columns is None:
            columns = self.difference(terms, rows, variable, values, variable.bounds)
        out[:, len(terms.bare):] = columns
        return out

    def complex_step(self, terms: Terms, rows: dict, variable: Variable,
                     values: np.ndarray) -> Optional[np.ndarray]:
        """The complex-step derivative, or None when a transform refuses
        complex values."""
        try:
            design = self.evaluate(terms, rows, **{variable.name: values + 1j * STEP})
        except Exception:  # whatever a transform raises for complex input
            return None
        if not np.iscomplexobj(design):
            return None
        return design.imag / STEP

    def complex_step_holds(self, terms: Terms, rows: dict, variable: Variable,
                           values: np.ndarray) -> bool:
        """Whether the complex-step derivative agrees with a central
        difference on `rows`: it does not where a transform is not analytic
        (the sign, abs(), a cast to float). Rows where the difference is not
        finite say nothing."""
        derivative = self.complex_step(terms, rows, variable, values)
        if derivative is None:
            return False
        if len(values) == 0:
            return True
        bounds = (float(values.min()), float(values.max()))
        # relative to v itself, so that a variable of small values near a
        # singularity (log(v) at v = 1e-5) is not mistaken for a fault
        size = np.abs(values)
        h = CHECK_STEP * np.where(size > 0.0, size, max(float(size.max()), 1.0))
        step = h[:, None]
        with np.errstate(all="ignore"):
            try:
                difference = self.difference(terms, rows, variable, values, bounds, h)
            except ValueError:
                return False
            level = np.abs(self.evaluate(terms, rows).astype(np.float64))
            tolerance = (1e-6 * (np.abs(derivative) + np.abs(difference)) +
                         1e3 * np.finfo(np.float64).eps * level / step)
            wrong = np.isfinite(difference) & ~(np.abs(derivative - difference) <= tolerance)
        return not bool(wrong.any())

    def difference(self, terms: Terms, rows: dict, variable: Variable, values: np.ndarray,
                   bounds: tuple, h: Optional[np.ndarray] = None) -> np.ndarray:
        """The central difference at steps h and h/2, extrapolated (error of
        order h^4); one-sided, three-point and extrapolated (order h^3), on
        rows whose central steps would leave `bounds`, the range of the
        variable's fitted values, where a transform may not be defined. The
        steps h are DIFFERENCE_STEP x max(1, |v|) unless given."""
        if h is None:
            h = DIFFERENCE_STEP * np.maximum(1.0, np.abs(values))
        low, high = bounds
        side = np.where(values + h > high, -1.0, np.where(values - h < low, 1.0, 0.0))
        side[(values - 2.0 * h < low) & (values + 2.0 * h > high)] = 0.0
        central = side == 0.0
        offsets = [np.where(central, h, side * h), np.where(central, -h, side * 2.0 * h),
                   np.where(central, h / 2.0, side * h / 2.0), np.where(central, -h / 2.0, 0.0)]
        try:
            up, down, half_up, half_down = [
                self.evaluate(terms, rows, **{variable.name: values + o}).astype(np.float64)
                for o in offsets]
        except Exception as error:
            raise ValueError(f"the slope of {variable.name!r} cannot be taken through "
                             f"{', '.join(terms.names) or 'its terms'}: the terms fail at "
                             f"values a step of {float(np.max(h)):.3g} or less from the data's: "
                             f"{error}") from None
        step = h[:, None]
        both_sides = (4.0 * ((half_up - half_down) / (2.0 * (step / 2.0))) -
                      (up - down) / (2.0 * step)) / 3.0
        if central.all():
            return both_sides
        # one side s: f0 = half_down, f(s h/2), f(s h), f(s 2h)
        s = side[:, None]
        near = s * (-3.0 * half_down + 4.0 * half_up - up) / step
        far = s * (-3.0 * half_down + 4.0 * up - down) / (2.0 * step)
        return np.where(central[:, None], both_sides, (4.0 * near - far) / 3.0)


def formula_variables(spec: Any, dtypes: pd.Series) -> list[tuple[str, Optional[tuple]]]:
    """The data's variables in the order the formula first uses them, each
    with its levels when the formula treats it as a factor (None when
    numeric)."""
    data = set(spec.variables_by_source.get("data", set()))
    order: list[str] = []
    for term in spec.terms:
        for name in sorted(spec.term_variables[term] & data, key=lambda v: first_use(spec, v)):
            if name not in order:
                order.append(name)
    out = []
    for name in order:
        out.append((name, factor_levels(spec, name, dtypes.get(name))))
    return out


def factor_variables(spec: Any) -> dict:
    """Each factor of the formula with the data variables it reads."""
    found = getattr(spec, "factor_variables", None)
    if found is not None:
        return dict(found)
    data = set(spec.variables_by_source.get("data", set()))
    return {factor: {v for v in data if mentions(str(factor), v)}
            for factor in spec.encoder_state}


def mentions(text: str, name: str) -> bool:
    return re.search(rf"(?<![\w.]){re.escape(name)}(?!\w)", text) is not None


def first_use(spec: Any, name: str) -> int:
    match = re.search(rf"(?<![\w.]){re.escape(name)}(?!\w)", str(spec.formula))
    return match.start() if match else 0


def factor_levels(spec: Any, name: str, dtype: Any) -> Optional[tuple]:
    """The levels of a variable the formula encodes as a factor, its
    reference first; None for a numeric variable."""
    if dtype is not None and pd.api.types.is_bool_dtype(dtype):
        return (False, True)
    for factor, variables in factor_variables(spec).items():
        if name not in variables:
            continue
        kind, state = spec.encoder_state.get(str(factor), (None, {}))
        if getattr(kind, "value", kind) != "categorical":
            continue
        levels = list(state.get("categories", []))
        contrasts = state.get("contrasts")
        base = getattr(getattr(contrasts, "contrasts", None), "base", None)
        if base is not None and base in levels:
            levels.remove(base)
            levels.insert(0, base)
        return tuple(levels)
    return None


# --- Passes -------------------------------------------------------------------------


def effect_sums(part: EffectPart, builder: Builder, settings: Sequence[Setting],
                beta: np.ndarray, n_groups: int) -> list[list[tuple]]:
    """For each of the part's splits, the G effect sums and G x k Jacobian
    sums of every contrast of every setting in turn (one for a slope or a
    prediction). The designs of all the settings are built once for the
    whole part, and one kernel call per split reads the split's rows once
    for all of them; each split is summed on its own, so that the sums are
    those of parts of the splits' size."""
    k = len(beta)
    splits = part.splits or [slice(0, len(part.exog))]
    if len(part.exog) == 0:
        total = sum(max(1, len(setting.pairs)) for setting in settings)
        return [[(np.zeros(n_groups), np.zeros((n_groups, k)))] * total for _ in splits]
    designs: list[tuple[list[int], Optional[np.ndarray]]] = []
    slopes: list[tuple[list[int], np.ndarray]] = []
    contrasts: list[tuple[int, Optional[int]]] = []
    order: list[tuple[bool, int]] = []  # (is a slope, its place among them) per result
    for setting in settings:
        variable = setting.variable
        if variable is None:
            designs.append(([], None))
            order.append((False, len(contrasts)))
            contrasts.append((len(designs) - 1, None))
            continue
        positions = variable.positions
        if not setting.pairs:
            order.append((True, len(slopes)))
            slopes.append((positions, builder.derivative(part, variable)))
            continue
        built: dict = {}
        builder.prepare(part, variable, [value for pair in setting.pairs for value in pair])

        def design(value: Any) -> int:
            if value not in built:
                built[value] = len(designs)
                designs.append((positions, builder.columns(part, variable, value)))
            return built[value]

        for high, low in setting.pairs:
            order.append((False, len(contrasts)))
            contrasts.append((design(high), design(low)))
    out = []
    for at in splits:
        sums = kernels.joint_sums(
            part.exog[at], beta, None if part.groups is None else part.groups[at], n_groups,
            [(p, None if c is None else c[at]) for p, c in designs],
            [(p, d[at]) for p, d in slopes], contrasts,
            None if part.weights is None else part.weights[at])
        out.append([sums[i if slope else len(slopes) + i] for slope, i in order])
    return out


def counted_effect_sums(part: EffectPart, builder: Builder, settings: Sequence[Setting],
                        beta: np.ndarray, n_groups: int) -> tuple:
    """The part's rows per group (see `counts_part`) and its splits' effect
    sums (see `effect_sums`)."""
    return counts_part(part, n_groups), effect_sums(part, builder, settings, beta, n_groups)


def column_sums_part(part: Any, beta: np.ndarray, names: list[str], binary: list[bool]) -> tuple:
    """Every column's effect sums and Jacobian sums over a fitted part (the
    engine's per-column kernel, weighted when the part has weights), and
    what they are averaged over."""
    if part.weights is None:
        return (*kernels.effect_sums(part.exog, beta, names, binary), float(len(part.exog)))
    effects, jacobian = kernels.effect_sums(part.exog, beta, names, binary, part.weights)
    return effects, jacobian, float(kernels.weight_totals(part.weights)[0])


def add_arrays_of(a: tuple, b: tuple) -> tuple:
    return tuple(x + y for x, y in zip(a, b))


def add_sums(a: list[tuple], b: list[tuple]) -> list[tuple]:
    return [(x[0] + y[0], x[1] + y[1]) for x, y in zip(a, b)]


def counts_part(part: EffectPart, n_groups: int) -> np.ndarray:
    """Rows per group, or the sum of their weights (what the effect sums are
    divided by)."""
    if part.groups is None:
        return np.array([float(len(part.exog)) if part.weights is None else
                         float(kernels.weight_totals(part.weights)[0])])
    return np.bincount(part.groups.astype(np.intp), weights=part.weights,
                       minlength=n_groups).astype(np.float64)


def binary_part(part: EffectPart, names: list[str]) -> list[bool]:
    """Whether each of the numeric variables `names` is 0 or 1 on every row
    of the part: each read where it is, when it is held as float64."""
    if len(part.exog) == 0:
        return [True] * len(names)
    return [kernels.binary_columns(np.asarray(values.to_numpy(dtype=np.float64))[:, None])[0]
            for values in part.rows(names).values()]


def both(a: list[bool], b: list[bool]) -> list[bool]:
    return [x and y for x, y in zip(a, b)]


def derivative_checks(part: EffectPart, builder: Builder,
                      variables: Sequence[Variable]) -> list[tuple[bool, float, float]]:
    """For each variable, whether its complex-step derivative holds on the
    first rows of each of the part's splits, and the range of its values on
    the part's rows."""
    out = []
    for variable in variables:
        terms = variable.terms
        assert terms is not None
        if len(part.exog) == 0:
            out.append((True, np.inf, -np.inf))
            continue
        probe = part.probe_rows(terms.reads)
        values = np.asarray(part.rows([variable.name])[variable.name].to_numpy(dtype=np.float64))
        holds = builder.complex_step_holds(
            terms, probe, variable, np.asarray(probe[variable.name].to_numpy(dtype=np.float64)))
        out.append((holds, float(values.min()), float(values.max())))
    return out


def joined_checks(a: list[tuple], b: list[tuple]) -> list[tuple]:
    return [(x[0] and y[0], min(x[1], y[1]), max(x[2], y[2])) for x, y in zip(a, b)]


# --- The table ------------------------------------------------------------------------


def effect_rows(effects: np.ndarray, jacobian: np.ndarray, cov: np.ndarray) -> pd.DataFrame:
    """Effects and delta-method standard errors: se = sqrt(J V J')."""
    with np.errstate(invalid="ignore", divide="ignore"):
        variance = np.einsum("gi,ij,gj->g", jacobian, cov, jacobian)
        se = np.where(variance > 0.0, np.sqrt(np.abs(variance)), np.nan)
        z = np.where(se > 0.0, effects / se, np.nan)
    p = two_sided_pvalues(z)
    stars = ["***" if v < 0.01 else "**" if v < 0.05 else "*" if v < 0.1 else "" for v in p]
    return pd.DataFrame({"dy/dx": effects, "Std. Err": se, "z": z, "Pr(>|z|)": p,
                         "Significance": stars})


def omitted_behind(jacobian: np.ndarray, positions: Sequence[int],
                   omitted: set) -> list[list[int]]:
    """For each group's row of an effect, the omitted columns among the
    variable's `positions` that it moves: those whose Jacobian is not zero
    (a level's column the contrast sets, a column the slope changes; a
    column the effect leaves at zero on every row has an exact 0)."""
    touched = [j for j in positions if j in omitted]
    return [[j for j in touched if row[j] != 0.0] for row in jacobian]


def with_interval(table: pd.DataFrame, alpha: float) -> pd.DataFrame:
    quantile = normal_quantile(alpha)
    low, high = interval_columns(alpha)
    table[low] = table["dy/dx"] - quantile * table["Std. Err"]
    table[high] = table["dy/dx"] + quantile * table["Std. Err"]
    return table


def level_text(value: Any) -> str:
    if isinstance(value, (float, np.floating)) and float(value).is_integer():
        return str(int(value))
    return str(value)


# --- The model's side ---------------------------------------------------------------------


class Effects:
    """The effect passes of a fitted model, in memory or on Dask."""

    def __init__(self, results: Any) -> None:
        self.results = results
        self.model = results._fitted_model()
        self.data = self.model._data
        self.record = results._fit_record()  # the rows, weights and threads of the fit
        # columns omitted from the fit enter at zero, with no variance
        self.beta = results.fitted_params()
        self.omitted = {results.exog_names.index(n) for n in results.omitted}
        self.cov = np.nan_to_num(results.cov_params().to_numpy(), nan=0.0)
        spec = self.model.model_spec
        self.builder = Builder(spec, dict(self.data.context or {}))

    # ---- parts and groups

    def passes(self, by: Optional[list[str]]) -> tuple[Any, list]:
        """Passes over the effect parts, with the groups' labels (one, None,
        without `by`)."""
        rows = self.data.fitted_rows(self.record)
        if rows is None:
            return dask_effect_passes(self.data, self.record, self.builder, by)
        return memory_effect_passes(rows, self.data.frame, self.builder, by, self.record.n_jobs)

    def variables(self, passes: Any, wanted: Optional[Sequence[str]], binary: str) -> list:
        if self.builder.spec is None:
            flags = self.model._binary_columns(self.record)
            found = [Variable(name, "binary" if flags[j] and binary == "contrast" else "slope",
                              (0.0, 1.0) if flags[j] else (), j)
                     for j, name in enumerate(self.results.exog_names)
                     if j not in self.record.const_idx]
        else:
            spec = self.builder.spec
            listed = formula_variables(spec, self.dtypes())
            numeric = [name for name, levels in listed if levels is None]
            flags = dict(zip(numeric, passes.run(binary_part, both, numeric) if numeric and
                             binary == "contrast" else [False] * len(numeric)))
            columns = self.data_columns()
            found = []
            for name, levels in listed:
                terms = variable_terms(spec, name, columns)
                if levels is not None:
                    found.append(Variable(name, "factor", levels, terms=terms))
                elif flags[name]:
                    found.append(Variable(name, "binary", (0.0, 1.0), terms=terms))
                else:
                    found.append(Variable(name, "slope", terms=terms))
        if wanted is None:
            return found
        names = [v.name for v in found]
        absent = [w for w in wanted if w not in names]
        if absent:
            raise ValueError(f"variables {absent} are not variables of the model: {names}")
        return [v for v in found if v.name in wanted]

    def decided_derivatives(self, passes: Any, settings: list) -> list:
        """The settings with how each slope through a transform is taken,
        decided once, by a pass over every part, before the effect passes:
        so every part takes it the same way, whatever the threads."""
        slopes = [i for i, (_, setting) in enumerate(settings) if not setting.pairs and
                  setting.variable.terms is not None and setting.variable.terms.spec is not None]
        if not slopes:
            return settings
        checks = passes.run(derivative_checks, joined_checks, self.builder,
                            [settings[i][1].variable for i in slopes])
        out = list(settings)
        for i, (holds, low, high) in zip(slopes, checks):
            keys, setting = settings[i]
            out[i] = (keys, Setting(replace(setting.variable, complex_step=holds,
                                            bounds=(low, high))))
        return out

    def data_columns(self) -> list[str]:
        frame = self.data.frame
        return [str(c) for c in frame.columns] if frame is not None else []

    def dtypes(self) -> pd.Series:
        frame = self.data.frame
        return frame.dtypes if frame is not None else pd.Series(dtype=object)

    # ---- tables

    def table(self, passes: Any, labels: list, settings: list[tuple[list, Setting]],
              by: Optional[list[str]], alpha: float, names: list[str]) -> pd.DataFrame:
        n_groups = len(labels)
        # one pass for every setting and the rows' counts: each part's rows
        # are read once
        parts = passes.map(counted_effect_sums, self.builder,
                           [setting for _, setting in settings], self.beta, n_groups)
        counts = add_pairs([part_counts for part_counts, _ in parts], add_arrays)
        every = add_pairs([sums for _, splits in parts for sums in splits], add_sums)
        present = counts > 0
        frames: list[pd.DataFrame] = []
        keys: list[tuple] = []
        resting: list[list[int]] = []  # the omitted columns each row rests on
        keys_of = [(key, setting.variable) for contrasts, setting in settings
                   for key in contrasts]
        for (key, variable), (effects, jacobian) in zip(keys_of, every):
            frames.append(effect_rows(effects[present] / counts[present],
                                      jacobian[present] / counts[present, None], self.cov))
            keys.extend(key + tuple(label) for label, p in zip(labels, present) if p)
            resting += omitted_behind(jacobian[present], [] if variable is None else
                                      variable.positions, self.omitted)
        return self.finished(pd.concat(frames, ignore_index=True), keys, names + (by or []),
                             alpha, resting)

    def finished(self, rows: pd.DataFrame, keys: list[tuple], names: list[str],
                 alpha: float, resting: Optional[list[list[int]]] = None) -> EffectTable:
        """The effect rows with their intervals and index; the rows that rest
        on omitted columns (`resting`, by row) NaN and marked "(omitted)",
        with the reason in a warning; unusable variances named in a warning."""
        table = with_interval(rows, alpha)
        index = pd.MultiIndex.from_tuples(keys, names=names)
        table.index = index.get_level_values(0) if index.nlevels == 1 else index
        if resting is not None and any(resting):
            self.mark_omitted(table, resting)
        unusable = table["Std. Err"].isna() & table["dy/dx"].notna()
        if unusable.any():
            listed = [" ".join(map(str, key)) if isinstance(key, tuple) else str(key)
                      for key in table.index[unusable.to_numpy()]]
            warn_unusable(listed, "marginal effects", covariance_hint(self.results.cov_type),
                          stacklevel=5)
        return EffectTable(table)

    def mark_omitted(self, table: pd.DataFrame, resting: list[list[int]]) -> None:
        """NaN for the rows that rest on omitted columns, "(omitted)" as their
        significance (Stata's mark), and a warning naming them and why the
        columns were left out."""
        flagged = np.array([bool(r) for r in resting])
        numbers = [c for c in table.columns if c != "Significance"]
        table.loc[flagged, numbers] = np.nan
        table.loc[flagged, "Significance"] = "(omitted)"
        listed = [" ".join(map(str, key)) if isinstance(key, tuple) else str(key)
                  for key in table.index[flagged]]
        columns = sorted({j for r in resting for j in r})
        why = self.results._omitted_why([self.results.exog_names[j] for j in columns])
        shown = ", ".join(listed[:10]) + (f" and {len(listed) - 10} more" if len(listed) > 10
                                          else "")
        warnings.warn(f"the effects of {shown} rest on regressors left out of the fit, "
                      f"{why}: they have no estimate, and are NaN marked (omitted)",
                      OmittedWarning, stacklevel=6)

    def column_table(self, alpha: float, wanted: Optional[Sequence[str]]) -> EffectTable:
        """The effects of an arrays fit, whose variables are its columns: every
        column's in one pass of the engine's per-column kernel (the 0 -> 1
        change of a 0/1 column, the slope of any other), as the table of
        variables lays them out."""
        names = list(self.results.exog_names)
        absent = [w for w in wanted or [] if w not in names]
        if absent:
            raise ValueError(f"variables {absent} are not variables of the model: {names}")
        passes = self.data.fitted_passes(self.record)
        const = set(self.record.const_idx)
        binary = passes.run(driver.binary_part, driver.both_binary)
        placeholders = ["const" if j in const else f"column {j}" for j in range(len(names))]
        effects, jacobian, total = passes.run(column_sums_part, add_arrays_of,
                                              self.beta, placeholders, binary)
        shown = [j for j in range(len(names)) if j not in const
                 and (wanted is None or names[j] in wanted)]
        rows = effect_rows(effects[shown] / total, jacobian[shown] / total, self.cov)
        keys = [(names[j], "1 - 0" if binary[j] else SLOPE) for j in shown]
        return self.finished(rows, keys, ["term", "contrast"], alpha,
                             [[j] if j in self.omitted else [] for j in shown])

    def ame(self, alpha: float, variables: Any, by: Any, binary: str) -> pd.DataFrame:
        if binary not in ("contrast", "slope"):
            raise ValueError(f"binary must be 'contrast' or 'slope', got {binary!r}")
        normal_quantile(alpha)
        wanted = names_list("variables", variables)
        by_names = names_list("by", by)
        if self.builder.spec is None and not by_names and binary == "contrast":
            return self.column_table(alpha, wanted)
        passes, labels = self.passes(by_names)
        settings = []
        for variable in self.variables(passes, wanted, binary):
            if variable.kind == "slope":
                settings.append(([(variable.name, SLOPE)], Setting(variable)))
                continue
            reference = variable.levels[0]
            levels = variable.levels[1:]
            keys = [(variable.name, f"{level_text(level)} - {level_text(reference)}")
                    for level in levels]
            settings.append((keys, Setting(variable, tuple((level, reference)
                                                           for level in levels))))
        settings = self.decided_derivatives(passes, settings)
        return self.table(passes, labels, settings, by_names, alpha, ["term", "contrast"])

    def predictions(self, alpha: float, by: Any) -> pd.DataFrame:
        normal_quantile(alpha)
        by_names = names_list("by", by)
        passes, labels = self.passes(by_names)
        key, names = ((), []) if by_names else (("average",), ["prediction"])
        table = self.table(passes, labels, [([key], Setting())], by_names, alpha, names)
        return table.rename(columns={"dy/dx": "estimate"})

    def comparisons(self, variables: Any, alpha: float, by: Any) -> pd.DataFrame:
        normal_quantile(alpha)
        if not isinstance(variables, dict) or not variables:
            raise TypeError("variables must be a dict of variable: (low, high), e.g. "
                            "{'educ': (12, 16)}")
        by_names = names_list("by", by)
        passes, labels = self.passes(by_names)
        known = {v.name: v for v in self.variables(passes, list(variables), "slope")}
        settings = []
        for name, pair in variables.items():
            if not isinstance(pair, (tuple, list)) or len(pair) != 2:
                raise ValueError(f"variables[{name!r}] must be a pair (low, high), got {pair!r}")
            low, high = pair
            variable = known[name]
            if variable.kind == "factor":
                for level in (low, high):
                    if level not in variable.levels:
                        raise ValueError(f"variables[{name!r}]: {level!r} is not a level of "
                                         f"{name}: {list(variable.levels)}")
            else:
                try:
                    low, high = float(low), float(high)
                except (TypeError, ValueError):
                    raise ValueError(f"variables[{name!r}] must be two numbers, got "
                                     f"{pair!r}") from None
                if not (np.isfinite(low) and np.isfinite(high)):
                    raise ValueError(f"variables[{name!r}] must be two finite numbers, got "
                                     f"{pair!r}")
            contrast = f"{level_text(high)} - {level_text(low)}"
            settings.append(([(name, contrast)], Setting(variable, ((high, low),))))
        table = self.table(passes, labels, settings, by_names, alpha, ["term", "contrast"])
        return table.rename(columns={"dy/dx": "estimate"})


def add_arrays(a: Any, b: Any) -> Any:
    return a + b


def names_list(what: str, names: Any) -> Optional[list[str]]:
    if names is None:
        return None
    if isinstance(names, str):
        return [names]
    if isinstance(names, (list, tuple)) and names and all(isinstance(n, str) for n in names):
        return list(names)
    raise TypeError(f"{what} must be a column name or a list of them, got {names!r}")


# --- In memory ------------------------------------------------------------------------


def memory_effect_passes(rows: FittedRows, frame: Optional[pd.DataFrame], builder: Builder,
                         by: Optional[list[str]], n_jobs: Optional[int]) -> tuple[Any, list]:
    """Passes over a fit's rows in memory, of the caller's `frame`."""
    from .parts import MemoryPasses

    kept = rows.kept_rows  # the fitted rows' positions in the caller's data
    positions = np.arange(rows.nobs) if kept is None else np.asarray(kept)
    codes, labels = None, [()]
    if by:
        if frame is None:
            raise ValueError("by= needs the model's data: a formula, or exog as a DataFrame")
        codes, labels = group_codes(frame.iloc[positions], by)
    weights = rows.weights
    parts = [EffectPart(rows.exog[s], frame if builder.spec is not None else None,
                        s if kept is None else positions[s], None if codes is None else codes[s],
                        splits,
                        None if weights is None else weights[s])
             for s, splits in effect_slices(rows.nobs)]
    return MemoryPasses(parts, n_jobs), labels  # type: ignore[arg-type]


def effect_slices(nrows: int) -> list[tuple[slice, list[slice]]]:
    """The row blocks of the effect passes in memory, each with its splits:
    the blocks hold several of the fit's blocks, as each block's designs are
    built by formulaic, whose cost per call is large; the kernels sum the
    fit's blocks apart, so that the sums are added over the same parts as
    the fit's (and as Dask partitions of that size)."""
    from .parts import block_slices

    fit_blocks = block_slices(nrows)
    out = []
    for first in range(0, len(fit_blocks), BLOCKS_PER_PART):
        group = fit_blocks[first:first + BLOCKS_PER_PART]
        start = group[0].start
        out.append((slice(start, group[-1].stop),
                    [slice(b.start - start, b.stop - start) for b in group]))
    return out


def group_codes(rows: pd.DataFrame, by: list[str], labels: Optional[list] = None) -> tuple[
        np.ndarray, list]:
    """Each row's group among `labels` (tuples of the by columns' values;
    by default the sorted distinct ones of `rows`)."""
    absent = [c for c in by if c not in rows.columns]
    if absent:
        raise ValueError(f"by: {absent} are not columns of the data")
    refuse_repeated_columns("by", rows.columns, by)
    keys = plain_text(rows[by])  # Arrow's dictionaries make no MultiIndex
    if keys.isna().to_numpy().any():
        raise ValueError(f"by: the columns {by} have missing values on the fitted rows")
    index = pd.MultiIndex.from_frame(keys)
    if labels is None:
        labels = sorted(set(index), key=lambda t: tuple(map(sort_key, t)))
    codes = pd.Index(labels, tupleize_cols=True).get_indexer(index)
    return codes.astype(np.float64), labels


def sort_key(value: Any) -> tuple:
    return (0, value, "") if isinstance(value, (int, float, np.number)) else (1, 0, str(value))


# --- On Dask ------------------------------------------------------------------------------


def dask_effect_part(frame: pd.DataFrame, part: Any, by: Optional[list[str]],
                     labels: list) -> EffectPart:
    """A partition's effect part: the fitted part the fit's passes read
    (its rows, after those left out for missing values, a zero weight or
    separation, and their weights), with the caller's rows it was built
    from and their groups."""
    rows = frame.reset_index(drop=True)
    codes = None
    if by:
        kept = rows if part.kept is None else rows.iloc[part.kept]
        codes = group_codes(kept, by, labels)[0]
    return EffectPart(part.exog, rows, part.kept, codes, weights=part.weights)


def effect_part_of(part: Any) -> EffectPart:
    """A fitted part of Dask arrays as the effect passes read it."""
    return EffectPart(part.exog, weights=part.weights)


def partition_groups(frame: pd.DataFrame, by: list[str]) -> set:
    absent = [c for c in by if c not in frame.columns]
    if absent:
        raise ValueError(f"by: {absent} are not columns of the data")
    refuse_repeated_columns("by", frame.columns, by)
    return set(pd.MultiIndex.from_frame(plain_text(frame[by]).dropna()))


def dask_effect_passes(data: Any, record: FitRecord, builder: Builder,
                       by: Optional[list[str]]) -> tuple[Any, list]:
    """Passes over the parts of a Dask fit (its `record`): the parts of its
    own passes, so that the effects read the rows and weights the fit read."""
    import dask

    from ._dask import DaskPasses

    fitted = data.fitted_parts(record)
    if data.formula is None:
        if by:
            raise ValueError("by= needs the model's data: a formula on a Dask DataFrame")
        return DaskPasses([dask.delayed(effect_part_of, pure=True)(p) for p in fitted]), [()]
    labels: list = [()]
    if by:
        found = dask.compute(*[dask.delayed(partition_groups, pure=True)(p, by)
                               for p in data.frame.to_delayed()])
        labels = sorted(set().union(*found), key=lambda t: tuple(map(sort_key, t)))
    parts = [dask.delayed(dask_effect_part, pure=True)(p, part, by, labels)
             for p, part in zip(data.frame.to_delayed(), fitted)]
    return DaskPasses(parts), labels
