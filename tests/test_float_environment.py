"""Every call runs in the default floating-point environment and hands the
caller's back: results keep their bits under another rounding mode, with
traps enabled, or with subnormals flushed (FTZ/DAZ, as -ffast-math libraries
set them), the kernels' start-up check included. Each case runs in a child
interpreter: a trap kills the process."""

import platform

import pytest

from conftest import run_child

pytestmark = pytest.mark.skipif(platform.machine() != "x86_64",
                                reason="environment constants and MXCSR are x86-64's")

CHILD = r"""
import ctypes, mmap, sys
from types import SimpleNamespace
import numpy as np
import quillon

libm = ctypes.CDLL("libm.so.6")
# MXCSR through two tiny functions: stmxcsr / ldmxcsr on the red zone.
code = mmap.mmap(-1, mmap.PAGESIZE, prot=mmap.PROT_READ | mmap.PROT_WRITE | mmap.PROT_EXEC)
code.write(bytes.fromhex("0fae5c24fc8b4424fcc3" "897c24fc0fae5424fcc3"))
address = ctypes.addressof(ctypes.c_char.from_buffer(code))
get_csr = ctypes.CFUNCTYPE(ctypes.c_uint32)(address)
set_csr = ctypes.CFUNCTYPE(None, ctypes.c_uint32)(address + 10)
FE_INVALID, FE_DIVBYZERO = 0x01, 0x04
ROUNDING = {"downward": 0x400, "upward": 0x800, "toward zero": 0xc00}

def enter(case):
    if case in ROUNDING:
        libm.fesetround(ROUNDING[case])
    elif case == "trap division by zero":
        libm.feenableexcept(FE_DIVBYZERO)
    elif case == "trap invalid":
        libm.feenableexcept(FE_INVALID)
    elif case == "flush subnormals":
        set_csr(get_csr() | 0x8040)

def leave():
    libm.fedisableexcept(0x3d)
    libm.fesetround(0)
    set_csr(get_csr() & ~0x8040)

rng = np.random.default_rng(5)
n = 400
X = np.column_stack([np.ones(n), rng.normal(size=n), (rng.random(n) < 0.5) * 1.0])
X[7] = 0.0  # a row of zeros: its index is exactly 0 at every point
y = (X @ [0.2, 0.9, -0.6] + rng.normal(size=n) > 0) * 1.0
tiny = np.array([0.0, 5e-324, 1e-323, 1.5])[np.arange(n) % 4][:, None]  # three render as one key
odd = X.copy()
odd[:, 2] = np.where(odd[:, 2] == 1.0, 5e-324, 0.0)  # not a 0/1 column

def outputs():
    fits = [quillon.fit_probit(y, X), quillon.fit_probit(y, X, robust=True),
            quillon.fit_probit(y, X, robust=True, cluster_vars=tiny)]
    model = SimpleNamespace(params=fits[0].params, cov_params=fits[0].cov_params,
                            model=SimpleNamespace(exog=odd, exog_names=["c", "x", "d"]))
    frames = [quillon.ame(fits[0]), quillon.ame(model)]
    arrays = [a for f in fits for a in (f.params, f.cov_params(), np.array([f.loglike]))]
    return [a.tobytes() for a in arrays] + [f.iloc[:, :4].to_numpy(dtype=float).tobytes() for f in frames]

case = sys.argv[1]
enter(case)  # the first call of the process: the kernels are chosen in it
state = (libm.fegetround(), libm.fegetexcept(), get_csr() & ~0x3f)
got = outputs()
kept = (libm.fegetround(), libm.fegetexcept(), get_csr() & ~0x3f) == state
leave()
want = outputs()
print(kept, [a == b for a, b in zip(got, want)].count(False))
"""


@pytest.mark.parametrize("case", ["downward", "upward", "toward zero", "trap division by zero",
                                  "trap invalid", "flush subnormals"])
def test_results_keep_their_bits_in_any_caller_environment(case):
    child = run_child(CHILD, case)
    assert child.returncode == 0, child.stderr
    assert child.stdout.split() == ["True", "0"]
