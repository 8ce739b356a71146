"""Scoring threads against a file that another process rewrites: every report comes whole from one
committed state, or the call gives up with the host's OperationalError once its wait is over."""

from __future__ import annotations

import os
import sqlite3
import subprocess
import sys
import threading
import time
from collections import Counter
from pathlib import Path
from typing import Callable

import pytest

from ardo_old.mind import mind
from assessment_db import TABLE_ORDER, Request
from state_writer import ANSWERS, STATES, create_database, state_tables

WRITER = Path(__file__).with_name("state_writer.py")
THREADS = 8
LOCKED = "Execution failed on sql 'SELECT * FROM IDs': database is locked"


@pytest.fixture(autouse=True)
def quiet(monkeypatch):
    with open(os.devnull, "w") as devnull:
        monkeypatch.setattr("sys.stdout", devnull)
        yield


def score(path: Path) -> dict:
    return mind(Request("c", ANSWERS, str(path)))


@pytest.fixture(scope="module")
def state_reports(tmp_path_factory) -> dict[int, dict]:
    """The report of every committed state, scored alone."""
    folder = tmp_path_factory.mktemp("states")
    reports = {}
    for k in STATES:
        create_database(folder / f"state{k}.db", "delete", state_tables(k))
        with open(os.devnull, "w") as devnull:
            sys.stdout, stdout = devnull, sys.stdout
            try:
                reports[k] = score(folder / f"state{k}.db")
            finally:
                sys.stdout = stdout
    return reports


def state_of(report: dict, state_reports: dict[int, dict]) -> int:
    for k, expected in state_reports.items():
        if report == expected:
            return k
    raise AssertionError(f"a report of no committed state: {report}")


def test_each_table_shows_its_state(tmp_path, state_reports):
    assert len({repr(r) for r in state_reports.values()}) == len(STATES)
    for name in TABLE_ORDER:
        tables = state_tables(1)
        tables[name] = state_tables(2)[name]
        create_database(tmp_path / f"{name}.db", "delete", tables)
        with pytest.raises(AssertionError, match="no committed state"):
            state_of(score(tmp_path / f"{name}.db"), state_reports)


def score_in_threads(path: Path, stop: Callable[[], bool]) -> list[tuple[str, object, float]]:
    """Each thread scores until stop() says so, at least once; returns (kind, value, seconds) per call."""
    outcomes: list[tuple[str, object, float]] = []

    def worker():
        while True:
            start = time.monotonic()
            try:
                outcome = ("report", score(path))
            except sqlite3.OperationalError as error:
                outcome = ("locked", str(error))
            except Exception as error:  # recorded, so the main thread fails the test
                outcome = ("error", repr(error))
            outcomes.append((*outcome, time.monotonic() - start))
            if stop():
                return

    threads = [threading.Thread(target=worker) for _ in range(THREADS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=60)
    return outcomes


def tally(outcomes, state_reports) -> Counter:
    seen: Counter = Counter()
    for kind, value, _ in outcomes:
        assert kind != "error", value
        if kind == "locked":
            assert value == LOCKED
            seen["locked"] += 1
        else:
            seen[state_of(value, state_reports)] += 1
    return seen


def start_writer(path: Path, *args: str) -> subprocess.Popen:
    return subprocess.Popen([sys.executable, str(WRITER), str(path), *args], stdout=subprocess.PIPE, text=True)


@pytest.mark.parametrize("journal", ["delete", "wal"])
def test_reports_come_whole_from_one_committed_state(tmp_path, state_reports, journal):
    path = tmp_path / "moving.db"
    create_database(path, journal, state_tables(1))
    writer = start_writer(path, "rewrite", "2")
    seen = tally(score_in_threads(path, lambda: writer.poll() is not None), state_reports)
    commits = int(writer.communicate(timeout=30)[0])
    assert writer.returncode == 0
    assert commits > len(STATES), commits
    assert len(seen.keys() - {"locked"}) > 1, f"the readers never saw the file change: {seen}"


@pytest.mark.parametrize("journal, begin", [("delete", "IMMEDIATE"), ("wal", "IMMEDIATE"), ("wal", "EXCLUSIVE")])
def test_an_open_write_is_never_seen(tmp_path, state_reports, journal, begin):
    path = tmp_path / "held.db"
    create_database(path, journal, state_tables(1))
    writer = start_writer(path, "hold", "1.5", begin)
    assert writer.stdout.readline() == "held\n"
    seen = tally(score_in_threads(path, lambda: writer.poll() is not None), state_reports)
    writer.wait(timeout=30)
    assert writer.returncode == 0
    assert set(seen) == {1}, seen


def test_a_writer_holding_the_file_past_the_wait(tmp_path, state_reports):
    path = tmp_path / "locked.db"
    create_database(path, "delete", state_tables(1))
    writer = start_writer(path, "hold", "6.5", "EXCLUSIVE")
    assert writer.stdout.readline() == "held\n"
    outcomes = score_in_threads(path, lambda: True)
    writer.wait(timeout=30)
    assert tally(outcomes, state_reports) == {"locked": THREADS}
    assert all(seconds > 4.5 for _, _, seconds in outcomes), "the calls did not wait for the lock"
    assert state_of(score(path), state_reports) == 1
