"""Probit models from formulas and DataFrames, fitted by quillon, with named
and complete results in statsmodels' vocabulary.

    import quillon_models as qm
    res = qm.probit("admit ~ gre + gpa + C(rank)", df).fit()
    print(res.summary())
    res.ame()
"""

from .covariance import clip_psd, cluster_factor, hc1_factor, parse_cov_options
from .exceptions import (
    CollinearityWarning,
    ConvergenceWarning,
    CovarianceWarning,
    HessianInversionWarning,
    ModelWarning,
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
