import textwrap

import quillon
from conftest import run_child


def test_docstring():
    assert quillon.__doc__ == "A Python module implemented in Corvid."


def run_python(code):
    return run_child(textwrap.dedent(code))


def test_import_does_not_import_numpy_or_pandas():
    result = run_python(
        """
        import sys, quillon
        print("numpy" in sys.modules, "pandas" in sys.modules)
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["False", "False"]


def test_second_initialisation_is_refused():
    result = run_python(
        """
        import importlib, sys
        import quillon
        del sys.modules["quillon"]
        for attempt in range(2):
            try:
                importlib.import_module("quillon")
            except ImportError as exc:
                print("refused:", "once per interpreter process" in str(exc))
            else:
                print("imported again")
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["refused: True", "refused: True"]
