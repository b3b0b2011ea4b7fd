"""Wald tests of linear hypotheses R @ params = q on the fit's estimates and
covariance: one z test per row (t_test) or one joint chi-squared test
(wald_test), with statsmodels' result attributes. Inference is on the normal
and chi-squared distributions, as for the estimates themselves."""

from __future__ import annotations

import warnings
from typing import TYPE_CHECKING, Any, Sequence

import numpy as np
import pandas as pd

from .constraints import constraint_matrices
from .distributions import chi2_sf, normal_quantile, two_sided_pvalues
from .exceptions import CovarianceWarning
from .summary import Summary, estimate_rows, interval_columns
from .variances import standard_errors

if TYPE_CHECKING:
    from .results import ProbitResults


class ContrastResults:
    """The result of `t_test` (distribution "norm": effect, sd, statistic,
    pvalue per constraint, with intervals and tables) or of `wald_test`
    (distribution "chi2": one statistic and p-value)."""

    def __init__(self, statistic: Any, pvalue: np.ndarray, df_denom: float, distribution: str,
                 effect: np.ndarray | None = None, sd: np.ndarray | None = None) -> None:
        self.distribution = distribution
        self.statistic = statistic
        self.pvalue = np.squeeze(pvalue)
        self.df_denom = df_denom
        self.effect = effect
        self.sd = sd
        if distribution == "norm":
            self.tvalue = statistic
        else:
            self.df_num = df_denom  # the constraints' rank: the chi-squared's degrees of freedom
        self.c_names = None if effect is None else [f"c{i}" for i in range(len(effect))]

    def conf_int(self, alpha: float = 0.05) -> np.ndarray:
        """Normal intervals for the constrained combinations R @ params:
        (m, 2), lower and upper."""
        if self.effect is None or self.sd is None:
            raise NotImplementedError("a joint Wald test has no confidence interval; "
                                      "t_test gives one per constraint")
        half = normal_quantile(alpha) * self.sd
        return np.column_stack([self.effect - half, self.effect + half])

    def summary_frame(self, xname: Sequence[str] | None = None,
                      alpha: float = 0.05) -> pd.DataFrame:
        """statsmodels' table of a z test, one row per constraint."""
        if self.effect is None:
            raise NotImplementedError("only available for t_test's z tests")
        interval = self.conf_int(alpha)
        return pd.DataFrame({"coef": self.effect, "std err": self.sd, "z": self.statistic,
                             "P>|z|": np.atleast_1d(self.pvalue),
                             "Conf. Int. Low": interval[:, 0], "Conf. Int. Upp.": interval[:, 1]},
                            index=list(xname or self.c_names or []))

    def summary(self, xname: Sequence[str] | None = None, alpha: float = 0.05,
                title: str | None = None) -> Summary | str:
        """The table of a z test, or one line for a joint Wald test."""
        if self.effect is None or self.sd is None:
            return (f"<Wald test ({self.distribution}): statistic={self.statistic}, "
                    f"p-value={self.pvalue}, df_denom={self.df_denom:.3g}>")
        names = list(xname or self.c_names or [])
        rows = estimate_rows(names, self.effect, self.sd, np.asarray(self.statistic),
                             np.atleast_1d(self.pvalue), alpha)
        return Summary(title or "Test for Constraints", [],
                       ["coef", "std err", "z", "P>|z|"] + interval_columns(alpha), rows)

    def __str__(self) -> str:
        return str(self.summary())

    def __repr__(self) -> str:
        return f"{type(self).__name__}\n{self}"


def t_test(results: ProbitResults, r_matrix: Any, cov_p: Any = None) -> ContrastResults:
    """One z test per row of R: (R @ params - q) / sqrt(diag(R V R'))."""
    matrix, values = constraint_matrices(r_matrix, results.exog_names)
    kept = estimated_columns(results, matrix)
    matrix, params = matrix[:, kept], results.params.to_numpy()[kept]
    cov = covariance(results, cov_p)[np.ix_(kept, kept)]
    effect = matrix @ params
    names = [f"c{i}" for i in range(len(effect))]
    variances = np.einsum("ij,jk,ik->i", matrix, cov, matrix)
    sd = standard_errors(variances, names, "constraints", stacklevel=3, zero_usable=True)
    with np.errstate(divide="ignore", invalid="ignore"):
        statistic = (effect - values) / sd
    return ContrastResults(statistic, two_sided_pvalues(statistic), results.df_resid, "norm",
                           effect, sd)


def wald_test(results: ProbitResults, r_matrix: Any, cov_p: Any = None,
              scalar: bool = True) -> ContrastResults:
    """The joint test of R @ params = q: (Rb - q)' (R V R')^+ (Rb - q),
    chi-squared with the rank of R V R' degrees of freedom."""
    matrix, values = constraint_matrices(r_matrix, results.exog_names)
    kept = estimated_columns(results, matrix)
    statistic, rank = wald_statistic(matrix[:, kept], values, results.params.to_numpy()[kept],
                                     covariance(results, cov_p)[np.ix_(kept, kept)])
    shown: Any = statistic if scalar else np.array([[statistic]])
    return ContrastResults(shown, np.asarray(chi2_sf(statistic, rank)), float(rank), "chi2")


def estimated_columns(results: ProbitResults, matrix: np.ndarray) -> np.ndarray:
    """The positions of the estimated parameters, on which the constraints
    are tested: a column omitted from the fit has no estimate, and a
    constraint that involves one is refused, naming it."""
    omitted = [results.exog_names.index(name) for name in results.omitted]
    involved = [results.exog_names[j] for j in omitted if matrix[:, j].any()]
    if involved:
        raise ValueError(f"the constraints involve {', '.join(involved)}, omitted from the fit "
                         "(see the results' notes): there is no estimate to test")
    return np.array([j for j in range(len(results.exog_names)) if j not in omitted],
                    dtype=np.intp)


def wald_statistic(matrix: np.ndarray, values: np.ndarray, params: np.ndarray,
                   cov: np.ndarray) -> tuple[float, int]:
    """The Wald statistic and its degrees of freedom; a constraint covariance
    of lower rank than the constraints is inverted by its pseudo-inverse,
    and the degrees of freedom are its rank, with a warning."""
    distance = matrix @ params - values
    cov_r = matrix @ cov @ matrix.T
    if not np.isfinite(cov_r).all():
        raise ValueError("the covariance of the constraints holds NaN or infinite values: "
                         "the fit's covariance is not usable")
    rank = int(np.linalg.matrix_rank(cov_r))
    if rank < matrix.shape[0]:
        warnings.warn(f"the covariance of the {matrix.shape[0]} constraints has rank {rank}: "
                      f"the test has {rank} degrees of freedom", CovarianceWarning,
                      stacklevel=4)
    return float(distance @ np.linalg.pinv(cov_r) @ distance), rank


def covariance(results: ProbitResults, cov_p: Any) -> np.ndarray:
    """The fit's covariance, or `cov_p` in its place (k x k)."""
    if cov_p is None:
        return results.cov_params().to_numpy()
    names = results.exog_names
    k = len(names)
    if isinstance(cov_p, pd.DataFrame):
        if sorted(map(str, cov_p.index)) != sorted(names) or sorted(
                map(str, cov_p.columns)) != sorted(names):
            raise ValueError("cov_p's labels must be the parameters' names: "
                             f"{', '.join(names)}")
        cov_p = cov_p.rename(index=str, columns=str).loc[names, names]
    cov = np.array(cov_p, dtype=np.float64)
    if cov.shape != (k, k):
        raise ValueError(f"cov_p must be {k} x {k}, one row and column per parameter; got "
                         f"shape {cov.shape}")
    return cov
