"""Shared fixtures: the real data sets that sit beside the repository and a
small seeded probit design."""

import os
import subprocess
import sys
from pathlib import Path

import numpy as np
import pandas as pd
import pytest

DATA_DIR = Path(__file__).resolve().parents[1].parent / "shared" / "data"


@pytest.fixture(scope="session")
def data_dir():
    if not DATA_DIR.is_dir():
        pytest.skip(f"data directory {DATA_DIR} not found")
    return DATA_DIR


@pytest.fixture(scope="session")
def admissions(data_dir):
    """UCLA graduate admissions: admit (0/1), gre, gpa, rank (1-4)."""
    return pd.read_csv(data_dir / "admissions.csv")


@pytest.fixture(scope="session")
def mroz(data_dir):
    """Mroz (1987) labour-force participation; '.' marks a missing value."""
    return pd.read_csv(data_dir / "mroz.csv", na_values=".")


def make_design(n=200, seed=0):
    """Constant, two continuous regressors and a 0/1 dummy, with a probit outcome."""
    rng = np.random.default_rng(seed)
    X = np.column_stack(
        [
            np.ones(n),
            rng.normal(size=n),
            rng.uniform(-2.0, 2.0, size=n),
            (rng.random(n) < 0.4).astype(float),
        ]
    )
    beta = np.array([0.3, 0.8, -0.5, 0.6])
    y = (X @ beta + rng.normal(size=n) > 0).astype(float)
    return y, X


@pytest.fixture
def design():
    return make_design()


def _resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.fixture
def resident_bytes():
    """The process's resident size in bytes, as a function; None where it says
    nothing about leaks: without /proc, or under AddressSanitizer, whose
    quarantine keeps freed memory resident on purpose."""
    if not sys.platform.startswith("linux") or "libasan" in os.environ.get("LD_PRELOAD", ""):
        return None
    return _resident_bytes


# Every child interpreter of the suite starts here: a crash, a hang or a
# once-per-process step (the first use, a floating-point environment, a
# signal) is then the child's alone. The child reports a crash's traceback.
def child_command(source, *args, script=None):
    """The command that runs `source` (or the file `script`), `args` as
    sys.argv[1:], in a fresh interpreter."""
    program = ["-c", source] if script is None else [str(script)]
    return [sys.executable, "-X", "faulthandler", *program, *map(str, args)]


def start_child(source, *args, script=None):
    """The child running, its stdout and stderr text pipes to read as it goes."""
    return subprocess.Popen(child_command(source, *args, script=script), stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)


def run_child(source, *args, script=None, timeout=120):
    """The child run to its end; returns the completed process, whose stdout
    and stderr are text (subprocess.TimeoutExpired when it hangs)."""
    return subprocess.run(child_command(source, *args, script=script), capture_output=True,
                          text=True, timeout=timeout)
