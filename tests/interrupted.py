"""One scoring call (of mind, or of a cohort of one) in a child interpreter that the test can
interrupt with a real SIGINT.

As a script it is the child: `python interrupted.py '{"path": ..., "answers": ...}'`, the answers a
list, "interrupting" (one answer whose comparison raises KeyboardInterrupt) or "endless". It says "calling"
just before the call, then reports its outcome and whether it left the database open.
"""

from __future__ import annotations

import itertools
import json
import os
import resource
import signal
import subprocess
import sys
import threading
import time
from pathlib import Path
from typing import Any

from ardo_old.cohort import score_cohort
from ardo_old.mind import mind
from assessment_db import Request

MEMORY_CAP = 4 << 30


class InterruptingAnswer:
    """An answer whose comparison raises KeyboardInterrupt, as Ctrl-C during a slow __eq__ would."""

    def __eq__(self, other: object) -> bool:
        raise KeyboardInterrupt

    __hash__ = object.__hash__


def call_interrupted(path: Path | str, answers: list | str, sigint_after: float | None, timeout: float = 60,
                     cohort: bool = False) -> dict[str, Any]:
    """The child's outcome ("report" or the error's type name, "message", "left_open"), with
    "ms_after_sigint": how long after the signal the child reported."""
    request = json.dumps({"path": str(path), "answers": answers, "cohort": cohort})
    child = subprocess.Popen([sys.executable, __file__, request], stdout=subprocess.PIPE, text=True)
    # A child that never answers is killed, so its test fails instead of hanging the suite.
    deadline = threading.Timer(timeout, child.kill)
    deadline.start()
    try:
        assert child.stdout.readline() == "calling\n"
        sent = None
        if sigint_after is not None:
            time.sleep(sigint_after)
            sent = time.monotonic()
            child.send_signal(signal.SIGINT)
        result = json.loads(child.stdout.readline())
        if sent is not None:
            result["ms_after_sigint"] = (time.monotonic() - sent) * 1000
        assert child.wait(timeout) == 0
    finally:
        deadline.cancel()
        child.kill()
        child.wait()
    return result


def _open_files(path: str) -> int:
    real = os.path.realpath(path)
    fds = Path("/proc/self/fd")
    return sum(1 for fd in fds.iterdir() if os.path.realpath(fd).startswith(real))


def _main(request: dict[str, Any]) -> None:
    if not os.environ.get("ARDO_SANITIZED"):  # the sanitizers reserve far more address space
        resource.setrlimit(resource.RLIMIT_AS, (MEMORY_CAP, MEMORY_CAP))
    special = {"interrupting": [InterruptingAnswer()], "endless": itertools.repeat(1)}
    answers = special[request["answers"]] if isinstance(request["answers"], str) else request["answers"]
    # The disposition of SIGINT is inherited: a shell without job control starts its background jobs
    # with SIGINT ignored, and an interpreter started so installs no handler of its own.
    signal.signal(signal.SIGINT, signal.default_int_handler)
    print("calling", flush=True)
    out, sys.stdout = sys.stdout, open(os.devnull, "w")
    try:
        client = Request("child", answers, request["path"])
        if request["cohort"]:
            [outcome] = score_cohort(request["path"], [client])
            if isinstance(outcome, Exception):
                raise outcome
        else:
            mind(client)
        result = {"outcome": "report", "message": ""}
    except BaseException as error:  # noqa: BLE001 - the outcome is what is reported
        result = {"outcome": type(error).__name__, "message": str(error)[:300]}
    result["left_open"] = _open_files(request["path"])
    print(json.dumps(result), file=out, flush=True)


if __name__ == "__main__":
    _main(json.loads(sys.argv[1]))
