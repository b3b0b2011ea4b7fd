"""
The same analysis on Dask
=========================

A fit on Dask collections runs where the data are: each Newton step is one
pass over the partitions, and only sums of k and k x k numbers come back.
Here the admissions data in four partitions, fitted by Dask's threaded
scheduler on this machine, against the fit in memory; then a synthetic data
set of 20,000 applicants written to Parquet files by
:func:`quillon_models.datasets.write_parquet`, whose coefficients are known.
"""

# %%
# Four partitions, the threaded scheduler
# ---------------------------------------
import tempfile
from pathlib import Path

import dask
import dask.dataframe as dd
import matplotlib.pyplot as plt
import numpy as np
import pandas as pd

import quillon_models as qm
from quillon_models import datasets

df = datasets.load("admissions")
ddf = dd.from_pandas(df, npartitions=4)
lengths = ddf.map_partitions(len).compute().tolist()
print(ddf.npartitions, "partitions of", lengths, "rows")

with dask.config.set(scheduler="threads", num_workers=2):
    on_dask = qm.probit("admit ~ gre + gpa + C(rank)", ddf).fit(cov_type="HC1")
    effects_dask = on_dask.ame()
    by_rank_dask = on_dask.predictions(by="rank")
print(on_dask.summary())

# %%
# The same numbers as in memory, to rounding: the partitions' sums are added
# in another order than the blocks of the fit in memory.
in_memory = qm.probit("admit ~ gre + gpa + C(rank)", df).fit(cov_type="HC1")
effects_memory = in_memory.ame()
difference = pd.Series({
    "estimates": np.max(np.abs(on_dask.params - in_memory.params)
                        / np.abs(in_memory.params)),
    "standard errors": np.max(np.abs(on_dask.bse - in_memory.bse) / in_memory.bse),
    "effects": np.max(np.abs(effects_dask["dy/dx"] - effects_memory["dy/dx"])
                      / np.abs(effects_memory["dy/dx"])),
})
print("largest relative difference, Dask against memory")
print(difference.map("{:.1e}".format))
assert (difference < 1e-10).all()
print(effects_dask)
print(by_rank_dask)

# %%
# Predictions of a Dask fit are Dask collections, computed when asked for:
probabilities = on_dask.predict()
print(type(probabilities).__name__, probabilities.npartitions)
print(probabilities.compute().head().round(3))

# %%
# A synthetic data set from Parquet files
# ---------------------------------------
# ``write_parquet`` draws applicants like the admissions data and admits
# them by a probit with the coefficients ``datasets.TRUE_PARAMS``; the fit
# reads the files where they are.
folder = datasets.write_parquet(Path(tempfile.mkdtemp()) / "applicants",
                                rows=20_000, files=4, seed=1)
applicants = dd.read_parquet(folder)
with dask.config.set(scheduler="threads", num_workers=2):
    synthetic = qm.probit("admit ~ gre + gpa + C(rank)", applicants).fit()
truth = pd.Series(datasets.TRUE_PARAMS)
table = pd.DataFrame({"true": truth, "estimate": synthetic.params,
                      "std err": synthetic.bse})
table["z vs truth"] = (table["estimate"] - table["true"]) / table["std err"]
print(table.round(4))

fig, ax = plt.subplots(figsize=(6, 3.5))
names = [name for name in truth.index if name != "Intercept"]
lower, upper = synthetic.conf_int().loc[names].to_numpy().T
rows = np.arange(len(names))
ax.errorbar(synthetic.params[names], rows,
            xerr=[synthetic.params[names] - lower, upper - synthetic.params[names]],
            fmt="o", capsize=4, label="estimate, 95% interval")
ax.scatter(truth[names], rows, marker="x", color="tab:red", zorder=3,
           label="true coefficient")
ax.set_yticks(rows, names)
ax.invert_yaxis()
ax.axvline(0, color="grey", lw=0.8)
ax.set_title(f"{synthetic.nobs:,.0f} synthetic applicants "
             f"in {applicants.npartitions} files")
ax.legend(frameon=False, loc="upper left")
plt.tight_layout()
