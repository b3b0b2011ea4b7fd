"""Data sets for the examples: two small public ones bundled with the
package, and a synthetic one of any size written to Parquet.

>>> from quillon_models import datasets
>>> df = datasets.load("admissions")
>>> print(datasets.describe("mroz"))
"""

from .loading import describe, load, names
from .synthetic import TRUE_PARAMS, write_parquet

__all__ = ["TRUE_PARAMS", "describe", "load", "names", "write_parquet"]
