"""Labour-force participation of married women (Mroz 1987), fitted by probit.

The model is the textbook one: participation on non-wife income, education,
experience and its square, age, and the numbers of young and older children.
Standard errors are shown three ways (classical, heteroskedasticity-robust,
and clustered by the county unemployment rate, a proxy for the local labour
market), followed by the average marginal effects.
"""

from pathlib import Path

import numpy as np
import pandas as pd

import quillon

DATA = Path(__file__).resolve().parents[2] / "shared" / "data" / "mroz.csv"
REGRESSORS = ["nwifeinc", "educ", "exper", "expersq", "age", "kidslt6", "kidsge6"]


def main():
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
        print(quillon.ame(_Named(classical, names)).to_string())


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
