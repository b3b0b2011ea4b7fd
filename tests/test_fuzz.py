"""Fuzzing fit_probit and ame with random good and bad input: every call must
return or raise a Python exception. The calls run in a child interpreter (this
file run as a script), so a crash or a hang fails the test instead of killing
the run; the child logs each call before making it, so the last line of the
log is the input that took it down."""

import faulthandler
import json
import math
import operator
import subprocess
import sys
import warnings
from collections import Counter
from fractions import Fraction

import numpy as np
import pandas as pd
from hypothesis import HealthCheck, given, settings, strategies as st

import conftest

EXAMPLES = {"fit_probit": 1500, "ame": 1500, "fit_then_ame": 500}
CALL_TIMEOUT = 20  # seconds; every call works on a handful of numbers


def test_random_input_never_crashes_or_hangs(tmp_path):
    log = tmp_path / "calls.log"
    try:
        proc = conftest.run_child(None, log, script=__file__, timeout=600)
        failure = proc.returncode != 0
    except subprocess.TimeoutExpired as exc:
        proc, failure = exc, True
    if failure:
        calls = log.read_text(errors="replace").splitlines() if log.exists() else []
        stderr = "\n".join(line for line in text(proc.stderr).splitlines() if "Hessian" not in line)
        raise AssertionError(
            f"fuzz child failed (return code {getattr(proc, 'returncode', 'none: it hung')}; "
            f"negative = killed by that signal)\nlast call: {calls[-1] if calls else None}\n"
            f"stderr:\n{stderr[-6000:]}\nstdout:\n{text(proc.stdout)[-2000:]}")
    counts = json.loads(proc.stdout.splitlines()[-1])
    for phase in EXAMPLES:  # both the success and the error paths were reached
        assert counts[phase]["ok"] >= 200 and len(counts[phase]) >= 4, (phase, counts[phase])


def text(out):  # the output of a child that timed out comes as bytes
    return out.decode(errors="replace") if isinstance(out, bytes) else out or ""


# --- odd objects: Boom in place of a value makes the hook raise --------------------

class Boom(Exception):
    pass


def answer(value, hook):
    if value is Boom:
        raise Boom(hook)
    return value


class Index:
    def __init__(self, value): self.value = value
    def __index__(self): return answer(self.value, "__index__")
    def __repr__(self): return f"{type(self).__name__}({show(self.value)})"


class Float(Index):
    def __float__(self): return answer(self.value, "__float__")


class Returns(Index):
    def __call__(self): return answer(self.value, "__call__")


class Seq(Index):
    """A sequence of `value` whose reported length need not match it."""
    def __init__(self, value, length): self.value, self.length = value, length
    def __len__(self): return answer(self.length, "__len__")
    def __getitem__(self, i): return answer(self.value, "__getitem__")[i]
    def __repr__(self): return f"Seq({show(self.value)}, length={self.length!r})"


class TupleSub(tuple):
    def __repr__(self): return f"TupleSub({tuple(self)!r})"


class Sub(np.ndarray):
    pass


class Liar(np.ndarray):
    """A real array whose `shape` attribute says something else."""
    lie = None
    shape = property(lambda self: answer(self.lie, "shape"))


class Alternating(Index):
    """An attribute value that differs between consecutive reads."""


class Duck:
    def __init__(self, **attrs): self.__dict__.update(attrs)
    def __repr__(self):
        return f"Duck({', '.join(f'{k}={show(v)}' for k, v in vars(self).items())})"

    def __getattribute__(self, name):
        value = answer(object.__getattribute__(self, name), name)
        if isinstance(value, Alternating):
            value.value = value.value[1:] + value.value[:1]
            return value.value[-1]
        return value


def show(v):
    """repr that also gives an array's dtype, strides and flags."""
    if isinstance(v, np.ndarray):
        a, lie = v.view(np.ndarray), f", shape attribute {v.lie!r}" if isinstance(v, Liar) else ""
        return (f"{type(v).__name__}({a.tolist()!r}, dtype='{a.dtype.str}', shape={a.shape}, "
                f"strides={a.strides}, C={a.flags.c_contiguous}, F={a.flags.f_contiguous}, "
                f"writeable={a.flags.writeable}, aligned={a.flags.aligned}{lie})")
    if type(v) in (list, tuple):
        inner = ", ".join(map(show, v))
        return f"[{inner}]" if type(v) is list else f"({inner}{',' * (len(v) == 1)})"
    if type(v) is dict:
        return "{" + ", ".join(f"{k!r}: {show(x)}" for k, x in v.items()) + "}"
    return repr(v)


# --- random input: hypothesis draws the structure and seeds numpy for the values ----

def pick(draw, options):
    return options[draw(st.integers(0, len(options) - 1))]


def choose(draw, *makers):
    return pick(draw, makers)()


def bad(draw):  # each part of a call is malformed one time in five
    return draw(st.integers(0, 4)) == 0


def unaligned(a, pad):  # a field of a packed record: odd byte strides
    rec = np.zeros(a.shape, np.dtype([("pad", "u1", (pad,)), ("v", a.dtype)]))
    rec["v"] = a
    return rec["v"]


def overlapping(a, step):  # elements that share memory; 4 bytes is no multiple of 8
    base = np.zeros(step * (sum(a.shape) + 1) // a.itemsize + 2, a.dtype)
    base[:min(a.size, base.size)] = a.ravel()[:base.size]
    return np.lib.stride_tricks.as_strided(base, a.shape, (step,) * a.ndim, writeable=False)


LAYOUTS = [  # the first seven also work for object and text arrays
    np.ascontiguousarray, np.asfortranarray, lambda a: np.stack([a, a], -1)[..., 1],
    lambda a: np.lib.stride_tricks.as_strided(a, writeable=False),
    lambda a: np.flip(np.flip(a).copy()), lambda a: np.ascontiguousarray(a.T).T,
    lambda a: np.pad(a, 1)[(slice(1, -1),) * a.ndim] if a.dtype.kind != "U" else a,
    lambda a: unaligned(a, 1), lambda a: unaligned(a, 5),
    lambda a: unaligned(np.ascontiguousarray(a.T), 3).T,
    lambda a: np.broadcast_to(a[:1], a.shape) if a.ndim else a,
    lambda a: overlapping(a, a.itemsize), lambda a: overlapping(a, 4), lambda a: a.view(Sub)]
ROWS, COLS = [0, 1, 2, 3, 4, 6], [0, 1, 1, 2, 3]
BINARY = np.array([0.0, 1.0])
SPECIAL = np.array([0.0, 1.0, -0.0, 0.5, -1.0, 2.0, np.nan, np.inf, -np.inf, 1e308, -1e308, 5e-324])


def array(draw, shape, values=SPECIAL, dtype="<f8"):
    rng = np.random.default_rng(draw(st.integers(0, 2**32)))
    if values is SPECIAL:
        values = np.concatenate([SPECIAL, rng.normal(0, 2, 12)])
    with np.errstate(all="ignore"):
        a = rng.choice(values, shape).astype(dtype)
    return pick(draw, LAYOUTS[:7] if a.dtype.kind in "OU" else LAYOUTS)(a)


def odd(draw, shape):
    dtype = pick(draw, ["<f4", "<i8", "?", "O", "<c16", ">f8", "<f2", "U3"])
    return array(draw, shape, dtype=dtype)


JUNK = [None, "abc", {"a": 1}, 3, 2.5, [[1.0]], (1.0,), np.float64(1.0), np.array(1.0), Boom]
WEIRD_SHAPES = st.one_of(
    st.tuples(st.integers(-3, 2**70)),
    st.tuples(st.integers(0, 6), st.one_of(st.none(), st.integers(-2, 3), st.just(2**64))),
    st.sampled_from([(), (1, 2, 3), ("a",), ("3", 1), (3.0,), (None,), [3], 3, "3", None, Boom,
                     (3, "x"), (Index(Boom),), (Index(2),), TupleSub((2,)), (np.int64(2), None),
                     (np.uint64(2**64 - 1), 1), (True, None), (2**64, 1), (2**63, 2**63)]))
ODD_INTEGERS = st.one_of(st.integers(-2**70, 2**70), st.sampled_from([
    True, False, 0, np.int64(3), np.uint8(2), -1, 2**64, 2**64 - 1, 2**63, -2**100, 2**200, 2.0,
    "3", [1], Index(Boom), Index(2**64 - 1), Index(-5), Index(2.5), np.float64(2.0),
    np.uint64(2**64 - 1)]))
OPTIONS = {  # name: (well-formed, odd)
    "max_iter": (st.sampled_from([None, 0, 1, 2, 4]), ODD_INTEGERS),
    "tol": (st.sampled_from([None, 1e-6, 1e-12, 0.0, -1.0, math.nan, math.inf, 1, True]),
            st.one_of(st.floats(), st.sampled_from([
                5e-324, np.float32(1e-3), "1e-6", [1e-6], 1j, Fraction(1, 3), Float(Boom),
                Float("x"), Float(0.1), 2**2000, Index(3), np.array([1e-6]), np.ones(2)]))),
    "robust": (st.sampled_from([None, True, False]),
               st.sampled_from([1, 0, np.bool_(True), "yes", []])),
}
CHUNK = (st.sampled_from([None, 1, 2, 3, 7, 100, 2**64 - 1]), ODD_INTEGERS)
WORDS = ["x", "b", "x", "b", "const", "Intercept", "CONST", "constant", " const", "é", ""]
ABSENT = object()


def option(draw, choices):
    return draw(choices[bad(draw)])


def endog(draw, n):
    if not bad(draw):
        return array(draw, pick(draw, [(n,), (n,), (n, 1)]), BINARY)
    liar = array(draw, pick(draw, [(n,), (n, 1)]), BINARY).view(Liar)
    liar.lie = pick(draw, [(n,), (n, 1), draw(WEIRD_SHAPES)])
    return choose(draw, lambda: array(draw, (n,)), lambda: odd(draw, (n,)), lambda: liar,
                  lambda: array(draw, (n, pick(draw, [0, 2, 3]))), lambda: array(draw, (n, 1, 1)),
                  lambda: pick(draw, JUNK), lambda: [0.0, 1.0] * n,
                  lambda: Duck(shape=draw(WEIRD_SHAPES)))


def matrix(draw, n, k):
    if not bad(draw):
        return array(draw, (n, k))
    return choose(draw, lambda: array(draw, (max(n + pick(draw, [-1, 1, 2]), 0), k)),
                  lambda: odd(draw, (n, k)), lambda: array(draw, (n,)),
                  lambda: array(draw, (n, k, 1)), lambda: pick(draw, JUNK))


def runs_long(max_iter):
    try:
        return operator.index(max_iter) > 50
    except Exception:
        return False


@st.composite
def fit_calls(draw):
    n, k = pick(draw, ROWS), pick(draw, COLS)
    kwargs = {name: option(draw, values) for name, values in OPTIONS.items() if draw(st.booleans())}
    if draw(st.booleans()):
        kwargs["cluster_vars"] = matrix(draw, n, pick(draw, COLS))
    if runs_long(kwargs.get("max_iter")):  # would run for ages unless it stops at once
        kwargs["tol"] = math.inf
    return (endog(draw, n), matrix(draw, n, k)), kwargs


def names(draw, k):
    names = [w + str(i) if w in ("x", "b") else w for i, w in
             enumerate(pick(draw, WORDS) for _ in range(k))]
    if not bad(draw):
        return choose(draw, lambda: names, lambda: tuple(names),
                      lambda: pd.Index(names, dtype=object))
    return choose(draw, lambda: names + [pick(draw, WORDS)], lambda: names[:-1],
                  lambda: names + ["\ud800"], lambda: iter(names),
                  lambda: [w.encode() for w in names],
                  lambda: pick(draw, ["x0", 5, None, [1, 2], Boom]), lambda: Seq(Boom, 2),
                  lambda: Seq(names, pick(draw, [sys.maxsize, -1, 0, Boom])))


@st.composite
def ame_calls(draw):
    n, k = pick(draw, ROWS), pick(draw, COLS)
    params = array(draw, (k,)) if not bad(draw) else choose(
        draw, lambda: array(draw, (max(k + pick(draw, [-1, 1]), 0),)), lambda: array(draw, (k, 1)),
        lambda: odd(draw, (k,)), lambda: [0.0] * k, lambda: pick(draw, JUNK))
    cov = array(draw, (k, k)) if not bad(draw) else choose(
        draw, lambda: array(draw, (k + 1, k + 1)), lambda: array(draw, (k, k + 1)),
        lambda: array(draw, (k + 1, k)), lambda: array(draw, (k,)), lambda: odd(draw, (k, k)),
        lambda: pick(draw, JUNK))
    cov_params = pick(draw, [Returns(Boom), cov, Boom, lambda x: x]) if bad(draw) else Returns(cov)
    exog, exog_names = matrix(draw, n, k), names(draw, k)
    model = Duck(exog=exog, exog_names=exog_names)
    if bad(draw):  # a model attribute that changes between reads, or misses a part
        other = Duck(exog=array(draw, (n, k + 1)), exog_names=names(draw, k + 1))
        model = pick(draw, [Alternating([model, other]), Alternating([other, model]),
                            Duck(exog=exog), Duck(exog_names=exog_names), *JUNK])
    chunk = option(draw, CHUNK) if draw(st.booleans()) else ABSENT
    return Duck(params=params, cov_params=cov_params, model=model), chunk, draw(st.booleans())


@st.composite
def fit_then_ame_calls(draw):
    n, k = pick(draw, ROWS), pick(draw, COLS)
    y, X = array(draw, (n,), BINARY), array(draw, (n, k))
    clusters = array(draw, (n, pick(draw, COLS))) if draw(st.booleans()) else None
    fit = dict(max_iter=pick(draw, [0, 1, 2, 4]), robust=draw(st.booleans()), cluster_vars=clusters)
    damage = (pick(draw, range(k)), pick(draw, SPECIAL)) if k and draw(st.booleans()) else None
    return (y, X), fit, damage, option(draw, CHUNK) if draw(st.booleans()) else ABSENT


# --- the child ----------------------------------------------------------------------

COUNTS, LOG, PHASE = {}, None, None


def attempt(fn, *args, **kwargs):
    """Calls fn; returns its result, or None when it raised."""
    LOG.write(f"{fn.__name__}(*{show(args)}, **{show(kwargs)})\n")
    LOG.flush()
    faulthandler.dump_traceback_later(CALL_TIMEOUT, exit=True)
    try:
        result, outcome = fn(*args, **kwargs), "ok"
    except (SystemExit, KeyboardInterrupt, SystemError) as exc:  # SystemError: C-API misuse
        raise AssertionError(f"{fn.__name__} raised {exc!r}") from exc
    except BaseException as exc:  # PanicException included
        result, outcome = None, type(exc).__name__
    finally:
        faulthandler.cancel_dump_traceback_later()
    COUNTS.setdefault(PHASE, Counter())[outcome] += 1
    return result


def check_results(r, exog):
    k = exog.shape[1]
    assert type(r).__name__ == "CorvidProbitResults"
    assert r.params.shape == (k,) and r.cov_params().shape == (k, k)
    assert r.model.exog.shape == exog.shape and r.model.endog.shape[0] <= exog.shape[0]
    assert r.model.exog_names == [f"x{j}" for j in range(k)]
    assert math.isfinite(r.loglike) and isinstance(r.iterations, int)
    assert isinstance(r.converged, bool)


def check_table(table, rows=None):
    assert isinstance(table, pd.DataFrame)
    assert list(table.columns) == ["dy/dx", "Std. Err", "z", "Pr(>|z|)", "Significance"]
    assert all(isinstance(name, str) for name in table.index)
    assert rows is None or len(table) == rows


def run_child(log_path):
    global LOG, PHASE
    from quillon import ame, fit_probit
    LOG = open(log_path, "w", encoding="utf-8", errors="backslashreplace")
    warnings.simplefilter("ignore")

    def fuzz_fit(call):
        (y, X), kwargs = call
        r = attempt(fit_probit, y, X, **kwargs)
        if r is not None:
            check_results(r, X)

    def fuzz_ame(call):
        obj, chunk, by_keyword = call
        kwargs = {} if chunk is ABSENT else {"chunk_size": chunk}
        if by_keyword:
            table = attempt(ame, probit_model=obj, **kwargs)
        else:
            table = attempt(ame, obj, *kwargs.values())
        if table is not None:
            check_table(table)

    def fuzz_fit_then_ame(call):
        (y, X), options, damage, chunk = call
        r = attempt(fit_probit, y, X, **options)
        assert r is not None, "well-formed input must fit, whatever its memory layout"
        check_results(r, X)
        if damage:
            r.params[damage[0]] = damage[1]
        table = attempt(ame, r, *(() if chunk is ABSENT else (chunk,)))
        if table is not None:
            check_table(table, rows=X.shape[1])

    for PHASE, body, calls in (("fit_probit", fuzz_fit, fit_calls()),
                               ("ame", fuzz_ame, ame_calls()),
                               ("fit_then_ame", fuzz_fit_then_ame, fit_then_ame_calls())):
        settings(max_examples=EXAMPLES[PHASE], derandomize=True, database=None, deadline=None,
                 suppress_health_check=list(HealthCheck))(given(calls)(body))()
    print(json.dumps(COUNTS))


if __name__ == "__main__":
    run_child(sys.argv[1])
