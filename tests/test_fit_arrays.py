"""The array border of fit_probit: any memory layout of the inputs gives the
estimates of a clean C-ordered copy, the outcome is read through its `shape`,
and the caller's arrays are neither written nor kept."""

import operator

import numpy as np
import pytest

from quillon import fit_probit


def assert_same_fit(r, ref):
    np.testing.assert_array_equal(r.params, ref.params)
    np.testing.assert_array_equal(r.cov_params(), ref.cov_params())
    assert (r.loglike, r.iterations, r.converged) == (ref.loglike, ref.iterations, ref.converged)


class SubArray(np.ndarray):
    pass


def read_only(a):
    a = a.copy()
    a.flags.writeable = False
    return a


def unaligned(a):
    """The same values in a C-ordered array whose data starts one byte off alignment."""
    buf = np.zeros(a.nbytes + 1, dtype=np.uint8)
    out = buf[1:].view(np.float64).reshape(a.shape)
    out[...] = a
    assert not out.flags.aligned
    return out


# Each layout maps (y, X) to the pair handed to fit_probit; the reference is the
# same values in fresh C-ordered arrays.
LAYOUTS = {
    "fortran": lambda y, X: (y, np.asfortranarray(X)),
    "rows reversed": lambda y, X: (y[::-1], X[::-1]),
    "both axes reversed": lambda y, X: (y[::-1], X[::-1, ::-1]),
    "columns reversed": lambda y, X: (y, X[:, ::-1]),
    "column stride 2": lambda y, X: (y, X[:, ::2]),
    "row stride 3": lambda y, X: (y[::3], X[::3]),
    "subclass": lambda y, X: (y.view(SubArray), X.view(SubArray)),
    "read-only": lambda y, X: (read_only(y), read_only(X)),
    "unaligned": lambda y, X: (unaligned(y), unaligned(X)),
    "endog column": lambda y, X: (y[:, None], X),
    "endog column of a matrix": lambda y, X: (np.column_stack([y, -y])[:, :1], X),
    "endog reversed column": lambda y, X: (y[::-1, None], X[::-1]),
}


@pytest.mark.parametrize("layout", LAYOUTS)
@pytest.mark.parametrize("robust", [False, True])
def test_memory_layout_does_not_change_the_fit(design, layout, robust):
    y, X = design
    y_in, X_in = LAYOUTS[layout](y, X)
    y_ref = np.ascontiguousarray(np.asarray(y_in).reshape(-1))
    X_ref = np.ascontiguousarray(X_in)
    r = fit_probit(y_in, X_in, robust=robust)
    assert_same_fit(r, fit_probit(y_ref, X_ref, robust=robust))
    np.testing.assert_array_equal(r.model.exog, X_ref)
    np.testing.assert_array_equal(r.model.endog, y_ref)
    assert r.model.endog.ndim == 1


@pytest.mark.parametrize(
    "view",
    [np.asfortranarray, lambda C: C[::-1], lambda C: C[::-1, ::-2], lambda C: C.view(SubArray),
     read_only, unaligned],
    ids=["fortran", "reversed", "strided", "subclass", "read-only", "unaligned"],
)
def test_cluster_layout_does_not_change_the_fit(design, view):
    y, X = design
    C = view(np.random.default_rng(1).integers(0, 4, size=(len(y), 3)).astype(float))
    assert_same_fit(
        fit_probit(y, X, robust=True, cluster_vars=C),
        fit_probit(y, X, robust=True, cluster_vars=np.ascontiguousarray(C)),
    )


def test_fortran_input_gives_fortran_model_exog(design):
    y, X = design
    r = fit_probit(y, np.asfortranarray(X))
    assert r.model.exog.flags.f_contiguous and not r.model.exog.flags.c_contiguous
    assert fit_probit(y, np.ascontiguousarray(X)).model.exog.flags.c_contiguous


def test_packed_record_fields(design):
    """Fields of a packed structured array: unaligned, byte strides not a multiple of 8."""
    y, X = design
    n, k = X.shape
    rec = np.zeros(n, dtype=[("flag", "i1"), ("y", "f8"), ("x", "f8", (k,)), ("g", "f8", (1,))])
    rec["flag"] = 0x7F
    rec["y"], rec["x"] = y, X
    rec["g"][:, 0] = np.arange(n) % 7
    assert rec["y"].strides == (rec.itemsize,) and rec.itemsize % 8 == 1
    ref = fit_probit(y.copy(), X.copy(), robust=True, cluster_vars=np.arange(n)[:, None] % 7.0)
    r = fit_probit(rec["y"], rec["x"], robust=True, cluster_vars=rec["g"])
    assert_same_fit(r, ref)
    np.testing.assert_array_equal(r.model.exog, X)
    # a single byte-strided field as a one-column regressor
    rec1 = np.zeros(n, dtype=[("a", "i1"), ("b", "f8")])
    rec1["a"], rec1["b"] = -1, X[:, 1]
    col = rec1["b"][:, None]
    assert col.strides[0] == 9
    assert_same_fit(fit_probit(y, col), fit_probit(y, X[:, 1:2].copy()))


def test_callers_arrays_are_left_alone(design):
    y, X = design
    g = (np.arange(len(y)) % 5.0)[:, None]
    X_f = np.asfortranarray(X)
    before = [a.copy() for a in (y, X_f, g)]
    flags = [(a.flags.writeable, a.flags.f_contiguous, a.base) for a in (y, X_f, g)]
    r = fit_probit(y, X_f, robust=True, cluster_vars=g)
    for a, b, f in zip((y, X_f, g), before, flags):
        np.testing.assert_array_equal(a, b)
        assert (a.flags.writeable, a.flags.f_contiguous, a.base) == f
    r.model.exog[...] = np.nan
    r.model.endog[...] = np.nan
    np.testing.assert_array_equal(X_f, before[1])
    np.testing.assert_array_equal(y, before[0])


# --- the outcome object ----------------------------------------------------------


class Shaped:
    def __init__(self, shape):
        self.shape = shape


class OddShape(np.ndarray):
    """An array that reports a shape of its own choosing."""

    reported = None

    @property
    def shape(self):
        return self.reported


def odd_shape(values, reported):
    a = np.asarray(values, dtype=np.float64).view(OddShape)
    a.reported = reported
    return a


class TupleSub(tuple):
    pass


@pytest.mark.parametrize(
    "endog, exc, message",
    [
        (np.zeros((5, 2)), ValueError, "endog must be shape (nobs,) or (nobs,1). Got shape=(5,2)"),
        (Shaped((100, 3)), ValueError, "endog must be shape (nobs,) or (nobs,1). Got shape=(100,3)"),
        (np.zeros((5, 1, 1)), ValueError, "expected tuple of length 2, but got tuple of length 3"),
        (np.array(1.0), ValueError, "expected tuple of length 2, but got tuple of length 0"),
        (np.zeros(5, dtype=np.int64), TypeError, "'ndarray' object cannot be converted to 'PyArray<T, D>'"),
        (np.zeros((5, 1), dtype=np.float32), TypeError,
         "'ndarray' object cannot be converted to 'PyArray<T, D>'"),
        (Shaped([5]), TypeError, "'list' object cannot be converted to 'PyTuple'"),
        (Shaped((5,)), TypeError, "'Shaped' object cannot be converted to 'PyArray<T, D>'"),
        (Shaped(TupleSub((5, 1))), TypeError, "'Shaped' object cannot be converted to 'PyArray<T, D>'"),
        # the reported shape selects the case; the array itself must then fit it
        (odd_shape(np.zeros(5), (5, 1)), TypeError,
         "'OddShape' object cannot be converted to 'PyArray<T, D>'"),
        (odd_shape(np.zeros((5, 1)), (5,)), TypeError,
         "'OddShape' object cannot be converted to 'PyArray<T, D>'"),
    ],
    ids=lambda v: type(v).__name__,
)
def test_endog_refused(endog, exc, message):
    X = np.ones((5, 1))
    with pytest.raises(exc) as info:
        fit_probit(endog, X)
    assert type(info.value) is exc
    assert str(info.value) == message


def test_endog_shape_errors_pass_unchanged():
    X = np.ones((3, 1))
    for endog in ([0.0, 1.0, 1.0], None):
        with pytest.raises(AttributeError):
            fit_probit(endog, X)
    with pytest.raises(OverflowError):
        fit_probit(Shaped((-1,)), X)
    for element in ["a", 1.5, None]:
        with pytest.raises(TypeError) as info:
            fit_probit(Shaped((element,)), X)
        with pytest.raises(TypeError) as expected:
            operator.index(element)
        assert str(info.value) == str(expected.value)


def test_reported_shape_only_selects_the_case(design):
    y, X = design
    ref = fit_probit(y, X)
    assert_same_fit(fit_probit(odd_shape(y, (7, None)), X), ref)
    assert_same_fit(fit_probit(odd_shape(y, TupleSub((0,))), X), ref)
    assert_same_fit(fit_probit(odd_shape(y[:, None], (3, 1)), X), ref)


# --- row counts ------------------------------------------------------------------


@pytest.mark.parametrize("n, rows", [(37, 23), (5, 0), (1, 0), (23, 37), (0, 3), (200, 203)])
def test_exog_rows_must_match_endog(n, rows, capfd):
    """Refused either way, before any numerical work (a zero column would
    write a diagnostic) and before cluster_vars is examined."""
    with pytest.raises(ValueError) as info:
        fit_probit(np.zeros(n), np.zeros((rows, 2)), robust=True, cluster_vars="not examined")
    assert str(info.value) == (f"exog has {rows} rows but endog has {n} elements; "
                               "exog needs one row per observation")
    assert capfd.readouterr().err == ""


def test_exog_rows_beyond_endog_are_refused(design):
    """An outcome filtered without its regressors would otherwise be fitted on
    the wrong rows, and its effects averaged over rows never fitted."""
    y, X = design
    extra = np.array([[np.nan, 1e300, -1e300, np.inf]] * 3)
    with pytest.raises(ValueError, match=f"^exog has {len(y) + 3} rows but endog has {len(y)} "):
        fit_probit(y, np.vstack([X, extra]), robust=True)
    with pytest.raises(ValueError, match=f"^exog has {len(y)} rows but endog has {len(y) // 2} "):
        fit_probit(y[::2], X)


@pytest.mark.parametrize("k", [0, 2])
def test_zero_rows(k):
    r = fit_probit(np.empty(0), np.empty((0, k)), max_iter=0)
    assert r.params.shape == (k,) and r.cov_params().shape == (k, k)
    assert r.model.exog.shape == (0, k) and r.model.endog.shape == (0,)
    assert r.loglike == 0.0
    r = fit_probit(np.empty((0, 1)), np.empty((0, 0)))
    assert (r.loglike, r.iterations, r.converged) == (0.0, 0, True)
