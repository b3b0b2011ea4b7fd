"""Sphinx configuration of quillon's HTML site: the user guide (Markdown,
through MyST) and the API reference, generated from numpydoc docstrings.
`make docs` builds it with warnings as errors and every cross-reference
checked (nitpicky), so a broken reference fails the build."""

import ast
import sys
import types
from pathlib import Path

import quillon_models  # noqa: F401  (binds the compiled engine first)

ROOT = Path(__file__).resolve().parents[1]

project = "quillon"
author = "quillon maintainers"
copyright = "quillon maintainers"
release = version = "0.1.0"

extensions = ["myst_parser", "sphinx.ext.autodoc", "numpydoc"]
source_suffix = {".rst": "restructuredtext", ".md": "markdown"}
root_doc = "index"
exclude_patterns = ["_build", "requirements.txt"]
myst_heading_anchors = 4
suppress_warnings: list[str] = []

html_theme = "alabaster"
html_title = "quillon"
html_sidebars = {"**": ["about.html", "searchfield.html", "navigation.html", "relations.html"]}
html_theme_options = {"description": "Fast probit regression with average marginal effects",
                      "fixed_sidebar": True}

autodoc_member_order = "bysource"
autodoc_typehints = "none"  # the numpydoc sections give the types
numpydoc_show_class_members = False
numpydoc_class_members_toctree = False
numpydoc_xref_param_type = False

# Every reference must resolve, except to the outside libraries' own
# objects, whose sites this build does not fetch.
nitpicky = True
nitpick_ignore_regex = [
    (r"py:.*", r"(numpy|np|pandas|pd|matplotlib|statsmodels|dask|formulaic|os|pathlib)(\..*)?"),
]


def _runtime_readable(tree):
    """The stub without `type_check_only`, which exists for type checkers only."""
    for node in ast.walk(tree):
        if isinstance(node, ast.ImportFrom) and node.module == "typing":
            node.names = [a for a in node.names if a.name != "type_check_only"]
        if isinstance(node, ast.ClassDef):
            node.decorator_list = [d for d in node.decorator_list
                                   if not (isinstance(d, ast.Name) and d.id == "type_check_only")]
    return tree


def engine_from_stub():
    """The compiled module `quillon` as its type stub describes it.

    The compiled module's own docstrings are fixed by its interface; the stub,
    which ships beside it, carries the reference text with the types, and the
    two result classes that the module does not expose by name. Autodoc
    documents that reading of the module (quillon_models, imported above,
    keeps the compiled one).
    """
    stub = ROOT / "src" / "quillon.pyi"
    module = types.ModuleType("quillon")
    module.__file__ = str(stub)
    code = compile(_runtime_readable(ast.parse(stub.read_text())), str(stub), "exec")
    sys.modules["quillon"] = module
    exec(code, module.__dict__)


engine_from_stub()
