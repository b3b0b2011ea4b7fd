"""The API reference's examples run, and every public name has one.

The examples in the docstrings, those of the package's modules and those of
the compiled engine's type stub (the text the reference shows for it), run
as doctests against the installed package. Every public name of the
reference (the names that quillon_models, quillon_models.datasets and
quillon export, and the public members of their classes) is then shown at
work in the code of a doctest or of a gallery script (docs/examples/*.py,
which the site's build runs: `make docs-site`); names in comments and
strings do not count.
"""

import ast
import doctest
import importlib
import inspect
import pkgutil
from pathlib import Path

import pytest

import quillon
import quillon_models
from quillon_models import datasets

ROOT = Path(__file__).resolve().parents[2]
STUB = ROOT / "src" / "quillon.pyi"
GALLERY = sorted((ROOT / "docs" / "examples").glob("*.py"))
FLAGS = doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE


def package_modules():
    yield quillon_models
    for info in pkgutil.walk_packages(quillon_models.__path__, "quillon_models."):
        yield importlib.import_module(info.name)


def package_doctests():
    finder = doctest.DocTestFinder(exclude_empty=True)
    seen = set()
    for module in package_modules():
        for test in finder.find(module):
            if test.examples and test.name not in seen:
                seen.add(test.name)
                yield test


def stub_doctests():
    """The stub's docstrings (the stub itself cannot be imported)."""
    parser = doctest.DocTestParser()
    for node in ast.walk(ast.parse(STUB.read_text())):
        if isinstance(node, (ast.FunctionDef, ast.ClassDef, ast.Module)):
            text = ast.get_docstring(node, clean=True)
            name = f"quillon.{getattr(node, 'name', '')}".rstrip(".")
            test = parser.get_doctest(text or "", {}, name, str(STUB), 0)
            if test.examples:
                yield test


DOCTESTS = {test.name: test for test in [*package_doctests(), *stub_doctests()]}


@pytest.mark.parametrize("name", sorted(DOCTESTS))
def test_docstring_examples_run(name):
    runner = doctest.DocTestRunner(optionflags=FLAGS)
    result = runner.run(DOCTESTS[name])
    assert result.attempted and not result.failed, f"{result.failed} failing example(s) in {name}"


def reference_entries():
    """The dotted names that the reference's pages list for autosummary (or
    document with autodata)."""
    entries = set()
    for page in (ROOT / "docs" / "reference").glob("*.rst"):
        module, listing = None, False
        for line in page.read_text().splitlines():
            if line and not line.startswith(" "):
                listing = False
            if line.startswith(".. currentmodule::"):
                module = line.split("::")[1].strip()
            elif line.startswith(".. autodata::"):
                entries.add(line.split("::")[1].strip())
            elif line.startswith(".. autosummary::"):
                listing = True
            elif listing and line.startswith("   ") and not line.strip().startswith(":"):
                entries.add(f"{module}.{line.strip()}")
    return entries


def resolve(dotted):
    module_name, _, name = dotted.rpartition(".")
    while module_name:
        try:
            return getattr(importlib.import_module(module_name), name)
        except ImportError:
            module_name, _, outer = module_name.rpartition(".")
            name = f"{outer}.{name}"
    raise LookupError(dotted)


def test_reference_lists_every_export():
    exported = ({f"quillon_models.{n}" for n in quillon_models.__all__}
                | {f"quillon_models.datasets.{n}" for n in datasets.__all__}
                | {f"quillon.{n}" for n in dir(quillon) if not n.startswith("_")})
    assert exported <= reference_entries()


def public_names():
    """The reference's entries and the public members of its classes (those
    of the engine's result classes read from the stub, as the site does)."""
    stub = {node.name: node for node in ast.parse(STUB.read_text()).body
            if isinstance(node, ast.ClassDef)}
    names = reference_entries()
    for dotted in sorted(names):
        prefix, name = dotted.rsplit(".", 1)
        if prefix == "quillon":
            members = [n.name for n in stub[name].body
                       if isinstance(n, ast.FunctionDef)] if name in stub else []
        else:
            obj = resolve(dotted)
            is_class = inspect.isclass(obj) and not issubclass(obj, BaseException)
            members = list(vars(obj)) if is_class else []
        names |= {f"{dotted}.{m}" for m in members if not m.startswith("_")}
    return names


def identifiers(source):
    """The names and attributes that code uses (not its comments or strings)."""
    tree = ast.parse(source)
    return ({n.id for n in ast.walk(tree) if isinstance(n, ast.Name)}
            | {n.attr for n in ast.walk(tree) if isinstance(n, ast.Attribute)}
            | {a.name.rsplit(".", 1)[-1] for n in ast.walk(tree)
               if isinstance(n, (ast.Import, ast.ImportFrom)) for a in n.names})


def test_every_public_name_has_an_example():
    used = set()
    for path in GALLERY:
        used |= identifiers(path.read_text())
    for test in DOCTESTS.values():
        used |= identifiers("\n".join(example.source for example in test.examples))
    assert len(GALLERY) >= 3
    names = public_names()
    shown = {name for name in names if name.rsplit(".", 1)[-1] in used}
    # a class that its users never construct (a result's type) is shown by
    # its members at work
    shown |= {name for name in names if any(m.startswith(name + ".") for m in shown)}
    missing = sorted(names - shown)
    assert not missing, f"public names without an example: {missing}"
