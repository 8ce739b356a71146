"""One benchmark run of ardo_old.mind, every figure measured side by side and printed as one table.

    python bench/run.py            # the sample database (when installed) and 50 to 50,000 questions
    python bench/run.py --quick    # a smoke run: small sizes, few calls

Run it with the interpreter of an environment where the package is installed. Against each database:
- mind: the latency of one call (median and 90th percentile);
- floor: the C++ program bench/floor.cpp opening the same file and reading the eight tables through
  SQLite's C API, touching every cell; mind/floor is what scoring and the host objects add;
- Python read: the host's own sqlite3 reading the eight tables with fetchall on a fresh connection;
- threads: calls per second of 1 and 2 host threads, each on its own copy of the database, next to
  the floor program's own gain from a second thread (the best of a few alternating rounds, since
  other work on the machine takes cores away).
Then the resident size of a fresh process after 1,000 and after 100,000 calls on a small database.
Rounds of the three latency measurements alternate, so a busy spell of the machine hits them alike.
"""

from __future__ import annotations

import argparse
import contextlib
import functools
import importlib.resources
import math
import os
import platform
import shutil
import sqlite3
import statistics
import subprocess
import sys
import threading
import time
import types
from dataclasses import dataclass, field
from pathlib import Path
from typing import Callable

import generate

ROOT = Path(__file__).resolve().parent.parent
WORK = ROOT / "build" / "bench"
TABLES = ("IDs", "PRS", "VAK", "EMQ", "TRS", "CTD", "CMF", "QTM")
SIZES = (50, 500, 5_000, 50_000)
QUICK_SIZES = (50, 500, 5_000)


@dataclass(frozen=True)
class Settings:
    sizes: tuple[int, ...]
    rounds: int  # alternating rounds of each measurement
    seconds: float  # time spent on one measurement of one database, over all its rounds
    min_calls: int  # per measurement, however slow the calls
    rss_calls: tuple[int, int]


FULL = Settings(SIZES, rounds=8, seconds=2.0, min_calls=8, rss_calls=(1_000, 100_000))
QUICK = Settings(QUICK_SIZES, rounds=2, seconds=0.4, min_calls=4, rss_calls=(1_000, 10_000))


@dataclass
class Timings:
    """Nanoseconds of each call: wall time, and the calling thread's CPU time, which leaves out the
    time the thread waited for a core on a busy machine."""

    wall: list[int] = field(default_factory=list)
    cpu: list[int] = field(default_factory=list)

    def extend(self, other: Timings) -> None:
        self.wall += other.wall
        self.cpu += other.cpu

    def median(self) -> float:
        return statistics.median(self.wall)

    def cpu_median(self) -> float:
        return statistics.median(self.cpu)


@dataclass
class Case:
    label: str
    path: Path
    answers: list[int]
    cells: int
    mind: Timings = field(default_factory=Timings)
    floor: Timings = field(default_factory=Timings)
    python: Timings = field(default_factory=Timings)
    mind_rate: dict[int, float] = field(default_factory=dict)  # threads -> calls per second
    floor_rate: dict[int, float] = field(default_factory=dict)

    def over_floor(self) -> tuple[float, float]:
        """mind's median over the floor's, on wall time and on CPU time."""
        return self.mind.median() / self.floor.median(), self.mind.cpu_median() / self.floor.cpu_median()

    def over_read(self) -> tuple[float, float]:
        return self.mind.median() / self.python.median(), self.mind.cpu_median() / self.python.cpu_median()


# ---------------------------------------------------------------------------------------------
# The databases


def table_shapes(path: Path) -> dict[str, tuple[int, int]]:
    """Rows and columns of each of the eight tables."""
    connection = sqlite3.connect(path)
    try:
        return {
            t: (connection.execute(f'SELECT count(*) FROM "{t}"').fetchone()[0], len(connection.execute(f'PRAGMA table_info("{t}")').fetchall()))
            for t in TABLES
        }
    finally:
        connection.close()


def cell_count(path: Path) -> int:
    return sum(rows * columns for rows, columns in table_shapes(path).values())


def sample_case() -> Case | str:
    """The package's sample database, copied out so no run ever writes beside the package."""
    sample = importlib.resources.files("ardo_old").joinpath("data", "sample.db")
    if not sample.is_file():
        return "no ardo_old/data/sample.db in the installed package"
    path = WORK / "sample.db"
    with importlib.resources.as_file(sample) as source:
        shutil.copyfile(source, path)
    # Every key pairs with the answers row for row: at least as many answers as any tallied key has
    # rows, and no more than "VAK" has rows.
    try:
        shapes = table_shapes(path)
    except sqlite3.Error as error:
        return f"sample.db cannot be read: {error}"
    needed = max(shapes[t][0] for t in ("EMQ", "TRS", "QTM", "CTD"))
    if shapes["VAK"][0] < needed:
        return f"sample.db has fewer VAK rows than the {needed} answers its other keys need"
    case = Case("sample", path, generate.answers(needed), sum(r * c for r, c in shapes.values()))
    try:
        with diagnostics_discarded():
            mind_call(case)()
    except Exception as error:  # noqa: BLE001 - any failure means the sample cannot be timed
        return f"mind fails on sample.db: {error!r}"
    return case


def generated_case(questions: int) -> Case:
    path = WORK / f"assessment-{questions}.db"
    if not path.exists() or path.stat().st_mtime < Path(generate.__file__).stat().st_mtime:
        generate.write(path, questions)
    return Case(f"{questions:,} q", path, generate.answers(questions), cell_count(path))


def copy_of(path: Path) -> Path:
    copy = path.with_name(path.stem + "-copy.db")
    shutil.copyfile(path, copy)
    return copy


# ---------------------------------------------------------------------------------------------
# The floor program


def build_floor() -> Path:
    """Builds ardo_floor through the project's own CMake build, with the option that adds bench/."""
    build = WORK / "cmake"
    configure = [
        "cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
        "-DARDO_BUILD_BENCH=ON", f"-DPython_EXECUTABLE={sys.executable}",
    ]  # fmt: skip
    for command in (configure, ["cmake", "--build", str(build), "--target", "ardo_floor"]):
        done = subprocess.run(command, capture_output=True, text=True)
        if done.returncode != 0:
            sys.exit(f"building the floor program failed:\n{done.stdout}{done.stderr}")
    return build / "bench" / "ardo_floor"


def run_floor(floor: Path, calls: int, paths: list[Path]) -> tuple[float, Timings]:
    """Wall seconds of the whole run and the timings of its calls; one thread per path."""
    command = [str(floor), "--threads", str(len(paths)), str(calls), *map(str, paths)]
    lines = subprocess.run(command, capture_output=True, text=True, check=True).stdout.split("\n")
    timings = Timings()
    for line in filter(None, lines[2:]):
        wall, cpu = map(int, line.split())
        timings.wall.append(wall)
        timings.cpu.append(cpu)
    return int(lines[0].split()[1]) / 1e9, timings


# ---------------------------------------------------------------------------------------------
# The host side


def python_read(path: Path) -> None:
    connection = sqlite3.connect(path)
    try:
        for table in TABLES:
            connection.execute(f"SELECT * FROM {table}").fetchall()
    finally:
        connection.close()


def mind_call(case: Case, path: Path | None = None) -> Callable[[], object]:
    from ardo_old.mind import mind

    request = types.SimpleNamespace(client_id="bench", user_responses=case.answers, sqlite_database=str(path or case.path))
    return lambda: mind(request)


@contextlib.contextmanager
def diagnostics_discarded():
    """mind writes its diagnostic lines to sys.stdout; a host would send them somewhere real."""
    with open(os.devnull, "w") as null, contextlib.redirect_stdout(null):
        yield


def timed_calls(call: Callable[[], object], count: int) -> Timings:
    timings = Timings()
    for _ in range(count):
        begin, cpu = time.perf_counter_ns(), time.thread_time_ns()
        call()  # the result is dropped inside the timing: freeing it is part of the cost
        timings.cpu.append(time.thread_time_ns() - cpu)
        timings.wall.append(time.perf_counter_ns() - begin)
    return timings


def calls_per_round(estimate_ns: float, settings: Settings) -> int:
    wanted = settings.seconds * 1e9 / max(estimate_ns, 1) / settings.rounds
    return max(math.ceil(settings.min_calls / settings.rounds), min(int(wanted), 5_000))


def measure_latency(case: Case, floor: Path, settings: Settings) -> None:
    call = mind_call(case)
    read = functools.partial(python_read, case.path)
    with diagnostics_discarded():
        # The first calls warm the file cache and size the rounds.
        mind_per_round = calls_per_round(timed_calls(call, 2).median(), settings)
        read_per_round = calls_per_round(timed_calls(read, 2).median(), settings)
        floor_per_round = calls_per_round(run_floor(floor, 2, [case.path])[1].median(), settings)
        for _ in range(settings.rounds):
            case.mind.extend(timed_calls(call, mind_per_round))
            case.python.extend(timed_calls(read, read_per_round))
            case.floor.extend(run_floor(floor, floor_per_round, [case.path])[1])


def mind_rate(case: Case, paths: list[Path], seconds: float) -> float:
    """Calls per second of one host thread per path, each calling until the time is up."""
    calls = [mind_call(case, p) for p in paths]
    counts = [0] * len(paths)
    finished = [0.0] * len(paths)
    start = threading.Barrier(len(paths) + 1)

    def worker(i: int) -> None:
        start.wait()
        deadline = time.perf_counter() + seconds
        while counts[i] == 0 or time.perf_counter() < deadline:
            calls[i]()
            counts[i] += 1
        finished[i] = time.perf_counter()

    threads = [threading.Thread(target=worker, args=(i,)) for i in range(len(paths))]
    for t in threads:
        t.start()
    start.wait()
    begin = time.perf_counter()
    for t in threads:
        t.join()
    return sum(counts) / (max(finished) - begin)


def measure_threads(case: Case, floor: Path, settings: Settings) -> None:
    paths = [case.path, copy_of(case.path)]
    seconds = settings.seconds / settings.rounds
    floor_calls = max(2, int(seconds * 1e9 / case.floor.median()))
    with diagnostics_discarded():
        for _ in range(settings.rounds):
            for n in (1, 2):
                case.mind_rate[n] = max(case.mind_rate.get(n, 0.0), mind_rate(case, paths[:n], seconds))
                wall, _ = run_floor(floor, floor_calls, paths[:n])
                case.floor_rate[n] = max(case.floor_rate.get(n, 0.0), n * floor_calls / wall)
    paths[1].unlink()


def measure_rss(case: Case, settings: Settings) -> list[int]:
    """VmRSS in KiB of a fresh process after each count of calls."""
    worker = Path(__file__).with_name("rss_worker.py")
    command = [sys.executable, str(worker), str(case.path), str(len(case.answers)), *map(str, settings.rss_calls)]
    return [int(line) for line in subprocess.run(command, capture_output=True, text=True, check=True).stdout.split()]


# ---------------------------------------------------------------------------------------------
# The table


def p90(samples: list[int]) -> float:
    ordered = sorted(samples)
    return ordered[max(0, math.ceil(0.9 * len(ordered)) - 1)]


def ms(ns: float) -> str:
    value = ns / 1e6
    return f"{value:.3f}" if value < 10 else f"{value:.1f}" if value < 1000 else f"{value:.0f}"


def rows_of(cases: list[Case]) -> list[list[str]]:
    rows = []
    for c in cases:
        rows.append([
            c.label, f"{len(c.answers):,}", f"{c.cells:,}",
            ms(c.mind.median()), ms(p90(c.mind.wall)), ms(c.floor.median()), ms(p90(c.floor.wall)),
            *(f"{r:.2f}" for r in c.over_floor()), ms(c.python.median()), *(f"{r:.2f}" for r in c.over_read()),
            f"{c.mind.median() / c.cells:.0f}", f"{c.floor.median() / c.cells:.0f}",
            f"{c.mind_rate[1]:.1f}", f"{c.mind_rate[2]:.1f}", f"{c.mind_rate[2] / c.mind_rate[1]:.2f}",
            f"{c.floor_rate[2] / c.floor_rate[1]:.2f}", str(len(c.mind.wall)),
        ])  # fmt: skip
    return rows


HEADER = [
    "database", "answers", "cells", "mind ms", "p90", "floor ms", "p90", "mind/floor", "cpu",
    "py read ms", "mind/py", "cpu", "mind ns/cell", "floor ns/cell", "calls/s 1 thr", "2 thr",
    "mind 2/1", "floor 2/1", "calls",
]  # fmt: skip


def print_table(rows: list[list[str]]) -> None:
    widths = [max(len(r[i]) for r in [HEADER, *rows]) for i in range(len(HEADER))]

    def line(row: list[str]) -> str:
        # The database's name to the left, every figure to the right.
        return "  ".join(cell.rjust(w) if i else cell.ljust(w) for i, (cell, w) in enumerate(zip(row, widths)))

    print(line(HEADER))
    print("  ".join("-" * w for w in widths))
    for row in rows:
        print(line(row))


def print_targets(cases: list[Case], rss: list[int] | None, settings: Settings) -> None:
    def mark(ok: bool) -> str:
        return "ok  " if ok else "MISS"

    floor_wall, floor_cpu = (max(r) for r in zip(*(c.over_floor() for c in cases)))
    read_wall, read_cpu = (max(r) for r in zip(*(c.over_read() for c in cases)))
    print(f"{mark(floor_wall <= 1.25)} mind/floor <= 1.25 at every size: worst {floor_wall:.2f} (on CPU time {floor_cpu:.2f})")
    print(f"{mark(read_wall < 0.8)} mind/Python read < 0.8: worst {read_wall:.2f} (on CPU time {read_cpu:.2f})")
    generated = [c for c in cases if c.label != "sample"]
    per_cell = [c.mind.median() / c.cells for c in generated if len(c.answers) >= 500]
    if len(per_cell) > 1:
        spread = max(per_cell) / min(per_cell)
        print(f"{mark(spread <= 1.5)} linear growth: mind ns per cell from 500 questions up varies by x{spread:.2f}")
    scaling = [c for c in cases if len(c.answers) >= 500]
    if scaling:
        worst_gain = min(c.mind_rate[2] / c.mind_rate[1] for c in scaling)
        print(f"{mark(worst_gain >= 1.7)} 2 threads >= 1.7x of 1 thread at 500+ questions: worst x{worst_gain:.2f}")
    if rss:
        growth = (rss[1] - rss[0]) / 1024
        first, second = settings.rss_calls
        print(f"{mark(growth <= 2)} RSS growth from {first:,} to {second:,} calls within 2 MiB: {growth:+.2f} MiB")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="a fast smoke run: small sizes, few calls")
    parser.add_argument("--sizes", type=lambda s: tuple(int(x) for x in s.split(",")), help="questions per key, e.g. 50,5000")
    args = parser.parse_args()
    settings = QUICK if args.quick else FULL
    if args.sizes:
        settings = Settings(args.sizes, settings.rounds, settings.seconds, settings.min_calls, settings.rss_calls)
    WORK.mkdir(parents=True, exist_ok=True)

    print(f"ardo_old.mind benchmark{' (quick)' if args.quick else ''}: Python {platform.python_version()}, "
          f"SQLite {sqlite3.sqlite_version}, {os.cpu_count()} CPUs, load average {os.getloadavg()[0]:.2f} at start", flush=True)  # fmt: skip
    floor = build_floor()
    cases = []
    sample = sample_case()
    if isinstance(sample, str):
        print(f"sample database skipped: {sample}")
    else:
        cases.append(sample)
    cases += [generated_case(n) for n in settings.sizes]
    for case in cases:
        measure_latency(case, floor, settings)
        measure_threads(case, floor, settings)
        print(f"  measured {case.label}", file=sys.stderr)
    rss_case = cases[0] if cases[0].label == "sample" else min(cases, key=lambda c: c.cells)
    rss = measure_rss(rss_case, settings)

    print()
    print_table(rows_of(cases))
    print()
    first, second = settings.rss_calls
    print(f"memory ({rss_case.label} database, fresh process): VmRSS {rss[0] / 1024:.1f} MiB after {first:,} calls, "
          f"{rss[1] / 1024:.1f} MiB after {second:,} calls")  # fmt: skip
    print(f"load average {os.getloadavg()[0]:.2f} at the end; timings on a shared machine are noisy")
    print()
    print_targets(cases, rss, settings)


if __name__ == "__main__":
    main()
