"""The README and the user guide run as written, as a pip user would run
them: the built wheel with its extras installed into a new environment,
nothing of the repository but the Markdown files in an empty folder, and
every ```python block of a document pasted in order into one script, run
from there. The guide is its pages in the order of its table of contents
(docs/guide.md), which is the order their code needs: later pages use the
data and fits of earlier ones. The blocks assert the numbers that the text
around them states, and every printed output shown in a ```text block after
a Python block must be what that block prints now. Blocks fenced as ```py
are shown, not run (one: the connection to a cluster by address, which no
test machine has).

`make docs-run` sets QUILLON_DOCS_WHEEL to the wheel and runs this file;
the environment is made once per run, with pip's cache.
"""

import json
import os
import re
import shutil
import subprocess
import sys
import venv
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
EXTRAS = "models,plot,statsmodels,dask"
WHEEL = os.environ.get("QUILLON_DOCS_WHEEL")

pytestmark = pytest.mark.skipif(not WHEEL, reason="run by `make docs-run` (QUILLON_DOCS_WHEEL)")

FENCE = re.compile(r"^```(\w*)\n(.*?)^```$", flags=re.MULTILINE | re.DOTALL)

# Each block's printed output is kept by block number, in the process that
# runs the script only (a LocalCluster's workers import the script again
# and print its unguarded blocks once more, on the same terminal).
RECORDER = '''\
import atexit as _docs_atexit, json as _docs_json, sys as _docs_sys


class _DocsOutput:
    def __init__(self, stream):
        self.stream, self.block, self.blocks = stream, 0, {}

    def write(self, text):
        self.blocks[self.block] = self.blocks.get(self.block, "") + text
        return self.stream.write(text)

    def __getattr__(self, name):
        return getattr(self.stream, name)


def _docs_block(number):
    if __name__ == "__main__":
        _docs_sys.stdout.block = number


if __name__ == "__main__":
    _docs_sys.stdout = _DocsOutput(_docs_sys.stdout)
    _docs_atexit.register(lambda out=_docs_sys.stdout: open("printed.json", "w").write(
        _docs_json.dumps(out.blocks)))
'''


def guide_pages(folder):
    """The guide's pages in the order of docs/guide.md's table of contents."""
    contents = (folder / "docs" / "guide.md").read_text()
    [toctree] = re.findall(r"^```\{toctree\}\n(.*?)^```$", contents, flags=re.M | re.S)
    return [f"docs/{line.strip()}.md" for line in toctree.splitlines()
            if line.strip() and not line.startswith(":")]


def fenced_blocks(text):
    """(language, body) of every fenced block, in order."""
    return FENCE.findall(text)


def python_blocks(text):
    return [body for language, body in fenced_blocks(text) if language == "python"]


def shown_outputs(text):
    """(number of the Python block before it, lines) of every ```text block
    that follows a Python block."""
    shown, number = [], 0
    for language, body in fenced_blocks(text):
        if language == "python":
            number += 1
        elif language == "text" and number:
            shown.append((number, [line.rstrip() for line in body.splitlines()]))
    return shown


def as_script(text):
    """The document's python blocks in order, each marked with its number."""
    return RECORDER + "\n".join(f"# --- python block {number}\n_docs_block({number})\n{block}"
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
    """The Markdown files alone, copied into an otherwise empty folder; the
    guide as one text, its pages in order."""
    folder = tmp_path_factory.mktemp("markdown")
    names = ["README.md", "docs/guide.md",
             *(str(p.relative_to(ROOT)) for p in (ROOT / "docs" / "guide").glob("*.md"))]
    for name in names:
        (folder / name).parent.mkdir(parents=True, exist_ok=True)
        shutil.copy(ROOT / name, folder / name)
    pages = guide_pages(folder)
    assert sorted(pages) == sorted(n for n in names if n.startswith("docs/guide/")), \
        "a page of the guide is missing from its table of contents"
    return {"README.md": (folder / "README.md").read_text(),
            "guide": "\n".join((folder / page).read_text() for page in pages)}


@pytest.fixture(scope="module")
def runs(user_python, documents, tmp_path_factory):
    """Each document run once as a script: its exit, its error stream and
    the output of each block."""
    done = {}
    for name, text in documents.items():
        folder = tmp_path_factory.mktemp("run")
        (folder / "script.py").write_text(as_script(text))
        run = subprocess.run([user_python, "script.py"], cwd=folder, capture_output=True,
                             text=True, timeout=900,
                             env={"PATH": os.environ["PATH"],
                                  "HOME": os.environ.get("HOME", "/")})
        sys.stdout.write(run.stdout)
        printed = folder / "printed.json"
        blocks = json.loads(printed.read_text()) if printed.exists() else {}
        done[name] = run, {int(number): out for number, out in blocks.items()}
    return done


@pytest.mark.parametrize("name, least_blocks", [("README.md", 3), ("guide", 25)])
def test_document_runs_as_one_script(documents, runs, name, least_blocks):
    assert len(python_blocks(documents[name])) >= least_blocks
    run, _ = runs[name]
    assert run.returncode == 0, run.stderr[-6000:]
    # a healthy cluster logs nothing at warning level (categories are found
    # without a shuffle)
    assert not re.findall(r"^.*- (?:WARNING|ERROR) -.*$", run.stderr, flags=re.M)


@pytest.mark.parametrize("name, least_shown", [("README.md", 1), ("guide", 4)])
def test_shown_output_is_what_the_code_prints(documents, runs, name, least_shown):
    shown = shown_outputs(documents[name])
    assert len(shown) >= least_shown
    _, blocks = runs[name]
    for number, lines in shown:
        printed = [line.rstrip() for line in blocks.get(number, "").splitlines()]
        starts = [i for i in range(len(printed) - len(lines) + 1)
                  if printed[i:i + len(lines)] == lines]
        assert starts, (f"the output shown after python block {number} is not what it "
                        f"prints:\n" + "\n".join(lines) + "\n--- printed:\n" + "\n".join(printed))
