"""Probit models from formulas and DataFrames, fitted by quillon, with named
and complete results in statsmodels' vocabulary.

Examples
--------
>>> import quillon_models as qm
>>> from quillon_models import datasets
>>> df = datasets.load("admissions")
>>> res = qm.probit("admit ~ gre + gpa + C(rank)", df).fit()
>>> res.converged, res.nobs
(True, 400)
>>> print(res.summary())  # doctest: +SKIP
>>> res.ame()["dy/dx"].round(4)  # the effects of the formula's variables
term  contrast
gre   dY/dX       0.0004
gpa   dY/dX       0.1552
rank  2 - 1      -0.1564
      3 - 1      -0.2868
      4 - 1      -0.3213
Name: dy/dx, dtype: float64
"""

from .covariance import clip_psd, cluster_factor, hc1_factor, parse_cov_options
from .exceptions import (
    CollinearityWarning,
    ConvergenceWarning,
    CovarianceWarning,
    HessianInversionWarning,
    ModelWarning,
    OmittedWarning,
    PerfectSeparationError,
    PerfectSeparationWarning,
)
from .groups import encode_groups
from .model import Probit, probit
from .results import ProbitResults

__all__ = [
    "CollinearityWarning",
    "ConvergenceWarning",
    "CovarianceWarning",
    "HessianInversionWarning",
    "ModelWarning",
    "OmittedWarning",
    "PerfectSeparationError",
    "PerfectSeparationWarning",
    "Probit",
    "ProbitResults",
    "clip_psd",
    "cluster_factor",
    "encode_groups",
    "hc1_factor",
    "parse_cov_options",
    "probit",
]
