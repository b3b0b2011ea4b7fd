"""Warnings about a fit, read from what the engine returned."""

from __future__ import annotations

import math
import warnings

from .exceptions import ConvergenceWarning, HessianInversionWarning, PerfectSeparationWarning

# The engine clips fitted probabilities to [1e-15, 1 - 1e-15]; beyond this
# linear index (about 7.94) a row's probability sits at the clip.
def _clip_index() -> float:
    low, high = 0.0, 40.0
    for _ in range(200):
        mid = 0.5 * (low + high)
        if 0.5 * math.erfc(mid / math.sqrt(2.0)) > 1e-15:
            low = mid
        else:
            high = mid
    return high


CLIP_INDEX = _clip_index()


def warn_about_fit(converged: bool, iterations: int, maxiter: int, clipped: int,
                   nobs: int) -> None:
    """The fit's warnings: not converged, no usable maximum, and `clipped`
    rows whose fitted probability lies at the engine's clip."""
    if not converged:
        if maxiter == 0 or iterations >= maxiter - 1:
            warnings.warn(f"the fit did not converge in {maxiter} Newton passes; raise maxiter "
                          "or look at the data", ConvergenceWarning, stacklevel=3)
        else:
            # The iteration only stops early without converging when a
            # Hessian cannot be inverted, or when the maximum it found has no
            # usable covariance.
            warnings.warn("the Hessian is singular or not negative definite at the estimates "
                          "(a regressor constant, all zero or collinear with others?): the "
                          "fit did not converge and its standard errors are not usable",
                          HessianInversionWarning, stacklevel=3)
    if clipped:
        warnings.warn(f"{clipped} of {nobs} observations ({clipped / nobs:.2%}) have fitted "
                      "probabilities of 0 or 1: perfect or quasi-perfect separation, some "
                      "parameters may not be identified", PerfectSeparationWarning,
                      stacklevel=3)
