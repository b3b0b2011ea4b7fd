"""
The engine on arrays: ``quillon.fit_probit`` and ``quillon.ame``
================================================================

Underneath :mod:`quillon_models` is the compiled module :mod:`quillon`, two
functions on float64 arrays. Here the admissions data are prepared by hand
(a constant, dummies for rank), fitted with a heteroskedasticity-robust
covariance, and their marginal effects computed and drawn.
"""

# %%
# From a DataFrame to arrays
# --------------------------
import matplotlib.pyplot as plt
import numpy as np
import pandas as pd
import quillon

from quillon_models import datasets

df = datasets.load("admissions")
X = pd.get_dummies(df[["gre", "gpa", "rank"]], columns=["rank"], drop_first=True,
                   dtype=float)
X.insert(0, "const", 1.0)
y = df["admit"].to_numpy(dtype=float)
print(X.head())

# %%
# The fit
# -------
r = quillon.fit_probit(y, X.to_numpy(), robust=True)
std_err = np.sqrt(np.diag(r.cov_params()))
estimates = pd.DataFrame({"coef": r.params, "robust std err": std_err},
                         index=X.columns)
print(estimates.round(4))
print(f"log-likelihood {r.loglike:.4f}, converged {r.converged}, "
      f"last Newton pass {r.iterations}")
print(r.model.exog.shape, r.model.endog.shape, r.model.exog_names)

# %%
# Marginal effects, with the columns' names
# -----------------------------------------
# ``ame`` reads ``params``, ``cov_params()``, ``model.exog`` and
# ``model.exog_names``; a small object passing the fit through with the
# DataFrame's column names gives named rows (``const`` gets none):
from types import SimpleNamespace

columns = SimpleNamespace(exog=r.model.exog, exog_names=list(X.columns))
named = SimpleNamespace(params=r.params, cov_params=r.cov_params, model=columns)
effects = quillon.ame(named)
print(effects)

fig, ax = plt.subplots(figsize=(6, 3.2))
rows = np.arange(len(effects))
ax.errorbar(effects["dy/dx"], rows, xerr=1.959964 * effects["Std. Err"], fmt="o",
            capsize=4)
ax.set_yticks(rows, effects.index)
ax.invert_yaxis()
ax.axvline(0, color="grey", lw=0.8)
ax.set_xlabel("average marginal effect on P(admit), robust 95% interval")
plt.tight_layout()
