"""Where a mind call spends its instructions, by part: SQLite, the scoring core, the host glue, CPython.

    python bench/profile.py 5000            # 3 calls on the 5,000-question database
    python bench/profile.py 50 --calls 20
    python bench/profile.py 5000 --read     # Python's own sqlite3 read, for comparison
    python bench/profile.py 5000 --floor    # the floor program

Instruction counts from callgrind hold still on a busy machine where times do not. The program runs
twice under callgrind, once with the warm-up call alone and once with CALLS more calls; the
difference, divided by CALLS, is one call's cost, the freeing of its report included. Symbols of
the scoring core and the glue need an unstripped build:

    pip install . -Cinstall.strip=false "-Ccmake.define.CMAKE_CXX_FLAGS_RELEASE=-O3 -DNDEBUG -g"
"""

from __future__ import annotations

import argparse
import collections
import re
import subprocess
import sys
import tempfile
from pathlib import Path

import run

# One line of callgrind_annotate: "1,234 (5.6%)  file:function [object]"; the object is left out
# for code inlined from another file.
LINE = re.compile(r"^\s*([\d,]+)\s+\([^)]*\)\s+(.*?)(?:\s+\[(.*)\])?$")
# SQLite's per-cell interface, paid by every reader of every cell, apart from its stepping.
COLUMN_API = re.compile(r"sqlite3_(column|value)_\w+|sqlite3ValueText|sqlite3ValueBytes|sqlite3_mutex_\w+|sqlite3ApiExit")


def part_of(function: str, obj: str | None) -> str:
    if obj and "libsqlite3" in obj:
        return "SQLite column interface" if COLUMN_API.fullmatch(function) else "SQLite stepping"
    if obj and ("libpython" in obj or "/bin/python" in obj):
        return "CPython"
    if obj and "ardo_floor" in obj:
        return "floor program"
    if obj and ("libc.so" in obj or "ld-linux" in obj or "libstdc++" in obj):
        return "libc/libstdc++ (malloc, memcpy)"
    if function.startswith("(anonymous namespace)::") or "host::" in function:
        return "glue (src/host, module.cpp)"
    return "mind_core" if "mind::" in function else "other"


def self_costs(profile: Path) -> dict[tuple[str, str | None], int]:
    text = subprocess.run(["callgrind_annotate", "--threshold=100", str(profile)], capture_output=True, text=True, check=True).stdout
    costs: dict[tuple[str, str | None], int] = collections.Counter()
    listing = text.split("file:function", 1)[1].split("-- Auto-annotated source", 1)[0]
    for line in listing.splitlines():
        match = LINE.match(line)
        if match:
            count, where, obj = match.groups()
            function = where.split(":", 1)[1] if ":" in where else where
            costs[(function, obj)] += int(count.replace(",", ""))
    return costs


def callgrind(command: list[str], out: Path) -> None:
    subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", *command], capture_output=True, check=True)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("questions", type=int)
    parser.add_argument("--calls", type=int, default=3)
    parser.add_argument("--read", action="store_true", help="profile Python's sqlite3 read instead of mind")
    parser.add_argument("--floor", action="store_true", help="profile the floor program instead of mind")
    parser.add_argument("--top", type=int, default=12, help="functions listed outside SQLite")
    args = parser.parse_args()
    run.WORK.mkdir(parents=True, exist_ok=True)
    case = run.generated_case(args.questions)  # written now, so neither profiled run writes it
    if args.floor:
        floor = str(run.build_floor())
        commands = [[floor, str(n), str(case.path)] for n in (1, 1 + args.calls)]
    else:
        driver = [sys.executable, str(Path(__file__).with_name("profile_calls.py")), str(args.questions)]
        commands = [[*driver, str(n), *(["--read"] if args.read else [])] for n in (0, args.calls)]
    with tempfile.TemporaryDirectory() as tmp:
        base, full = Path(tmp, "base.out"), Path(tmp, "full.out")
        callgrind(commands[0], base)
        callgrind(commands[1], full)
        before, after = self_costs(base), self_costs(full)
    per_call = {key: (after[key] - before.get(key, 0)) / args.calls for key in after}
    total = sum(per_call.values())
    parts: dict[str, float] = collections.Counter()
    for (function, obj), cost in per_call.items():
        parts[part_of(function, obj)] += cost
    what = "floor" if args.floor else "Python sqlite3 read" if args.read else "mind"
    print(f"{what}, {args.questions:,} questions: {total / 1e6:,.1f} M instructions per call")
    for part, cost in sorted(parts.items(), key=lambda p: -p[1]):
        print(f"  {part:<34} {cost / 1e6:10,.2f} M  {100 * cost / total:5.1f}%")
    print("top functions outside SQLite (self cost per call):")
    # Code inlined from headers is listed under the function it was inlined into.
    functions: dict[tuple[str, str], float] = collections.Counter()
    for (function, obj), cost in per_call.items():
        if not (obj and "libsqlite3" in obj):
            functions[(function, part_of(function, obj))] += cost
    for (function, part), cost in sorted(functions.items(), key=lambda f: -f[1])[: args.top]:
        print(f"  {cost / 1e6:8,.2f} M  {100 * cost / total:5.1f}%  {part:<20.20}  {function[:110]}")


if __name__ == "__main__":
    main()
