"""Data sets for the examples: two small public ones bundled with the
package, and a synthetic one of any size written to Parquet.

>>> from quillon_models import datasets
>>> datasets.names()
['admissions', 'mroz']
>>> datasets.load("admissions").shape
(400, 4)
>>> print(datasets.describe("mroz").splitlines()[0])
Labour-force participation of 753 married women in 1975
"""

from .loading import describe, load, names
from .synthetic import TRUE_PARAMS, write_parquet

__all__ = ["TRUE_PARAMS", "describe", "load", "names", "write_parquet"]
