"""A data set the size of a Dask job, made on the user's disk: applicants
drawn like the admissions data and admitted by a probit with known
coefficients, written as Parquet files."""

from __future__ import annotations

import importlib.util
import os
from pathlib import Path

import numpy as np
import pandas as pd

# The probit that decides admission, on the admissions data's scale
# (rounded from the fit of admit ~ gre + gpa + C(rank) on the bundled set).
TRUE_PARAMS = {"Intercept": -2.39, "gre": 0.0014, "gpa": 0.48,
               "C(rank)[T.2]": -0.42, "C(rank)[T.3]": -0.81, "C(rank)[T.4]": -0.94}
_RANK_SHARES = np.array([61, 151, 121, 67]) / 400


def _applicants(rows: int, rng: np.random.Generator) -> pd.DataFrame:
    """``rows`` applicants with admissions' columns and value ranges."""
    gre = np.clip(np.round(rng.normal(588.0, 115.0, rows) / 20.0) * 20.0, 220.0, 800.0)
    gpa = np.clip(np.round(rng.normal(3.39, 0.38, rows), 2), 2.26, 4.0)
    rank = rng.choice(np.arange(1, 5), size=rows, p=_RANK_SHARES)
    index = (TRUE_PARAMS["Intercept"] + TRUE_PARAMS["gre"] * gre + TRUE_PARAMS["gpa"] * gpa
             + np.array([0.0, TRUE_PARAMS["C(rank)[T.2]"], TRUE_PARAMS["C(rank)[T.3]"],
                         TRUE_PARAMS["C(rank)[T.4]"]])[rank - 1])
    admit = (index + rng.normal(size=rows) > 0).astype(np.int64)
    return pd.DataFrame({"admit": admit, "gre": gre, "gpa": gpa, "rank": rank})


def _check_count(value: object, argument: str) -> int:
    if isinstance(value, bool) or not isinstance(value, (int, np.integer)) or value < 1:
        raise ValueError(f"argument '{argument}': a positive integer, not {value!r}")
    if value > 2**53:  # the files' bounds are drawn in float64
        raise ValueError(f"argument '{argument}': at most 2**53, not {value!r}")
    return int(value)


def _check_seed(value: object) -> int:
    """A seed of NumPy's generator: an integer, not negative."""
    if isinstance(value, bool) or not isinstance(value, (int, np.integer)) or value < 0:
        raise ValueError(f"argument 'seed': an integer of 0 or more, not {value!r}")
    return int(value)


def write_parquet(folder: str | os.PathLike[str], rows: int = 1_000_000, files: int = 10,
                  seed: int = 0) -> Path:
    """Write a synthetic admissions data set of any size as Parquet files.

    The applicants are drawn to look like the bundled admissions data (GRE
    score, GPA and institution rank in the same ranges and shares) and are
    admitted by a probit whose coefficients are :data:`TRUE_PARAMS`, so a fit
    of ``admit ~ gre + gpa + C(rank)`` recovers them as ``rows`` grows. Each
    file is drawn from its own stream of ``seed``, one file in memory at a
    time: the same arguments give the same files (with the same NumPy).

    Parameters
    ----------
    folder : str or os.PathLike
        Where to write ``part-00000.parquet``, ``part-00001.parquet``, ...; it is
        created, and must not exist already or be empty.
    rows : int, default 1_000_000
        The number of applicants, spread evenly over the files.
    files : int, default 10
        The number of Parquet files (partitions for ``dask.dataframe.read_parquet``).
    seed : int, default 0
        The seed of NumPy's default generator.

    Returns
    -------
    pathlib.Path
        The folder, to pass to ``dask.dataframe.read_parquet``.

    Raises
    ------
    FileExistsError
        If `folder` exists and is not empty (nothing in it is touched).
    ValueError
        If `rows` or `files` is not a positive integer (at most 2**53),
        `files` exceeds `rows`, or `seed` is not an integer of 0 or more;
        checked before anything is written. A failure while writing
        removes the files written (and the folder, if it was created).
    ImportError
        Without pyarrow (``pip install "quillon[dask]"``).
    """
    rows = _check_count(rows, "rows")
    files = _check_count(files, "files")
    seed = _check_seed(seed)
    if files > rows:
        raise ValueError(f"argument 'files': {files} files for {rows} rows leaves some empty")
    target = Path(folder)
    if target.exists() and (not target.is_dir() or any(target.iterdir())):
        raise FileExistsError(f"argument 'folder': {str(target)!r} exists and is not an "
                              "empty folder")
    if importlib.util.find_spec("pyarrow") is None:  # pandas writes Parquet through it
        raise ImportError("writing Parquet needs pyarrow: pip install \"quillon[dask]\"")
    created = not target.exists()
    target.mkdir(parents=True, exist_ok=True)
    bounds = np.linspace(0, rows, files + 1).astype(np.int64)
    written = []
    try:
        for part, (start, stop) in enumerate(zip(bounds[:-1], bounds[1:])):
            frame = _applicants(int(stop - start), np.random.default_rng([seed, part]))
            frame.index = pd.RangeIndex(int(start), int(stop))
            written.append(target / f"part-{part:05d}.parquet")
            frame.to_parquet(written[-1])
    except BaseException:  # a failure (memory, disk, Ctrl-C) leaves nothing behind
        for path in written:
            path.unlink(missing_ok=True)
        if created:
            target.rmdir()
        raise
    return target
