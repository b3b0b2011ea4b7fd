"""fit_probit as Python sees it: the function object, argument binding and the
conversion of each argument, with the exact exceptions a caller receives."""

import ctypes
import inspect

import numpy as np
import pytest

import quillon
from quillon import fit_probit

SIGNATURE = "(endog_py, exog_py, max_iter=..., tol=..., robust=..., cluster_vars=...)"


def interpreter_error(c_function, restype, value):
    """The exception that the interpreter's own C conversion raises for `value`."""
    function = getattr(ctypes.pythonapi, c_function)
    function.argtypes, function.restype = [ctypes.py_object], restype
    with pytest.raises(Exception) as info:
        function(value)
    return info.value


def same_fit(a, b):
    np.testing.assert_array_equal(a.params, b.params)
    np.testing.assert_array_equal(a.cov_params(), b.cov_params())
    assert (a.loglike, a.iterations, a.converged) == (b.loglike, b.iterations, b.converged)


class UnnamedMeta(type):
    def __getattribute__(cls, name):
        if name == "__qualname__":
            raise RuntimeError("no name")
        return super().__getattribute__(name)


class Unnamed(metaclass=UnnamedMeta):
    pass


def test_function_object():
    assert quillon.__all__[-1] == "fit_probit" and "fit_probit" in quillon.__all__
    assert fit_probit.__name__ == "fit_probit"
    assert fit_probit.__text_signature__ == SIGNATURE
    assert fit_probit.__doc__ is None
    assert fit_probit.__module__ == "quillon"
    assert fit_probit.__self__ is quillon
    parameters = inspect.signature(fit_probit).parameters.values()
    assert [p.name for p in parameters] == SIGNATURE[1:-1].replace("=...", "").split(", ")
    assert {p.kind for p in parameters} == {inspect.Parameter.POSITIONAL_OR_KEYWORD}


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((1, 2, 3, 4, 5, 6, 7), {"nope": 1}, "takes from 2 to 6 positional arguments but 7 were given"),
        (("y", "X"), {"Tol": 1}, "got an unexpected keyword argument 'Tol'"),
        (("y", "X"), {"exog_py": 1}, "got multiple values for argument 'exog_py'"),
        (("y", "X", 3), {"max_iter": 1}, "got multiple values for argument 'max_iter'"),
        # keywords are examined in the order given; the first bad one is reported
        (("y", "X"), {"exog_py": 1, "nope": 1}, "got multiple values for argument 'exog_py'"),
        (("y", "X"), {"nope": 1, "exog_py": 1}, "got an unexpected keyword argument 'nope'"),
        ((), {"nope": 1}, "got an unexpected keyword argument 'nope'"),
        ((), {"tol": 1.0}, "missing 2 required positional arguments: 'endog_py' and 'exog_py'"),
        (("y",), {}, "missing 1 required positional argument: 'exog_py'"),
        ((), {"exog_py": "X"}, "missing 1 required positional argument: 'endog_py'"),
    ],
)
def test_binding_errors(args, kwargs, message):
    with pytest.raises(TypeError) as info:
        fit_probit(*args, **kwargs)
    assert type(info.value) is TypeError
    assert str(info.value) == "fit_probit() " + message


@pytest.mark.parametrize(
    "exog, message",
    [
        ([[1.0, 2.0]], "'list' object cannot be converted to 'PyArray<T, D>'"),
        (None, "'NoneType' object cannot be converted to 'PyArray<T, D>'"),
        (Unnamed(), "'<failed to extract type name>' object cannot be converted to 'PyArray<T, D>'"),
        (np.ones(4), "dimensionality mismatch:\n from=1, to=2"),
        (np.array(1.0), "dimensionality mismatch:\n from=0, to=2"),
        (np.ones((2, 2, 2)), "dimensionality mismatch:\n from=3, to=2"),
        (np.ones(4, dtype=np.int64), "dimensionality mismatch:\n from=1, to=2"),
        (np.ones((4, 2), dtype=np.int64), "type mismatch:\n from=int64, to=float64"),
        (np.ones((4, 2), dtype=np.float32), "type mismatch:\n from=float32, to=float64"),
        (np.ones((4, 2), dtype=">f8"), "type mismatch:\n from=>f8, to=float64"),
    ],
    ids=lambda v: type(v).__name__,
)
def test_exog_refused(exog, message):
    with pytest.raises(TypeError) as info:
        fit_probit(np.zeros(4), exog)
    assert type(info.value) is TypeError
    assert str(info.value) == "argument 'exog_py': " + message


def test_conversion_order(design):
    y, X = design
    with pytest.raises(TypeError, match=r"^argument 'exog_py': type mismatch"):
        fit_probit(y, X.astype(np.int64), max_iter="a", tol="b", robust=1)
    # the outcome is read only after every argument has been converted
    with pytest.raises(TypeError, match=r"^argument 'max_iter': "):
        fit_probit([1.0], X, max_iter="a", tol="b", robust=1)
    with pytest.raises(TypeError, match=r"^argument 'tol': "):
        fit_probit([1.0], X, max_iter=3, tol="b", robust=1)
    with pytest.raises(TypeError, match=r"^argument 'robust': "):
        fit_probit([1.0], X, robust=1, cluster_vars="x")


@pytest.mark.parametrize(
    "name, value, c_function, restype",
    [
        ("max_iter", 5.0, "PyNumber_Index", ctypes.py_object),
        ("max_iter", "a", "PyNumber_Index", ctypes.py_object),
        ("tol", "a", "PyFloat_AsDouble", ctypes.c_double),
        ("tol", [1e-6], "PyFloat_AsDouble", ctypes.c_double),
    ],
)
def test_option_type_errors_are_prefixed(design, name, value, c_function, restype):
    y, X = design
    expected = interpreter_error(c_function, restype, value)
    with pytest.raises(TypeError) as info:
        fit_probit(y, X, **{name: value})
    assert type(info.value) is TypeError
    assert str(info.value) == f"argument '{name}': {expected}"
    assert info.value.__cause__ is None


@pytest.mark.parametrize("value", [-1, 2**64, -(2**70)])
def test_max_iter_out_of_range_is_an_unprefixed_overflow(design, value):
    y, X = design
    expected = interpreter_error("PyLong_AsUnsignedLongLong", ctypes.c_ulonglong, value)
    with pytest.raises(OverflowError) as info:
        fit_probit(y, X, max_iter=value)
    assert str(info.value) == str(expected)


@pytest.mark.parametrize("robust", [1, 0, "yes", np.bool_(True), np.bool_(False)])
def test_robust_must_be_exactly_bool(design, robust):
    y, X = design
    with pytest.raises(TypeError) as info:
        fit_probit(y, X, robust=robust)
    name = type(robust).__qualname__  # "bool_" before NumPy 2, "bool" since
    assert str(info.value) == f"argument 'robust': '{name}' object cannot be converted to 'PyBool'"


class TypeErrorSubclass(TypeError):
    pass


def raising_number(exc):
    class Number:
        def __index__(self):
            raise exc

        __float__ = __index__

    return Number()


@pytest.mark.parametrize("name", ["max_iter", "tol"])
def test_prefixed_error_keeps_the_original_cause(design, name):
    y, X = design
    cause = KeyError("root")
    error = TypeError("no number")
    error.__cause__ = cause
    with pytest.raises(TypeError) as info:
        fit_probit(y, X, **{name: raising_number(error)})
    assert info.value is not error
    assert str(info.value) == f"argument '{name}': no number"
    assert info.value.__cause__ is cause


@pytest.mark.parametrize("name", ["max_iter", "tol"])
@pytest.mark.parametrize("error", [ValueError("boom"), TypeErrorSubclass("sub"), KeyError("k")])
def test_other_conversion_errors_pass_unchanged(design, name, error):
    y, X = design
    with pytest.raises(BaseException) as info:
        fit_probit(y, X, **{name: raising_number(error)})
    assert info.value is error


def test_none_means_absent(design):
    y, X = design
    default = fit_probit(y, X)
    same_fit(fit_probit(y, X, None, None, None, None), default)
    same_fit(fit_probit(y, X, 35, 1e-06, False), default)
    same_fit(fit_probit(endog_py=y, exog_py=X, max_iter=None, tol=None, robust=None), default)
    exhausted = fit_probit(y, X, None, -1.0)
    assert (exhausted.iterations, exhausted.converged) == (34, False)


@pytest.mark.parametrize(
    "given, plain",
    [(True, 1), (np.int64(3), 3), (np.uint8(2), 2), (2**64 - 1, 35)],
)
def test_max_iter_accepts_integer_indices(design, given, plain):
    y, X = design
    same_fit(fit_probit(y, X, max_iter=given), fit_probit(y, X, max_iter=plain))
    if given is True:
        assert fit_probit(y, X, max_iter=True).iterations == 0


class FloatLike:
    def __float__(self):
        return 1e-3


class IndexLike:
    def __index__(self):
        return 0


@pytest.mark.parametrize(
    "given, plain",
    [(0, 0.0), (True, 1.0), (np.float32(0.5), 0.5), (FloatLike(), 1e-3), (IndexLike(), 0.0)],
    ids=["int", "bool", "float32", "__float__", "__index__"],
)
def test_tol_accepts_real_numbers(design, given, plain):
    y, X = design
    same_fit(fit_probit(y, X, max_iter=6, tol=given), fit_probit(y, X, max_iter=6, tol=plain))


@pytest.mark.parametrize("robust", [False, None])
@pytest.mark.parametrize("clusters", ["not an array", np.zeros(3), [[1.0]], np.zeros((1, 1))])
def test_cluster_vars_ignored_unless_robust(design, robust, clusters):
    y, X = design
    same_fit(fit_probit(y, X, robust=robust, cluster_vars=clusters), fit_probit(y, X))
