"""Effects of variables: slopes of numeric variables through every term they
enter, contrasts of factor levels, average predictions and comparisons,
overall or by group, with delta-method standard errors.

The designs they need are built a part at a time, from the rows of the part:
a derivative design D = dx/dv for a slope, a pair of counterfactual designs
(X1, X0) for a contrast. The kernels of `_partition` reduce each part to
G effect sums and G x k Jacobian sums (G groups); the parts' sums are added
along the fixed tree, so the result has the same bits on any number of
threads. Python only builds designs and combines k-sized sums.

Derivatives of the design are taken by the complex step: the formula is
evaluated with v + i h for a tiny h (2^-70), and the imaginary part over h
is the derivative, exact to rounding for the analytic transforms (powers,
products, logarithms, exponentials); no difference is subtracted, so there
is no cancellation. Transforms that refuse complex values fall back to a
central difference extrapolated by Richardson's rule.
"""

from __future__ import annotations

import re
from dataclasses import dataclass, field
from typing import Any, Optional, Sequence

import numpy as np
import pandas as pd

from . import _partition as kernels
from .distributions import normal_quantile, two_sided_pvalues
from .summary import interval_columns

COLUMNS = ["dy/dx", "Std. Err", "z", "Pr(>|z|)", "Significance"]
SLOPE = "dY/dX"
STEP = 2.0 ** -70  # the complex step: a power of two, so that dividing by it is exact
PROBE_ROWS = 32  # rows on which a part checks that the complex step holds


# --- The variables of a model -------------------------------------------------------------


@dataclass(frozen=True)
class Variable:
    """A variable of the formula (or a column of an arrays fit): `kind` is
    "slope" (numeric), "binary" (numeric, all 0 and 1) or "factor";
    `levels` the factor's levels, the reference first."""

    name: str
    kind: str
    levels: tuple = ()
    column: Optional[int] = None  # arrays fits: the design column


@dataclass
class Setting:
    """What one pass computes: the slope of `variable`, its contrast
    `high` - `low`, or (variable None) the average prediction."""

    variable: Optional[Variable] = None
    high: Any = None
    low: Any = None

    @property
    def slope(self) -> bool:
        return self.variable is not None and self.high is None


@dataclass
class EffectPart:
    """One part as the effect passes read it: the fitted design's rows, the
    caller's rows they came from (formula fits: `source` at `positions`, the
    columns `columns`), group codes."""

    exog: np.ndarray
    source: Optional[pd.DataFrame] = None
    positions: Optional[np.ndarray] = None
    columns: Optional[list] = None
    groups: Optional[np.ndarray] = None

    @property
    def rows(self) -> Optional[pd.DataFrame]:
        """The caller's rows of the part, a copy of the used columns only."""
        if self.source is None:
            return None
        frame = self.source if self.columns is None else self.source[self.columns]
        return frame if self.positions is None else frame.iloc[self.positions]


@dataclass
class Builder:
    """How a part's designs are made: from the formula's model spec on the
    part's rows, or (arrays fits) by setting a design column."""

    spec: Any = None
    context: dict = field(default_factory=dict)

    def design(self, part: EffectPart, setting: Setting, value: Any) -> np.ndarray:
        variable = setting.variable
        assert variable is not None
        if self.spec is None:
            out = np.array(part.exog, dtype=np.float64, order="C")
            out[:, variable.column] = value
            return out
        rows = part.rows
        assert rows is not None
        rows = rows.copy(deep=False)
        column = rows[variable.name]
        if isinstance(column.dtype, pd.CategoricalDtype):
            rows[variable.name] = pd.Categorical([value] * len(rows),
                                                 categories=column.dtype.categories,
                                                 ordered=column.dtype.ordered)
        else:
            rows[variable.name] = pd.Series([value] * len(rows), index=rows.index,
                                            dtype=column.dtype if variable.kind == "factor"
                                            else np.float64)
        return self.evaluate(rows)

    def evaluate(self, rows: pd.DataFrame) -> np.ndarray:
        return np.asarray(self.spec.get_model_matrix(rows, context=self.context))

    def derivative(self, part: EffectPart, variable: Variable) -> np.ndarray:
        """dx/dv for every row of the part."""
        if self.spec is None:
            out = np.zeros(part.exog.shape)
            out[:, variable.column] = 1.0
            return out
        rows = part.rows
        assert rows is not None
        values = rows[variable.name].to_numpy(dtype=np.float64)
        if self.complex_step_holds(rows.iloc[:PROBE_ROWS], variable, values[:PROBE_ROWS]):
            design = self.complex_step(rows, variable, values)
            if design is not None:
                return design
        return self.difference(rows, variable, values)

    def complex_step(self, rows: pd.DataFrame, variable: Variable,
                     values: np.ndarray) -> Optional[np.ndarray]:
        """The complex-step derivative, or None when a transform refuses
        complex values."""
        shifted = rows.copy(deep=False)
        shifted[variable.name] = values + 1j * STEP
        try:
            design = self.evaluate(shifted)
        except (TypeError, ValueError):
            return None
        if not np.iscomplexobj(design):
            return None
        return np.ascontiguousarray(design.imag / STEP, dtype=np.float64)

    def complex_step_holds(self, rows: pd.DataFrame, variable: Variable,
                           values: np.ndarray) -> bool:
        """Whether the transforms carry the imaginary part through: on a few
        rows, every column that moves with a real step of v must have a
        complex-step derivative (abs(), casts to float and the like lose it)."""
        derivative = self.complex_step(rows, variable, values)
        if derivative is None:
            return False
        moved = rows.copy(deep=False)
        moved[variable.name] = values + 1e-4 * np.maximum(1.0, np.abs(values))
        change = self.evaluate(moved).astype(np.float64) - self.evaluate(rows)
        lost = (change != 0.0) & (derivative == 0.0)
        return not bool(lost.any())

    def difference(self, rows: pd.DataFrame, variable: Variable,
                   values: np.ndarray) -> np.ndarray:
        """The central difference at steps h and h/2, extrapolated (error of
        order h^4)."""
        h = 1e-3 * np.maximum(1.0, np.abs(values))

        def central(step: np.ndarray) -> np.ndarray:
            up, down = rows.copy(deep=False), rows.copy(deep=False)
            up[variable.name] = values + step
            down[variable.name] = values - step
            return ((self.evaluate(up).astype(np.float64) - self.evaluate(down)) /
                    (2.0 * step[:, None]))

        return np.ascontiguousarray((4.0 * central(h / 2.0) - central(h)) / 3.0)


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


def first_use(spec: Any, name: str) -> int:
    match = re.search(rf"(?<![\w.]){re.escape(name)}(?!\w)", str(spec.formula))
    return match.start() if match else 0


def factor_levels(spec: Any, name: str, dtype: Any) -> Optional[tuple]:
    """The levels of a variable the formula encodes as a factor, its
    reference first; None for a numeric variable."""
    if dtype is not None and pd.api.types.is_bool_dtype(dtype):
        return (False, True)
    for factor, variables in spec.factor_variables.items():
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


def effect_sums(part: EffectPart, builder: Builder, setting: Setting, beta: np.ndarray,
                n_groups: int) -> tuple:
    """One part's G effect sums and G x k Jacobian sums."""
    if len(part.exog) == 0:
        return np.zeros(n_groups), np.zeros((n_groups, len(beta)))
    if setting.variable is None:
        return kernels.contrast_sums(part.exog, None, beta, part.groups, n_groups)
    if setting.slope:
        return kernels.slope_sums(part.exog, builder.derivative(part, setting.variable), beta,
                                  part.groups, n_groups)
    high = builder.design(part, setting, setting.high)
    low = builder.design(part, setting, setting.low)
    return kernels.contrast_sums(high, low, beta, part.groups, n_groups)


def add_sums(a: tuple, b: tuple) -> tuple:
    return (a[0] + b[0], a[1] + b[1])


def counts_part(part: EffectPart, n_groups: int) -> np.ndarray:
    """Rows per group (counted, not computed on)."""
    if part.groups is None:
        return np.array([float(len(part.exog))])
    return np.bincount(part.groups.astype(np.intp), minlength=n_groups).astype(np.float64)


def binary_part(part: EffectPart, name: str) -> bool:
    rows = part.rows
    assert rows is not None
    values = np.ascontiguousarray(rows[[name]].to_numpy(dtype=np.float64))
    return bool(kernels.binary_columns(values)[0]) if len(values) else True


def both(a: bool, b: bool) -> bool:
    return a and b


# --- The table ------------------------------------------------------------------------


def effect_rows(effects: np.ndarray, jacobian: np.ndarray, cov: np.ndarray) -> pd.DataFrame:
    """Effects and delta-method standard errors: se = sqrt(J V J')."""
    with np.errstate(invalid="ignore", divide="ignore"):
        variance = np.einsum("gi,ij,gj->g", jacobian, cov, jacobian)
        se = np.where(variance >= 0.0, np.sqrt(np.abs(variance)), np.nan)
        z = np.where(se > 0.0, effects / se, np.nan)
    p = two_sided_pvalues(z)
    stars = ["***" if v < 0.01 else "**" if v < 0.05 else "*" if v < 0.1 else "" for v in p]
    return pd.DataFrame({"dy/dx": effects, "Std. Err": se, "z": z, "Pr(>|z|)": p,
                         "Significance": stars})


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
        self.beta = results.params.to_numpy()
        self.cov = results.cov_params().to_numpy()
        spec = self.model.model_spec
        self.builder = Builder(spec, dict(self.data.context or {}))

    # ---- parts and groups

    def passes(self, by: Optional[list[str]]) -> tuple[Any, list]:
        """Passes over the effect parts, with the groups' labels (one, None,
        without `by`)."""
        if self.data.on_dask:
            return dask_effect_passes(self.data, self.builder, by)
        return memory_effect_passes(self.data, self.builder, by, self.model._fit_jobs)

    def variables(self, passes: Any, wanted: Optional[Sequence[str]], binary: str) -> list:
        if self.builder.spec is None:
            flags = self.model.binary_columns()
            found = [Variable(name, "binary" if flags[j] and binary == "contrast" else "slope",
                              (0.0, 1.0) if flags[j] else (), j)
                     for j, name in enumerate(self.model.exog_names)
                     if j not in self.model.const_idx]
        else:
            found = []
            for name, levels in formula_variables(self.builder.spec, self.dtypes()):
                if levels is not None:
                    found.append(Variable(name, "factor", levels))
                elif binary == "contrast" and passes.run(binary_part, both, name):
                    found.append(Variable(name, "binary", (0.0, 1.0)))
                else:
                    found.append(Variable(name, "slope"))
        if wanted is None:
            return found
        names = [v.name for v in found]
        absent = [w for w in wanted if w not in names]
        if absent:
            raise ValueError(f"variables {absent} are not variables of the model: {names}")
        return [v for v in found if v.name in wanted]

    def dtypes(self) -> pd.Series:
        frame = self.data.frame
        return frame.dtypes if frame is not None else pd.Series(dtype=object)

    # ---- tables

    def table(self, passes: Any, labels: list, settings: list[tuple[tuple, Setting]],
              by: Optional[list[str]], alpha: float, names: list[str]) -> pd.DataFrame:
        n_groups = len(labels)
        counts = passes.run(counts_part, add_arrays, n_groups)
        present = counts > 0
        frames: list[pd.DataFrame] = []
        keys: list[tuple] = []
        for key, setting in settings:
            effects, jacobian = passes.run(effect_sums, add_sums, self.builder, setting,
                                           self.beta, n_groups)
            rows = effect_rows(effects[present] / counts[present],
                               jacobian[present] / counts[present, None], self.cov)
            frames.append(rows)
            keys.extend(key + tuple(label) for label, p in zip(labels, present) if p)
        table = with_interval(pd.concat(frames, ignore_index=True), alpha)
        index = pd.MultiIndex.from_tuples(keys, names=names + (by or []))
        table.index = index.get_level_values(0) if index.nlevels == 1 else index
        return table

    def ame(self, alpha: float, variables: Any, by: Any, binary: str) -> pd.DataFrame:
        if binary not in ("contrast", "slope"):
            raise ValueError(f"binary must be 'contrast' or 'slope', got {binary!r}")
        normal_quantile(alpha)
        wanted = names_list("variables", variables)
        by_names = names_list("by", by)
        passes, labels = self.passes(by_names)
        settings = []
        for variable in self.variables(passes, wanted, binary):
            if variable.kind == "slope":
                settings.append(((variable.name, SLOPE), Setting(variable)))
                continue
            reference = variable.levels[0]
            for level in variable.levels[1:]:
                contrast = f"{level_text(level)} - {level_text(reference)}"
                settings.append(((variable.name, contrast), Setting(variable, level, reference)))
        return self.table(passes, labels, settings, by_names, alpha, ["term", "contrast"])

    def predictions(self, alpha: float, by: Any) -> pd.DataFrame:
        normal_quantile(alpha)
        by_names = names_list("by", by)
        passes, labels = self.passes(by_names)
        key, names = ((), []) if by_names else (("average",), ["prediction"])
        table = self.table(passes, labels, [(key, Setting())], by_names, alpha, names)
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
            contrast = f"{level_text(high)} - {level_text(low)}"
            settings.append(((name, contrast), Setting(variable, high, low)))
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


def memory_effect_passes(data: Any, builder: Builder, by: Optional[list[str]],
                         n_jobs: Optional[int]) -> tuple[Any, list]:
    from .parts import MemoryPasses, block_slices

    frame = data.frame
    if by and frame is None:
        raise ValueError("by= needs the model's data: a formula, or exog as a DataFrame")
    kept = data.design.kept_rows
    positions = np.arange(data.nobs) if kept is None else np.asarray(kept)
    codes, labels = None, [()]
    if by:
        codes, labels = group_codes(frame.iloc[positions], by)
    columns = None
    if builder.spec is not None:
        columns = [c for c in frame.columns if c in builder.spec.required_variables]
    parts = [EffectPart(data.exog[s], frame if builder.spec is not None else None,
                        positions[s], columns, None if codes is None else codes[s])
             for s in block_slices(data.nobs)]
    return MemoryPasses(parts, n_jobs), labels  # type: ignore[arg-type]


def group_codes(rows: pd.DataFrame, by: list[str], labels: Optional[list] = None) -> tuple[
        np.ndarray, list]:
    """Each row's group among `labels` (tuples of the by columns' values;
    by default the sorted distinct ones of `rows`)."""
    absent = [c for c in by if c not in rows.columns]
    if absent:
        raise ValueError(f"by: {absent} are not columns of the data")
    keys = rows[by]
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


def dask_effect_part(frame: pd.DataFrame, spec: Any, missing: str, context: dict, used: list,
                     by: Optional[list[str]], labels: list) -> EffectPart:
    """A partition's effect part: its fitted design and rows, as the fit's
    `part_from_frame` builds them, with the rows' groups."""
    from ._dask import part_from_frame

    part = part_from_frame(frame, spec, None, missing, context, used, checked=False)
    rows = frame.reset_index(drop=True)
    codes = None
    if by:
        kept = rows if part.kept is None else rows.iloc[part.kept]
        codes = group_codes(kept, by, labels)[0]
    return EffectPart(part.exog, rows, part.kept, list(used), codes)


def partition_groups(frame: pd.DataFrame, by: list[str]) -> set:
    absent = [c for c in by if c not in frame.columns]
    if absent:
        raise ValueError(f"by: {absent} are not columns of the data")
    return set(pd.MultiIndex.from_frame(frame[by].dropna()))


def dask_effect_passes(data: Any, builder: Builder, by: Optional[list[str]]) -> tuple[Any, list]:
    import dask

    from ._dask import DaskPasses

    if data.formula is None:
        if by:
            raise ValueError("by= needs the model's data: a formula on a Dask DataFrame")
        parts = [dask.delayed(lambda p: EffectPart(p.exog), pure=True)(p)
                 for p in data.make_parts(None, checked=not data._trusted)]
        return DaskPasses(parts), [()]
    labels: list = [()]
    if by:
        found = dask.compute(*[dask.delayed(partition_groups, pure=True)(p, by)
                               for p in data.frame.to_delayed()])
        labels = sorted(set().union(*found), key=lambda t: tuple(map(sort_key, t)))
    parts = [dask.delayed(dask_effect_part, pure=True)(p, data._spec, data.missing, data.context,
                                                       data._used, by, labels)
             for p in data.frame.to_delayed()]
    return DaskPasses(parts), labels
