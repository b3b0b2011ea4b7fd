"""
Graduate admissions: effects of GRE, GPA and the institution's rank
====================================================================

Who is admitted to graduate school? The admissions data (400 applicants)
have the outcome ``admit`` (0/1), the GRE score, the grade point average and
the rank 1-4 of the undergraduate institution (1 the most prestigious). A
probit of admission on the three, its average marginal effects, and the
predicted probability of admission by rank and along the GPA scale.
"""

# %%
# The data and the fit
# --------------------
import matplotlib.pyplot as plt
import numpy as np
import pandas as pd

import quillon_models as qm
from quillon_models import datasets

df = datasets.load("admissions")
print(df.describe().round(2))

res = qm.probit("admit ~ gre + gpa + C(rank)", df).fit()
print(res.summary())

# %%
# The estimates and their statistics carry statsmodels' names:
fit_statistics = pd.Series({
    "log-likelihood": res.llf, "null log-likelihood": res.llnull,
    "LR statistic": res.llr, "LR p-value": res.llr_pvalue,
    "McFadden's R2": res.prsquared, "AIC": res.aic, "BIC": res.bic,
    "df model": res.df_model, "df residual": res.df_resid,
})
print(fit_statistics.round(4))
print(pd.concat({"coef": res.params, "std err": res.bse, "z": res.tvalues,
                 "p": res.pvalues}, axis=1).join(res.conf_int()).round(4))

# %%
# Average marginal effects
# ------------------------
# ``ame()`` gives the effect of each *variable*: the average slope of the
# probability of admission in GRE and GPA, and each rank against rank 1.
effects = res.ame()
print(effects)

# %%
# The table is an ``EffectTable``: a DataFrame that prints within 80
# columns, in short formats, while its values keep every digit.
from quillon_models.tables import EffectTable

assert isinstance(effects, EffectTable)
print(effects["dy/dx"].to_numpy())

# %%
# The same effects with their 95 % intervals:
ax = res.plot_ame()
ax.set_title("Average marginal effects on the probability of admission")
plt.tight_layout()

# %%
# Code ported from statsmodels keeps its per-column effects, with
# statsmodels' options and column names:
margeff = res.get_margeff(dummy=True)
print(margeff.summary_frame().round(4))

# %%
# Predicted probabilities by group
# --------------------------------
# ``predictions(by=...)`` averages the predicted probability of admission
# within each rank, with delta-method intervals:
by_rank = res.predictions(by="rank")
print(by_rank)

fig, ax = plt.subplots(figsize=(6, 3.5))
ranks = by_rank.index.to_numpy()
estimate = by_rank["estimate"].to_numpy(float)
ax.errorbar(ranks, estimate,
            yerr=[estimate - by_rank["[0.025"].to_numpy(float),
                  by_rank["0.975]"].to_numpy(float) - estimate],
            fmt="o", capsize=4)
ax.set_xticks(ranks)
ax.set_xlabel("rank of the undergraduate institution")
ax.set_ylabel("average P(admit)")
ax.set_title("Predicted probability of admission by rank (95% intervals)")
plt.tight_layout()

# %%
# Along the GPA scale
# -------------------
# ``get_prediction`` gives the probability for new applicants, with an
# interval mapped through the normal distribution function (it stays within
# 0 and 1): here an applicant of median GRE, from each rank, at every GPA.
grid = pd.DataFrame([(gpa, rank) for rank in (1, 2, 3, 4)
                     for gpa in np.linspace(2.3, 4.0, 35)], columns=["gpa", "rank"])
grid["gre"] = df["gre"].median()
frame = res.get_prediction(grid).summary_frame()

fig, ax = plt.subplots(figsize=(6, 3.8))
for rank, rows in grid.groupby("rank"):
    band = frame.loc[rows.index]
    ax.plot(rows["gpa"], band["predicted"], label=f"rank {rank}")
    ax.fill_between(rows["gpa"], band["ci_lower"], band["ci_upper"], alpha=0.15)
ax.set_xlabel("GPA")
ax.set_ylabel("P(admit)")
ax.set_title(f"Applicants with a GRE of {grid['gre'].iloc[0]:.0f}")
ax.legend(frameon=False)
plt.tight_layout()

# %%
# Tests and classification
# ------------------------
# Is the rank of the institution needed at all? One Wald test per term of
# the formula, the three rank dummies together:
print(res.wald_test_terms())
print(res.t_test("C(rank)[T.2] = C(rank)[T.3]"))
print(res.wald_test("C(rank)[T.2] = 0, C(rank)[T.3] = 0, C(rank)[T.4] = 0"))

# %%
# Predicted against observed admissions, at a threshold of 0.5, and the
# fitted probabilities of the first applicants:
print(res.pred_table())
print(res.predict().head().round(3))
print(res.fittedvalues.head().round(3))  # the linear index x'b

# %%
# The model behind the fit
# ------------------------
# ``qm.probit(formula, data)`` is ``qm.Probit.from_formula``; the model
# holds the design and what the fit needs to know about it.
model = qm.Probit.from_formula("admit ~ gre + gpa + C(rank)", df)
assert model.data is df  # the caller's frame, neither copied nor changed
print(pd.Series({
    "rows fitted": model.nobs, "rows dropped": model.nobs_dropped,
    "constant's column": model.const_idx, "constants": model.k_constant,
    "weights": model.weight_kind, "rows of zero weight": model.nobs_zero_weight,
    "first row labels": list(model.row_labels[:3]),
    "has weights": model.weights is not None,
}))
print(dict(zip(model.exog_names, model.binary_columns())))
print(f"intercept-only log-likelihood {model.null_loglike():.4f}")

# %%
# A result can also be built from numbers computed elsewhere, here those of
# the fit, for its statistics and summary without a model; and handed to
# statsmodels' own results class, without refitting.
again = qm.ProbitResults(res.params, res.cov_params(), llf=res.llf, nobs=res.nobs,
                         llnull=res.llnull)
assert np.allclose(again.pvalues, res.pvalues)
print(res.k_fitted, "estimates;", res.fitted_params().round(3))
statsmodels_results = res.to_statsmodels()
print(type(statsmodels_results).__name__, statsmodels_results.bse.round(4).tolist())

# %%
# Sampling weights
# ----------------
# With sampling weights (Stata's pweights) the estimates maximise a weighted
# likelihood, whose likelihood-ratio test is not valid: the summary reports
# the log pseudolikelihood and the Wald test of all slopes on the robust
# covariance, which ``wald_test_slopes()`` gives.
df["w"] = np.where(df["rank"] <= 2, 2.0, 0.75)  # applicants drawn at other rates
weighted = qm.probit("admit ~ gre + gpa + C(rank)", df, sampling_weights="w").fit()
slopes = weighted.wald_test_slopes()
print(f"Wald chi2({int(slopes.df_denom)}) = {float(slopes.statistic):.2f}, "
      f"p = {float(slopes.pvalue):.4f}")
