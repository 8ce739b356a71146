"""A cohort too large for one machine, on a Dask cluster, against the database file the workers can
read. A JSON Lines file is split into a bag of partitions, each partition is scored with iter_cohort
on a worker, and the lines are written in input order, exactly as ``score --clients`` writes them. A
dask DataFrame of answers is scored partition by partition with ``score_table``, into a dask
DataFrame of its results. Needs the ``dask`` extra (and pyarrow for a DataFrame)."""

from __future__ import annotations

import itertools
import os
from collections.abc import Iterable
from typing import IO, TYPE_CHECKING, Any, overload

from ardo_old.cohort_cli import output_line, score_lines

if TYPE_CHECKING:
    import dask.dataframe
    from distributed import Client


def _score_partition(lines: list[str], database: str, first_line: int) -> tuple[list[str], bool]:
    # Undecodable bytes travel through the bag as surrogates and come back as the bytes they were.
    scored = list(score_lines(database, (line.encode("utf-8", "surrogateescape") for line in lines), first_line=first_line))
    return [output_line(s) for s in scored], any(s.error is not None for s in scored)


def _line_count(lines: Iterable[str]) -> list[int]:
    return [sum(1 for _ in lines)]


def _score_frame(part: Any, database: str) -> Any:
    """A partition's results, as score_table gives them, in columns of Arrow types (so that a
    partition with a null in a column types it as one without; texts as texts, which pandas and
    Parquet take), on the partition's index."""
    import pandas
    import pyarrow

    from ardo_old import cohort_tables

    rows = cohort_tables.table_rows(pyarrow.RecordBatch.from_pandas(part, preserve_index=False))
    table = cohort_tables.plain_texts(pyarrow.table(cohort_tables.score_batch(database, rows, jobs=1)))
    results = table.to_pandas(types_mapper=pandas.ArrowDtype)
    results.index = part.index
    return results


@overload
def score_on_dask(client: Client, database: str | os.PathLike[str], clients: str | os.PathLike[str], out: IO[str], *,
                  blocksize: int | str = "64MiB") -> int: ...
@overload
def score_on_dask(client: Client, database: str | os.PathLike[str], clients: dask.dataframe.DataFrame) -> \
    dask.dataframe.DataFrame: ...
def score_on_dask(client: Client, database: str | os.PathLike[str], clients: Any, out: IO[str] | None = None, *,
                  blocksize: int | str = "64MiB") -> Any:
    """Scores the JSON Lines file `clients` on the cluster of the dask.distributed `client` and writes
    one line per input line to `out`; returns 1 when any line failed, else 0. Or scores the dask
    DataFrame `clients` (one column per question, in order, and an optional ``client_id``) and returns
    the DataFrame of its results, a row per client on its index, as lazy as `clients`. Both paths must
    name the same files on every worker."""
    import dask.dataframe
    import pandas

    if isinstance(clients, dask.dataframe.DataFrame):
        # The columns are those of score_table with no client, taken on a worker, where the database is.
        empty = pandas.DataFrame({name: pandas.Series(dtype=kind) for name, kind in clients.dtypes.items()})
        meta = client.submit(_score_frame, empty, os.fspath(database)).result()
        return clients.map_partitions(_score_frame, os.fspath(database), meta=meta)
    if out is None:  # before the cluster is asked for anything
        raise TypeError("score_on_dask() of a JSON Lines file needs out, the file of its lines")
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
