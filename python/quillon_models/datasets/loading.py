"""Reading a bundled data set into pandas, and describing it."""

from __future__ import annotations

import textwrap
from importlib import resources

import pandas as pd

from .catalogue import CATALOGUE, DataSet

_PACKAGE = __name__.rpartition(".")[0]


def names() -> list[str]:
    """The names of the bundled data sets.

    Returns
    -------
    list of str
        The names that :func:`load` and :func:`describe` accept.
    """
    return sorted(CATALOGUE)


def _entry(name: str) -> DataSet:
    if not isinstance(name, str) or name not in CATALOGUE:
        raise ValueError(f"argument 'name': no bundled data set {name!r}; "
                         f"there are {', '.join(map(repr, names()))}")
    return CATALOGUE[name]


def load(name: str) -> pd.DataFrame:
    """Load a bundled data set as a DataFrame.

    Parameters
    ----------
    name : str
        ``"admissions"`` or ``"mroz"`` (see :func:`names`).

    Returns
    -------
    pandas.DataFrame
        A new frame, one row per observation; missing values are NaN (Mroz's
        file marks them with ``"."``).

    Raises
    ------
    ValueError
        If `name` is not a bundled data set.

    Examples
    --------
    >>> from quillon_models import datasets
    >>> datasets.load("mroz").shape
    (753, 22)
    """
    entry = _entry(name)
    source = resources.files(_PACKAGE).joinpath("data").joinpath(entry.file)
    with source.open("rb") as stream:
        return pd.read_csv(stream, na_values=list(entry.missing) or None)


def describe(name: str) -> str:
    """Describe a bundled data set: what it is, its columns and its source.

    Parameters
    ----------
    name : str
        ``"admissions"`` or ``"mroz"`` (see :func:`names`).

    Returns
    -------
    str
        The title, one line per column, the source and the terms of use.

    Raises
    ------
    ValueError
        If `name` is not a bundled data set.
    """
    entry = _entry(name)
    width = max(map(len, entry.columns))
    lines = [entry.title, ""]
    lines += [f"  {column:<{width}}  {meaning}" for column, meaning in entry.columns.items()]
    lines += [""] + textwrap.wrap(f"Source: {entry.source}", 78)
    lines += [""] + textwrap.wrap(f"Licence: {entry.licence}", 78)
    return "\n".join(lines)
