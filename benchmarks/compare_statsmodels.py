"""quillon against statsmodels, in one process, as ratios.

    python benchmarks/compare_statsmodels.py            # full table (several minutes)
    python benchmarks/compare_statsmodels.py --quick    # small sizes, under a minute

For each seeded design (a constant, continuous and 0/1 regressors) the two
tools are timed in turn, repeatedly, and the medians compared:

- fit: quillon.fit_probit(y, X) against Probit(y, X).fit(method="newton");
- ame: quillon.ame(result) against get_margeff(at="overall", method="dydx",
  dummy=True);
- robust and cluster-robust fits against cov_type="HC0" and "cluster".

"floor" is one NumPy pass X @ beta over the same data; "pass/floor" is the
time of one Newton pass of quillon (from fits with 5 and 0 passes) as a
multiple of it. Peak extra memory is measured in a child process per call:
the peak resident size during the call above the resident size just before
it, with the data already built (at the largest n only).
"""

import argparse
import gc
import json
import statistics
import subprocess
import sys
import time
import warnings

import numpy as np
import statsmodels.api as sm

import quillon

CLUSTERS = 1000


def design(n, k, seed=12345):
    """A constant, continuous regressors and about a third 0/1 regressors."""
    rng = np.random.default_rng(seed)
    binary = max(1, k // 3)
    X = np.empty((n, k))
    X[:, 0] = 1.0
    for j in range(1, k):
        X[:, j] = rng.standard_normal(n) if j < k - binary else rng.random(n) < 0.4
    beta = rng.normal(scale=0.3, size=k)
    y = (X @ beta + rng.standard_normal(n) > 0).astype(float)
    groups = rng.integers(0, CLUSTERS, n)
    return y, X, beta, groups


def statsmodels_fit(y, X, cov_type="nonrobust", groups=None):
    kwds = {"groups": groups, "use_correction": False} if cov_type == "cluster" else None
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return sm.Probit(y, X).fit(method="newton", disp=0, cov_type=cov_type, cov_kwds=kwds)


def calls(name, y, X, groups):
    """The pair (quillon, statsmodels) of callables for one benchmark case."""
    clusters = groups.astype(float)[:, None]
    if name == "fit":
        return lambda: quillon.fit_probit(y, X), lambda: statsmodels_fit(y, X)
    if name == "robust":
        return (lambda: quillon.fit_probit(y, X, robust=True),
                lambda: statsmodels_fit(y, X, "HC0"))
    if name == "cluster":
        return (lambda: quillon.fit_probit(y, X, robust=True, cluster_vars=clusters),
                lambda: statsmodels_fit(y, X, "cluster", groups))
    if name == "ame":
        ours, theirs = quillon.fit_probit(y, X), statsmodels_fit(y, X)
        return (lambda: quillon.ame(ours),
                lambda: theirs.get_margeff(at="overall", method="dydx", dummy=True))
    raise ValueError(name)


def interleaved_medians(functions, repeats):
    """Median seconds of each callable, the callables taking turns."""
    times = [[] for _ in functions]
    for _ in range(repeats):
        for slot, function in enumerate(functions):
            gc.collect()
            start = time.perf_counter()
            function()
            times[slot].append(time.perf_counter() - start)
    return [statistics.median(t) for t in times]


def read_status_kib(field):
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise RuntimeError(field)


def measure_memory_child(name, tool, n, k):
    """Runs in a child: peak extra resident memory of one call, in bytes."""
    y, X, _, groups = design(n, k)
    ours, theirs = calls(name, y, X, groups)
    function = ours if tool == "quillon" else theirs
    gc.collect()
    with open("/proc/self/clear_refs", "w") as clear:
        clear.write("5")  # resets the peak resident size to the current one
    before = read_status_kib("VmRSS")
    function()
    peak = read_status_kib("VmHWM")
    print(json.dumps({"extra": (peak - before) * 1024, "x_bytes": X.nbytes}))


def peak_extra_memory(name, tool, n, k):
    out = subprocess.run(
        [sys.executable, __file__, "--memory-child", name, tool, str(n), str(k)],
        check=True, capture_output=True, text=True,
    ).stdout
    return json.loads(out.splitlines()[-1])


def newton_pass_time(y, X, repeats):
    """Seconds of one Newton pass: fits with 5 forced passes and with none."""
    five, none = interleaved_medians(
        [lambda: quillon.fit_probit(y, X, max_iter=5, tol=0.0),
         lambda: quillon.fit_probit(y, X, max_iter=0)],
        repeats,
    )
    return (five - none) / 5


def run(sizes, widths, extra_cases, repeats):
    header = (f"{'case':8} {'n':>8} {'k':>3} {'quillon s':>10} {'statsm. s':>10} "
              f"{'speed-up':>9} {'pass/floor':>10} {'mem q/X':>8} {'mem sm/X':>8}")
    print(header)
    print("-" * len(header))
    results = {}
    cases = [(name, n, k) for n in sizes for k in widths for name in ("fit", "ame")]
    cases += extra_cases
    for name, n, k in cases:
        y, X, beta, groups = design(n, k)
        ours, theirs = calls(name, y, X, groups)
        reps = repeats if n < 1_000_000 else max(3, repeats // 2)
        t_ours, t_theirs = interleaved_medians([ours, theirs], reps)
        per_floor = ""
        if name == "fit":
            (floor,) = interleaved_medians([lambda: X @ beta], 5)
            per_pass = newton_pass_time(y, X, reps)
            per_floor = f"{per_pass / floor:10.2f}"
            results[(name, n, k, "pass/floor")] = per_pass / floor
        mem_ours = mem_theirs = ""
        # Memory at the largest size only, where it is far above the noise.
        if name != "ame" and n == max(sizes):
            a = peak_extra_memory(name, "quillon", n, k)
            b = peak_extra_memory(name, "statsmodels", n, k)
            mem_ours = f"{a['extra'] / a['x_bytes']:8.2f}"
            mem_theirs = f"{b['extra'] / b['x_bytes']:8.2f}"
            results[(name, n, k, "memory")] = a["extra"] / a["x_bytes"]
        results[(name, n, k, "speed-up")] = t_theirs / t_ours
        print(f"{name:8} {n:8d} {k:3d} {t_ours:10.4f} {t_theirs:10.4f} {t_theirs / t_ours:9.1f}"
              f" {per_floor:>10} {mem_ours:>8} {mem_theirs:>8}", flush=True)
    return results


def report_targets(results, n, k):
    targets = [
        ("fit_probit at least 5x faster than statsmodels", ("fit", n, k, "speed-up"), 5.0, ">="),
        ("ame at least 50x faster than get_margeff", ("ame", n, k, "speed-up"), 50.0, ">="),
        ("one Newton pass within 6x the X @ beta floor", ("fit", n, k, "pass/floor"), 6.0, "<="),
        ("fit_probit peak extra memory at most 1.3x X", ("fit", n, k, "memory"), 1.3, "<="),
    ]
    print(f"\nTargets at n={n}, k={k}:")
    for text, key, bound, sense in targets:
        if key not in results:
            continue
        value = results[key]
        met = value >= bound if sense == ">=" else value <= bound
        print(f"  {'met ' if met else 'MISS'}  {text}: {value:.2f}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="small sizes, under a minute")
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--memory-child", nargs=4, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.memory_child:
        name, tool, n, k = args.memory_child
        measure_memory_child(name, tool, int(n), int(k))
        return
    if args.quick:
        results = run([10_000, 100_000], [5, 10],
                      [("robust", 100_000, 10), ("cluster", 100_000, 10)], 3)
        report_targets(results, 100_000, 10)
    else:
        big = 1_000_000
        results = run([10_000, 100_000, big], [5, 10, 30],
                      [("robust", big, 10), ("cluster", big, 10)], args.repeats)
        report_targets(results, big, 10)


if __name__ == "__main__":
    main()
