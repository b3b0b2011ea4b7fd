"""Separation: a direction in which the estimates run off to infinity.

A screen runs on every fit at no cost: the Newton iteration keeps its last
two points and Hessians. At a finite maximum the iteration converges
quadratically and the variances (the diagonal of the inverse of minus the
Hessian) of the last two passes agree to many digits; when the outcome is
separated, the likelihood keeps rising along the separating direction, the
variance of the coefficients in that direction grows by a factor of about
2.7 a pass, and the iteration stops on the tolerance of the log-likelihood
or runs out of passes. The screen fires when some variance grew by more
than SCREEN_RATIO in the last pass, or the passes ran out.

Only then does the exact test run: the linear programme of Konis (2007),
solved by HiGHS (scipy.optimize.linprog). With s_i = 2 y_i - 1, it asks for
b with -1 <= b_j <= 1 and s_i x_i'b >= 0 for every row, maximising the sum
of s_i x_i'b. The outcome is separated exactly when the maximum is positive:
then b is a direction of recession of the likelihood, the coefficients
with b_j != 0 are infinite, and the rows with s_i x_i'b > 0 are predicted
perfectly. The programme has k variables and one constraint per row, so its
cost grows with n x k (HiGHS solves n = 10^5, k = 10 in about a second).
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Optional

import numpy as np

SCREEN_RATIO = 1.2
# A direction's part below this (relative to its largest) is rounding.
DIRECTION_TOLERANCE = 1e-7


def screen_fires(history: list, ran_out: bool) -> bool:
    """Whether the last two passes of the iteration look separated:
    `history` holds (beta, hessian) pairs in pass order."""
    if ran_out:
        return True
    if len(history) < 2:
        return False
    variances = []
    for _, hessian in history[-2:]:
        try:
            variances.append(np.diag(np.linalg.inv(-hessian)))
        except np.linalg.LinAlgError:
            return True
    before, after = variances
    with np.errstate(divide="ignore", invalid="ignore"):
        grew = after > SCREEN_RATIO * before
    return bool(np.any(grew & (before > 0)) or not np.all(np.isfinite(after)))


@dataclass(frozen=True)
class Separation:
    """What the exact test found."""

    direction: np.ndarray  # b, over the columns tested
    columns: list[int]  # positions (among the columns tested) of the infinite coefficients
    predicted: int  # rows predicted perfectly
    rows: np.ndarray  # mask of those rows


def exact_test(endog: np.ndarray, exog: np.ndarray) -> Optional[Separation]:
    """Konis' linear programme on the rows; None when the outcome is not
    separated. Needs scipy."""
    try:
        from scipy.optimize import linprog
    except ImportError as error:  # pragma: no cover - scipy comes with the extras
        raise ImportError("the test for separation needs scipy: pip install scipy") from error
    signs = 2.0 * endog - 1.0
    signed = exog * signs[:, None]
    scale = np.maximum(np.abs(signed).max(axis=0), 1e-300)
    scaled = signed / scale  # columns of comparable size, for the solver's tolerances
    k = exog.shape[1]
    solution = linprog(-scaled.sum(axis=0), A_ub=-scaled, b_ub=np.zeros(len(endog)),
                       bounds=[(-1.0, 1.0)] * k, method="highs")
    if solution.status != 0 or -solution.fun <= 1e-9 * max(1, len(endog)) ** 0.5:
        return None
    direction = solution.x / scale
    size = np.abs(direction).max()
    columns = [int(j) for j in np.flatnonzero(np.abs(direction) > DIRECTION_TOLERANCE * size)]
    margins = scaled @ solution.x
    rows = margins > 1e-9 * np.abs(scaled).sum(axis=1).clip(min=1.0)
    if not rows.any():
        return None
    return Separation(direction, columns, int(rows.sum()), rows)
