"""Dot-and-whisker plot of the average marginal effects (matplotlib)."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any

import numpy as np

if TYPE_CHECKING:
    from matplotlib.axes import Axes

    from .results import ProbitResults


def import_pyplot() -> Any:
    try:
        import matplotlib.pyplot as plt
    except ImportError as error:
        raise ImportError("plot_ame needs matplotlib: pip install 'quillon[plot]'") from error
    return plt


def row_labels(index: Any) -> list[str]:
    """A variable's name for its slope, "name: level - reference" for a
    contrast, and the groups of by= after a bar."""
    labels = []
    for key in index:
        key = key if isinstance(key, tuple) else (key,)
        term, contrast, groups = str(key[0]), str(key[1]) if len(key) > 1 else "", key[2:]
        label = term if contrast in ("", "dY/dX") else f"{term}: {contrast}"
        if groups:
            label += " | " + ", ".join(str(g) for g in groups)
        labels.append(label)
    return labels


def plot_ame(results: ProbitResults, ax: Axes | None = None, alpha: float = 0.05,
             by: Any = None) -> Axes:
    """Each effect of `results.ame()` as a dot with its 1 - alpha interval,
    the first variable at the top, zero marked; the axis states the level
    and the covariance. An effect resting on a regressor left out of the fit
    keeps its row, without a dot, marked "(omitted)"."""
    table = results.ame(alpha, by=by)
    low, high = table.columns[-2], table.columns[-1]
    if ax is None:
        plt = import_pyplot()
        _, ax = plt.subplots(figsize=(7.0, 0.45 * len(table) + 1.6), layout="constrained")
    rows = np.arange(len(table))[::-1]
    effects = table["dy/dx"].to_numpy()
    whiskers = np.vstack([effects - table[low].to_numpy(), table[high].to_numpy() - effects])
    ax.axvline(0.0, color="0.5", linewidth=1, linestyle="--", zorder=1)
    ax.errorbar(effects, rows, xerr=whiskers, fmt="o", color="tab:blue", ecolor="tab:blue",
                elinewidth=1.5, capsize=3, zorder=2)
    ax.set_yticks(rows)
    ax.set_yticklabels(row_labels(table.index))
    ax.set_ylim(-0.7, len(table) - 0.3)
    # The numbers on the right: effects of very different sizes share one axis.
    values = ax.twinx()
    values.set_ylim(ax.get_ylim())
    values.set_yticks(rows)
    # an effect resting on an omitted regressor has no dot: its row says so
    values.set_yticklabels([s if s == "(omitted)" else f"{e:+.4f} {s}"
                            for e, s in zip(effects, table["Significance"])])
    values.tick_params(axis="y", length=0)
    level = f"{100 * (1 - alpha):g}%"
    ax.set_xlabel(f"average marginal effect on P({results.endog_name} = 1), {level} interval "
                  f"({results.cov_type} covariance)")
    ax.grid(axis="x", color="0.9")
    return ax
