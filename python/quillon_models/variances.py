"""Standard errors from variances. A variance that is not positive gives no
standard error: it shows as NaN, and a warning names the terms it belongs to."""

from __future__ import annotations

import functools
import os
import sys
import warnings
from types import FrameType
from typing import Optional, Sequence

import numpy as np

from .exceptions import CovarianceWarning

# Names listed in a warning before the rest are counted.
SHOWN = 10


def standard_errors(variances: np.ndarray, names: Sequence[str], what: str, hint: str = "",
                    stacklevel: int = 2, zero_usable: bool = False) -> np.ndarray:
    """sqrt(variances), NaN where a variance is zero or negative; `what` says
    whose variances they are ("estimates", "marginal effects") in the warning,
    `hint` what might help. `stacklevel` counts from the caller, as
    warnings.warn counts. With `zero_usable`, only negative variances are
    refused (a combination that the covariance leaves exactly known)."""
    values = np.asarray(variances, dtype=np.float64)
    unusable = values < 0.0 if zero_usable else values <= 0.0
    if unusable.any():
        warn_unusable([str(n) for n, bad in zip(names, unusable) if bad], what, hint,
                      stacklevel + 1)
    with np.errstate(invalid="ignore"):
        return np.sqrt(np.where(unusable, np.nan, values))


def warn_unusable(names: Sequence[str], what: str, hint: str, stacklevel: int) -> None:
    """A CovarianceWarning naming the terms; `stacklevel` counts from the caller."""
    listed = ", ".join(names[:SHOWN]) + (f" and {len(names) - SHOWN} more"
                                          if len(names) > SHOWN else "")
    warnings.warn(f"the variances of the {what} of {listed} are not positive: their standard "
                  f"errors, z statistics, p-values and intervals are NaN{hint}",
                  CovarianceWarning, stacklevel=beyond_package(stacklevel + 1))


PACKAGE = os.path.dirname(os.path.abspath(__file__)) + os.sep


def beyond_package(stacklevel: int) -> int:
    """`stacklevel` of a warnings.warn in the function that calls this, moved
    on past the frames of this package and of functools (a cached
    property): a warning raised where the package reads its own results (a
    summary reading the standard errors) names the caller's line."""
    try:
        frame: Optional[FrameType] = sys._getframe(stacklevel)
    except ValueError:
        return stacklevel
    while frame is not None and frame.f_code.co_filename.startswith((PACKAGE, FUNCTOOLS)):
        frame = frame.f_back
        stacklevel += 1
    return stacklevel


FUNCTOOLS = os.path.abspath(functools.__file__)


def covariance_hint(cov_type: str) -> str:
    """What to try when a variance of this kind of covariance is not positive."""
    if cov_type == "cluster":
        return ("; a clustered covariance can be made positive semi-definite with "
                "cov_kwds={'psd': 'clip'}")
    return ""
