"""Cohort scoring against calling mind once per client, and against pickle.loads of the same reports.

    python bench/cohort.py            # cohorts of 1,000, 10,000 and 100,000 clients (several minutes)
    python bench/cohort.py --quick    # 1,000 and 10,000 clients

Run it with the interpreter of an environment where the package is installed. On the package's
sample database and a generated one of 500 questions, all in one run:
- seconds of score_cohort with 1 and 2 threads (each timing the fastest of three runs);
- a loop of mind calls over a sample of the clients, scaled up to the cohort;
- pickle.loads of the cohort's reports, one pickle per report;
- the resident size of a fresh process running iter_cohort, after 1,000 and after 100,000 results.
The clients' answers are the database's answers rotated by the client's number, so reports differ.
"""

from __future__ import annotations

import argparse
import contextlib
import gc
import importlib.resources
import os
import pickle
import subprocess
import sys
import time
import types
from collections.abc import Iterator
from pathlib import Path

import generate
from rss_worker import resident_kib

ROOT = Path(__file__).resolve().parent.parent
WORK = ROOT / "build" / "bench"
SIZES = (1_000, 10_000, 100_000)
QUICK_SIZES = (1_000, 10_000)
MIND_SAMPLE = 500
RSS_COUNTS = (1_000, 100_000)
REPEATS = 3


def clients(answers: list[int], count: int) -> Iterator[types.SimpleNamespace]:
    rotations = [answers[i:] + answers[:i] for i in range(len(answers))]
    for i in range(count):
        yield types.SimpleNamespace(client_id=i, user_responses=rotations[i % len(answers)])


def best_seconds(body, repeats: int = REPEATS) -> float:
    """The fastest of a few runs: on a shared machine the others measure its neighbours too."""
    times = []
    for _ in range(repeats):
        gc.collect()
        start = time.perf_counter()
        result = body()
        times.append(time.perf_counter() - start)
        del result
    return min(times)


def databases() -> list[tuple[str, Path, list[int]]]:
    found = []
    sample = importlib.resources.files("ardo_old") / "data"
    if sample.joinpath("sample.db").is_file():
        import json

        found.append(("sample", Path(str(sample / "sample.db")), json.loads(sample.joinpath("sample_answers.json").read_text())))
    path = WORK / "assessment-500.db"
    if not path.exists() or path.stat().st_mtime < Path(generate.__file__).stat().st_mtime:
        WORK.mkdir(parents=True, exist_ok=True)
        generate.write(path, 500)
    found.append(("500 q", path, generate.answers(500)))
    return found


def mind_seconds_per_client(path: Path, answers: list[int]) -> float:
    from ardo_old.mind import mind

    requests = [types.SimpleNamespace(client_id=c.client_id, user_responses=c.user_responses, sqlite_database=str(path))
                for c in clients(answers, MIND_SAMPLE)]
    with open(os.devnull, "w") as null, contextlib.redirect_stdout(null):
        seconds = best_seconds(lambda: [mind(r) for r in requests])
    return seconds / MIND_SAMPLE


def measure(name: str, path: Path, answers: list[int], size: int, mind_per_client: float) -> dict:
    from ardo_old.cohort import score_cohort

    cohort = list(clients(answers, size))
    reports = score_cohort(path, cohort, threads=1)
    assert not any(isinstance(r, BaseException) for r in reports), "a client of the benchmark failed"
    pickles = [pickle.dumps(r) for r in reports]
    del reports
    one = best_seconds(lambda: score_cohort(path, cohort, threads=1))
    two = best_seconds(lambda: score_cohort(path, cohort, threads=2))
    unpickled = best_seconds(lambda: [pickle.loads(p) for p in pickles])
    return {"database": name, "clients": size, "one": one, "two": two, "mind": mind_per_client * size, "pickle": unpickled}


def rss_worker(path: str, answer_count: str) -> None:
    """Prints VmRSS in KiB after each of RSS_COUNTS results of one iter_cohort run."""
    from ardo_old.cohort import iter_cohort

    answers = generate.answers(int(answer_count)) if answer_count != "sample" else None
    if answers is None:
        import json

        answers = json.loads((importlib.resources.files("ardo_old") / "data" / "sample_answers.json").read_text())
    sizes = []
    for done, _ in enumerate(iter_cohort(path, clients(answers, RSS_COUNTS[-1])), 1):
        if done in RSS_COUNTS:
            sizes.append(resident_kib())
    print(" ".join(map(str, sizes)))


def rss_growth(name: str, path: Path) -> tuple[float, float]:
    kind = "sample" if name == "sample" else "500"
    out = subprocess.run([sys.executable, __file__, "--rss-worker", str(path), kind], check=True, capture_output=True,
                         text=True, cwd=Path(__file__).parent).stdout
    small, large = (int(v) / 1024 for v in out.split())
    return small, large


def print_table(rows: list[dict]) -> None:
    header = ["database", "clients", "cohort 1 thr s", "2 thr s", "2/1", "mind loop s", "mind/cohort", "pickle.loads s",
              "cohort/pickle", "us/client"]
    lines = [header]
    for r in rows:
        lines.append([r["database"], f"{r['clients']:,}", f"{r['one']:.3f}", f"{r['two']:.3f}", f"{r['one'] / r['two']:.2f}",
                      f"{r['mind']:.2f}", f"{r['mind'] / r['one']:.1f}", f"{r['pickle']:.3f}",
                      f"{r['one'] / r['pickle']:.2f}", f"{r['one'] / r['clients'] * 1e6:.1f}"])
    widths = [max(len(line[i]) for line in lines) for i in range(len(header))]
    for n, line in enumerate(lines):
        print("  ".join(cell.rjust(w) if i else cell.ljust(w) for i, (cell, w) in enumerate(zip(line, widths))))
        if n == 0:
            print("  ".join("-" * w for w in widths))


def verdict(ok: bool, text: str) -> str:
    return f"{'ok  ' if ok else 'MISS'} {text}"


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="1,000 and 10,000 clients only")
    parser.add_argument("--rss-worker", nargs=2, metavar=("DATABASE", "ANSWERS"), help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.rss_worker:
        return rss_worker(*args.rss_worker)
    rows, memory = [], []
    for name, path, answers in databases():
        mind_per_client = mind_seconds_per_client(path, answers)
        for size in QUICK_SIZES if args.quick else SIZES:
            rows.append(measure(name, path, answers, size, mind_per_client))
        memory.append((name, *rss_growth(name, path)))
    print_table(rows)
    for name, small, large in memory:
        print(f"memory ({name}, fresh process): VmRSS {small:.1f} MiB after 1,000 results of iter_cohort, "
              f"{large:.1f} MiB after 100,000")
    print(f"load average {os.getloadavg()[0]:.2f} at the end; timings on a shared machine are noisy")
    worst_pickle = max(r["one"] / r["pickle"] for r in rows)
    print(verdict(worst_pickle <= 1.5, f"one thread at most 1.5x pickle.loads per client: worst {worst_pickle:.2f}"))
    sample = [r["mind"] / r["one"] for r in rows if r["database"] == "sample"]
    if sample:
        print(verdict(min(sample) >= 8, f"at least 8x faster than mind on the sample database: worst x{min(sample):.1f}"))
    large = [r["one"] / r["two"] for r in rows if r["database"] == "500 q"]
    print(verdict(min(large) >= 1.6, f"2 threads at least 1.6x of 1 thread on 500 questions: worst x{min(large):.2f}"))
    growth = max(large - small for _, small, large in memory)
    print(verdict(growth <= 5, f"iter_cohort RSS from 1,000 to 100,000 results within 5 MiB: +{growth:.2f} MiB"))


if __name__ == "__main__":
    main()
