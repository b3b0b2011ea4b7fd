"""Passes over Dask partitions on this process's own threads.

Under Dask's threaded or synchronous scheduler the partitions are computed
in this process anyway, and a pass through the scheduler costs far more per
partition than the kernels do on a small one: the graph is ordered and its
state built anew, and every task is handed to a thread and back. Here each
partition's own tasks are taken from the graph and put in order once; a
pass then computes them and applies its function partition by partition,
on a few threads that take the partitions in turn. Nothing is kept between
passes, so a partition read from files is read again, as through the
scheduler.

This reads Dask's task objects directly (the form Dask's own local
schedulers execute). Where the graph is of another form, a partition's
tasks are shared with another's, or another scheduler (a distributed
client, processes, a pool of the caller's) is current, `partition_chains`
gives None and the passes go through Dask.
"""

from __future__ import annotations

from typing import Any, Callable, Optional

import dask
import dask.local
import dask.threaded
from dask.base import get_scheduler

from .parts import Threads

try:  # Dask's task objects, from 2024.12 on
    from dask._task_spec import DataNode, GraphNode, convert_legacy_graph
    TASK_OBJECTS = True
except ImportError:  # pragma: no cover - older Dask: passes through its scheduler
    TASK_OBJECTS = False


class PartitionChain:
    """One partition's tasks in an order that has each after those it reads."""

    def __init__(self, nodes: list, key: Any) -> None:
        self.nodes = nodes
        self.key = key

    def compute(self) -> Any:
        values: dict = {}
        for node in self.nodes:
            values[node.key] = node(values)
        return values[self.key]


def own_tasks(graph: dict, key: Any) -> list:
    """The tasks `key` needs, each after its dependencies (depth first)."""
    ordered: list = []
    seen: set = set()
    stack = [(key, False)]
    while stack:
        at, ready = stack.pop()
        if ready:
            ordered.append(graph[at])
            continue
        if at in seen:
            continue
        seen.add(at)
        stack.append((at, True))
        stack.extend((d, False) for d in graph[at].dependencies if d not in seen)
    return ordered


def local_threads(parts: list) -> Optional[int]:
    """Threads for a pass over `parts` in this process: Dask's number of
    workers under its threaded scheduler, 1 under its synchronous one; None
    when another scheduler, or a pool of the caller's, is current."""
    scheduler = get_scheduler(collections=parts)
    if scheduler is dask.local.get_sync:
        return 1
    if scheduler is dask.threaded.get and dask.config.get("pool", None) is None:
        return int(dask.config.get("num_workers", None) or dask.threaded.CPU_COUNT)
    return None


def partition_chains(parts: list) -> Optional[list[PartitionChain]]:
    """Each part's own tasks, when no two parts share a task that computes
    (data held in the graph may be shared); else None."""
    if not TASK_OBJECTS:
        return None
    graph = {}
    for part in parts:
        graph.update(part.__dask_graph__())
    nodes = convert_legacy_graph(graph)
    if not all(isinstance(node, GraphNode) for node in nodes.values()):
        return None
    try:
        chains = [PartitionChain(own_tasks(nodes, part.key), part.key) for part in parts]
    except KeyError:  # a task that reads a key the graph lacks: Dask will say so
        return None
    owners: set = set()
    for chain in chains:
        for node in chain.nodes:
            if isinstance(node, DataNode):
                continue
            if node.key in owners:
                return None
            owners.add(node.key)
    return chains


def local_passes(parts: list) -> Optional[tuple[list[PartitionChain], Threads]]:
    """The parts' chains and the threads to run them on, when a pass can
    run in this process; else None."""
    threads = local_threads(parts)
    if threads is None:
        return None
    chains = partition_chains(parts)
    return None if chains is None else (chains, Threads(threads))
