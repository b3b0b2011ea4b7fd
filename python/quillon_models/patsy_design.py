"""formulaic's model spec seen as patsy's DesignInfo, for statsmodels when it
reads formulas through patsy (its default while patsy is installed, and its
only engine before 0.15): one patsy term per formulaic term, whose columns
formulaic itself computes, so that new data go through the very formula the
fit used."""

from __future__ import annotations

from collections import OrderedDict
from typing import Any

import numpy as np
import pandas as pd


class TermColumns:
    """A patsy factor: the columns of one formulaic term, computed by the
    model spec on the data given (patsy's factor protocol)."""

    def __init__(self, spec: Any, columns: list[int], name: str) -> None:
        self.spec = spec
        self.columns = list(columns)
        self._name = name
        self.origin = None

    def name(self) -> str:
        return self._name

    def __eq__(self, other: object) -> bool:
        return isinstance(other, TermColumns) and other._name == self._name

    def __hash__(self) -> int:
        return hash((TermColumns, self._name))

    def memorize_passes_needed(self, state: Any, eval_env: Any) -> int:
        return 0  # formulaic's model spec already holds what it learnt from the fitted data

    def memorize_chunk(self, state: Any, which_pass: int, data: Any) -> None:
        pass

    def memorize_finish(self, state: Any, which_pass: int) -> None:
        pass

    def eval(self, memorize_state: Any, data: Any) -> np.ndarray:
        frame = data if isinstance(data, pd.DataFrame) else pd.DataFrame(dict(data))
        # Rows with missing values stay, as NaN: patsy's own NA action drops them.
        matrix = self.spec.get_model_matrix(frame, na_action="ignore")
        return np.asarray(matrix.to_numpy(dtype=np.float64))[:, self.columns]


def design_info(spec: Any) -> Any:
    """patsy's DesignInfo with the columns and terms of formulaic's model
    spec (the intercept as patsy's own)."""
    from patsy.desc import Term
    from patsy.design_info import DesignInfo, FactorInfo, SubtermInfo

    factor_infos = {}
    codings: OrderedDict[Any, list[Any]] = OrderedDict()
    for term, columns in spec.term_indices.items():
        if not len(columns):
            continue
        if str(term) == "1":
            codings[Term([])] = [SubtermInfo([], {}, 1)]
            continue
        factor = TermColumns(spec, [int(j) for j in columns], str(term))
        factor_infos[factor] = FactorInfo(factor, "numerical", {}, num_columns=len(columns))
        codings[Term([factor])] = [SubtermInfo([factor], {}, len(columns))]
    return DesignInfo(list(spec.column_names), factor_infos, codings)
