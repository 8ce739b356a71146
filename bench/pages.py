"""Peak memory and time of writing a cohort's report pages and its summary index.

    python bench/pages.py                   # 20,000 clients of random answers (a few minutes)
    python bench/pages.py --clients 2000    # a quick run

Run it with the interpreter of an environment where the package is installed with the html extra.
Scores the clients with iter_cohort against the package's sample database and hands the results
to report_html.write_pages as they come, as `score --clients FILE --html DIR` does, one client in
seven failing on too few answers. Prints the pages' time and the process's peak resident size
(VmHWM), against the target: 20,000 clients in under 100 MB.
"""

from __future__ import annotations

import argparse
import importlib.resources
import json
import random
import tempfile
import time
import types
from pathlib import Path

from rss_worker import resident_kib

TARGET_BYTES = 100_000_000


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--clients", type=int, default=20_000)
    count = parser.parse_args().clients
    from ardo_old.cohort import iter_cohort
    from ardo_old.report_html import write_pages

    data = importlib.resources.files("ardo_old") / "data"
    questions = len(json.loads((data / "sample_answers.json").read_text()))
    generator = random.Random(20)
    clients = (types.SimpleNamespace(client_id=f"c-{n}", user_responses=[
        generator.randint(1, 4) for _ in range(questions if n % 7 else questions // 2)]) for n in range(count))
    with importlib.resources.as_file(data / "sample.db") as database, tempfile.TemporaryDirectory() as folder:
        start = time.perf_counter()
        results = ((f"c-{n}", result, n + 1) for n, result in enumerate(iter_cohort(database, clients)))
        index = write_pages(results, Path(folder), title="bench")
        seconds = time.perf_counter() - start
        pages = sum(1 for _ in Path(folder).glob("*.html")) - 1
        size = index.stat().st_size
    peak = resident_kib("VmHWM") * 1024
    print(f"{count:,} clients, {pages:,} pages and an index of {size / 2**20:.1f} MiB in {seconds:.1f} s "
          f"({1000 * seconds / count:.2f} ms per client)")
    verdict = "ok  " if peak < TARGET_BYTES else "MISS"
    print(f"{verdict} peak resident size (VmHWM) under {TARGET_BYTES / 1e6:.0f} MB: {peak / 1e6:.1f} MB "
          f"({peak / 2**20:.1f} MiB)")


if __name__ == "__main__":
    main()
