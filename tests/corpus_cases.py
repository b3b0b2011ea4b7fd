"""A fixed corpus of fits and marginal-effect tables, recorded as one hash per
case, so that any change of the kernels can be checked against the bits of
the outputs they replaced.

    python tests/corpus_cases.py            # rewrite tests/corpus/hashes.json

Designs are built with exact arithmetic only (uniform doubles, sums and
products of single elements), so that they are the same bits under every
NumPy version and BLAS. The hash covers params, cov_params, loglike,
iterations and the table of ame; a NaN counts as one value whatever its sign
or payload. The convergence flag is not part of it.
"""

import hashlib
import json
import sys
from pathlib import Path

import numpy as np

CORPUS = Path(__file__).resolve().parent / "corpus" / "hashes.json"
DATA_DIR = Path(__file__).resolve().parents[1].parent / "shared" / "data"

# Row counts: every remainder of small blocks, the edges of larger ones.
N_VALUES = [0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15, 16, 17, 31, 33, 63, 255, 256, 257,
            1023, 1024, 1025, 1031, 2049]
K_VALUES = [1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 16, 17, 23, 31, 32, 33]
SPECIALS = [np.nan, np.inf, -np.inf, 0.0, -0.0]


def normalish(rng, shape):
    """Roughly standard normal values: a centred sum of four uniforms."""
    u = rng.random((4,) + tuple(shape))
    return (((u[0] + u[1]) + (u[2] + u[3])) - 2.0) * 1.7


def design(n, k, seed, binary=0, dirty=False):
    """A constant, continuous and 0/1 regressors, and a probit-like outcome."""
    rng = np.random.default_rng(seed)
    X = normalish(rng, (n, k))
    X[:, 0] = 1.0
    for j in range(max(1, k - binary), k):
        X[:, j] = (rng.random(n) < 0.4).astype(float)
    beta = (rng.random(k) - 0.5) * 1.2
    eta = np.zeros(n)
    for j in range(k):
        eta = eta + X[:, j] * beta[j]
    y = (eta + normalish(rng, (n,)) > 0).astype(float)
    if dirty and n > 0:
        for v in SPECIALS:
            X[rng.integers(0, n), rng.integers(0, k)] = v
    return y, X


def layouts(X, seed):
    """The same values as row-major, column-major, a strided and a reversed view."""
    wide = np.zeros((X.shape[0], 2 * X.shape[1]))
    wide[:, ::2] = X
    flipped = np.ascontiguousarray(X[::-1])
    return {
        "C": np.ascontiguousarray(X),
        "F": np.asfortranarray(X),
        "strided": wide[:, ::2],
        "reversed": flipped[::-1],
    }


def clusters(n, seed, kind):
    rng = np.random.default_rng(seed + 7)
    g = max(1, n // 9)
    if kind == "int":
        return rng.integers(-g, g + 1, n).astype(float)[:, None]
    if kind == "intbig":
        ids = rng.integers(0, 5, n).astype(float) * 2.0**40 - 3.0
        ids[: n // 7] = -0.0
        return ids[:, None]
    if kind == "real":
        return (rng.integers(0, g + 1, n) * 0.25 + rng.integers(0, 2, n) * 1e-5)[:, None]
    if kind == "several":
        c = np.column_stack([rng.integers(0, 3, n).astype(float), rng.integers(0, 4, n) * 0.5])
        if n > 2:
            c[1, 1] = np.nan
            c[2, 0] = -0.0
        return c
    raise ValueError(kind)


def cases():
    """Yields (name, callable returning the outputs to hash)."""
    import quillon

    def fit_case(y, X, **kw):
        def run():
            r = quillon.fit_probit(y, X, **kw)
            return [r.params, r.cov_params(), np.float64(r.loglike), np.int64(r.iterations)]

        return run

    def ame_case(y, X, chunks):
        def run():
            r = quillon.fit_probit(y, X)
            out = [r.params]
            for chunk in chunks:
                table = quillon.ame(r, chunk_size=chunk)
                out.append(table.iloc[:, :4].to_numpy(dtype=float))
                out.append(np.array(list(table.iloc[:, 4]), dtype=str).astype(bytes))
            return out

        return run

    seed = 0
    for i, k in enumerate(K_VALUES):
        for dirty in (False, True):
            for j in range(3):
                seed += 1
                # The first of three may be too short to fit; the others have
                # at least four rows per regressor.
                usable = N_VALUES if j == 0 else [n for n in N_VALUES if n >= 4 * k]
                n = usable[(3 * i + j + 11 * dirty) % len(usable)]
                binary = (i + j) % 3
                y, X = design(n, k, seed, binary=binary, dirty=dirty)
                name = f"k{k}-n{n}-b{binary}-{'dirty' if dirty else 'clean'}-s{seed}"
                layout_name, Xl = list(layouts(X, seed).items())[(i + j) % 4]
                yield f"{name}-{layout_name}-classical", fit_case(y, Xl)
                yield f"{name}-{layout_name}-hc0", fit_case(y, Xl, robust=True)
                kind = ["int", "real", "several", "intbig"][(i + j + dirty) % 4]
                yield f"{name}-{layout_name}-cluster-{kind}", fit_case(
                    y, Xl, robust=True, cluster_vars=clusters(n, seed, kind))
                if n > 0:
                    yield f"{name}-{layout_name}-ame", ame_case(y, Xl, [None, 1, 7, 256])

    # Every layout on one mid-sized design, all estimators.
    y, X = design(1031, 6, 999, binary=2)
    for layout_name, Xl in layouts(X, 999).items():
        yield f"layouts-{layout_name}-classical", fit_case(y, Xl)
        yield f"layouts-{layout_name}-cluster", fit_case(
            y, Xl, robust=True, cluster_vars=clusters(1031, 999, "int"))
        yield f"layouts-{layout_name}-ame", ame_case(y, Xl, [None, 100])
    # Larger designs, where the blocked sweeps run many full blocks.
    for k, n in ((10, 100003), (30, 5003)):
        y, X = design(n, k, 4242 + k, binary=k // 3)
        yield f"large-k{k}-n{n}-hc0", fit_case(y, X, robust=True)
        yield f"large-k{k}-n{n}-cluster", fit_case(
            y, X, robust=True, cluster_vars=clusters(n, k, "int"))
        yield f"large-k{k}-n{n}-ame", ame_case(y, X, [None, 4096])
    # An outcome that is not 0/1, and a fit that stops on max_iter.
    y, X = design(40, 3, 77)
    y[::5] = 0.5
    yield "halfy-classical", fit_case(y, X, robust=True)
    yield "maxiter2", fit_case(*design(300, 4, 78), max_iter=2, tol=0.0)

    if DATA_DIR.is_dir():
        import pandas as pd

        adm = pd.read_csv(DATA_DIR / "admissions.csv")
        Xa = np.column_stack([np.ones(len(adm)), adm[["gre", "gpa", "rank"]].to_numpy(float)])
        ya = adm["admit"].to_numpy(float)
        yield "admissions-classical", fit_case(ya, Xa)
        yield "admissions-hc0", fit_case(ya, Xa, robust=True)
        yield "admissions-cluster-rank", fit_case(
            ya, Xa, robust=True, cluster_vars=adm[["rank"]].to_numpy(float))
        yield "admissions-ame", ame_case(ya, Xa, [None, 3])
        mroz = pd.read_csv(DATA_DIR / "mroz.csv", na_values=".")
        cols = ["nwifeinc", "educ", "exper", "expersq", "age", "kidslt6", "kidsge6", "city"]
        Xm = np.column_stack([np.ones(len(mroz)), mroz[cols].to_numpy(float)])
        ym = mroz["inlf"].to_numpy(float)
        yield "mroz-classical", fit_case(ym, Xm)
        yield "mroz-hc0", fit_case(ym, Xm, robust=True)
        yield "mroz-cluster-age", fit_case(
            ym, Xm, robust=True, cluster_vars=mroz[["age"]].to_numpy(float))
        yield "mroz-ame", ame_case(ym, Xm, [None, 50])
        Xw = np.column_stack([Xm, mroz["wage"].to_numpy(float)])  # NaN where missing
        yield "mroz-wage-nan-hc0", fit_case(ym, Xw, robust=True)


def digest(outputs):
    """sha256 of the outputs' bits, every NaN replaced by one canonical NaN."""
    h = hashlib.sha256()
    for value in outputs:
        a = np.asarray(value)
        if a.dtype.kind == "f":
            a = np.where(np.isnan(a), np.nan, a).astype("<f8")
            bits = a.view("<u8").copy()
            bits[np.isnan(a)] = 0x7FF8000000000000
            a = bits
        h.update(str(a.shape).encode())
        h.update(np.ascontiguousarray(a).tobytes())
    return h.hexdigest()


def compute():
    return {name: digest(run()) for name, run in cases()}


if __name__ == "__main__":
    hashes = compute()
    CORPUS.parent.mkdir(exist_ok=True)
    CORPUS.write_text(json.dumps(hashes, indent=0, sort_keys=True) + "\n")
    print(f"{len(hashes)} cases written to {CORPUS}", file=sys.stderr)
