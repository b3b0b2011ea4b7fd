"""The gallery's examples run in the process that builds the site, where
`conf.py` has put the engine's documented reading (its type stub) in place
of the compiled module `quillon`. Each example runs with the compiled module
and hands the stub back after it, for autodoc."""

import sys

MODULES: dict = {}


def engine_for_examples(gallery_conf, fname, when):
    sys.modules["quillon"] = MODULES["compiled" if when == "before" else "documented"]
