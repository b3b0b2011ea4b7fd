"""Labour-force participation of married women (Mroz 1987), fitted by probit.

The model is the textbook one: participation on non-wife income, education,
experience and its square, age, and the numbers of young and older children.
It is fitted from a formula through quillon_models; standard errors are shown
three ways (classical, heteroskedasticity-robust, and clustered by the county
unemployment rate, a proxy for the local labour market), followed by the
summary and the average marginal effects, which are also drawn as a
dot-and-whisker plot into a PNG file (formulaic and matplotlib, from the
"demo" extra).

    python examples/demo.py [--plot PATH]
"""

import argparse
from pathlib import Path

import pandas as pd

import quillon_models as qm
from quillon_models import datasets

REPO = Path(__file__).resolve().parents[1]
PLOT = REPO / "build" / "demo" / "mroz_ame.png"
FORMULA = "inlf ~ nwifeinc + educ + exper + I(exper**2) + age + kidslt6 + kidsge6"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--plot", type=Path, default=PLOT, help=f"PNG to write (default {PLOT})")
    args = parser.parse_args()

    frame = datasets.load("mroz")
    model = qm.probit(FORMULA, frame)
    classical = model.fit()
    robust = model.fit(cov_type="HC0")
    clustered = model.fit(cov_type="cluster", cov_kwds={"groups": "unem"})
    (groups,) = clustered.cov_kwds["n_groups"]

    errors = pd.DataFrame({
        "coef": classical.params,
        "se classical": classical.bse,
        "se robust": robust.bse,
        f"se cluster ({groups} groups)": clustered.bse,
    })
    print(f"Probit of inlf on {classical.nobs} women (Mroz 1987)")
    with pd.option_context("display.float_format", "{:.6f}".format):
        print(errors.to_string())
        print()
        print(clustered.summary())
        print()
        print("Average marginal effects of the variables (clustered by county unemployment "
              "rate):\nexper's is its slope through exper and its square")
        print(clustered.ame().to_string())
    plot_effects(clustered, args.plot, f"Probit of labour-force participation, "
                                       f"{clustered.nobs} women")
    print(f"\nPlot of the marginal effects: {args.plot}")


def plot_effects(results, path, title):
    import matplotlib

    matplotlib.use("Agg")  # no display needed
    import matplotlib.pyplot as plt

    ax = results.plot_ame()
    ax.set_title(title)
    path.parent.mkdir(parents=True, exist_ok=True)
    ax.figure.savefig(path, dpi=120)
    plt.close(ax.figure)


if __name__ == "__main__":
    main()
