"""The part kernels per Newton pass against the engine's own pass, one thread.

    python benchmarks/part_kernels.py            # n = 10^6 (2*10^5 at k = 80)
    python benchmarks/part_kernels.py --quick    # n = 10^5 (2*10^4 at k = 80)
    python benchmarks/part_kernels.py --baseline path/to/quillon.abi3.so

For each k, on one seeded design (benchmarks/compare_statsmodels.py's:
a constant, continuous and 0/1 regressors), near the fitted point:

- part: quillon_models._kernels.evaluate(y, X, beta), one part holding
  every row: the log-likelihood, score and mirrored Hessian of one pass,
  reading X in place;
- engine: one Newton pass of quillon.fit_probit(y, X) on the same arrays,
  from fits with 5 forced passes and with none (so without its copies of y
  and X and its start);
- "part/engine" is their ratio, from the medians of calls taken in turns.

Then the fits: the front door from arrays on one thread,
quillon_models.Probit(y, X).fit(n_jobs=1), against quillon.fit_probit(y, X)
on the same arrays, taken in turns (medians); with --engine-baseline, also
against another build's fit_probit (the engine before the part kernels'
work, say: the per-row functions are shared, so a faster cdf speeds up both
sides of "front/engine").

With --baseline, the part kernels of another build (the _kernels module,
_partition in older builds, installed beside that quillon.abi3.so, in
quillon_models/) are timed in the
same turns, and "vs base" is the ratio of the best times (above 1: faster).
"""

import argparse
import gc
import glob
import importlib.machinery
import importlib.util
import os
import statistics
import sys


import quillon
from quillon_models import _kernels

sys.path.insert(0, os.path.dirname(__file__))
from compare_statsmodels import design, interleaved_medians, load_build, processor  # noqa: E402
from compare_statsmodels import interleaved_times as turns  # noqa: E402

import quillon_models  # noqa: E402

K_VALUES = (5, 10, 20, 30, 80)


def load_partition(quillon_path):
    """The part kernels' module of another build, from beside its quillon.abi3.so."""
    folder = os.path.join(os.path.dirname(os.path.abspath(quillon_path)), "quillon_models")
    found = (glob.glob(os.path.join(folder, "_kernels*.so"))
             or glob.glob(os.path.join(folder, "_partition*.so")))
    if not found:
        raise SystemExit(f"no part kernels' module in {folder}")
    name = "quillon_models._kernels" if "_kernels" in found[0] else "quillon_models._partition"
    loader = importlib.machinery.ExtensionFileLoader(name, found[0])
    location = importlib.util.spec_from_file_location(name, found[0], loader=loader)
    module = importlib.util.module_from_spec(location)
    loader.exec_module(module)
    return module


def measure(n, k, repeats, base):
    y, X, _, _ = design(n, k)
    beta = quillon.fit_probit(y, X).params
    calls = [
        lambda: _kernels.evaluate(y, X, beta),
        lambda: quillon.fit_probit(y, X, max_iter=5, tol=0.0),
        lambda: quillon.fit_probit(y, X, max_iter=0),
    ]
    if base is not None:
        calls.append(lambda: base.evaluate(y, X, beta))
    times = turns(calls, repeats)
    part = statistics.median(times[0])
    engine = (statistics.median(times[1]) - statistics.median(times[2])) / 5
    line = (f"{n:8d} {k:3d} {part * 1e3:9.2f} {engine * 1e3:11.2f} {part / engine:11.2f} "
            f"{part / n * 1e9:8.1f}")
    if base is not None:
        line += f" {min(times[3]) / min(times[0]):7.2f}"
    print(line, flush=True)


def measure_fit(n, k, repeats, engine_base):
    y, X, _, _ = design(n, k)
    calls = [lambda: quillon_models.Probit(y, X).fit(n_jobs=1),
             lambda: quillon.fit_probit(y, X)]
    if engine_base is not None:
        calls.append(lambda: engine_base.fit_probit(y, X))
    front, engine, *base = interleaved_medians(calls, repeats)
    line = f"{n:8d} {k:3d} {front * 1e3:9.1f} {engine * 1e3:11.1f} {front / engine:12.2f}"
    if base:
        line += f" {base[0] * 1e3:9.1f} {front / base[0]:10.2f}"
    print(line, flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="n = 10^5 (2*10^4 at k = 80)")
    parser.add_argument("--repeats", type=int, default=7)
    parser.add_argument("--baseline", help="another build's quillon.abi3.so")
    parser.add_argument("--engine-baseline", help="another build's quillon.abi3.so, whose "
                        "fit_probit the front door's fit is also compared with")
    parser.add_argument("--k", type=int, nargs="+", default=K_VALUES, help="the k to measure")
    args = parser.parse_args()
    base = load_partition(args.baseline) if args.baseline else None
    print(f"processor: {processor()}")
    print(f"load average: {' '.join(f'{v:.2f}' for v in os.getloadavg())}")
    print("one thread; milliseconds per pass (medians); ns per row of the part kernels\n")
    header = (f"{'n':>8} {'k':>3} {'part ms':>9} {'engine ms':>11} {'part/engine':>11} "
              f"{'ns/row':>8}" + (f" {'vs base':>7}" if base else ""))
    print(header)
    print("-" * len(header))
    scale = 10 if args.quick else 1
    for k in args.k:
        n = (200_000 if k == 80 else 1_000_000) // scale
        measure(n, k, args.repeats, base)
        gc.collect()
    engine_base = load_build(args.engine_baseline) if args.engine_baseline else None
    print("\none thread; milliseconds per fit (medians)\n")
    header = (f"{'n':>8} {'k':>3} {'front ms':>9} {'engine ms':>11} {'front/engine':>12}"
              + (f" {'base ms':>9} {'front/base':>10}" if engine_base else ""))
    print(header)
    print("-" * len(header))
    for k in args.k:
        n = (200_000 if k == 80 else 1_000_000) // scale
        measure_fit(n, k, args.repeats, engine_base)
        gc.collect()


if __name__ == "__main__":
    main()
