"""A weighted fit's cost over the unweighted one, in memory.

    python benchmarks/weights.py            # n = 1,000,000, k = 10
    python benchmarks/weights.py --quick    # n = 200,000

- frequency weights: Probit(y, X, freq_weights=w).fit() against
  Probit(y, X).fit(), both with the model's covariance (target: <= 1.1x);
- sampling weights: Probit(y, X, sampling_weights=w).fit() (HC1, its
  default) against the unweighted fit with cov_type="HC1", which takes the
  same passes (target: <= 1.1x).

The weights are positive (no row is left out), the model is built inside
the timed call, one thread (n_jobs=1) and every core. Medians of runs taken
in turns.
"""

import argparse
import os

import numpy as np

import quillon_models as qm
from compare_statsmodels import interleaved_medians as in_turns

K = 10


def design(n, seed=7):
    rng = np.random.default_rng(seed)
    X = np.column_stack([np.ones(n), rng.standard_normal((n, K - 1))])
    y = (X @ rng.uniform(-0.3, 0.3, K) + rng.standard_normal(n) > 0).astype(float)
    return y, X, rng.uniform(0.5, 2.0, n)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="n = 200,000")
    parser.add_argument("--repeats", type=int, default=7)
    args = parser.parse_args()
    n = 200_000 if args.quick else 1_000_000
    y, X, w = design(n)
    print(f"weighted fits against unweighted: n = {n:,}, k = {K}, "
          f"{len(os.sched_getaffinity(0))} usable cores, load {os.getloadavg()[0]:.1f}")
    for jobs in (1, None):
        plain, freq, plain_hc1, sampling = in_turns(
            [lambda: qm.Probit(y, X).fit(n_jobs=jobs),
             lambda: qm.Probit(y, X, freq_weights=w).fit(n_jobs=jobs),
             lambda: qm.Probit(y, X).fit(cov_type="HC1", n_jobs=jobs),
             lambda: qm.Probit(y, X, sampling_weights=w).fit(n_jobs=jobs)], args.repeats)
        threads = "1 thread" if jobs == 1 else "every core"
        print(f"{f'unweighted, {threads}':<34}{plain:>8.3f} s")
        print(f"{f'frequency weights, {threads}':<34}{freq:>8.3f} s  {freq / plain:5.2f} x "
              "(target <= 1.10)")
        print(f"{f'unweighted HC1, {threads}':<34}{plain_hc1:>8.3f} s")
        print(f"{f'sampling weights (HC1), {threads}':<34}{sampling:>8.3f} s  "
              f"{sampling / plain_hc1:5.2f} x (target <= 1.10)")


if __name__ == "__main__":
    main()
