"""The module reads no configuration from the environment: the shared object
holds no name of a variable of the project's (the test build's switch to
the plainest forms is a build option)."""

import re
from pathlib import Path

import quillon


def test_shared_object_names_no_environment_variable():
    names = set(re.findall(rb"QUILLON_[A-Z0-9_]+", Path(quillon.__file__).read_bytes()))
    assert not names
