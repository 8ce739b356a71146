"""A cohort's results as an Arrow table against score_cohort and a loop of mind, and a million
clients streamed slice by slice in flat memory.

    python bench/score_table.py                 # 200,000 clients, then 1,000,000 streamed
    python bench/score_table.py --clients 20000 --stream 100000

Run it with the interpreter of an environment where the package and pyarrow are installed. On the
package's sample database, random answers 1 to 4 in an int8 matrix, all in one run:
- score_table with 1 and 2 threads, the result turned into a pyarrow.Table (fastest of three);
- score_cohort of the same clients with 2 threads, its reports turned into a pyarrow.Table;
- a loop of mind calls over a sample of the clients, scaled up to the cohort;
- in a fresh process, score_table of 65,536 clients at a time written to a Parquet file, the
  resident size after the first slice and at the end.
"""

from __future__ import annotations

import argparse
import contextlib
import importlib.resources
import io
import os
import subprocess
import sys
import tempfile
import time
import types

import numpy as np
import pyarrow
import pyarrow.parquet as parquet

from rss_worker import resident_kib

MIND_SAMPLE = 2_000
SLICE = 65_536
REPEATS = 3


def sample_database() -> str:
    return str(importlib.resources.files("ardo_old") / "data" / "sample.db")


def random_answers(clients: int, seed: int = 7) -> np.ndarray:
    questions = len(importlib.resources.files("ardo_old").joinpath("data/sample_answers.json").read_text().split(","))
    return np.random.default_rng(seed).integers(1, 5, size=(clients, questions), dtype=np.int8)


def fastest(run: types.FunctionType) -> float:
    best = float("inf")
    for _ in range(REPEATS):
        start = time.perf_counter()
        run()
        best = min(best, time.perf_counter() - start)
    return best


def stream(clients: int) -> None:
    """The child process: every slice scored, written and let go."""
    from ardo_old.cohort import score_table

    database = sample_database()
    with tempfile.TemporaryDirectory() as folder:
        writer = None
        after_first = slice_bytes = 0
        for first in range(0, clients, SLICE):
            answers = random_answers(min(SLICE, clients - first), seed=first)
            table = score_table(database, answers, client_ids=range(first, first + len(answers))).to_pyarrow()
            if writer is None:
                writer = parquet.ParquetWriter(os.path.join(folder, "results.parquet"), table.schema)
            writer.write_table(table)
            if first == 0:
                after_first, slice_bytes = resident_kib(), table.nbytes
            del table
        assert writer is not None
        writer.close()
        size = os.path.getsize(os.path.join(folder, "results.parquet"))
    print(after_first, resident_kib(), size, slice_bytes)


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--clients", type=int, default=200_000)
    parser.add_argument("--stream", type=int, default=1_000_000)
    parser.add_argument("--child-stream", type=int, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child_stream:
        return stream(args.child_stream)

    from ardo_old.cohort import score_cohort, score_table
    from ardo_old.mind import mind

    database = sample_database()
    answers = random_answers(args.clients)
    print(f"sample database, {args.clients:,} clients of random answers ({answers.shape[1]} questions, int8)")
    one = fastest(lambda: score_table(database, answers, threads=1).to_pyarrow())
    two = fastest(lambda: score_table(database, answers, threads=2).to_pyarrow())
    clients = [types.SimpleNamespace(client_id=i, user_responses=row) for i, row in enumerate(answers.tolist())]
    start = time.perf_counter()
    reports = score_cohort(database, clients, threads=2)
    pyarrow.Table.from_pylist(reports)
    cohort = time.perf_counter() - start
    del reports
    sample = clients[:MIND_SAMPLE]
    start = time.perf_counter()
    with contextlib.redirect_stdout(io.StringIO()):
        for c in sample:
            mind(types.SimpleNamespace(client_id=c.client_id, user_responses=c.user_responses, sqlite_database=database))
    loop = (time.perf_counter() - start) * args.clients / len(sample)

    def line(name: str, seconds: float) -> None:
        print(f"{name:<34} {seconds:8.3f} s  {seconds / args.clients * 1e6:8.2f} us/client")

    line("score_table, 1 thread, to pyarrow", one)
    line("score_table, 2 threads, to pyarrow", two)
    line("score_cohort, 2 threads, to pyarrow", cohort)
    line(f"mind loop (from {MIND_SAMPLE:,})", loop)
    best = min(one, two)
    checks = [
        ("at least 100x faster than a loop of mind", loop / best, 100),
        ("at least 10x faster than score_cohort", cohort / best, 10),
        ("2 threads at least 1.7x of 1 thread", one / two, 1.7),
    ]
    child = subprocess.run([sys.executable, __file__, "--child-stream", str(args.stream)], capture_output=True, text=True, check=True)
    after_first, at_end, size, slice_bytes = (int(v) for v in child.stdout.split())
    growth = (at_end - after_first) / 1024
    print(f"{args.stream:,} clients in slices of {SLICE:,} to Parquet ({size / 2**20:.1f} MiB): "
          f"VmRSS {after_first / 1024:.1f} MiB after the first slice, {at_end / 1024:.1f} MiB at the end")
    print(f"load average {os.getloadavg()[0]:.2f} at the end; timings on a shared machine are noisy")
    for name, value, target in checks:
        print(f"{'ok  ' if value >= target else 'MISS'} {name}: x{value:.2f}")
    slice_mib = slice_bytes / 2**20
    print(f"{'ok  ' if growth <= 2 * slice_mib else 'MISS'} streamed RSS grows by at most two slices "
          f"({slice_mib:.1f} MiB each): +{growth:.1f} MiB")


if __name__ == "__main__":
    main()
