"""The result and model objects returned by fit_probit: identity of what they
hand out, ownership of their arrays, and the refusals of the two classes."""

import gc

import numpy as np
import pytest

import quillon
from conftest import run_child
from quillon import fit_probit


@pytest.fixture
def result(design):
    y, X = design
    return fit_probit(y, X[:, :3])


def test_identity_of_attributes(result):
    r = result
    assert r.params is r.params
    assert r.cov_params() is r.cov_params()
    assert r.model.exog is r.model.exog and r.model.endog is r.model.endog
    assert r.model is not r.model
    assert r.model.exog_names is not r.model.exog_names
    assert r.model.exog_names == r.model.exog_names == ["x0", "x1", "x2"]
    assert type(r.iterations) is int and type(r.loglike) is float and r.converged is True


@pytest.mark.parametrize("which", ["results", "model"])
def test_classes_are_closed(result, which):
    T = type(result) if which == "results" else type(result.model)
    assert T.__name__ == T.__qualname__ == f"CorvidProbit{which.capitalize()}"
    assert T.__module__ == "builtins" and T.__doc__ is None
    assert not hasattr(quillon, T.__name__)
    for make in (lambda: T(), lambda: T(1, key=2), lambda: T.__new__(T)):
        with pytest.raises(TypeError) as info:
            make()
        assert str(info.value) == "No constructor defined"
    with pytest.raises(TypeError):
        type("Sub", (T,), {})


@pytest.mark.parametrize(
    "which, name",
    [("results", n) for n in ("params", "loglike", "model", "iterations", "converged",
                              "cov_params", "foo")]
    + [("model", n) for n in ("exog", "endog", "exog_names", "foo")],
)
def test_attributes_are_read_only(result, which, name):
    obj = result if which == "results" else result.model
    with pytest.raises(AttributeError):
        setattr(obj, name, 0)
    with pytest.raises(AttributeError):
        delattr(obj, name)


def test_cov_params_takes_no_arguments(result):
    method = type(result).cov_params
    assert method.__text_signature__ == "($self)" and method.__doc__ is None
    with pytest.raises(TypeError):
        result.cov_params(1)
    with pytest.raises(TypeError):
        method(result.model)


def test_result_arrays_are_owned_writeable_float64(design):
    y, X = design
    X = np.ascontiguousarray(X)
    r = fit_probit(y, X)
    m = r.model
    k = X.shape[1]
    arrays = {"params": (r.params, (k,)), "cov": (r.cov_params(), (k, k)),
              "exog": (m.exog, X.shape), "endog": (m.endog, y.shape)}
    for key, (a, shape) in arrays.items():
        assert type(a) is np.ndarray and a.dtype == np.float64 and a.shape == shape, key
        assert a.flags.writeable and a.flags.aligned, key
        assert a.base is not None and not isinstance(a.base, np.ndarray), key
        assert not np.shares_memory(a, X) and not np.shares_memory(a, y), key
    assert len({id(a.base) for a, _ in arrays.values()}) == 4, "one owner per array"
    assert r.params.flags.c_contiguous and r.cov_params().flags.c_contiguous
    np.testing.assert_array_equal(m.exog, X)
    np.testing.assert_array_equal(m.endog, y)


def test_in_place_changes_are_seen_by_later_reads(result):
    r = result
    r.params[0] = 123.0
    r.cov_params()[1, 1] = -5.0
    r.model.exog[0, 0] = 42.0
    assert (r.params[0], r.cov_params()[1, 1], r.model.exog[0, 0]) == (123.0, -5.0, 42.0)


def test_arrays_outlive_their_owners(design):
    y, X = design
    r = fit_probit(y, X)
    m, params, expected = r.model, r.params, r.params.copy()
    del r
    gc.collect()
    filler = [np.full(X.shape, -1.0) for _ in range(50)]  # reuse any freed memory
    np.testing.assert_array_equal(m.exog, X)
    np.testing.assert_array_equal(m.endog, y)
    np.testing.assert_array_equal(params, expected)
    assert m.exog_names == ["x0", "x1", "x2", "x3"]
    del filler


@pytest.mark.parametrize("k", [0, 1, 12])
def test_exog_names_follow_the_column_index(k):
    rng = np.random.default_rng(k)
    r = fit_probit((rng.random(300) < 0.5).astype(float), rng.normal(size=(300, k)))
    assert r.model.exog_names == [f"x{j}" for j in range(k)]
    assert r.params.shape == (k,) and r.cov_params().shape == (k, k)
    if k == 0:  # nothing to move: the first pass leaves the log-likelihood unchanged
        assert (r.iterations, r.converged) == (0, True)


IMMUTABLE = r"""
import ctypes, sys
import numpy as np
import quillon

r = quillon.fit_probit(np.array([0.0, 1.0, 1.0]), np.ones((3, 1)))
T = type(r) if sys.argv[1] == "results" else type(r.model)
read = ([lambda o: o.params, lambda o: o.cov_params(), lambda o: o.model, lambda o: o.loglike]
        if T is type(r) else [lambda o: o.exog, lambda o: o.endog, lambda o: o.exog_names])

def outcome(change):
    try:
        change()
        return "changed"
    except Exception as e:
        return f"{type(e).__name__}: {e}"

for change in (lambda: setattr(T, "__new__", lambda cls: object.__new__(cls)),
               lambda: setattr(T, "extra", 1), lambda: delattr(T, "__init__"),
               lambda: object.__new__(T)):
    print(outcome(change).split(":")[0])
# Past the immutability, as C code could go: an instance whose record was never filled.
flags = next(ctypes.c_ulong.from_address(id(T) + at) for at in range(0, 512, 8)
             if ctypes.c_ulong.from_address(id(T) + at).value == T.__flags__)
flags.value &= ~(1 << 8)
T.__new__ = lambda cls: object.__new__(cls)
empty = T()
print(*sorted({outcome(lambda: get(empty)) for get in read}), sep="\n")
del empty
"""


@pytest.mark.parametrize("which", ["results", "model"])
def test_classes_are_immutable_and_empty_records_refused(which):
    child = run_child(IMMUTABLE, which)
    assert child.returncode == 0, child.stderr
    name = f"CorvidProbit{which.capitalize()}"
    assert child.stdout.splitlines() == ["TypeError"] * 4 + [
        f"TypeError: empty '{name}' object: it was not created by quillon"]
