"""
When a fit is not to be trusted
===============================

A fit says when its numbers cannot be used as they stand, with warnings of
the package's own classes (all subclasses of
:class:`quillon_models.ModelWarning`, named as statsmodels names its own).
Three cases on the bundled data: a regressor that separates the outcome,
columns that are collinear, and a Newton iteration cut short.
"""

# %%
# Separation
# ----------
# In Mroz's data the three women with three children under six are all out
# of the labour force: the dummy of that level predicts them perfectly, and
# its estimate runs to minus infinity.
import pickle
import warnings

import matplotlib.pyplot as plt
import pandas as pd

import quillon_models as qm
from quillon_models import datasets

mroz = datasets.load("mroz")
print(pd.crosstab(mroz["kidslt6"], mroz["inlf"]))

with warnings.catch_warnings(record=True) as caught:
    warnings.simplefilter("always")
    separated = qm.probit("inlf ~ educ + exper + C(kidslt6)", mroz).fit()
for warning in caught:
    print(f"{warning.category.__name__}: {warning.message}")
assert caught[0].category is qm.PerfectSeparationWarning
assert issubclass(qm.PerfectSeparationWarning, qm.ModelWarning)
print("converged:", separated.converged)

# %%
# ``separation="raise"`` refuses such a fit; ``separation="drop"`` does what
# Stata does, leaving out the rows predicted perfectly and the regressor
# that predicted them:
try:
    qm.probit("inlf ~ educ + exper + C(kidslt6)", mroz).fit(separation="raise")
except qm.PerfectSeparationError as error:
    print("PerfectSeparationError:", error)
dropped = qm.probit("inlf ~ educ + exper + C(kidslt6)", mroz).fit(separation="drop")
print(dropped.summary())
print("left out:", dropped.omitted, "rows fitted:", dropped.nobs)

# %%
# Nothing resting on a left-out level is shown as a number: its effect is
# marked "(omitted)", and an ``OmittedWarning`` says why it was left out.
with warnings.catch_warnings(record=True) as caught:
    warnings.simplefilter("always")
    effects = dropped.ame()
print(effects)
print([str(w.message) for w in caught if issubclass(w.category, qm.OmittedWarning)])
print("reasons:", dropped.omitted_reasons)

# %%
# The estimates of the dummies along the Newton passes: the separated level
# runs away, a pass after another, while the others settle.
paths = {}
for passes in range(1, 13):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", qm.ModelWarning)
        fit = qm.probit("inlf ~ educ + exper + C(kidslt6)", mroz).fit(maxiter=passes)
    paths[passes] = fit.params.filter(like="kidslt6")
paths = pd.DataFrame(paths).T
ax = paths.plot(marker="o", figsize=(6, 3.5))
ax.set_xlabel("Newton passes allowed (maxiter)")
ax.set_ylabel("estimate")
ax.set_title("A separated level's estimate does not settle")
plt.tight_layout()

# %%
# Collinear columns
# -----------------
# A column that is a linear combination of the columns before it is left
# out, named in the warning and in ``omitted``, its estimate NaN;
# ``collinear="raise"`` refuses it instead.
admissions = datasets.load("admissions").assign(gre_hundreds=lambda d: d["gre"] / 100)
with warnings.catch_warnings(record=True) as caught:
    warnings.simplefilter("always")
    aliased = qm.probit("admit ~ gre + gpa + gre_hundreds", admissions).fit()
print(f"{caught[0].category.__name__}: {caught[0].message}")
assert caught[0].category is qm.CollinearityWarning
print(aliased.params)
print("omitted:", aliased.omitted)

# %%
# A Newton iteration cut short
# ----------------------------
# Two passes are not enough: the fit says so, and ``converged`` is false.
with warnings.catch_warnings(record=True) as caught:
    warnings.simplefilter("always")
    short = qm.probit("admit ~ gre + gpa", admissions).fit(maxiter=2)
print(f"{caught[0].category.__name__}: {caught[0].message}")
assert caught[0].category is qm.ConvergenceWarning and not short.converged

# %%
# Other warnings of the family: :class:`quillon_models.CovarianceWarning`
# when a covariance has variances that are not positive (see the gallery's
# labour-force page), and :class:`quillon_models.HessianInversionWarning`
# when the Hessian at the estimates cannot be inverted. Turned into errors,
# they stop a script at the first sign of trouble:
with warnings.catch_warnings():
    warnings.simplefilter("error", qm.HessianInversionWarning)
    warnings.simplefilter("error", qm.CovarianceWarning)
    checked = qm.probit("admit ~ gre + gpa + C(rank)", admissions).fit()
print("converged:", checked.converged)

# %%
# Keeping the numbers, not the data
# ---------------------------------
# ``remove_data()`` lets the rows go: the estimates, summary and tests
# stay, and the pickle is small.
light = qm.probit("admit ~ gre + gpa + C(rank)", admissions).fit()
light.remove_data()
print(len(pickle.dumps(light)), "bytes pickled")
summary = light.summary()
print(summary.as_text().splitlines()[0].strip())
print("header in two columns:", summary.two_columns)
print(summary.as_html()[:60], "...")  # the table a notebook shows
