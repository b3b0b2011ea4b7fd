"""The front door's one driver against the engine, and its threads against
what this machine can give two independent processes.

    python benchmarks/one_driver.py            # n = 1,000,000, k = 10
    python benchmarks/one_driver.py --quick    # n = 200,000

- n_jobs=1: quillon_models.Probit(y, X).fit(n_jobs=1) against
  quillon.fit_probit(y, X), taken in turns (target: within 1.05x);
- threads: the same fit with every core (n_jobs=None), as a speed-up over
  fit_probit, set against the machine's parallel capacity: two independent
  single-thread processes fitting at once, each timed, capacity = 2 x (time
  alone) / (mean time together) (target: the threaded speed-up at least
  90 % of the capacity);
- predict(): the fitted rows' probabilities against the fit (target: a
  tenth of a fit at most).

Medians of runs taken in turns.
"""

import argparse
import os
import statistics
import subprocess
import sys

import numpy as np

import quillon
import quillon_models as qm
from compare_statsmodels import interleaved_medians as in_turns

K = 10

# One single-thread fit_probit in a fresh process: its time on stdout.
SOLO = r"""
import sys, time
import numpy as np
import quillon
n, k = int(sys.argv[1]), int(sys.argv[2])
rng = np.random.default_rng(7)
X = np.column_stack([np.ones(n), rng.standard_normal((n, k - 1))])
y = (X @ rng.uniform(-0.3, 0.3, k) + rng.standard_normal(n) > 0).astype(float)
quillon.fit_probit(y, X)
times = []
for _ in range(int(sys.argv[3])):
    start = time.perf_counter()
    quillon.fit_probit(y, X)
    times.append(time.perf_counter() - start)
print(sorted(times)[len(times) // 2])
"""


def design(n, seed=7):
    rng = np.random.default_rng(seed)
    X = np.column_stack([np.ones(n), rng.standard_normal((n, K - 1))])
    y = (X @ rng.uniform(-0.3, 0.3, K) + rng.standard_normal(n) > 0).astype(float)
    return y, X


def processes(n, count, repeats):
    """Each process's median fit_probit time, `count` processes at once."""
    children = [subprocess.Popen([sys.executable, "-c", SOLO, str(n), str(K), str(repeats)],
                                 stdout=subprocess.PIPE, text=True,
                                 env={**os.environ, "OMP_NUM_THREADS": "1"})
                for _ in range(count)]
    return [float(child.communicate()[0]) for child in children]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="n = 200,000")
    parser.add_argument("--repeats", type=int, default=7)
    args = parser.parse_args()
    n = 200_000 if args.quick else 1_000_000
    y, X = design(n)
    threads = len(os.sched_getaffinity(0))
    print(f"one driver against the engine: n = {n:,}, k = {K}, {threads} usable cores, "
          f"load {os.getloadavg()[0]:.1f}")
    fitted = qm.Probit(y, X).fit(n_jobs=1)
    engine, one, many, predict = in_turns(
        [lambda: quillon.fit_probit(y, X), lambda: qm.Probit(y, X).fit(n_jobs=1),
         lambda: qm.Probit(y, X).fit(), fitted.predict], args.repeats)
    alone = processes(n, 1, args.repeats)[0]
    together = processes(n, 2, args.repeats)
    capacity = 2 * alone / statistics.mean(together)
    speed_up = engine / many
    print(f"{'fit_probit (one thread)':<34}{engine:>8.3f} s")
    print(f"{'Probit.fit(n_jobs=1)':<34}{one:>8.3f} s  {one / engine:5.2f} x the engine "
          "(target <= 1.05)")
    print(f"{f'Probit.fit(), {threads} threads':<34}{many:>8.3f} s  {speed_up:5.2f} x as fast")
    print(f"{'two processes at once':<34}{statistics.mean(together):>8.3f} s  alone "
          f"{alone:.3f} s: capacity {capacity:.2f}")
    print(f"{'threads / capacity':<34}{speed_up / capacity:>8.0%}   (target >= 90%)")
    print(f"{'predict() of the fitted rows':<34}{predict:>8.3f} s  {predict / one:5.2f} of a "
          "fit (target <= 0.10)")


if __name__ == "__main__":
    main()
