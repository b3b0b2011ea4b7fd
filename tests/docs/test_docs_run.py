"""The README and the user guide run as written, as a pip user would run
them: the built wheel with its extras installed into a new environment,
nothing of the repository but the two Markdown files in an empty folder,
and every ```python block of each document pasted in order into one script,
run from there. The blocks assert the numbers that the text around them
states. Blocks fenced as ```py are shown, not run (one: the connection to a
cluster by address, which no test machine has).

`make docs-run` sets QUILLON_DOCS_WHEEL to the wheel and runs this file;
the environment is made once per run, with pip's cache.
"""

import os
import re
import shutil
import subprocess
import sys
import venv
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
DOCUMENTS = ["README.md", "docs/guide.md"]
EXTRAS = "models,plot,statsmodels,dask"
WHEEL = os.environ.get("QUILLON_DOCS_WHEEL")

pytestmark = pytest.mark.skipif(not WHEEL, reason="run by `make docs-run` (QUILLON_DOCS_WHEEL)")


def python_blocks(text):
    return re.findall(r"^```python\n(.*?)^```$", text, flags=re.MULTILINE | re.DOTALL)


def as_script(text):
    """The document's python blocks in order, each marked with its number."""
    return "\n".join(f"# --- python block {number}\n{block}"
                     for number, block in enumerate(python_blocks(text), 1))


@pytest.fixture(scope="module")
def user_python(tmp_path_factory):
    """A new environment holding the wheel with its extras and nothing else."""
    home = tmp_path_factory.mktemp("user-venv")
    venv.create(home, with_pip=True)
    python = home / "bin" / "python"
    subprocess.run([python, "-m", "pip", "install", "--quiet", f"{WHEEL}[{EXTRAS}]"],
                   check=True)
    return python


@pytest.fixture(scope="module")
def documents(tmp_path_factory):
    """The Markdown files alone, copied into an otherwise empty folder."""
    folder = tmp_path_factory.mktemp("markdown")
    for name in DOCUMENTS:
        (folder / name).parent.mkdir(parents=True, exist_ok=True)
        shutil.copy(ROOT / name, folder / name)
    return folder


@pytest.mark.parametrize("name, least_blocks", [("README.md", 3), ("docs/guide.md", 25)])
def test_document_runs_as_one_script(user_python, documents, tmp_path, name, least_blocks):
    text = (documents / name).read_text()
    assert len(python_blocks(text)) >= least_blocks
    script = tmp_path / "script.py"
    script.write_text(as_script(text))
    run = subprocess.run([user_python, script.name], cwd=tmp_path, capture_output=True,
                         text=True, timeout=900,
                         env={"PATH": os.environ["PATH"], "HOME": os.environ.get("HOME", "/"),
                              })
    sys.stdout.write(run.stdout)
    assert run.returncode == 0, run.stderr[-6000:]
    # a healthy cluster logs nothing at warning level (categories are found
    # without a shuffle)
    assert not re.findall(r"^.*- (?:WARNING|ERROR) -.*$", run.stderr, flags=re.M)
