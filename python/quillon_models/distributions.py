"""The few distribution functions that inference on the engine's numbers
needs: normal tails and quantiles, and the chi-squared tail."""

from __future__ import annotations

import math
from statistics import NormalDist
from typing import Any

import numpy as np

from . import _kernels as kernels

_SQRT2 = math.sqrt(2.0)


def normal_cdf(x: Any) -> np.ndarray:
    """Phi(x) elementwise, by the engine's kernel (the fit's own bits)."""
    values = np.asarray(x, dtype=np.float64)
    column = np.ascontiguousarray(values.reshape(-1, 1))
    return kernels.predict(column, np.ones(1), True).reshape(values.shape)


def two_sided_pvalues(z: np.ndarray) -> np.ndarray:
    """P(|Z| > |z|) for a standard normal Z; NaN stays NaN."""
    values = np.asarray(z, dtype=np.float64)
    out = np.frompyfunc(lambda v: math.erfc(abs(v) / _SQRT2), 1, 1)(values)
    return np.asarray(out, dtype=np.float64)


def normal_quantile(alpha: float) -> float:
    """The two-sided critical value: Phi^-1(1 - alpha / 2)."""
    if not 0.0 < alpha < 1.0:
        raise ValueError(f"alpha must lie strictly between 0 and 1, got {alpha!r}")
    upper = 1.0 - alpha / 2.0
    if upper < 1.0:
        return NormalDist().inv_cdf(upper)
    # 1 - alpha/2 rounds to 1: the lower tail still tells the quantile.
    if alpha / 2.0 == 0.0:
        raise ValueError(f"alpha {alpha!r} is too small for a finite interval")
    return -NormalDist().inv_cdf(alpha / 2.0)


def chi2_sf(x: float, df: float) -> float:
    """P(X > x) for X chi-squared with df degrees of freedom: the regularized
    upper incomplete gamma function Q(df / 2, x / 2)."""
    if math.isnan(x) or df <= 0:
        return math.nan
    if x <= 0:
        return 1.0
    a, t = df / 2.0, x / 2.0
    if t < a + 1.0:
        return 1.0 - _lower_series(a, t)
    return _upper_fraction(a, t)


def _lower_series(a: float, x: float) -> float:
    """P(a, x) by its power series (converges fast for x < a + 1)."""
    term = total = 1.0 / a
    denominator = a
    for _ in range(1000):
        denominator += 1.0
        term *= x / denominator
        total += term
        if abs(term) < abs(total) * 1e-17:
            break
    return total * math.exp(-x + a * math.log(x) - math.lgamma(a))


def _upper_fraction(a: float, x: float) -> float:
    """Q(a, x) by Lentz's continued fraction (converges fast for x >= a + 1)."""
    tiny = 1e-300
    b = x + 1.0 - a
    c = 1.0 / tiny
    d = 1.0 / b
    h = d
    for i in range(1, 1000):
        an = -i * (i - a)
        b += 2.0
        d = an * d + b
        d = tiny if abs(d) < tiny else d
        c = b + an / c
        c = tiny if abs(c) < tiny else c
        d = 1.0 / d
        delta = d * c
        h *= delta
        if abs(delta - 1.0) < 1e-16:
            break
    return math.exp(-x + a * math.log(x) - math.lgamma(a)) * h


def normal_pdf(x: np.ndarray) -> np.ndarray:
    """phi(x) elementwise."""
    values = np.asarray(x, dtype=np.float64)
    return np.exp(-0.5 * values * values) / math.sqrt(2.0 * math.pi)
