"""Reference data for the C++ kernel tests, computed without the kernels.

Needs numpy, scipy, statsmodels and mpmath (last run with numpy 2.2.6,
scipy 1.15.3, statsmodels 0.15.0, mpmath 1.4.1 on Python 3.10):

    python3 tests/cpp/data/make_reference.py

It rewrites, next to itself:

  erf_reference.csv      z, erf(z), erfc(z)          mpmath at 50 digits
  normal_reference.csv   mean, std_dev, x, pdf, cdf  mpmath at 50 digits
  probit_design.csv      y and the three regressors of a seeded design
  probit_reference.csv   the probit fit and log-likelihood, score and Hessian
                         at a probe point, from statsmodels; the Newton pass
                         counts from newton_iterations() below
  probit_score_obs.csv   per-observation scores at the probe point

Every double is written with repr(), which round-trips exactly.
"""

import csv
import math
import pathlib

import mpmath
import numpy as np
import scipy.special
import scipy.stats
import statsmodels.api as sm

HERE = pathlib.Path(__file__).resolve().parent
mpmath.mp.dps = 50

# Lower edges of the erfc pieces; the erf piece covers [0, 0.5).
EDGES = [0.5, 0.75, 1.25, 2.25, 3.5, 5.25, 8.0, 11.5, 17.0, 24.0, 38.0, 60.0, 85.0, 110.0]


def write_rows(name, header, rows):
    with open(HERE / name, "w", newline="") as f:
        out = csv.writer(f, lineterminator="\n")
        out.writerow(header)
        for row in rows:
            out.writerow([repr(float(v)) for v in row])


def erf_points():
    small = [0.0, 1e-300, 1e-20, 1e-12, math.nextafter(1e-10, 0.0), 1e-10, 1e-8, 1e-4,
             0.01, 0.1, 0.2, 0.3, 0.4, 0.45]
    points = set(small)
    bounds = [0.0] + EDGES
    for lo, hi in zip(bounds, bounds[1:]):
        points.update(lo + (hi - lo) * f for f in (0.1, 0.37, 0.5, 0.73, 0.9))
    for e in EDGES:
        points.update((e, math.nextafter(e, 0.0)))
    # 27 sits where exp(-z * z) is subnormal; the rest lie past the last piece.
    points.update((27.0, 200.0, 1e10))
    points = sorted(points)
    return points + [-z for z in points if z > 0.0]


def make_erf():
    rows = [(z, mpmath.erf(mpmath.mpf(z)), mpmath.erfc(mpmath.mpf(z))) for z in erf_points()]
    write_rows("erf_reference.csv", ["z", "erf", "erfc"], rows)


def make_normal():
    cases = [(0.0, 1.0, x) for x in (-37.0, -20.0, -8.0, -5.0, -2.0, -1.0, -0.5, -0.1, 0.1,
                                     0.3, 1.0, 1.5, 3.0, 6.0, 8.0)]
    cases += [(2.0, 3.0, x) for x in (-10.0, 0.0, 2.5, 5.0, 20.0)]
    cases += [(-1.0, 0.25, x) for x in (-3.0, -1.1, 0.0)]
    rows = []
    for mean, sd, x in cases:
        m, s, xx = mpmath.mpf(mean), mpmath.mpf(sd), mpmath.mpf(x)
        rows.append((mean, sd, x, mpmath.npdf(xx, m, s), mpmath.ncdf(xx, m, s)))
    write_rows("normal_reference.csv", ["mean", "std_dev", "x", "pdf", "cdf"], rows)


def newton_iterations(y, X, tol=1e-6, max_iter=35):
    """The pass at which our Newton loop stops, by an independent re-implementation.

    Pass t = 0, 1, ... takes one full Newton step from beta = 0 (probabilities
    clipped to [1e-15, 1 - 1e-15]) and the loop stops after the first pass whose
    |change of the log-likelihood| is below tol; the count reported is that t.
    The margins asserted below keep the answer valid under the kernel's own
    erfc, which is accurate to about 1e-10 relative.

    statsmodels counts differently: its Newton solver counts steps and stops
    only once no parameter moved by more than 1e-8, which usually costs one
    confirming step more. Its count is recorded only for information.
    """
    q = 2.0 * y - 1.0

    def prob(eta):
        return np.clip(scipy.special.ndtr(q * eta), 1e-15, 1 - 1e-15)

    beta = np.zeros(X.shape[1])
    ll = np.sum(np.log(prob(X @ beta)))
    changes = []
    for t in range(max_iter):
        eta = X @ beta
        lam = q * scipy.stats.norm.pdf(q * eta) / prob(eta)
        g = X.T @ lam
        H = -(X.T * (lam * (lam + eta))) @ X
        beta = beta - np.linalg.solve(H, g)
        ll_new = np.sum(np.log(prob(X @ beta)))
        changes.append(abs(ll_new - ll))
        ll = ll_new
        if changes[-1] < tol:
            assert changes[-1] * 1.1 < tol, changes
            assert t == 0 or changes[-2] > tol * 1.1, changes
            return t
    raise AssertionError("no convergence")


def make_probit():
    rng = np.random.default_rng(20240517)
    n = 200
    x1 = rng.normal(size=n)
    d = (rng.uniform(size=n) < 0.4).astype(float)
    X = np.column_stack([np.ones(n), x1, d])
    y = (0.2 + 0.7 * x1 - 0.5 * d + rng.normal(size=n) > 0).astype(float)
    write_rows("probit_design.csv", ["y", "const", "x1", "d"], np.column_stack([y, X]))

    model = sm.Probit(y, X)
    fit = model.fit(method="newton", disp=0)
    assert fit.mle_retvals["converged"]
    probe = np.array([0.1, -0.2, 0.3])
    with open(HERE / "probit_reference.csv", "w") as f:
        def put(key, values):
            f.write(",".join([key] + [repr(v) for v in np.ravel(values).tolist()]) + "\n")

        put("fit_params", fit.params)
        put("fit_loglike", fit.llf)
        put("fit_iterations", newton_iterations(y, X))
        put("statsmodels_iterations", int(fit.mle_retvals["iterations"]))
        # y = (1, 0) on x = (1, -1): perfectly separated, the log-likelihood
        # creeps towards 0 by a factor of about 3 a pass.
        put("separated_iterations", newton_iterations(np.array([1.0, 0.0]), np.array([[1.0], [-1.0]])))
        put("probe_beta", probe)
        put("probe_loglike", model.loglike(probe))
        put("probe_score", model.score(probe))
        put("probe_hessian", model.hessian(probe))
    write_rows("probit_score_obs.csv", ["s0", "s1", "s2"], model.score_obs(probe))


if __name__ == "__main__":
    make_erf()
    make_normal()
    make_probit()
