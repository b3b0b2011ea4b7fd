"""What the checks for separation cost.

    python benchmarks/honest_fit.py            # n = 1,000,000, k = 10
    python benchmarks/honest_fit.py --quick    # n = 100,000

- the screen, which runs on every fit: its own time (the variances of the
  iteration's last two Hessians compared) against a clean fit's
  (target: under 2 %);
- the exact test, which runs only when the screen fires: Konis' linear
  programme (HiGHS) on a design that one dummy separates, at n and n / 10,
  against the fit.
"""

import argparse
import statistics
import time

import numpy as np

import quillon_models as qm
from quillon_models import driver
from quillon_models.separation import exact_test, screen_fires

K = 10


def design(n, seed=5):
    rng = np.random.default_rng(seed)
    X = np.column_stack([np.ones(n), rng.standard_normal((n, K - 2)),
                         (rng.random(n) < 0.01).astype(float)])
    y = (X[:, :-1] @ rng.uniform(-0.3, 0.3, K - 1) + rng.standard_normal(n) > 0).astype(float)
    return y, X


def seconds(call, repeats=5):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def last_history(y, X):
    """The iteration's last two points and Hessians, as the screen reads them."""
    kept = []
    original = driver.Evaluations.__call__

    def recording(self, beta):
        out = original(self, beta)
        kept[:] = self.history
        return out

    driver.Evaluations.__call__ = recording
    try:
        qm.Probit(y, X).fit(n_jobs=1)
    finally:
        driver.Evaluations.__call__ = original
    return list(kept)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="n = 100,000")
    args = parser.parse_args()
    n = 100_000 if args.quick else 1_000_000
    y, X = design(n)
    fit = seconds(lambda: qm.Probit(y, X).fit(n_jobs=1))
    history = last_history(y, X)
    screen = seconds(lambda: screen_fires(history, False), 50)
    print(f"checks for separation: n = {n:,}, k = {K}")
    print(f"{'clean fit (n_jobs=1)':<36}{fit:>10.4f} s")
    print(f"{'the screen':<36}{screen:>10.6f} s  {screen / fit:7.3%} of the fit (target < 2%)")
    separated = y.copy()
    separated[X[:, -1] == 1] = 1.0  # the dummy predicts every success it covers
    for rows in (n // 10, n):
        clean = seconds(lambda: qm.Probit(y[:rows], X[:rows]).fit(n_jobs=1), 3)
        test = seconds(lambda: exact_test(separated[:rows], X[:rows]), 3)
        print(f"{f'exact test, n = {rows:,}':<36}{test:>10.4f} s  {test / clean:7.1f} x a clean "
              "fit of that size")


if __name__ == "__main__":
    main()
