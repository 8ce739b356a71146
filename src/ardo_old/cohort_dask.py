"""A cohort too large for one machine, on a Dask cluster: the JSON Lines file is split into a bag
of partitions, each partition is scored with iter_cohort on a worker against the database file the
workers can read, and the lines are written in input order, exactly as ``score --clients`` writes
them. Needs the ``dask`` extra."""

from __future__ import annotations

import itertools
import os
from collections.abc import Iterable
from typing import IO, TYPE_CHECKING

from ardo_old.cohort_cli import output_line, score_lines

if TYPE_CHECKING:
    from distributed import Client


def _score_partition(lines: list[str], database: str, first_line: int) -> tuple[list[str], bool]:
    # Undecodable bytes travel through the bag as surrogates and come back as the bytes they were.
    scored = list(score_lines(database, (line.encode("utf-8", "surrogateescape") for line in lines), first_line=first_line))
    return [output_line(s) for s in scored], any(s.error is not None for s in scored)


def _line_count(lines: Iterable[str]) -> list[int]:
    return [sum(1 for _ in lines)]


def score_on_dask(client: Client, database: str | os.PathLike[str], clients: str | os.PathLike[str], out: IO[str], *,
                  blocksize: int | str = "64MiB") -> int:
    """Scores the JSON Lines file `clients` on the cluster of the dask.distributed `client` and writes
    one line per input line to `out`; returns 1 when any line failed, else 0. Both paths must name the
    same files on every worker."""
    import dask.bag
    from dask.delayed import delayed

    bag = dask.bag.read_text(os.fspath(clients), blocksize=blocksize, encoding="utf-8", errors="surrogateescape")
    counts = client.compute(bag.map_partitions(_line_count), sync=True)
    firsts = itertools.accumulate([1, *counts[:-1]])
    score = delayed(_score_partition, pure=True)
    futures = client.compute([score(part, os.fspath(database), first) for part, first in zip(bag.to_delayed(), firsts)])
    status = 0
    for future in futures:  # in input order, each as soon as it and those before it are done
        lines, failed = future.result()
        out.writelines(line + "\n" for line in lines)
        out.flush()
        status |= failed
    return status
