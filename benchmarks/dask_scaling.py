"""How fits on Dask scale: (a) one machine's cores on an in-memory design,
against quillon.fit_probit on one thread and against what two independent
single-thread processes achieve at once; (b) an out-of-core fit from Parquet
files; (c) the driver's time and bytes per Newton pass, and a projection.

    python benchmarks/dask_scaling.py [--quick] [--out-of-core] [--rows N]

Needs the dask extra (pip install 'quillon[dask]'). Prints the load average
before and after, since the figures mean little on a busy machine.
"""

from __future__ import annotations

import argparse
import json
import os
import pickle
import resource
import statistics
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import numpy as np

K = 10


def design(n: int, seed: int = 0) -> tuple[np.ndarray, np.ndarray]:
    """A constant and nine normal regressors, with a probit outcome."""
    rng = np.random.default_rng(seed)
    X = np.empty((n, K))
    X[:, 0] = 1.0
    X[:, 1:] = rng.standard_normal((n, K - 1))
    beta = np.linspace(-0.5, 0.5, K)
    y = (X @ beta + rng.standard_normal(n) > 0).astype(np.float64)
    return y, X


def median_seconds(run, repeats: int) -> float:
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def load() -> str:
    return " ".join(f"{v:.2f}" for v in os.getloadavg())


# --- (a) one machine's cores -------------------------------------------------

CHILD = """
import sys, time, json, os, numpy as np, quillon
sys.path.insert(0, {here!r})
from dask_scaling import design
y, X = design({rows}, seed={seed})
open({ready!r}, "w").close()
while not os.path.exists({go!r}):
    time.sleep(0.01)
times = []
for _ in range({repeats}):
    start = time.perf_counter()
    quillon.fit_probit(y, X)
    times.append(time.perf_counter() - start)
print(json.dumps(times))
"""


def single_thread_processes(count: int, rows: int, repeats: int) -> list[float]:
    """Median seconds per fit_probit of `count` processes started together."""
    with tempfile.TemporaryDirectory() as folder:
        go = os.path.join(folder, "go")
        children = []
        for i in range(count):
            ready = os.path.join(folder, f"ready{i}")
            source = CHILD.format(here=str(Path(__file__).parent), rows=rows, seed=i,
                                  ready=ready, go=go, repeats=repeats)
            children.append((subprocess.Popen([sys.executable, "-c", source],
                                              stdout=subprocess.PIPE, text=True), ready))
        while not all(os.path.exists(ready) for _, ready in children):
            time.sleep(0.05)
        open(go, "w").close()
        return [statistics.median(json.loads(child.communicate()[0])) for child, _ in children]


def cores(rows: int, repeats: int) -> dict:
    import dask
    import dask.array as da

    import quillon
    import quillon_models as qm

    y, X = design(rows)
    single = median_seconds(lambda: quillon.fit_probit(y, X), repeats)
    chunk = -(-rows // 4)
    dy, dX = da.from_array(y, chunks=chunk), da.from_array(X, chunks=(chunk, K))
    with dask.config.set(scheduler="threads"):
        on_dask = median_seconds(lambda: qm.Probit(dy, dX).fit(), repeats)
    del y, X
    alone = single_thread_processes(1, rows, repeats)[0]
    together = single_thread_processes(2, rows, repeats)
    capacity = sum(alone / t for t in together)
    # The one-thread baseline is the faster of fit_probit here and in a
    # process of its own, so that a slow moment of either does not flatter
    # the Dask fit.
    speedup = min(single, alone) / on_dask
    return {"rows": rows, "fit_probit_one_thread_s": single, "dask_threads_4_parts_s": on_dask,
            "one_process_alone_s": alone, "two_processes_s": together, "speedup": speedup,
            "parallel_capacity": capacity, "share_of_capacity": speedup / capacity}


# --- (b) out of core -----------------------------------------------------------------


def peak_rss_mib() -> float:
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0


def out_of_core(rows: int, files: int, folder: Path) -> dict:
    import dask
    import dask.dataframe as dd
    import distributed
    import pandas as pd

    import quillon_models as qm

    per_file = rows // files
    columns = [f"x{j}" for j in range(1, K)]
    start = time.perf_counter()
    for f in range(files):
        y, X = design(per_file, seed=100 + f)
        frame = pd.DataFrame(X[:, 1:], columns=columns)
        frame["y"] = y
        frame.to_parquet(folder / f"part{f:03d}.parquet", index=False)
    written = time.perf_counter() - start
    formula = "y ~ " + " + ".join(columns)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, host="127.0.0.1",
                                  dashboard_address=None, memory_limit="1.5GB") as cluster, \
            distributed.Client(cluster) as client:
        data = dd.read_parquet(str(folder))
        start = time.perf_counter()
        results = qm.probit(formula, data).fit(cov_type="HC0")
        fitted = time.perf_counter() - start
        table = results.ame()
        total = time.perf_counter() - start
        workers = client.run(peak_rss_mib)
    del dask, table
    return {"rows": rows, "files": files, "write_s": written, "fit_hc0_s": fitted,
            "fit_and_ame_s": total, "newton_passes": results.iterations + 1,
            "client_peak_mib": peak_rss_mib(), "worker_peak_mib": sorted(workers.values())}


# --- (c) the driver per pass ----------------------------------------------------------


def driver(parts: int, rows_per_part: int) -> dict:
    """Time of a pass over tiny partitions (their kernels cost nothing), so
    what remains is the scheduling and the reduction; and the bytes that a
    pass moves."""
    import dask
    import dask.array as da
    import distributed

    from quillon_models import _dask, driver

    y, X = design(parts * rows_per_part, seed=3)
    dy = da.from_array(y, chunks=rows_per_part)
    dX = da.from_array(X, chunks=(rows_per_part, K))
    part_list = _dask.parts_from_arrays(dy, dX, None, "none", "y", [f"x{j}" for j in range(K)])
    beta = np.zeros(K)
    out = {"partitions": parts}
    one = driver.evaluate_part(_dask.part_from_arrays(y[:rows_per_part], X[:rows_per_part], None,
                                                      "none", "y", []), beta)
    out["bytes_per_partition_sum"] = len(pickle.dumps(one))
    out["bytes_to_client_per_pass"] = len(pickle.dumps(driver.add_evaluations(one, one)))
    out["bytes_beta_per_task"] = len(pickle.dumps(beta))
    # A pool of the caller's sends the threaded passes through Dask's
    # scheduler, as every pass went before they ran on quillon's own threads.
    with ThreadPoolExecutor(os.cpu_count()) as pool:
        for name, options in (("sync", {"scheduler": "sync"}),
                              ("threads", {"scheduler": "threads"}),
                              ("threads_through_dask", {"scheduler": "threads", "pool": pool})):
            with dask.config.set(**options):
                passes = _dask.DaskPasses(part_list)
                passes.run(driver.evaluate_part, driver.add_evaluations, beta)
                out[f"{name}_pass_s"] = median_seconds(
                    lambda: passes.run(driver.evaluate_part, driver.add_evaluations, beta), 5)
                out[f"{name}_ms_per_partition"] = out[f"{name}_pass_s"] / parts * 1e3
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, host="127.0.0.1",
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client, dask.config.set(scheduler=None):
        # The arrays persisted on the workers, as a cluster's data would be:
        # a pass then ships tasks, not data.
        py, pX = client.persist([dy, dX])
        part_list = _dask.parts_from_arrays(py, pX, None, "none", "y",
                                            [f"x{j}" for j in range(K)])
        passes = _dask.DaskPasses(part_list)
        passes.run(driver.evaluate_part, driver.add_evaluations, beta)
        out["distributed_pass_s"] = median_seconds(
            lambda: passes.run(driver.evaluate_part, driver.add_evaluations, beta), 5)
    out["distributed_s_per_partition"] = out["distributed_pass_s"] / parts
    return out


def projection(a: dict, c: dict, workers: int = 100) -> list[dict]:
    """Seconds per Newton pass for `workers` single-core workers: the rows'
    share of one worker at the one-thread rate measured in (a) (a fit is
    about six passes), plus the driver's cost per partition from (c), with
    partitions of 10^7 rows."""
    seconds_per_row_pass = a["fit_probit_one_thread_s"] / a["rows"] / 6.0
    rows_out = []
    for rows in (10**9, 10**10):
        parts = rows // 10**7
        compute = rows / workers * seconds_per_row_pass
        overhead = parts * c["distributed_s_per_partition"]
        rows_out.append({"rows": rows, "partitions": parts, "compute_s": compute,
                         "driver_s": overhead, "pass_s": compute + overhead})
    return rows_out


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="10^6 rows instead of 10^7")
    parser.add_argument("--rows", type=int, default=None)
    parser.add_argument("--out-of-core", action="store_true",
                        help="also (b): 5*10^7 rows in 50 Parquet files (minutes, 4 GB of disk)")
    parser.add_argument("--only-out-of-core", action="store_true", help="(b) alone")
    args = parser.parse_args()
    rows = args.rows or (10**6 if args.quick else 10**7)
    report: dict = {"load_before": load()}
    if not args.only_out_of_core:
        report["a_cores"] = cores(rows, repeats=3)
        report["c_driver"] = driver(parts=200, rows_per_part=64)
        report["c_projection_100_workers"] = projection(report["a_cores"], report["c_driver"])
    if args.out_of_core or args.only_out_of_core:
        with tempfile.TemporaryDirectory(dir=os.environ.get("QUILLON_BENCH_TMP")) as folder:
            report["b_out_of_core"] = out_of_core(5 * 10**7, 50, Path(folder))
    report["load_after"] = load()
    print(json.dumps(report, indent=2))


if __name__ == "__main__":
    main()
