"""Scoring calls in a child interpreter, so that a crash fails one test instead of ending the run.

The child scores each database once to warm up, then `calls` more times, and reports every outcome
with its resident size before and after the repeated calls and its peak size. As a script it is the
child: `python isolated.py '{"paths": [...], ...}'`.
"""

from __future__ import annotations

import json
import os
import resource
import sqlite3
import subprocess
import sys
from pathlib import Path
from typing import Any

from ardo_old.mind import mind
from assessment_db import Request
from report_shape import check_report

NOBODY = 65534


def resident_bytes() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def score_in_child(paths: list[Path | str], answers: list | None = None, calls: int = 3, as_nobody: bool = False,
                   timeout: float = 120) -> list[dict[str, Any]]:
    """One result per path: "outcome" ("report" or the error's type name), then "message" for an error
    or a digest of the report ("traits", "spaces", "vak"), and "rss_before", "rss_after", "peak" in
    bytes. Fails the test when the child dies."""
    request = {"paths": [str(p) for p in paths], "answers": answers or [], "calls": calls, "as_nobody": as_nobody}
    child = subprocess.run([sys.executable, __file__, json.dumps(request)], capture_output=True, text=True, timeout=timeout)
    assert child.returncode == 0, f"the child died with status {child.returncode}:\n{child.stderr[-4000:]}"
    return json.loads(child.stdout.splitlines()[-1])


def _outcome(path: str, answers: list) -> dict[str, Any]:
    try:
        report = mind(Request("child", answers, path))
    except (KeyError, IndexError, TypeError, ValueError, sqlite3.Error) as error:
        return {"outcome": type(error).__name__, "message": str(error)[:300]}
    check_report(report)
    # A text identifier goes by its length: it may be 100 MB.
    traits = [(t["name"], t["score"], len(t["id"]) if isinstance(t["id"], (str, bytes)) else t["id"]) for t in report["Traits"]]
    return {"outcome": "report", "traits": traits, "spaces": len(report["Spaces"]), "vak": report["vak"]}


def _main(request: dict[str, Any]) -> None:
    # Everything is imported above, while the interpreter's files are still readable.
    sys.stdout = open(os.devnull, "w")
    if request["as_nobody"]:
        os.setgid(NOBODY)
        os.setuid(NOBODY)
    results = []
    for path in request["paths"]:
        first = _outcome(path, request["answers"])
        before = resident_bytes()
        for _ in range(request["calls"]):
            again = _outcome(path, request["answers"])
            assert again == first, f"{path}: {first} then {again}"
        after = resident_bytes()
        first.update(rss_before=before, rss_after=after, peak=resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024)
        results.append(first)
    sys.stdout = sys.__stdout__
    print(json.dumps(results))


if __name__ == "__main__":
    _main(json.loads(sys.argv[1]))
