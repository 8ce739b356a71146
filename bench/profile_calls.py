"""A steady stream of mind calls for a profiler to watch.

    valgrind --tool=callgrind \
        --toggle-collect='(anonymous namespace)::mind_call(_object*, _object*, _object*)' \
        python bench/profile_calls.py 5000 3

Calls mind CALLS times on the generated database of QUESTIONS questions (or on the database at
--database with QUESTIONS answers), after one warm-up call; with --read, reads the eight tables
through Python's sqlite3 instead, the same way bench/run.py times it.
"""

from __future__ import annotations

import argparse
import contextlib
import functools
import os
from pathlib import Path

import generate
import run


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("questions", type=int)
    parser.add_argument("calls", type=int)
    parser.add_argument("--database", type=Path, help="an existing database instead of the generated one")
    parser.add_argument("--read", action="store_true", help="Python's sqlite3 read instead of mind")
    args = parser.parse_args()
    run.WORK.mkdir(parents=True, exist_ok=True)
    if args.database:
        case = run.Case("given", args.database, generate.answers(args.questions), 0)
    else:
        case = run.generated_case(args.questions)
    call = functools.partial(run.python_read, case.path) if args.read else run.mind_call(case)
    with open(os.devnull, "w") as null, contextlib.redirect_stdout(null):
        for _ in range(args.calls + 1):
            call()


if __name__ == "__main__":
    main()
