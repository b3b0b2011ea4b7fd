"""From what the user has (a formula and a DataFrame, or arrays, Series and
DataFrames) to what the engine fits: a 0/1 float64 outcome, a float64 design
matrix, the names of both and the rows that were kept."""

from __future__ import annotations

import re
import warnings
from dataclasses import dataclass, field
from typing import Any, Callable

import numpy as np
import pandas as pd

from . import _kernels as kernels

MISSING_OPTIONS = ("none", "drop", "raise")


@dataclass(frozen=True)
class Design:
    """The data of one model, ready for the engine."""

    endog: np.ndarray  # (n,) float64, every value 0.0 or 1.0
    exog: np.ndarray  # (n, k) float64, every value finite
    endog_name: str
    exog_names: list[str]
    # Labels of the kept rows in the caller's data (a pandas Index), or None
    # for plain arrays.
    row_labels: pd.Index | None
    # Positions of the kept rows among the caller's rows, or None when every
    # row was kept.
    kept_rows: np.ndarray | None
    nobs_dropped: int
    # Columns holding one nonzero value throughout (found with the checks).
    const_idx: list[int] = field(default_factory=list)
    model_spec: Any = None  # formulaic's ModelSpec of the right-hand side
    formula: str | None = None
    # The caller's names that the formula uses (statsmodels' eval_env).
    context: dict | None = None


def check_missing_option(missing: str) -> str:
    if missing not in MISSING_OPTIONS:
        raise ValueError(f"missing must be one of {', '.join(map(repr, MISSING_OPTIONS))}, "
                         f"got {missing!r}")
    return missing


def import_formulaic() -> Any:
    try:
        import formulaic
    except ImportError as error:
        raise ImportError("formulas need formulaic: pip install 'quillon[models]'") from error
    return formulaic


def design_from_formula(formula: str, data: Any, missing: str = "drop",
                        context: dict | None = None) -> Design:
    """The design of `formula` (formulaic's syntax) on the columns of `data`,
    with the caller's names in `context`."""
    check_missing_option(missing)
    check_formula(formula)
    formulaic = import_formulaic()
    frame = data if isinstance(data, pd.DataFrame) else pd.DataFrame(data)
    if len(frame) == 0:
        raise ValueError("no observations: the data have no rows")
    labels = frame.index
    # Rows are tracked by position: formulaic keeps the index of the rows it
    # does not drop.
    frame = frame.copy(deep=False)
    frame.index = pd.RangeIndex(len(frame))
    check_outcome_columns(formula, frame.dtypes, lambda column: pd.unique(frame[column].dropna()))
    refuse_dates(formula, frame.dtypes)
    if missing != "drop":
        used = formula_columns(formula, frame.columns)
        refuse_missing(dict(frame[used].isna().sum()))
    frame = text_as_categories(formula, frame)
    na_action = "drop" if missing == "drop" else "ignore"
    matrices = listed_levels_only(
        lambda: formulaic.model_matrix(formula, frame, na_action=na_action,
                                       context=context or {}), frame)
    lhs, rhs = matrices.lhs, matrices.rhs
    endog_name = outcome_name(lhs)
    positions = np.asarray(rhs.index, dtype=np.intp)
    endog = lhs.iloc[:, 0].to_numpy(dtype=np.float64)
    exog, screened = design_rows(rhs)
    names = [str(c) for c in rhs.columns]
    design = finish(endog, exog, endog_name, names, missing, labels, positions, len(frame),
                    screened)
    return Design(**{**design.__dict__, "model_spec": matrices.model_spec.rhs,
                     "formula": formula, "context": context})


# formulaic's warning for a value that C(x, levels=[...]) does not list.
UNLISTED_LEVELS = ".*categories outside of the nominated levels"


def listed_levels_only(build: Callable[[], Any], frame: pd.DataFrame,
                       spec: Any = None) -> Any:
    """build(), formulaic's design of `frame`, whose factors hold only the
    levels they list: formulaic codes a value that C(x, levels=[...]) does
    not list as the reference level (with a warning), which is refused
    here, naming the column and the values. `spec` is the right-hand side's
    model spec when known (else built again to find the column)."""
    with warnings.catch_warnings():
        warnings.filterwarnings("error", message=UNLISTED_LEVELS)
        try:
            return build()
        except Warning as warning:
            found = str(warning)
    if spec is None:
        with warnings.catch_warnings():
            warnings.filterwarnings("ignore", message=UNLISTED_LEVELS)
            spec = build().model_spec.rhs
    raise ValueError(unlisted_levels_message(spec, frame) or
                     f"a factor holds values that its levels do not list: {found}")


def unlisted_levels_message(spec: Any, frame: pd.DataFrame) -> str | None:
    from .prediction_design import levels_outside

    for factor, column, _, unlisted in levels_outside(spec, frame):
        shown = ", ".join(str(v) for v in sorted(unlisted, key=str)[:8])
        return (f"column {column!r} holds values that {factor} does not list: {shown}; "
                f"list every value of the column among the levels (or drop those rows) "
                f"rather than have them coded as another level")
    return None


def design_rows(rhs: pd.DataFrame) -> tuple[np.ndarray, tuple | None]:
    """formulaic's design as one row-major array of float64, the layout the
    kernels read fastest, made in one copy straight from its columns; with
    (every value finite, which columns are constant) from the same read."""
    try:
        columns = [np.asarray(rhs.iloc[:, j], dtype=np.float64) for j in range(rhs.shape[1])]
    except (TypeError, ValueError):  # values that are not plain numbers: numpy says why
        return rhs.to_numpy(dtype=np.float64), None
    if not columns:
        return np.empty((len(rhs), 0)), None
    exog, finite, constant = kernels.rows_from_columns(columns)
    return exog, (finite, constant)


def mentions(text: str, name: str) -> bool:
    """Whether `name` appears in `text` as a whole identifier."""
    return re.search(rf"(?<![\w.]){re.escape(name)}(?!\w)", text) is not None


def text_as_categories(formula: str, frame: pd.DataFrame) -> pd.DataFrame:
    """The frame (a shallow copy) with each text column that the formula's
    right-hand side uses only as a factor (bare, or as C's first argument)
    held as a pandas categorical of the same levels. formulaic reads such a
    column's codes instead of hashing and checking every string, so the
    design comes out the same, sooner. Other columns of pandas' and Arrow's
    text dtypes become object columns of str, the text formulaic reads."""
    rhs = formula.split("~", 1)[1]
    for column in formula_columns(rhs, frame.columns):
        values = frame[column]
        if not (values.dtype == object or text_dtype(values.dtype)):
            continue
        categorical = text_categorical(values) if only_as_factor(rhs, column) else None
        if categorical is not None and categorical.categories.inferred_type == "string":
            frame[column] = categorical
        elif text_dtype(values.dtype):
            frame[column] = plain_values(values)
    return frame


def text_dtype(dtype: Any) -> bool:
    """Whether `dtype` is one of pandas' or Arrow's types of text (string,
    large_string, a dictionary of either), which formulaic would read as
    numbers; object columns are read for what they hold."""
    if isinstance(dtype, pd.StringDtype):
        return True
    if ARROW_DTYPE is None or not isinstance(dtype, ARROW_DTYPE):
        return False
    return str(arrow_values(dtype.pyarrow_dtype)) in ARROW_TEXT


def arrow_values(arrow: Any) -> Any:
    """An Arrow type, or a dictionary's type of values."""
    return arrow.value_type if hasattr(arrow, "index_type") else arrow


ARROW_TEXT = ("string", "large_string", "string_view")
# pandas' type of Arrow columns (pandas 1.5 and newer).
ARROW_DTYPE = getattr(pd, "ArrowDtype", None)


def plain_values(values: Any) -> np.ndarray:
    """A column of a text dtype as formulaic reads text: an object array of
    str, NaN where a value is missing."""
    return np.asarray(pd.Series(values).to_numpy(dtype=object, na_value=np.nan))


def plain_text(frame: pd.DataFrame, columns: Any = None) -> pd.DataFrame:
    """The frame with each column of a text dtype (of `columns`, when
    given) as an object column of str (a shallow copy, when there is one),
    so that a model spec reads it as the text it was fitted on."""
    text = [j for j, (name, dtype) in enumerate(frame.dtypes.items())
            if text_dtype(dtype) and (columns is None or name in columns)]
    if not text:
        return frame
    if not hasattr(frame, "isetitem"):  # pandas before 1.5
        return pd.concat([pd.Series(plain_values(frame.iloc[:, j]), index=frame.index)
                          if j in text else frame.iloc[:, j] for j in range(frame.shape[1])],
                         axis=1, keys=range(frame.shape[1])).set_axis(frame.columns, axis=1)
    frame = frame.copy(deep=False)
    for j in text:  # by position: names may repeat
        frame.isetitem(j, plain_values(frame.iloc[:, j]))
    return frame


def text_categorical(values: pd.Series) -> pd.Categorical:
    """pd.Categorical(values), its levels and codes read by the kernels
    where the column holds only text and missing values; a column of a text
    dtype through pandas' own categorical, its levels as str (Arrow's
    dictionaries decoded first), the same levels and codes as the kernels
    give for the same values as objects."""
    found = kernels.text_codes(values.to_numpy()) if values.dtype == object else None
    if found is None and text_dtype(values.dtype):
        if ARROW_DTYPE is not None and isinstance(values.dtype, ARROW_DTYPE):
            # dictionaries decoded
            values = values.astype(ARROW_DTYPE(arrow_values(values.dtype.pyarrow_dtype)))
        categorical = pd.Categorical(values)
        return pd.Categorical.from_codes(categorical.codes, categories=pd.Index(
            list(categorical.categories), dtype=object))
    if found is None:
        return pd.Categorical(values)
    codes, levels = found
    order = sorted(range(len(levels)), key=levels.__getitem__)
    # remap[old] is the level's place in sorted order; remap[-1] keeps -1.
    remap = np.full(len(levels) + 1, -1, dtype=np.min_scalar_type(-len(levels) - 1))
    remap[order] = np.arange(len(levels))
    return pd.Categorical.from_codes(remap[np.frombuffer(codes, dtype=np.int32)],
                                     categories=pd.Index([levels[i] for i in order],
                                                         dtype=object))


def only_as_factor(text: str, name: str) -> bool:
    """Whether every mention of `name` in `text` is a term of its own or C's
    first argument."""
    for found in re.finditer(rf"(?<![\w.]){re.escape(name)}(?!\w)", text):
        before = text[:found.start()].rstrip()
        after = text[found.end():].lstrip()
        in_c = re.search(r"(?<![\w.])C\(\s*$", text[:found.start()]) is not None
        if in_c:
            if not after or after[0] not in ",)":
                return False
        elif (before and before[-1] not in "~+*:|-(") or (after and after[0] not in "+*:|-)"):
            return False
        elif before.endswith("(") and re.search(r"[\w.]\s*\($", before):
            return False  # the argument of a call
    return True


def formula_columns(text: str, columns: Any) -> list[str]:
    """The columns of the data that a formula (or one side of it) names, in
    the data's order: read from its text, which every formulaic version
    has, and which also holds the arguments of transforms."""
    return [str(c) for c in columns if mentions(text, str(c))]


def check_formula(formula: Any) -> None:
    if not isinstance(formula, str) or "~" not in formula:
        raise ValueError(f"formula must be a string 'outcome ~ regressors', got {formula!r}")


def check_outcome_columns(formula: str, dtypes: pd.Series, values_of: Any) -> None:
    """The outcome's data column must hold numbers or bools: text and
    categories are refused with the values they hold (`values_of(column)`),
    whatever they look like ("0"/"1", a categorical of 0 and 1)."""
    for column in formula_columns(formula.split("~", 1)[0], dtypes.index):
        if not numeric_outcome_dtype(dtypes[column]):
            raise ValueError(outcome_message(str(column), dtypes[column], values_of(column)))


def numeric_outcome_dtype(dtype: Any) -> bool:
    if isinstance(dtype, pd.CategoricalDtype):
        return False
    return bool(pd.api.types.is_bool_dtype(dtype) or pd.api.types.is_numeric_dtype(dtype))


def refuse_dates(formula: str, dtypes: pd.Series) -> None:
    """A column of dates (datetimes or periods) used as a regressor as it
    is: refused, naming it (formulaic fails on its arithmetic); C() of it,
    or a number made from it, is another matter."""
    rhs = formula.split("~", 1)[1]
    for column in formula_columns(rhs, dtypes.index):
        dtype = dtypes[column]
        if not (pd.api.types.is_datetime64_any_dtype(dtype) or isinstance(dtype, pd.PeriodDtype)):
            continue
        if any(bare_term(rhs, found) for found in re.finditer(
                rf"(?<![\w.]){re.escape(str(column))}(?!\w)", rhs)):
            raise ValueError(f"column {str(column)!r} holds dates ({dtype}): a regressor must "
                             "be a number or a category; convert it to a number first (days "
                             f"since a date, a year) or use C({column})")


def bare_term(text: str, found: re.Match) -> bool:
    """Whether the mention `found` in `text` is a term of its own (between
    operators, or in a group's brackets but not a call's)."""
    before = text[:found.start()].rstrip()
    after = text[found.end():].lstrip()
    if before.endswith("(") and re.search(r"[\w.]\s*\($", before):
        return False
    return (not before or before[-1] in "~+*:|-(") and (not after or after[0] in "+*:|-)")


def caller_context(formula: str, depth: int) -> dict:
    """The names of the caller's frame (`depth` frames above this one's
    caller) that the formula spells, as statsmodels' eval_env takes them:
    `I(x / scale)` sees the caller's `scale`."""
    import sys

    frame = sys._getframe(depth + 1)
    scope = {**frame.f_globals, **frame.f_locals}
    words = set(re.findall(r"[A-Za-z_][A-Za-z0-9_]*", formula))
    return {name: scope[name] for name in words if name in scope}


def outcome_name(lhs: pd.DataFrame) -> str:
    """The outcome's name; a left-hand side of several columns is refused."""
    if lhs.shape[1] == 1:
        return str(lhs.columns[0])
    shown = ", ".join(map(str, lhs.columns[:8]))
    raise ValueError(f"the outcome must be one 0/1 column; the left-hand side gave "
                     f"{lhs.shape[1]} columns: {shown}")


def design_from_arrays(endog: Any, exog: Any, missing: str = "none") -> Design:
    """The design of an outcome and regressors given as arrays, Series or
    DataFrames; names come from the Series and columns, and pandas inputs
    must share their index."""
    check_missing_option(missing)
    check_same_index(("endog", endog), ("exog", exog))
    endog_name, endog_values, labels = outcome_values(endog)
    names, exog_values, exog_labels = regressor_values(exog)
    if labels is None:
        labels = exog_labels
    if len(endog_values) != exog_values.shape[0]:
        raise ValueError(f"endog has {len(endog_values)} rows and exog {exog_values.shape[0]}")
    if len(endog_values) == 0:
        raise ValueError("no observations: endog and exog have no rows")
    unnamed = not isinstance(exog, (pd.DataFrame, pd.Series))
    design = finish(endog_values, exog_values, endog_name, names, missing, labels, None,
                    len(endog_values), unnamed=unnamed)
    if unnamed:
        names = array_names(design.exog.shape[1], design.const_idx)
    return Design(**{**design.__dict__, "exog_names": names})


def check_same_index(*named: tuple[str, Any]) -> None:
    """pandas inputs are paired by their index, as statsmodels pairs them:
    inputs whose indexes differ are refused rather than paired by position."""
    indexed = [(name, value.index) for name, value in named
               if isinstance(value, (pd.Series, pd.DataFrame))]
    for name, index in indexed[1:]:
        first_name, first = indexed[0]
        if not index.equals(first):
            raise ValueError(f"{first_name} and {name} have different indexes: pandas inputs "
                             "are paired by index; align them (or pass arrays) first")


def outcome_values(endog: Any) -> tuple[str, np.ndarray, pd.Index | None]:
    if isinstance(endog, pd.DataFrame):
        if endog.shape[1] != 1:
            raise ValueError(f"endog must be one column, got {endog.shape[1]}")
        endog = endog.iloc[:, 0]
    if isinstance(endog, pd.Series):
        name = "y" if endog.name is None else str(endog.name)
        return name, outcome_array(endog, name), endog.index
    values = np.asarray(endog)
    if values.ndim == 2 and values.shape[1] == 1:
        values = values[:, 0]
    if values.ndim != 1:
        raise ValueError(f"endog must be one-dimensional (or one column), got shape {values.shape}")
    return "y", outcome_array(values, "y"), None


def outcome_array(values: Any, name: str) -> np.ndarray:
    """The outcome as float64; bool, integer and float are accepted."""
    dtype = values.dtype
    if dtype == np.bool_ or (isinstance(dtype, np.dtype) and dtype.kind in "iuf"):
        return np.asarray(values, dtype=np.float64)
    if pd.api.types.is_bool_dtype(dtype) or pd.api.types.is_numeric_dtype(dtype):
        if isinstance(dtype, pd.CategoricalDtype):
            raise ValueError(outcome_message(name, dtype, pd.unique(np.asarray(values))))
        # pandas' nullable types: missing values become NaN
        return pd.Series(values).astype("float64").to_numpy()
    raise ValueError(outcome_message(name, dtype, pd.unique(pd.Series(values).dropna())))


def outcome_message(name: str, dtype: Any, values: Any) -> str:
    values = sorted(values, key=lambda v: (str(type(v)), str(v)))
    shown = ", ".join(repr(v) for v in list(values)[:8])
    more = f" (and {len(values) - 8} more)" if len(values) > 8 else ""
    return (f"the outcome {name!r} must hold 0/1 values (bool, integer or float); "
            f"it {dtype_text(dtype, values)} with values {shown}{more}")


def dtype_text(dtype: Any, values: Any = None) -> str:
    """What a column holds, for messages: text, whichever of pandas' types
    holds it (Dask makes object columns of str into strings of its own),
    else its dtype."""
    if text_dtype(dtype) or (dtype == object and values is not None and len(values) and
                             all(isinstance(v, str) for v in values)):
        return "is text"
    return f"has dtype {dtype}"


def regressor_values(exog: Any) -> tuple[list[str], np.ndarray, pd.Index | None]:
    if isinstance(exog, pd.Series):
        exog = exog.to_frame(name="x1" if exog.name is None else exog.name)
    if isinstance(exog, pd.DataFrame):
        names = [str(c) for c in exog.columns]
        refuse_duplicates("exog", names)
        for column, dtype in exog.dtypes.items():
            if isinstance(dtype, pd.CategoricalDtype) or not (
                    pd.api.types.is_numeric_dtype(dtype) or pd.api.types.is_bool_dtype(dtype)):
                held = dtype_text(dtype, pd.unique(exog[column].dropna()))
                raise ValueError(f"exog column {str(column)!r} {held}: regressors must be "
                                 "numbers (use a formula with C() for categories)")
        return names, exog.to_numpy(dtype=np.float64, na_value=np.nan), exog.index
    values = np.asarray(exog)
    if values.ndim == 1:
        values = values[:, None]
    if values.ndim != 2:
        raise ValueError(f"exog must be two-dimensional, got shape {values.shape}")
    if not (values.dtype == np.bool_ or values.dtype.kind in "iuf"):
        raise ValueError(f"exog has dtype {values.dtype}: regressors must be numbers")
    values = values.astype(np.float64, copy=False)
    return array_names(values.shape[1], []), values, None


def array_names(k: int, const_idx: list[int]) -> list[str]:
    """statsmodels' names for unnamed columns: x1, x2, ..., with a constant
    column called const."""
    if not const_idx:
        return [f"x{j + 1}" for j in range(k)]
    # As statsmodels names them: one constant, the other columns counted
    # from x1 around it.
    names = [f"x{j}" for j in range(1, k)]
    names.insert(const_idx[0], "const")
    return names


def finish(endog: np.ndarray, exog: np.ndarray, endog_name: str, names: list[str],
           missing: str, labels: pd.Index | None, positions: np.ndarray | None,
           nrows: int, screened: tuple | None = None, unnamed: bool = False) -> Design:
    """Drops or refuses rows with NaN or inf, then checks the outcome. One
    read of the arrays answers every check on clean data; `screened` is
    (every value finite, constant columns) of exog when already known.
    `unnamed` columns are refused under the names the fit would give them
    (see `complete_row_names`)."""
    finite, ones, outside, constant = screen_design(endog, exog, screened)
    if not finite:
        if unnamed and missing != "drop":
            names = complete_row_names(endog, exog)
        kept = finite_rows(endog, exog, endog_name, names, missing)
        if kept is not None:
            endog, exog = endog[kept], exog[kept]
            positions = np.flatnonzero(kept) if positions is None else positions[kept]
        if len(endog) == 0:
            raise ValueError("no observations left: every row has a missing value")
        finite, ones, outside, constant = kernels.design_screen(endog, exog)
    if positions is not None and len(positions) == nrows:
        positions = None
    if outside:
        check_outcome(endog, endog_name)
    refuse_one_outcome(endog_name, ones, len(endog))
    if labels is not None and positions is not None:
        labels = labels[positions]
    return Design(endog=endog, exog=exog, endog_name=endog_name, exog_names=names,
                  row_labels=labels, kept_rows=positions, nobs_dropped=nrows - len(endog),
                  const_idx=[j for j, flag in enumerate(constant) if flag])


def complete_row_names(endog: np.ndarray, exog: np.ndarray) -> list[str]:
    """statsmodels' names of unnamed columns (`array_names`), the constant
    among them found on the rows without a missing value: the names of a
    fit of those rows."""
    complete = np.isfinite(endog) & np.isfinite(exog).all(axis=1)
    constant = kernels.design_screen(endog[complete], exog[complete])[3] if complete.any() else []
    return array_names(exog.shape[1], [j for j, flag in enumerate(constant) if flag])


def screen_design(endog: np.ndarray, exog: np.ndarray,
                  screened: tuple | None = None) -> tuple[bool, int, int, list[bool]]:
    """design_screen's (every value finite, outcomes equal to 1, outcomes
    neither 0 nor 1, constant columns); with `screened`, exog's part of them
    (design_rows'), so that only endog is read."""
    if screened is None:
        return kernels.design_screen(endog, exog)
    finite, ones, outside, _ = kernels.design_screen(endog, exog[:, :0])
    return finite and screened[0], ones, outside, screened[1]


def finite_rows(endog: np.ndarray, exog: np.ndarray, endog_name: str, names: list[str],
                missing: str) -> np.ndarray | None:
    """The mask of complete rows (missing="drop"), or a ValueError naming the
    columns with NaN or inf."""
    bad_endog = ~np.isfinite(endog)
    bad_exog = ~np.isfinite(exog)
    if missing != "drop":
        refuse_missing(missing_counts(bad_endog, bad_exog, endog_name, names))
    return ~(bad_endog | bad_exog.any(axis=1))


def missing_counts(bad_endog: np.ndarray, bad_exog: np.ndarray, endog_name: str,
                   names: list[str]) -> dict[str, int]:
    counts = {endog_name: int(bad_endog.sum())}
    for name, count in zip(names, bad_exog.sum(axis=0).tolist()):
        counts[name] = counts.get(name, 0) + int(count)
    return counts


def refuse_missing(counts: dict) -> None:
    """A ValueError naming each column with missing values and their count."""
    listed = "; ".join(f"column {str(name)!r}: {count}" for name, count in counts.items()
                       if count)
    if listed:
        raise ValueError(f"missing or infinite values (NaN, inf) in {listed}; "
                         "pass missing='drop' to drop those rows")


def refuse_duplicates(what: str, names: list[str]) -> None:
    seen, repeated = set(), []
    for name in names:
        if name in seen and name not in repeated:
            repeated.append(name)
        seen.add(name)
    if repeated:
        raise ValueError(f"{what} has duplicate column names: {', '.join(map(repr, repeated))}")


def refuse_repeated_columns(what: str, columns: Any, names: Any) -> None:
    """A ValueError when a column named for `what` (groups, by=, weights) is
    more than one column of the data: which of them was meant is unknown."""
    for name in names:
        count = int((pd.Index(columns) == name).sum())
        if count > 1:
            raise ValueError(f"{what}: {name!r} names {count} columns of the data; rename "
                             "them so that the name is one column")


def outside_values(endog: np.ndarray) -> tuple[int, tuple]:
    """How many outcomes are neither 0 nor 1, and the first few such values."""
    outside = (endog != 0.0) & (endog != 1.0)
    count = int(outside.sum())
    if not count:
        return 0, ()
    return count, tuple(float(v) for v in np.sort(pd.unique(endog[outside]))[:9])


def check_outcome(endog: np.ndarray, name: str) -> None:
    refuse_outside(name, *outside_values(endog))


def refuse_outside(name: str, count: int, values: tuple) -> None:
    if count:
        shown = ", ".join(repr(v) for v in values[:8])
        more = " (and more)" if len(values) > 8 else ""
        raise ValueError(f"the outcome {name!r} must hold 0/1 values; {count} rows "
                         f"hold other values: {shown}{more}")


def check_part_totals(checks: Any, endog_name: str, missing: str) -> None:
    """What the first pass found over every part, refused as in memory."""
    if missing != "drop":
        refuse_missing(checks.missing)
    used = checks.rows - checks.dropped
    if used == 0:
        raise ValueError("no observations left: every row has a missing value"
                         if checks.rows else "no observations: the data have no rows")
    refuse_outside(endog_name, checks.outside, checks.outside_values)
    weighted = used - checks.zero_weight
    if weighted:  # else the weights are refused as all zero
        refuse_one_outcome(endog_name, checks.ones, weighted)


def refuse_one_outcome(name: str, ones: int, rows: int) -> None:
    """A probit needs both outcomes among the rows it fits."""
    if ones in (0, rows):
        raise ValueError(f"the outcome {name!r} is {1 if ones else 0} in all {rows} rows used: "
                         "a probit needs rows with each outcome")
