"""`score --clients` run as a user runs it, on generated mixes of lines, options and output targets:
one strict-JSON line out per line in that is not blank, in order, with --html a whole index of the
lines written, an honest status, no traceback, flat memory; and what ends a run early: the input as output, Ctrl-C, a failing source."""

from __future__ import annotations

import fcntl
import itertools
import json
import os
import resource
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time
from importlib import resources
from pathlib import Path
from typing import Any

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from ardo_old.cohort_cli import score_lines
from test_generated_inputs import EXAMPLES

DATA = resources.files("ardo_old") / "data"
ANSWERS = json.loads((DATA / "sample_answers.json").read_text())


def client(client_id: Any, answers: list[Any]) -> bytes:
    return json.dumps({"client_id": client_id, "answers": answers}).encode()


# kind: line n -> (the line, what it gives: "report", "error" or None for no output line)
KINDS = {
    "good": lambda n: (client(f"c{n}", ANSWERS[n % 82:] + ANSWERS[:n % 82]), "report"),
    "short": lambda n: (client(n, ANSWERS[:n % 82]), "error"),
    "outside 1 to 4": lambda n: (client(n, [5] * 82), "error"),
    "not JSON": lambda n: (b'{"client_id": %d, "answers": [1' % n, "error"),
    "no answers": lambda n: (b'{"client_id": %d}' % n, "error"),
    "not an object": lambda n: (b"[1, 2]", "error"),
    "NaN id": lambda n: (b'{"client_id": NaN, "answers": %s}' % json.dumps(ANSWERS).encode(), "report"),
    "infinite id": lambda n: (b'{"client_id": -1e999, "answers": []}', "error"),
    "not UTF-8": lambda n: (b'{"client_id": "\xff", "answers": []}', "error"),
    "blank": lambda n: (b" \t\r", None),
    "huge id": lambda n: (client("x" * 300_000, ANSWERS), "report"),
    "huge answers": lambda n: (client(n, [1] * 200_000), "error"),
    "deep id": lambda n: (b'{"client_id": %s, "answers": []}' % (b"[" * 995 + b"]" * 995), "error"),
}
FLOODS = ["no answers", "not JSON", "blank"]  # cheap lines, many of them: what is held shows in memory
TARGETS = ["file", "pipe", "standard output a file", "/dev/full", "a file that fills up"]


@st.composite
def runs(draw: st.DrawFn) -> dict[str, Any]:
    kinds = draw(st.lists(st.sampled_from(list(KINDS)), max_size=12))
    flood = draw(st.sampled_from([0, 0, 40_000]))
    kinds[draw(st.integers(0, len(kinds))):0] = [draw(st.sampled_from(FLOODS))] * flood
    return {"kinds": kinds, "jobs": draw(st.sampled_from([None, "1", "3"])), "stdin": draw(st.booleans()),
            "db": draw(st.booleans()), "target": draw(st.sampled_from(TARGETS)), "room": draw(st.integers(300, 20_000)),
            "html": draw(st.booleans())}


def shown_id(line: bytes) -> Any:
    client_id = json.loads(line)["client_id"]
    return "NaN" if client_id != client_id else client_id


def strict(line: bytes) -> Any:
    def refuse(constant: str) -> None:
        raise AssertionError(f"{constant} is not JSON")

    return json.loads(line, parse_constant=refuse)


@pytest.fixture(scope="module")
def baseline(tmp_path_factory) -> int:
    """Peak resident size of a run of one client, in KiB."""
    path = tmp_path_factory.mktemp("baseline") / "one.jsonl"
    path.write_bytes(KINDS["good"](0)[0] + b"\n")
    return run_score(["--clients", str(path)], path.parent)[2]


# The run's own peak resident size after exec (VmHWM), left in the file "peak": the maximum resident
# size that wait4 gives would start from the size of the test process that forked it.
SCORE_AND_TELL_PEAK = """
import sys
from ardo_old.cli import main
try:
    sys.exit(main(["score", *sys.argv[1:]]))
finally:
    with open("peak", "w") as peak:
        peak.write(next(line.split()[1] for line in open("/proc/self/status") if line.startswith("VmHWM:")))
"""


def run_score(args: list[str], cwd: Path, stdout: int | str = subprocess.DEVNULL, stdin: str | None = None,
              room: int | None = None) -> tuple[int, bytes, int]:
    """Status, standard error and peak resident size (KiB) of one run; standard output to a pipe,
    read into the file "piped", or appended to the file named."""
    def limit() -> None:
        if room is not None:  # the file size limit stands in for a disk that fills up
            resource.setrlimit(resource.RLIMIT_FSIZE, (room, room))

    with open(cwd / "stderr", "wb") as errors, open(stdin or os.devnull, "rb") as source, \
            open(stdout, "ab") if isinstance(stdout, str) else open(os.devnull) as target:
        child = subprocess.Popen([sys.executable, "-c", SCORE_AND_TELL_PEAK, *args], cwd=cwd, stdin=source,
                                 stdout=target if isinstance(stdout, str) else stdout, stderr=errors, preexec_fn=limit)
    (cwd / "piped").write_bytes(child.stdout.read() if child.stdout else b"")
    child.wait()
    return child.returncode, (cwd / "stderr").read_bytes(), int((cwd / "peak").read_text())


@settings(max_examples=max(8, EXAMPLES // 20), deadline=None,
          suppress_health_check=[HealthCheck.too_slow, HealthCheck.function_scoped_fixture])
@given(run=runs())
def test_every_line_gets_one_whole_strict_json_line_in_order(run, baseline):
    with tempfile.TemporaryDirectory() as folder:
        checked_run(run, Path(folder), baseline)


def checked_run(run: dict[str, Any], tmp_path: Path, baseline: int) -> None:
    lines = [KINDS[kind](n) for n, kind in enumerate(run["kinds"], 1)]
    (tmp_path / "in.jsonl").write_bytes(b"".join(line + b"\n" for line, _ in lines))
    expected = [(n, outcome) for n, (_, outcome) in enumerate(lines, 1) if outcome is not None]
    args = ["--clients", "-" if run["stdin"] else "in.jsonl", *(["--jobs", run["jobs"]] if run["jobs"] else []),
            *(["--db", str(DATA / "sample.db")] if run["db"] else [])]
    target = run["target"]
    html = run["html"] and target != "a file that fills up"  # its size limit would hold for the pages too
    if target in ("file", "a file that fills up"):
        args += ["--out", "out.jsonl"]
    if html:
        args += ["--html", "pages"]
    stdout = {"pipe": subprocess.PIPE, "/dev/full": "/dev/full", "standard output a file": str(tmp_path / "out.jsonl")}
    status, errors, peak = run_score(args, tmp_path, stdout.get(target, subprocess.DEVNULL),
                                     str(tmp_path / "in.jsonl") if run["stdin"] else None,
                                     run["room"] if target == "a file that fills up" else None)
    output = tmp_path / ("piped" if target == "pipe" else "out.jsonl")
    written = output.read_bytes() if output.exists() else b""
    assert written.endswith(b"\n") or not written
    got = [strict(line) for line in written.splitlines()]
    assert [(g["line"], "error") if "error" in g else (g["client_id"], "report") for g in got] == \
        [(n, outcome) if outcome == "error" else (shown_id(lines[n - 1][0]), outcome)
         for n, outcome in expected[:len(got)]]

    assert b"Traceback" not in errors and errors.count(b"\n") <= 1
    failed = [n for n, outcome in expected if outcome == "error"]
    if len(got) < len(expected):
        assert target in ("/dev/full", "a file that fills up") and status == 1
        assert errors.startswith(b"ardo_old score: error: cannot write ")
    elif failed:
        summary = f"ardo_old score: error: {len(failed)} of {len(expected)} clients failed: line"
        assert status == 1 and errors.startswith(summary.encode()) and f" {failed[0]}".encode() in errors
    else:
        assert (status, errors) == (0, b"")
    if html:
        pages_written(tmp_path / "pages", got)
    if not os.environ.get("ARDO_SANITIZED"):  # their shadow memory makes the resident size meaningless
        huge = sum(len(line) for line, _ in lines if len(line) > 100_000)
        assert peak - baseline < 30 * 1024 + 8 * huge // 1024


def pages_written(folder: Path, got: list[Any]) -> None:
    """However the run ended, the index is whole and counts every line written, with a page per report."""
    index = (folder / "index.html").read_text()
    reports = sum("error" not in g for g in got)
    assert index.rstrip().endswith("</html>")
    assert f"{len(got)} clients, {reports} scored, {len(got) - reports} failed." in index
    assert len(os.listdir(folder)) == reports + 1


@pytest.mark.parametrize("output", ["same name", "symbolic link", "hard link", "standard output", "the database"])
def test_a_run_refuses_to_write_over_what_it_reads(tmp_path, output):
    source = tmp_path / "in.jsonl"
    source.write_bytes(KINDS["good"](1)[0] + b"\n")
    database = tmp_path / "copy.db"
    database.write_bytes((DATA / "sample.db").read_bytes())
    if output == "symbolic link":
        (tmp_path / "out").symlink_to(source)
    elif output == "hard link":
        os.link(source, tmp_path / "out")
    targets = {"same name": ["--out", str(source)], "the database": ["--out", str(database), "--format", "jsonl"], "standard output": []}
    args = ["--clients", "in.jsonl", "--db", str(database), *targets.get(output, ["--out", "out"])]
    status, errors, _ = run_score(args, tmp_path, str(source) if output == "standard output" else subprocess.DEVNULL)
    assert status == 1 and b"refusing to write" in errors and errors.count(b"\n") == 1
    assert source.read_bytes() == KINDS["good"](1)[0] + b"\n" and database.read_bytes() == (DATA / "sample.db").read_bytes()


def test_ctrl_c_into_a_stalled_pipe_leaves_whole_lines(tmp_path):
    # Lines longer than a pipe takes in one write, so the child waits with part of one in the pipe;
    # one thread, so that the signal meets the thread that writes.
    (tmp_path / "in.jsonl").write_bytes(b"".join(client(f"{n:09}" * 2000, ANSWERS) + b"\n" for n in range(300)))
    child = subprocess.Popen([sys.executable, "-m", "ardo_old", "score", "--clients", "in.jsonl", "--jobs", "1"],
                             cwd=tmp_path, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
    room, deadline = fcntl.fcntl(child.stdout.fileno(), fcntl.F_GETPIPE_SZ), time.monotonic() + 60
    while held(child.stdout.fileno()) < room - 4096 and time.monotonic() < deadline:  # full, to a page
        time.sleep(0.05)
    child.send_signal(signal.SIGINT)
    time.sleep(0.5)  # the child meets it with the pipe still full
    written, errors = child.communicate(timeout=60)
    assert (child.returncode, errors) == (130, b"ardo_old score: interrupted\n")
    assert 0 < written.count(b"\n") < 300 and written.endswith(b"\n")
    assert all(strict(line)["Personality_Type"] for line in written.splitlines())


def held(descriptor: int) -> int:
    return struct.unpack("i", fcntl.ioctl(descriptor, termios.FIONREAD, b"\0" * 4))[0]


def test_a_failing_source_ends_the_results_after_every_line_it_gave():
    def source():
        yield from [KINDS["good"](1)[0], b"{", b"", KINDS["short"](4)[0]]
        raise OSError("the disk is gone")

    results = score_lines(DATA / "sample.db", source())
    assert [(s.line, s.error is None) for s in itertools.islice(results, 3)] == [(1, True), (2, False), (4, False)]
    with pytest.raises(OSError, match="the disk is gone"):
        next(results)
