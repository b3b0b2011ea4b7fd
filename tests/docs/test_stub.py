"""The installed type stub. stubtest (run by `make test`) checks the module's
functions against it; the two result classes exist only as the types of
returned objects, out of stubtest's reach, so their members are compared
here with those of the objects that fit_probit returns."""

import ast
from pathlib import Path

import quillon

SITE = Path(quillon.__file__).resolve().parent
BESIDE = SITE / "quillon.pyi"
STUB_PACKAGE = SITE / "quillon-stubs" / "__init__.pyi"


def stub_members(class_name):
    tree = ast.parse(BESIDE.read_text())
    [cls] = [n for n in tree.body if isinstance(n, ast.ClassDef) and n.name == class_name]
    return {n.name for n in cls.body if isinstance(n, ast.FunctionDef)}


def public_members(obj):
    return {name for name in dir(type(obj)) if not name.startswith("_")}


def test_stub_installed_beside_module_and_as_stub_package():
    assert BESIDE.read_text() == STUB_PACKAGE.read_text()


def test_result_classes_match_stub(design):
    results = quillon.fit_probit(*design)
    assert stub_members("CorvidProbitResults") == public_members(results)
    assert stub_members("CorvidProbitModel") == public_members(results.model)
