"""ardo_old.psychometrics.reliability against R psych's alpha() over the same item matrices, side by side.

    python bench/psychometrics.py              # 100,000 clients
    python bench/psychometrics.py --clients N
    python bench/psychometrics.py --streamed 1000000   # item_analysis's memory, streamed batches

Run it with the interpreter of an environment where the package is installed, on a machine with R and
its psych package (scripts/install-test-tools). The cohort: scales shaped like the sample battery's,
2 to 20 items each (the sample database's largest scales have about 20), items of one common factor
scored 0 to 4, int8 matrices. Printed, for all the scales together: the seconds of reliability() with 1
and 2 threads (the fastest of three runs), of psych::alpha() in one R process (one run: it takes long),
and the ratio; then response_quality() over a matrix of the sample battery's 82 answers. Last, the
battery itself: item_analysis() of a cohort of that many clients of the sample database (answers of
one common factor), against psych::alpha() over every scale of at least two items of the same cohort,
fed the item scores that item_scores() gives (not timed), with the target of 20 times; and the
machine's load. With --streamed N, only item_analysis() over a tenth of N and then N clients of the
sample battery, taken from an Arrow stream of 65,536-client batches made as they are read, with the
peak resident size after each: one pass keeps only its sums, so the peak does not grow with N.
"""

from __future__ import annotations

import argparse
import os
import resource
import subprocess
import tempfile
import time
from pathlib import Path

import numpy as np

from ardo_old import psychometrics

SAMPLE = Path(psychometrics.__file__).with_name("data") / "sample.db"
TARGET = 20

SCALE_ITEMS = [2, 3, 4, 5, 5, 6, 6, 8, 9, 10, 10, 12, 12, 14, 15, 16, 18, 20, 20, 20]
ANSWERS = 82
REPEATS = 3

R_TIMING = """
args <- commandArgs(trailingOnly = TRUE)
n <- as.integer(args[2]); widths <- as.integer(strsplit(args[3], ",")[[1]])
x <- matrix(readBin(args[1], what = "integer", n = n * sum(widths), size = 1), n, sum(widths), byrow = TRUE)
ends <- cumsum(widths); scales <- lapply(seq_along(widths), function(s) x[, (ends[s] - widths[s] + 1):ends[s]])
elapsed <- system.time(for (s in scales) suppressWarnings(psych::alpha(s, cumulative = TRUE, warnings = FALSE)))[["elapsed"]]
cat(elapsed, "\\n")
"""


def cohort(rng: np.random.Generator, clients: int, items: int, low: int, high: int) -> np.ndarray:
    raw = (low + high) / 2 + rng.normal(size=(clients, 1)) + rng.normal(size=(clients, items))
    return np.clip(np.rint(raw), low, high).astype(np.int8)


def best_seconds(body) -> float:
    times = []
    for _ in range(REPEATS):
        start = time.perf_counter()
        body()
        times.append(time.perf_counter() - start)
    return min(times)


def r_seconds(scales: list[np.ndarray], folder: Path) -> float:
    matrix = np.ascontiguousarray(np.hstack(scales))
    (folder / "items.bin").write_bytes(matrix.tobytes())
    (folder / "timing.R").write_text(R_TIMING)
    widths = ",".join(str(s.shape[1]) for s in scales)
    done = subprocess.run(["Rscript", str(folder / "timing.R"), str(folder / "items.bin"), str(matrix.shape[0]), widths],
                          capture_output=True, text=True, check=True)
    return float(done.stdout.split()[0])


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--clients", type=int, default=100_000)
    parser.add_argument("--streamed", type=int, metavar="N")
    arguments = parser.parse_args()
    if arguments.streamed:
        streamed(arguments.streamed)
        return
    clients = arguments.clients
    rng = np.random.default_rng(7)
    scales = [cohort(rng, clients, items, 0, 4) for items in SCALE_ITEMS]
    ours = {threads: best_seconds(lambda: [psychometrics.reliability(s, threads=threads) for s in scales])
            for threads in (1, 2)}
    with tempfile.TemporaryDirectory() as folder:
        theirs = r_seconds(scales, Path(folder))
    print(f"{len(scales)} scales of 2 to 20 items, {clients:,} clients")
    print(f"{'reliability, 1 thread':32} {ours[1]:9.3f} s   {theirs / ours[1]:7.0f}x psych")
    print(f"{'reliability, 2 threads':32} {ours[2]:9.3f} s   {theirs / ours[2]:7.0f}x psych")
    print(f"{'psych::alpha':32} {theirs:9.3f} s")
    answers = cohort(rng, clients, ANSWERS, 1, 4)
    for threads in (1, 2):
        seconds = best_seconds(lambda: psychometrics.response_quality(answers, threads=threads))
        print(f"{f'response_quality, {ANSWERS} answers, {threads} thr':32} {seconds:9.3f} s")
    battery(rng, clients)
    print(f"load average {os.getloadavg()[0]:.2f} at the end; timings on a shared machine are noisy")


def battery(rng: np.random.Generator, clients: int) -> None:
    answers = cohort(rng, clients, ANSWERS, 1, 4)
    ours = {threads: best_seconds(lambda: psychometrics.item_analysis(SAMPLE, answers, threads=threads))
            for threads in (1, 2)}
    scales = [np.asarray(psychometrics.item_scores(SAMPLE, answers, scale["scale"])[1]).astype(np.int8)
              for scale in psychometrics.scales(SAMPLE) if len(scale["questions"]) >= 2]
    with tempfile.TemporaryDirectory() as folder:
        theirs = r_seconds(scales, Path(folder))
    print(f"sample battery: {len(scales)} scales, {clients:,} clients")
    for threads in (1, 2):
        print(f"{f'item_analysis, {threads} thread' + 's' * (threads > 1):32} {ours[threads]:9.3f} s   "
              f"{theirs / ours[threads]:7.0f}x psych")
    print(f"{'psych::alpha, every scale':32} {theirs:9.3f} s")
    ratio = theirs / min(ours.values())
    print(f"{'ok  ' if ratio >= TARGET else 'MISS'} item_analysis at least {TARGET}x faster than psych::alpha: x{ratio:.0f}")


def streamed(clients: int) -> None:
    import pyarrow

    batch = cohort(np.random.default_rng(7), 65_536, ANSWERS, 1, 4)
    names = [f"q{question}" for question in range(1, ANSWERS + 1)]

    def batches(count: int):
        for first in range(0, count, len(batch)):
            rows = np.roll(batch, first, axis=0)[: min(len(batch), count - first)]
            yield pyarrow.record_batch(list(rows.T), names=names)

    schema = pyarrow.schema([(name, pyarrow.int8()) for name in names])
    for count in (clients // 10, clients):
        start = time.perf_counter()
        result = psychometrics.item_analysis(SAMPLE, pyarrow.RecordBatchReader.from_batches(schema, batches(count)))
        peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
        print(f"item_analysis of {result.clients:,} clients streamed: {time.perf_counter() - start:6.2f} s, "
              f"peak resident {peak:.1f} MiB")


if __name__ == "__main__":
    main()
