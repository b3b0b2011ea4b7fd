"""quillon against statsmodels, as ratios.

    python benchmarks/compare_statsmodels.py            # full table (several minutes)
    python benchmarks/compare_statsmodels.py --quick    # small sizes, under a minute

For each seeded design (a constant, continuous and 0/1 regressors) the two
tools are timed repeatedly and the medians compared; statsmodels runs in
child processes, once limited to one BLAS thread and once with its default
threads ("sm 1t", "sm dflt"); the speed-up is against one thread:

- fit: quillon.fit_probit(y, X) against Probit(y, X).fit(method="newton");
- ame: quillon.ame(result) against get_margeff(at="overall", method="dydx",
  dummy=True);
- robust and cluster-robust fits against cov_type="HC0" and "cluster";
- front: quillon_models.Probit(y, X).fit(n_jobs=1), the front door on one
  thread, against the same statsmodels fit, for k = 5 to 80 (the table of
  how the lead changes with k).

"floor" is one NumPy pass X @ beta over the same data; "pass/floor" is the
time of one Newton pass of quillon (from fits with 5 and 0 passes) as a
multiple of it. Peak extra memory is measured in a child process per call:
the peak resident size during the call above the resident size just before
it, with the data already built (at the largest n only).

The report opens with the processor, the machine's load and, for the peer,
its BLAS library, kernel and threads (threadpoolctl, read in the child that
runs it). OPENBLAS_CORETYPE and OPENBLAS_L2_SIZE force OpenBLAS onto another
kernel than the one it picks for the processor; the peer runs with both
unset, and the report says when they were set.

    python benchmarks/compare_statsmodels.py --baseline path/to/quillon.abi3.so

also times another build of quillon (today's main, say) in this process,
the two taking turns, and adds the ratio of their best times ("vs base").
"""

import argparse
import gc
import importlib.machinery
import importlib.util
import json
import os
import platform
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


def calls(name, y, X, groups, ours=True):
    """The pair (quillon, statsmodels) of callables for one benchmark case;
    without `ours`, quillon fits nothing and its callable is not to be called."""
    clusters = groups.astype(float)[:, None]
    if name == "fit":
        return lambda: quillon.fit_probit(y, X), lambda: statsmodels_fit(y, X)
    if name == "robust":
        return (lambda: quillon.fit_probit(y, X, robust=True),
                lambda: statsmodels_fit(y, X, "HC0"))
    if name == "cluster":
        return (lambda: quillon.fit_probit(y, X, robust=True, cluster_vars=clusters),
                lambda: statsmodels_fit(y, X, "cluster", groups))
    if name == "front":
        import quillon_models

        return (lambda: quillon_models.Probit(y, X).fit(n_jobs=1),
                lambda: statsmodels_fit(y, X))
    if name == "ame":
        fitted = quillon.fit_probit(y, X) if ours else None
        theirs = statsmodels_fit(y, X)
        return (lambda: quillon.ame(fitted),
                lambda: theirs.get_margeff(at="overall", method="dydx", dummy=True))
    raise ValueError(name)


def interleaved_times(functions, repeats):
    """Seconds of each run of each callable, the callables taking turns."""
    times = [[] for _ in functions]
    for _ in range(repeats):
        for slot, function in enumerate(functions):
            gc.collect()
            start = time.perf_counter()
            function()
            times[slot].append(time.perf_counter() - start)
    return times


def interleaved_medians(functions, repeats):
    """Median seconds of each callable, the callables taking turns."""
    return [statistics.median(t) for t in interleaved_times(functions, repeats)]


def load_build(path):
    """Another build of quillon, as a module of its own beside the imported one."""
    loader = importlib.machinery.ExtensionFileLoader("quillon", path)
    spec = importlib.util.spec_from_file_location("quillon", path, loader=loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def processor():
    """The processor's model name, family and model number, from /proc/cpuinfo."""
    fields = {}
    try:
        with open("/proc/cpuinfo") as cpuinfo:
            for line in cpuinfo:
                key, _, value = line.partition(":")
                fields.setdefault(key.strip(), value.strip())
    except OSError:
        return platform.processor() or platform.machine()
    return (f"{fields.get('model name', '?')} (family {fields.get('cpu family', '?')}, "
            f"model {fields.get('model', '?')}), {os.cpu_count()} logical CPUs")


FORCED_KERNEL = ("OPENBLAS_CORETYPE", "OPENBLAS_L2_SIZE")


def blas_child():
    """Runs in a child: the BLAS libraries NumPy loaded, as threadpoolctl sees them."""
    import threadpoolctl

    print(json.dumps([{key: info.get(key) for key in
                       ("internal_api", "version", "architecture", "num_threads",
                        "threading_layer")}
                      for info in threadpoolctl.threadpool_info() if info["user_api"] == "blas"]))


def peer_environment(one_thread):
    """The environment of the peer's child: OpenBLAS free to pick its kernel."""
    env = dict(os.environ)
    for var in (*ONE_THREAD, *FORCED_KERNEL):
        env.pop(var, None)
    if one_thread:
        env.update(ONE_THREAD)
    return env


def report_setting():
    print(f"processor: {processor()}")
    print(f"load average: {' '.join(f'{v:.2f}' for v in os.getloadavg())}")
    forced = {var: os.environ[var] for var in FORCED_KERNEL if var in os.environ}
    if forced:
        print(f"{', '.join(f'{k}={v}' for k, v in forced.items())} set here: "
              "the peer runs with them unset, on the kernel OpenBLAS picks")
    for one_thread in (True, False):
        out = subprocess.run([sys.executable, __file__, "--blas-child"], check=True,
                             capture_output=True, text=True,
                             env=peer_environment(one_thread)).stdout
        for blas in json.loads(out):
            print(f"peer BLAS ({'sm 1t' if one_thread else 'sm dflt'}): {blas['internal_api']} "
                  f"{blas['version']}, kernel {blas['architecture']}, "
                  f"{blas['num_threads']} threads ({blas['threading_layer']})")
    print()


def read_status_kib(field):
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise RuntimeError(field)


ONE_THREAD = {"OPENBLAS_NUM_THREADS": "1", "OMP_NUM_THREADS": "1", "MKL_NUM_THREADS": "1"}


# The front door's lead over statsmodels by number of regressors.
FRONT_K = (5, 10, 20, 40, 80)


def time_child(name, n, k, repeats):
    """Runs in a child: median seconds of statsmodels on one case."""
    y, X, _, groups = design(n, k)
    _, theirs = calls(name, y, X, groups, ours=False)
    (median,) = interleaved_medians([theirs], repeats)
    print(json.dumps({"seconds": median}))


def statsmodels_time(name, n, k, repeats, one_thread):
    env = peer_environment(one_thread)
    out = subprocess.run(
        [sys.executable, __file__, "--time-child", name, str(n), str(k), str(repeats)],
        check=True, capture_output=True, text=True, env=env,
    ).stdout
    return json.loads(out.splitlines()[-1])["seconds"]


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


def baseline_call(name, base, y, X, groups):
    """The same call with another build of quillon."""
    clusters = groups.astype(float)[:, None]
    if name == "fit":
        return lambda: base.fit_probit(y, X)
    if name == "robust":
        return lambda: base.fit_probit(y, X, robust=True)
    if name == "cluster":
        return lambda: base.fit_probit(y, X, robust=True, cluster_vars=clusters)
    fitted = base.fit_probit(y, X)
    return lambda: base.ame(fitted)


def run(cases, repeats, base=None):
    header = (f"{'case':8} {'n':>8} {'k':>3} {'quillon s':>10} {'sm 1t s':>9} {'sm dflt s':>9} "
              f"{'x 1t':>6} {'x dflt':>6} {'pass/floor':>10} {'mem q/X':>8} {'mem sm/X':>8}"
              + (f" {'base s':>8} {'vs base':>7}" if base else ""))
    print(header)
    print("-" * len(header))
    results = {}
    largest = max(n for _, n, _ in cases)
    for name, n, k in cases:
        y, X, beta, groups = design(n, k)
        ours, _ = calls(name, y, X, groups)
        reps = repeats if n < 1_000_000 else max(3, repeats // 2)
        against_base = ""
        if base is not None and name != "front":
            # Best of the turns: the two builds run alternately, so that the
            # machine's other load falls on both alike.
            mine, theirs = interleaved_times([ours, baseline_call(name, base, y, X, groups)],
                                             max(7, reps))
            results[(name, n, k, "vs base")] = min(theirs) / min(mine)
            against_base = f" {min(theirs):8.4f} {min(theirs) / min(mine):7.2f}"
        (t_ours,) = interleaved_medians([ours], reps)
        t_one = statsmodels_time(name, n, k, reps, one_thread=True)
        t_default = statsmodels_time(name, n, k, reps, one_thread=False)
        per_floor = ""
        if name == "fit":
            (floor,) = interleaved_medians([lambda: X @ beta], 5)
            per_pass = newton_pass_time(y, X, reps)
            per_floor = f"{per_pass / floor:10.2f}"
            results[(name, n, k, "pass/floor")] = per_pass / floor
        mem_ours = mem_theirs = ""
        # Memory at the largest size only, where it is far above the noise.
        if name in ("fit", "robust", "cluster") and n == largest:
            a = peak_extra_memory(name, "quillon", n, k)
            b = peak_extra_memory(name, "statsmodels", n, k)
            mem_ours = f"{a['extra'] / a['x_bytes']:8.2f}"
            mem_theirs = f"{b['extra'] / b['x_bytes']:8.2f}"
            results[(name, n, k, "memory")] = a["extra"] / a["x_bytes"]
        results[(name, n, k, "speed-up")] = t_one / t_ours
        print(f"{name:8} {n:8d} {k:3d} {t_ours:10.4f} {t_one:9.4f} {t_default:9.4f}"
              f" {t_one / t_ours:6.1f} {t_default / t_ours:6.1f}"
              f" {per_floor:>10} {mem_ours:>8} {mem_theirs:>8}{against_base}", flush=True)
        del y, X, groups
        gc.collect()
    return results


def report_targets(results, n):
    targets = [
        ("fit k=10 at least 7x statsmodels (one BLAS thread)", ("fit", n, 10, "speed-up"), 7.0),
        ("ame k=10 at least 60x", ("ame", n, 10, "speed-up"), 60.0),
        ("fit k=30 at least 3.5x", ("fit", n, 30, "speed-up"), 3.5),
        ("robust (HC0) fit k=10 at least 6x", ("robust", n, 10, "speed-up"), 6.0),
        ("cluster-robust fit k=10 at least 6x", ("cluster", n, 10, "speed-up"), 6.0),
        ("fit k=10 peak extra memory at most 1.1x X", ("fit", n, 10, "memory"), 1.1),
        ("fit k=10 at least 1.6x the baseline build", ("fit", n, 10, "vs base"), 1.6),
        ("fit k=30 at least 1.3x the baseline build", ("fit", n, 30, "vs base"), 1.3),
        ("ame k=10 at least 1.3x the baseline build", ("ame", n, 10, "vs base"), 1.3),
    ]
    print(f"\nTargets at n={n}:")
    for text, key, bound in targets:
        if key not in results:
            continue
        value = results[key]
        met = value <= bound if key[3] == "memory" else value >= bound
        print(f"  {'met ' if met else 'MISS'}  {text}: {value:.2f}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="small sizes, under a minute")
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--baseline", help="another build's quillon.abi3.so to time in turns")
    parser.add_argument("--blas-child", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--memory-child", nargs=4, help=argparse.SUPPRESS)
    parser.add_argument("--time-child", nargs=4, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.blas_child:
        blas_child()
        return
    if args.time_child:
        name, n, k, repeats = args.time_child
        time_child(name, int(n), int(k), int(repeats))
        return
    if args.memory_child:
        name, tool, n, k = args.memory_child
        measure_memory_child(name, tool, int(n), int(k))
        return
    base = load_build(args.baseline) if args.baseline else None
    report_setting()
    if args.quick:
        n = 100_000
        results = run([(name, n, 10) for name in ("fit", "robust", "cluster", "ame")], 3, base)
    else:
        n = 1_000_000
        results = run([(name, n, k) for k in (10, 30)
                       for name in ("fit", "robust", "cluster", "ame")]
                      + [("front", n, k) for k in FRONT_K], args.repeats, base)
    report_targets(results, n)


if __name__ == "__main__":
    main()
