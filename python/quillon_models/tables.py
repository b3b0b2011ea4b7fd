"""Tables of estimates and effects as the package returns them: DataFrames
whose printed form fits an 80-column terminal, every column shown, numbers
in short formats. The values themselves are full float64."""

from __future__ import annotations

from typing import Any, Callable

import pandas as pd

WIDTH = 80


def _general(value: Any) -> str:
    return f"{value:.3g}" if isinstance(value, float) else str(value)


def _fixed3(value: Any) -> str:
    return f"{value:.3f}" if isinstance(value, float) else str(value)


# Columns by name: z statistics and p-values as statsmodels prints them, with
# three decimals; estimates, standard errors and bounds to three significant
# digits. Columns not named here keep pandas' own format.
_FIXED3 = ("z", "Pr(>|z|)", "P>|z|")


def column_formats(frame: pd.DataFrame) -> dict[Any, Callable[[Any], str]]:
    """The short format of each float column of ``frame``, by name."""
    formats: dict[Any, Callable[[Any], str]] = {}
    for name, dtype in frame.dtypes.items():
        if dtype.kind == "f":
            formats[name] = _fixed3 if name in _FIXED3 else _general
    return formats


class EffectTable(pd.DataFrame):
    """A DataFrame that prints within 80 columns.

    It is a :class:`pandas.DataFrame` in every other respect: indexing,
    arithmetic and ``to_numpy()`` see the full float64 values, and
    ``to_string()`` or ``to_csv()`` give them in pandas' own formats. Only
    ``repr`` (what ``print`` and the interactive prompt show) and the HTML
    of notebooks are shortened: floats to three significant digits, ``z``
    and p-values to three decimals, and columns that do not fit 80
    characters wrapped onto further lines rather than hidden.
    """

    @property
    def _constructor(self) -> type[EffectTable]:
        return EffectTable

    def __repr__(self) -> str:
        return str(self.to_string(formatters=column_formats(self), line_width=WIDTH))

    def __str__(self) -> str:
        return self.__repr__()

    def _repr_html_(self) -> str:
        return str(self.to_html(formatters=column_formats(self)))


def effect_table(frame: pd.DataFrame) -> EffectTable:
    """``frame``'s columns and index, as an :class:`EffectTable`."""
    return EffectTable(frame)
