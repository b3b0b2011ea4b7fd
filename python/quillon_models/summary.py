"""Summaries laid out like statsmodels': a header of fit statistics, a table
of estimates with intervals, and notes; as text and as HTML."""

from __future__ import annotations

import html
import time
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Sequence

import numpy as np

from .distributions import normal_quantile

if TYPE_CHECKING:
    from .results import ProbitResults

WIDTH = 78


@dataclass
class Summary:
    """A summary in statsmodels' layout: a header of fit statistics, a
    table of estimates and notes.

    ``str()`` and :meth:`as_text` give text, :meth:`as_html` (and a
    notebook's display) HTML.

    Attributes
    ----------
    title : str
        The caption.
    header : list of (str, str)
        The (label, value) pairs of the header.
    columns : list of str
        The estimates table's column names.
    rows : list of (str, list of str)
        Each estimate's name and formatted values.
    notes : list of str
        The numbered notes under the table.
    two_columns : bool
        Whether the header is laid out in two columns.
    """

    title: str
    # (label, value) pairs, shown in two columns (or one, for a short header)
    header: list[tuple[str, str]]
    columns: list[str]
    rows: list[tuple[str, list[str]]]
    notes: list[str] = field(default_factory=list)
    two_columns: bool = True

    def as_text(self) -> str:
        """The summary as fixed-width text, as statsmodels prints it.

        Returns
        -------
        str
        """
        name_width = max([len(name) for name, _ in self.rows] + [12]) + 1
        cell = self._cell_width()
        width = max(WIDTH, name_width + 10 + 11 * (len(self.columns) - 1), 2 * cell + 4)
        top = width if self.two_columns else cell
        lines = [self.title.center(top).rstrip()]
        if self.header:
            lines.append("=" * top)
            lines += self._header_lines()
        lines.append("=" * width)
        cells = [f"{self.columns[0]:>10}"] + [f"{c:>11}" for c in self.columns[1:]]
        lines.append(" " * name_width + "".join(cells))
        lines.append("-" * width)
        for name, values in self.rows:
            cells = [f"{values[0]:>10}"] + [f"{v:>11}" for v in values[1:]]
            lines.append(f"{name:<{name_width}}" + "".join(cells))
        lines.append("=" * width)
        if self.notes:
            lines.append("")
            lines.append("Notes:")
            lines += [f"[{i}] {note}" for i, note in enumerate(self.notes, 1)]
        return "\n".join(lines)

    def _header_pairs(self) -> list[list[tuple[str, str]]]:
        """The header's rows: one (label, value) pair each, or two side by side."""
        if not self.two_columns:
            return [[pair] for pair in self.header]
        half = (len(self.header) + 1) // 2
        left, right = self.header[:half], self.header[half:]
        right += [("", "")] * (len(left) - len(right))
        return [[a, b] for a, b in zip(left, right)]

    def _cell_width(self) -> int:
        """A header cell's width: 37 as statsmodels lays it out, wider for a
        long name (an outcome named after a Dask key, say)."""
        return max([37] + [len(label) + len(value) + 1 for label, value in self.header])

    def _header_lines(self) -> list[str]:
        def cell(label: str, value: str, width: int) -> str:
            return f"{label:<{width - len(value)}}{value}" if label else " " * width

        width = self._cell_width()
        if not self.two_columns:
            return [cell(label, value, width) for label, value in self.header]
        return [cell(*a, width) + "   " + cell(*b, width + 1) for a, b in self._header_pairs()]

    def as_html(self) -> str:
        """The summary as statsmodels' HTML: labels and column names in ``<th>``
        cells, set off from the values in ``<td>``; one value per cell,
        without padding, so the tables paste into a spreadsheet cell by cell."""
        header = "".join(_html_row(_pair_cells(pairs)) for pairs in self._header_pairs())
        table = _html_row([("td", "")] + [("th", c) for c in self.columns]) + "".join(
            _html_row([("th", name)] + [("td", v.strip()) for v in values])
            for name, values in self.rows)
        notes = "".join(f"<br/>[{i}] {html.escape(n)}" for i, n in enumerate(self.notes, 1))
        return (f'<table class="simpletable">\n<caption>{html.escape(self.title)}</caption>\n'
                f'{header}</table>\n<table class="simpletable">\n{table}</table>\n'
                + (f"<br/><br/>Notes:{notes}" if notes else ""))

    def __str__(self) -> str:
        return self.as_text()

    def __repr__(self) -> str:
        return self.as_text()

    def _repr_html_(self) -> str:
        return self.as_html()


def _pair_cells(pairs: Sequence[tuple[str, str]]) -> list[tuple[str, str]]:
    """A header row's cells: each label set off as a heading, its value beside it."""
    cells: list[tuple[str, str]] = []
    for label, value in pairs:
        cells += [("th", label), ("td", value)] if label else [("td", ""), ("td", "")]
    return cells


def _html_row(cells: Sequence[tuple[str, str]]) -> str:
    return "<tr>\n" + "".join(f"  <{tag}>{html.escape(text)}</{tag}>\n"
                              for tag, text in cells) + "</tr>\n"


def forg(x: float, prec: int = 3) -> str:
    """statsmodels' number format: fixed, or general for very large and very
    small magnitudes."""
    if not np.isfinite(x):
        return str(x)
    if abs(x) >= 1e4 or abs(x) < 1e-4:
        return f"{x:.{prec}g}"
    return f"{x:.{prec}f}"


def interval_columns(alpha: float) -> list[str]:
    return [f"[{alpha / 2:g}", f"{1 - alpha / 2:g}]"]


def estimate_rows(names: Sequence[str], estimates: np.ndarray, std_errors: np.ndarray,
                  z: np.ndarray, pvalues: np.ndarray,
                  alpha: float) -> list[tuple[str, list[str]]]:
    half = normal_quantile(alpha) * std_errors
    return [(name, [forg(b, 4), forg(s), forg(t), f"{p:#6.3f}", forg(b - h), forg(b + h)])
            for name, b, s, t, p, h in zip(names, estimates, std_errors, z, pvalues, half)]


def results_summary(results: ProbitResults, alpha: float = 0.05,
                    title: str | None = None) -> Summary:
    now = time.localtime()
    passes = results.iterations + 1
    header = [
        ("Dep. Variable:", results.endog_name),
        ("Model:", "Probit"),
        ("Method:", "MLE"),
        ("Date:", time.strftime("%a, %d %b %Y", now)),
        ("Time:", time.strftime("%H:%M:%S", now)),
        ("converged:", str(results.converged)),
        ("Covariance Type:", results.cov_type),
        ("Rows dropped:", str(results.nobs_dropped)),
        ("No. Observations:", str(results.nobs)),
        ("Df Residuals:", count_text(results.df_resid)),
        ("Df Model:", count_text(results.df_model)),
        ("Pseudo R-squ.:", f"{results.prsquared:#8.4g}".strip()),
        *likelihood_lines(results),
        ("Newton passes:", str(passes)),
    ]
    rows = estimate_rows(results.exog_names, results.params.to_numpy(), results.bse.to_numpy(),
                         results.tvalues.to_numpy(), results.pvalues.to_numpy(), alpha)
    # an estimate left out of the fit is marked, as Stata marks it, not shown as a number
    rows = [(name, ["(omitted)"] + [""] * (len(values) - 1) if name in results.omitted
             else values) for name, values in rows]
    return Summary(title or "Probit Regression Results", header,
                   ["coef", "std err", "z", "P>|z|"] + interval_columns(alpha), rows,
                   covariance_notes(results))


def count_text(value: float) -> str:
    """A count as statsmodels prints it: whole numbers in full (1199998, not
    1.2e+06), others with six significant digits."""
    return f"{value:.0f}" if float(value).is_integer() else f"{value:.6g}"


def likelihood_lines(results: ProbitResults) -> list[tuple[str, str]]:
    """The header's likelihood lines: statsmodels' for a likelihood; with
    sampling weights, Stata's: the log pseudolikelihood and the Wald test of
    all slopes on the robust covariance (a likelihood-ratio test is not
    valid for a pseudo-likelihood)."""
    if not results._sampling_weighted:
        return [("Log-Likelihood:", f"{results.llf:#8.5g}".strip()),
                ("LL-Null:", f"{results.llnull:#8.5g}".strip()),
                ("LLR p-value:", f"{results.llr_pvalue:#6.4g}".strip())]
    try:
        test = results.wald_test_slopes()
        chi2, df, pvalue = float(test.statistic), f"{test.df_denom:.0f}", float(test.pvalue)
    except ValueError:  # no slope, or a covariance not usable
        chi2, df, pvalue = float("nan"), count_text(results.df_model), float("nan")
    return [("Log pseudolikelihood:", f"{results.llf:#8.5g}".strip()),
            (f"Wald chi2({df}):", f"{chi2:#8.5g}".strip()),
            ("Prob > chi2:", f"{pvalue:#6.4g}".strip())]


def covariance_notes(results: ProbitResults) -> list[str]:
    notes = list(results.notes)
    if results.cov_type != "nonrobust":
        notes.append(results.cov_kwds["description"])
    if results.cov_type == "HC1" and results._weight_kind == "sampling":
        notes.append(f"HC1 is HC0 times n/(n-1) = {results.nobs}/{results.nobs - 1:g}, "
                     "as Stata's for sampling weights.")
    elif results.cov_type == "HC1":
        notes.append(f"HC1 is HC0 times n/(n-k) = {results.nobs}/{results.df_resid:g}.")
    if results.cov_type == "cluster":
        groups = results.cov_kwds.get("n_groups") or ()
        counted = " and ".join(str(g) for g in groups)
        way = "Two-way clusters" if len(groups) == 2 else "Clusters"
        sampling = results._weight_kind == "sampling"
        corrected = ("without correction" if not results.cov_kwds.get("use_correction", True)
                     else "with the correction G/(G-1)" if sampling
                     else "with the correction G/(G-1)*(n-1)/(n-k)")
        notes.append(f"{way}: {counted} groups, {corrected}.")
        if results.cov_kwds.get("psd") == "clip":
            notes.append("The covariance was made positive semi-definite by clipping its "
                         "negative eigenvalues at zero (Cameron, Gelbach and Miller 2011).")
    if results.nobs_dropped:
        notes.append(f"{results.nobs_dropped} rows with missing values were dropped.")
    return notes
