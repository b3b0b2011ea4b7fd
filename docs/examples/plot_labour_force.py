"""
Married women's labour-force participation: slopes through squares, groups and clusters
=======================================================================================

Mroz's (1987) data: 753 married women in 1975, whether each was in the
labour force (``inlf``), her schooling, experience, age, other family
income and children. Experience enters with its square, so its effect is a
slope through two terms; young children change everything, so the effects
are shown by their number too. Standard errors are clustered by the county's
unemployment rate.
"""

# %%
# A probit with a quadratic in experience
# ---------------------------------------
import warnings

import matplotlib.pyplot as plt
import numpy as np
import pandas as pd

import quillon_models as qm
from quillon_models import datasets

mroz = datasets.load("mroz")
formula = "inlf ~ nwifeinc + educ + exper + I(exper**2) + age + kidslt6 + kidsge6"
res = qm.probit(formula, mroz).fit()
print(res.summary())

# %%
# Effects of variables, not of columns
# ------------------------------------
# ``ame()`` takes the slope of experience through both ``exper`` and
# ``I(exper ** 2)``; statsmodels' per-column ``get_margeff`` moves the
# column ``exper`` alone, as if its square stayed put, and overstates it:
by_variable = res.ame()
by_column = res.get_margeff().summary_frame()
print(by_variable)
print(pd.Series({
    "ame(): exper through both terms": by_variable.loc[("exper", "dY/dX"), "dy/dx"],
    "get_margeff(): column exper alone": by_column.loc["exper", "dy/dx"],
}).round(4))

# %%
# The effect of a year of experience, and of the rest, by the number of
# children under six:
by_kids = res.ame(variables=["exper", "educ", "nwifeinc"], by="kidslt6")
print(by_kids)
ax = res.plot_ame()
ax.set_title("Average marginal effects on P(in the labour force)")
plt.tight_layout()

# %%
# Predicted probabilities and comparisons
# ---------------------------------------
# The average predicted probability of participation by the number of
# young children, and what four more years of school (12 to 16) change:
by_children = res.predictions(by="kidslt6")
print(by_children)
print(res.comparisons({"educ": (12, 16)}, by="kidslt6"))

fig, ax = plt.subplots(figsize=(6, 3.5))
kids = by_children.index.to_numpy()
estimate = by_children["estimate"].to_numpy(float)
ax.bar(kids, estimate, color="tab:blue", alpha=0.7)
ax.errorbar(kids, estimate,
            yerr=[estimate - by_children["[0.025"].to_numpy(float),
                  by_children["0.975]"].to_numpy(float) - estimate],
            fmt="none", ecolor="black", capsize=4)
ax.set_xticks(kids)
ax.set_xlabel("children under six")
ax.set_ylabel("average P(in the labour force)")
ax.set_title("Predicted participation by young children (95% intervals)")
plt.tight_layout()

# %%
# Clustered standard errors
# -------------------------
# Women of one county share its labour market: standard errors clustered
# by the county's unemployment rate (7 values: real work wants many more
# clusters). Two-way clustering, by unemployment and city, subtracts one
# covariance from the sum of two, and here leaves three variances below
# zero: their standard errors are NaN, with a warning that names them, and
# ``psd="clip"`` clips the covariance to positive semi-definite.
clustered = qm.probit(formula, mroz).fit(cov_type="cluster",
                                         cov_kwds={"groups": "unem"})
with warnings.catch_warnings(record=True) as caught:
    warnings.simplefilter("always")
    two_way = qm.probit(formula, mroz).fit(cov_type="cluster",
                                           cov_kwds={"groups": ["unem", "city"]})
    print(two_way.bse.round(4))
for warning in caught:
    print(f"{warning.category.__name__}: {warning.message}")
clipped = qm.probit(formula, mroz).fit(
    cov_type="cluster", cov_kwds={"groups": ["unem", "city"], "psd": "clip"})
assert np.array_equal(clipped.cov_params(), qm.clip_psd(two_way.cov_params()))
print(pd.concat({"classical": res.bse, "by county": clustered.bse,
                 "two-way, clipped": clipped.bse}, axis=1).round(4))

# %%
# The corrections and the groups that a clustered fit applies can be had on
# their own: the groups as integer codes, and the small-sample factors.
codes, n_groups = qm.encode_groups([mroz["unem"]])
n, k = clustered.nobs, len(clustered.params)
print(n_groups, codes[:8].ravel())
print(f"cluster factor {qm.cluster_factor(n_groups[0], n, k):.4f}, "
      f"HC1 factor {qm.hc1_factor(n, k):.4f}")
choice = qm.parse_cov_options("cluster", {"groups": "unem"})
print(f"robust {choice.robust}, groups {choice.groups!r}, "
      f"small-sample correction {choice.use_correction}, psd {choice.psd}")
