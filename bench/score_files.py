"""`score --clients` from each file format to each: seconds and peak resident size of the command.

    python bench/score_files.py [CLIENTS]    # default 100,000 clients of the sample database

Run it with the interpreter of an environment where the package and pyarrow are installed. The
clients' answers are random 1 to 4, one in fifty with an answer outside them; the same clients are
written as JSON Lines, CSV and Parquet under build/bench/files, and each is scored to each format
in a fresh process of the command, which reports its own peak resident size (VmHWM).
"""

from __future__ import annotations

import json
import random
import subprocess
import sys
import time
from pathlib import Path

import pyarrow
import pyarrow.csv
from pyarrow import parquet

ROOT = Path(__file__).resolve().parent.parent
WORK = ROOT / "build" / "bench" / "files"
QUESTIONS = 82
FORMATS = ("jsonl", "csv", "parquet")

RUN_AND_TELL_PEAK = f"""
import sys
sys.path.insert(0, {str(Path(__file__).parent)!r})
from ardo_old.cli import main
from rss_worker import resident_kib
try:
    main(["score", *sys.argv[1:]])
finally:
    print(resident_kib("VmHWM"), file=sys.stderr)
"""


def write_inputs(count: int) -> None:
    draw = random.Random(7)
    rows = [[draw.randint(1, 4) for _ in range(QUESTIONS)] for _ in range(count)]
    for row in rows[::50]:
        row[draw.randrange(QUESTIONS)] = 5
    ids = [f"c-{n}" for n in range(count)]
    with open(WORK / "in.jsonl", "w") as out:
        out.writelines(json.dumps({"client_id": i, "answers": row}) + "\n" for i, row in zip(ids, rows))
    columns = {"client_id": ids} | {f"q{k + 1}": [row[k] for row in rows] for k in range(QUESTIONS)}
    table = pyarrow.table(columns)
    pyarrow.csv.write_csv(table, WORK / "in.csv")
    parquet.write_table(table, WORK / "in.parquet")


def run(source: str, output: str) -> tuple[float, int]:
    start = time.perf_counter()
    done = subprocess.run([sys.executable, "-c", RUN_AND_TELL_PEAK, "--clients", str(WORK / f"in.{source}"),
                           "--out", str(WORK / f"out.{output}")], capture_output=True, text=True)
    seconds = time.perf_counter() - start
    return seconds, int(done.stderr.splitlines()[-1])


def main() -> None:
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 100_000
    WORK.mkdir(parents=True, exist_ok=True)
    write_inputs(count)
    print(f"{count:,} clients, the sample database; seconds and peak resident MiB of the command")
    print(f"{'in':<8} {'out':<8} {'seconds':>8} {'us/client':>10} {'peak MiB':>9}")
    for source in FORMATS:
        for output in FORMATS:
            seconds, peak = run(source, output)
            print(f"{source:<8} {output:<8} {seconds:>8.2f} {1e6 * seconds / count:>10.1f} {peak / 1024:>9.1f}")


if __name__ == "__main__":
    main()
