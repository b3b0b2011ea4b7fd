"""The parts of a data set split by rows, and the passes over them.

A fit reads its data one part at a time: in memory, blocks of BLOCK_ROWS
rows of the arrays, read in place; on Dask, the partitions. A pass applies
one per-part function to every part (the kernels of `_kernels`, which
compute without the interpreter lock) and adds the results along a tree
fixed by the number of parts alone: adjacent pairs, level by level, left
before right. So a partitioning gives the same bits whatever the number of
threads, the scheduler, or the order in which parts finish.
"""

from __future__ import annotations

import os
import threading
import weakref
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from typing import Any, Callable, Optional, Sequence

import numpy as np

# Rows per part in memory: fixed, so that the partitioning depends on the
# number of rows alone. Large enough that a part's call costs far more than
# its dispatch, small enough that every core has several parts.
BLOCK_ROWS = 1 << 17


@dataclass
class Part:
    """One part's rows as the kernels read them (missing rows dropped)."""

    endog: np.ndarray  # (n,) float64
    exog: np.ndarray  # (n, k) float64, any strides
    groups: Optional[np.ndarray] = None  # (n, m) float64 group codes, one column per way
    labels: Optional[list] = None  # per way, the group label of each code
    # Positions of the part's rows among the rows it was built from, when
    # some were dropped; None when every row was kept.
    kept: Optional[np.ndarray] = None
    checks: Optional["PartChecks"] = None
    weights: Optional[np.ndarray] = None  # (n,) float64 row weights, or None


@dataclass
class PartChecks:
    """What a first pass learns of a part before anything is fitted: rows
    seen and dropped, missing values by column, outcomes outside 0/1."""

    rows: int = 0
    dropped: int = 0
    missing: dict = field(default_factory=dict)  # column name -> count
    outside: int = 0  # outcome values other than 0 and 1
    outside_values: tuple = ()  # a few of them, sorted
    ones: int = 0  # outcomes equal to 1
    # With row weights: their totals over the rows kept for missing values
    # (weights.WeightTotals), and the rows then left out for a zero weight.
    weights: Any = None
    zero_weight: int = 0

    def __add__(self, other: PartChecks) -> PartChecks:
        missing = dict(self.missing)
        for name, count in other.missing.items():
            missing[name] = missing.get(name, 0) + count
        values = tuple(sorted(set(self.outside_values) | set(other.outside_values)))
        weights = (self.weights if other.weights is None else other.weights
                   if self.weights is None else self.weights + other.weights)
        return PartChecks(self.rows + other.rows, self.dropped + other.dropped, missing,
                          self.outside + other.outside, values[:9], self.ones + other.ones,
                          weights, self.zero_weight + other.zero_weight)


def block_slices(nrows: int) -> list[slice]:
    """The row blocks of an in-memory data set: one at least."""
    return [slice(start, min(start + BLOCK_ROWS, nrows))
            for start in range(0, max(nrows, 1), BLOCK_ROWS)]


def memory_parts(endog: np.ndarray, exog: np.ndarray, groups: Optional[np.ndarray] = None,
                 weights: Optional[np.ndarray] = None) -> list[Part]:
    """Views of the rows of checked in-memory arrays, block by block;
    group codes are already global, so each code is its own label."""
    labels = None
    if groups is not None:
        labels = [np.arange(int(groups[:, j].max()) + 1 if len(groups) else 0)
                  for j in range(groups.shape[1])]
    return [Part(endog[s], exog[s], None if groups is None else groups[s], labels,
                 weights=None if weights is None else weights[s])
            for s in block_slices(len(endog))]


def add_pairs(items: Sequence[Any], combine: Callable[[Any, Any], Any]) -> Any:
    """The items combined along the fixed tree."""
    level = list(items)
    while len(level) > 1:
        paired = [combine(level[i], level[i + 1]) for i in range(0, len(level) - 1, 2)]
        if len(level) % 2:
            paired.append(level[-1])
        level = paired
    return level[0]


def usable_threads(n_jobs: Optional[int]) -> int:
    """n_jobs as a number of threads: None for every core this process may use."""
    if n_jobs is None:
        return len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else (
            os.cpu_count() or 1)
    if isinstance(n_jobs, bool) or not isinstance(n_jobs, (int, np.integer)) or n_jobs < 1:
        raise ValueError(f"n_jobs must be a positive whole number or None, got {n_jobs!r}")
    return int(n_jobs)


class Threads:
    """A pool of `count` threads for one fit's passes, which take the items
    of a map in turn; with one thread, the calling thread alone. Its threads
    end when it is dropped."""

    def __init__(self, count: int) -> None:
        self.count = count
        self._pool: Optional[ThreadPoolExecutor] = None

    def map(self, compute: Callable[[Any], Any], items: Sequence[Any]) -> list[Any]:
        threads = min(self.count, len(items))
        if threads <= 1:
            return [compute(item) for item in items]
        results: list[Any] = [None] * len(items)
        turn = iter(range(len(items)))
        lock = threading.Lock()
        stopped = threading.Event()

        def take_turns() -> None:
            while not stopped.is_set():
                with lock:
                    i = next(turn, None)
                if i is None:
                    return
                try:
                    results[i] = compute(items[i])
                except BaseException:
                    stopped.set()  # the other threads take no more items
                    raise

        futures = [self.pool().submit(take_turns) for _ in range(threads)]
        try:
            for f in futures:
                f.result()
        except BaseException:
            # Ctrl-C, or an item that failed: the items not started are
            # dropped, the running ones end with their block.
            stopped.set()
            for f in futures:
                f.exception()
            raise
        return results

    def pool(self) -> ThreadPoolExecutor:
        if self._pool is None:
            self._pool = ThreadPoolExecutor(self.count, thread_name_prefix="quillon")
            weakref.finalize(self, self._pool.shutdown, wait=False)
        return self._pool


class MemoryPasses:
    """Passes over in-memory parts on a pool of threads (the kernels release
    the interpreter lock); with one thread, on the calling thread."""

    def __init__(self, parts: list[Part], n_jobs: Optional[int] = None) -> None:
        self.parts = parts
        self.threads = Threads(min(usable_threads(n_jobs), len(parts)))
        self.nobs: Optional[int] = sum(len(part.exog) for part in parts)
        # The sum of the parts' weights, when already known.
        self.weight_total: Optional[float] = None

    def checked(self, checks: Optional[PartChecks]) -> None:
        """In memory the data were checked before the first pass."""

    def map(self, per_part: Callable[..., Any], *args: Any) -> list[Any]:
        return self.threads.map(lambda part: per_part(part, *args), self.parts)

    def map_with(self, per_part: Callable[..., Any], each: Sequence[Any]) -> list[Any]:
        """per_part(part, each[i]) for the i-th part."""
        return self.threads.map(lambda pair: per_part(*pair), list(zip(self.parts, each)))

    def run(self, per_part: Callable[..., Any], combine: Callable[[Any, Any], Any],
            *args: Any) -> Any:
        return add_pairs(self.map(per_part, *args), combine)
