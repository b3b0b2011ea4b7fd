"""Linear hypotheses R @ params = q in statsmodels' forms: a string such as
"educ = exper, age = 0" (formulaic's linear-constraint parser), a matrix R
(q = 0), or an (R, q) pair."""

from __future__ import annotations

import re
from decimal import Decimal
from typing import Any, Sequence

import numpy as np


def constraint_matrices(r_matrix: Any, names: Sequence[str]) -> tuple[np.ndarray, np.ndarray]:
    """(R, q) as float64, R of shape (m, k) and q of shape (m,), for the
    parameters `names`."""
    if isinstance(r_matrix, (list, tuple)) and r_matrix and all(
            isinstance(c, str) for c in r_matrix):
        r_matrix = ", ".join(r_matrix)
    if isinstance(r_matrix, str):
        return parsed_constraints(r_matrix, names)
    if isinstance(r_matrix, tuple):
        if len(r_matrix) != 2:
            raise ValueError(f"r_matrix as a tuple must be a pair (R, q), got {len(r_matrix)} "
                             "items")
        matrix = restriction_rows(r_matrix[0], len(names))
        values = np.array(r_matrix[1], dtype=np.float64).reshape(-1)
        if values.size == 1:
            values = np.full(matrix.shape[0], values[0])
        if values.size != matrix.shape[0]:
            raise ValueError(f"r_matrix: R has {matrix.shape[0]} rows and q {values.size} "
                             "values")
        return matrix, values
    matrix = restriction_rows(r_matrix, len(names))
    return matrix, np.zeros(matrix.shape[0])


def restriction_rows(values: Any, k: int) -> np.ndarray:
    """R as a float64 (m, k) matrix; one row may be given as a vector."""
    try:
        matrix = np.array(values, dtype=np.float64)
    except (TypeError, ValueError) as error:
        raise TypeError("r_matrix must be a string of constraints, a matrix or an (R, q) "
                        f"pair; got {type(values).__name__}") from error
    if matrix.ndim == 1:
        matrix = matrix[None, :]
    if matrix.ndim != 2 or matrix.shape[1] != k or matrix.shape[0] == 0:
        raise ValueError(f"r_matrix needs rows of {k} values, one per parameter; got shape "
                         f"{np.shape(values)}")
    if not np.isfinite(matrix).all():
        raise ValueError("r_matrix holds NaN or infinite values")
    return matrix


def parsed_constraints(text: str, names: Sequence[str]) -> tuple[np.ndarray, np.ndarray]:
    try:
        from formulaic.errors import FormulaSyntaxError
        from formulaic.utils.constraints import LinearConstraints
    except ImportError as error:
        raise ImportError("constraints given as text need formulaic: "
                          "pip install 'quillon[models]'") from error
    try:
        parsed = LinearConstraints.from_spec(prepared(text, names), variable_names=list(names))
    except KeyError as error:
        raise ValueError(f"r_matrix {text!r} names {error}, which is not a parameter; the "
                         f"parameters are {', '.join(names)} (quote names with spaces or "
                         "brackets in backticks)") from None
    except (FormulaSyntaxError, RuntimeError, ArithmeticError) as error:
        raise ValueError(f"r_matrix {text!r} is not a set of linear constraints: "
                         f"{error}") from None
    matrix = np.array(parsed.constraint_matrix, dtype=np.float64).reshape(-1, len(names))
    if matrix.shape[0] == 0:
        raise ValueError(f"r_matrix {text!r} holds no constraint")
    return matrix, np.array(parsed.constraint_values, dtype=np.float64).reshape(-1)


def prepared(text: str, names: Sequence[str]) -> str:
    """The constraints as formulaic's parser reads them: names quoted (so
    that "I(-gre)" stays one name), then, outside the quotes, numbers in
    scientific notation written out and a zero before a leading sign. A
    constraint of more than one "=" is refused."""
    pieces = re.split(r"(`[^`]*`)", quoted_names(text, names))
    out = "".join(piece if piece.startswith("`") else signed_operands(plain_numbers(piece))
                  for piece in pieces)
    for constraint in re.sub(r"`[^`]*`", "name", out).split(","):
        if len(re.findall("=+", constraint)) > 1:
            raise ValueError(f"r_matrix {text!r} chains equalities ({constraint.strip()!r}); "
                             "write each as a constraint of its own: 'a = b, b = c'")
    return out


def plain_numbers(text: str) -> str:
    """Numbers in scientific notation ("3e-3") written out ("0.003"), which
    formulaic's tokenizer would read as a name and a sign."""
    return re.sub(r"(?<![\w.])(?:\d+\.?\d*|\.\d+)[eE][-+]?\d+(?![\w.])",
                  lambda number: format(Decimal(number.group(0)), "f"), text)


def quoted_names(text: str, names: Sequence[str]) -> str:
    """Parameter names that are not plain identifiers ("C(rank)[T.2]") put in
    backticks, where the text does not quote them already, so that every
    formulaic version reads them as names; the longest names first, so that
    one containing another is quoted whole."""
    plain = re.compile(r"[A-Za-z_][A-Za-z0-9_]*\Z")
    pieces = re.split(r"(`[^`]*`)", text)
    for name in sorted((n for n in names if not plain.match(n)), key=len, reverse=True):
        pieces = [piece if piece.startswith("`") else
                  "".join(part if part.startswith("`") else part.replace(name, f"`{name}`")
                          for part in re.split(r"(`[^`]*`)", piece))
                  for piece in pieces]
        pieces = re.split(r"(`[^`]*`)", "".join(pieces))
    return "".join(pieces)


def signed_operands(text: str) -> str:
    """The constraints with a zero before a sign that opens a side or a
    bracket ("age = -0.3" as "age = 0 -0.3"): formulaic's tokenizer would
    read "= -" as one unknown operator."""
    return re.sub(r"([=,(])(\s*)([-+])", r"\1\2 0 \3", text)
