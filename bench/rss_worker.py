"""Resident size of this process as mind calls pile up: a leak shows as growth between counts.

    python bench/rss_worker.py DATABASE ANSWERS COUNT...

Calls mind on DATABASE with the benchmark's ANSWERS answers until each COUNT of calls is reached,
and prints VmRSS in KiB at each.
"""

from __future__ import annotations

import contextlib
import os
import sys
import types

import generate


def resident_kib(field: str = "VmRSS") -> int:
    """The resident size now, or with ``field="VmHWM"`` its peak so far."""
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(f"{field}:"):
                return int(line.split()[1])
    raise RuntimeError(f"no {field} in /proc/self/status")


def main() -> None:
    from ardo_old.mind import mind

    path, answer_count, *counts = sys.argv[1:]
    request = types.SimpleNamespace(client_id="bench", user_responses=generate.answers(int(answer_count)), sqlite_database=path)
    done = 0
    sizes = []
    with open(os.devnull, "w") as null, contextlib.redirect_stdout(null):
        for count in map(int, counts):
            for _ in range(count - done):
                mind(request)
            done = count
            sizes.append(resident_kib())
    print("\n".join(map(str, sizes)))


if __name__ == "__main__":
    main()
