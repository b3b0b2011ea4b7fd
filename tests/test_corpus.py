"""Every output of the recorded corpus, bit for bit (see corpus_cases.py)."""

import json

import pytest

import corpus_cases

def test_outputs_match_recorded_corpus():
    recorded = json.loads(corpus_cases.CORPUS.read_text())
    if not corpus_cases.DATA_DIR.is_dir():
        recorded = {name: h for name, h in recorded.items() if not name.startswith(("adm", "mroz"))}
    computed = corpus_cases.compute()
    assert computed.keys() == recorded.keys()
    changed = sorted(name for name in recorded if computed[name] != recorded[name])
    assert not changed, f"{len(changed)} of {len(recorded)} cases changed: {changed[:20]}"
