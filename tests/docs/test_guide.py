"""The user guide's examples: every python block of docs/guide.md, run in
order in one namespace from the repository's root, as a reader would. The
blocks assert the numbers that the text around them states."""

import re
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
GUIDE = ROOT / "docs" / "guide.md"


def python_blocks(text):
    return re.findall(r"^```python\n(.*?)^```$", text, flags=re.MULTILINE | re.DOTALL)


def test_guide_examples_run(data_dir, monkeypatch):
    pytest.importorskip("statsmodels.formula.api")
    monkeypatch.chdir(ROOT)
    blocks = python_blocks(GUIDE.read_text())
    assert len(blocks) > 10
    namespace = {"__name__": "guide"}
    for number, block in enumerate(blocks, 1):
        exec(compile(block, f"{GUIDE.name}, python block {number}", "exec"), namespace)
