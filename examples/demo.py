"""Labour-force participation of married women (Mroz 1987), fitted by probit.

The model is the textbook one: participation on non-wife income, education,
experience and its square, age, and the numbers of young and older children.
Standard errors are shown three ways (classical, heteroskedasticity-robust,
and clustered by the county unemployment rate, a proxy for the local labour
market), followed by the average marginal effects, which are also drawn as a
dot-and-whisker plot into a PNG file (matplotlib, from the "demo" extra).

    python examples/demo.py [--plot PATH]
"""

import argparse
from pathlib import Path

import numpy as np
import pandas as pd

import quillon

REPO = Path(__file__).resolve().parents[1]
DATA = REPO.parent / "shared" / "data" / "mroz.csv"
PLOT = REPO / "build" / "demo" / "mroz_ame.png"
REGRESSORS = ["nwifeinc", "educ", "exper", "expersq", "age", "kidslt6", "kidsge6"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--plot", type=Path, default=PLOT, help=f"PNG to write (default {PLOT})")
    args = parser.parse_args()

    frame = pd.read_csv(DATA, na_values=".")
    y = frame["inlf"].to_numpy(dtype=float)
    X = np.column_stack([np.ones(len(frame))] + [frame[c].to_numpy(float) for c in REGRESSORS])
    names = ["const"] + REGRESSORS
    clusters = frame[["unem"]].to_numpy(dtype=float)

    classical = quillon.fit_probit(y, X)
    robust = quillon.fit_probit(y, X, robust=True)
    clustered = quillon.fit_probit(y, X, robust=True, cluster_vars=clusters)

    def std_errors(result):
        return np.sqrt(np.diag(result.cov_params()))

    fit = pd.DataFrame(
        {
            "coef": classical.params,
            "se classical": std_errors(classical),
            "se robust": std_errors(robust),
            f"se cluster ({len(np.unique(clusters))} groups)": std_errors(clustered),
        },
        index=names,
    )
    print(f"Probit of inlf on {len(y)} women (Mroz 1987)")
    print(
        f"log-likelihood {classical.loglike:.4f}, converged {classical.converged} "
        f"after Newton pass {classical.iterations}"
    )
    with pd.option_context("display.float_format", "{:.6f}".format):
        print(fit.to_string())
        print()
        print("Average marginal effects (classical covariance)")
        effects = quillon.ame(_Named(classical, names))
        print(effects.to_string())
    plot_effects(effects, args.plot, f"Probit of labour-force participation, {len(y)} women")
    print(f"\nPlot of the marginal effects: {args.plot}")


def plot_effects(effects, path, title):
    """Dot-and-whisker plot: each effect with its 95% interval (1.96 standard
    errors either side), the first regressor at the top, zero marked."""
    import matplotlib

    matplotlib.use("Agg")  # no display needed
    import matplotlib.pyplot as plt

    rows = np.arange(len(effects))[::-1]
    half_width = 1.96 * effects["Std. Err"]
    fig, ax = plt.subplots(figsize=(7, 0.45 * len(effects) + 1.6), layout="constrained")
    ax.axvline(0.0, color="0.5", linewidth=1, linestyle="--", zorder=1)
    ax.errorbar(effects["dy/dx"], rows, xerr=half_width, fmt="o", color="tab:blue",
                ecolor="tab:blue", elinewidth=1.5, capsize=3, zorder=2)
    ax.set_yticks(rows, effects.index)
    # The numbers on the right: effects of very different sizes share one axis.
    values = ax.twinx()
    values.set_ylim(ax.get_ylim())
    values.set_yticks(rows, [f"{e:+.4f} {s}" for e, s in zip(effects["dy/dx"],
                                                             effects["Significance"])])
    values.tick_params(axis="y", length=0)
    ax.set_xlabel("average marginal effect on P(participates), ± 1.96 standard errors")
    ax.set_title(title)
    ax.grid(axis="x", color="0.9")
    path.parent.mkdir(parents=True, exist_ok=True)
    fig.savefig(path, dpi=120)
    plt.close(fig)


class _Named:
    """A fitted result seen with the data set's column names, for ame."""

    def __init__(self, result, names):
        self.params = result.params
        self._result = result
        self.model = _Model(result.model.exog, names)

    def cov_params(self):
        return self._result.cov_params()


class _Model:
    def __init__(self, exog, names):
        self.exog = exog
        self.exog_names = names


if __name__ == "__main__":
    main()
