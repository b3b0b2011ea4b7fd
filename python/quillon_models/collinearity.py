"""Columns of the design that are linear combinations of others, told from
the first pass's Hessian before the Newton iteration starts.

At beta = 0 every row's weight in the probit Hessian is the same,
(2 phi(0))^2, so the first pass's negative Hessian is X'X times a constant.
Scaled to unit diagonal it is the correlation-like matrix of the columns
(uncentred). A Cholesky factorisation takes the columns in their order,
as R's and Stata's do: the pivot left for column j is 1 - R^2 of j on the
columns kept before it, and a column whose pivot falls below TOLERANCE is
aliased and set aside, so that of two collinear columns the later one goes.

TOLERANCE = 1e-11 means a column explained to within a residual of about
3e-6 of its length (sqrt(1e-11)) is aliased: beyond that the Hessian's
condition number passes 1e11, and the last digits that the inverse gives
for such columns are rounding. The factorisation's own rounding stays near
k * 1e-16, far below it. An all-zero column is aliased outright.
"""

from __future__ import annotations

import numpy as np

TOLERANCE = 1e-11


def aliased_columns(negative_hessian: np.ndarray, tolerance: float = TOLERANCE) -> list[int]:
    """The columns to leave out, in column order; the others span the same
    space and are kept."""
    a = np.array(negative_hessian, dtype=np.float64)
    k = a.shape[0]
    diagonal = np.diag(a).copy()
    empty = ~(diagonal > 0) | ~np.isfinite(diagonal)
    scale = np.where(empty, 1.0, 1.0 / np.sqrt(np.where(empty, 1.0, diagonal)))
    a = a * scale[:, None] * scale[None, :]
    aliased = []
    for j in range(k):
        if empty[j] or not a[j, j] >= tolerance:
            aliased.append(j)
            continue
        column = a[:, j] / np.sqrt(a[j, j])
        a = a - np.outer(column, column)
    return aliased
