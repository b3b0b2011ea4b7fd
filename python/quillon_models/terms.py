"""Joint Wald tests of the formula's terms, one per term, so that a factor's
levels (or an interaction's columns) are tested together; the columns of each
term come from formulaic's model spec, so fits on Dask data are tested the
same way. Without a formula, each parameter is its own term."""

from __future__ import annotations

import warnings
from typing import TYPE_CHECKING, Any, Sequence

import numpy as np
import pandas as pd

from .distributions import chi2_sf
from .exceptions import CovarianceWarning
from .hypothesis import estimated_columns, wald_statistic

if TYPE_CHECKING:
    from .results import ProbitResults


class WaldTestResults:
    """statsmodels' table of tests by term: `table` (columns statistic,
    pvalue, df_constraint) and `summary_frame()` (chi2, P>chi2,
    df constraint)."""

    distribution = "chi2"

    def __init__(self, table: pd.DataFrame) -> None:
        self.table = table
        self.statistic = table["statistic"].to_numpy()
        self.pvalues = table["pvalue"].to_numpy()
        self.df_constraints = table["df_constraint"].to_numpy()

    @property
    def col_names(self) -> list[str]:
        return ["chi2", "P>chi2", "df constraint"]

    def summary_frame(self) -> pd.DataFrame:
        return self.table.rename(columns=dict(zip(self.table.columns, self.col_names)))

    def __str__(self) -> str:
        return str(self.summary_frame().to_string())

    def __repr__(self) -> str:
        return f"{type(self).__name__}\n{self}"


def wald_test_terms(results: ProbitResults, skip_single: bool = False,
                    extra_constraints: Sequence[tuple[str, Any]] | None = None,
                    combine_terms: Sequence[str] | None = None) -> WaldTestResults:
    """One test that every parameter of a term is zero, per term; then one
    per string of `combine_terms` (all terms whose name contains it), then
    one per (name, R) pair of `extra_constraints`."""
    terms = term_columns(results)
    k = len(results.exog_names)
    tests = [(name, columns) for name, columns in terms
             if not (skip_single and len(columns) == 1)]
    for combined in combine_terms or []:
        columns = [j for name, cols in terms if str(combined) in name for j in cols]
        if not columns:
            raise ValueError(f"combine_terms: no term's name contains {combined!r}")
        tests.append((str(combined), columns))
    omitted = {results.exog_names.index(name) for name in results.omitted}
    untested = [name for name, columns in tests if set(columns) <= omitted]
    if untested:
        warnings.warn(f"{', '.join(untested)}: omitted from the fit, so not tested (NaN)",
                      CovarianceWarning, stacklevel=3)
    identity = np.eye(k)
    # A term is tested over its estimated columns (Stata's testparm).
    constraints = [(name, identity[[j for j in columns if j not in omitted]])
                   for name, columns in tests]
    constraints += [(str(name), extra_rows(matrix, k)) for name, matrix in extra_constraints or []]
    params, cov = results.params.to_numpy(), results.cov_params().to_numpy()
    rows = []
    for name, matrix in constraints:
        if matrix.shape[0] == 0:
            rows.append((name, np.nan, np.nan, 0))
            continue
        kept = estimated_columns(results, matrix)
        statistic, rank = wald_statistic(matrix[:, kept], np.zeros(matrix.shape[0]),
                                         params[kept], cov[np.ix_(kept, kept)])
        rows.append((name, statistic, chi2_sf(statistic, rank), rank))
    table = pd.DataFrame([row[1:] for row in rows], index=[row[0] for row in rows],
                         columns=["statistic", "pvalue", "df_constraint"])
    return WaldTestResults(table)


def term_columns(results: ProbitResults) -> list[tuple[str, list[int]]]:
    """(term name, its columns) in the order of the columns: from the
    formula's model spec (or the terms kept by remove_data()), else one term
    per parameter."""
    record = results._kept_record()
    if record is not None and record.terms is not None:
        return [(name, list(columns)) for name, columns in record.terms]
    spec = results._model_spec
    if spec is None:
        return [(name, [j]) for j, name in enumerate(results.exog_names)]
    if len(spec.column_names) != len(results.exog_names):
        raise ValueError(f"the formula's model spec has {len(spec.column_names)} columns and "
                         f"the fit {len(results.exog_names)} parameters")
    return [(term_name(term), [int(j) for j in columns])
            for term, columns in spec.term_indices.items() if len(columns)]


def term_name(term: Any) -> str:
    """The term as the formula writes it; the intercept by its column's name."""
    name = str(term)
    return "Intercept" if name == "1" else name


def extra_rows(matrix: Any, k: int) -> np.ndarray:
    rows = np.atleast_2d(np.asarray(matrix, dtype=np.float64))
    if rows.ndim != 2 or rows.shape[1] != k:
        raise ValueError(f"extra_constraints: each matrix needs rows of {k} values; got shape "
                         f"{np.shape(matrix)}")
    return rows
