"""The caller's names a formula reads (statsmodels' eval_env), kept with the
model: a dict that pickles its modules by name, as a module object itself
cannot be pickled (`np.log(x)` reads the caller's `np`)."""

from __future__ import annotations

import importlib
import types
from typing import Any


class FormulaContext(dict):
    """The names a formula reads beside the data's columns."""

    def __reduce__(self) -> tuple:
        modules = {name: value.__name__ for name, value in self.items()
                   if isinstance(value, types.ModuleType)}
        values = {name: value for name, value in self.items() if name not in modules}
        return (restored_context, (values, modules))


def restored_context(values: dict, modules: dict) -> FormulaContext:
    """A pickled context: its values, and its modules imported by name."""
    return FormulaContext({**values, **{name: importlib.import_module(module)
                                        for name, module in modules.items()}})


def formula_context(names: Any) -> FormulaContext:
    return names if isinstance(names, FormulaContext) else FormulaContext(names)
