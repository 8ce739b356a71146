"""Resident size stays flat over many calls, on the path to a report and on every failure path.

ARDO_RSS_CALLS sets the number of measured calls (a long run: 100000). Skipped under the sanitizers,
whose quarantine and shadow memory make the resident size meaningless."""

from __future__ import annotations

import contextlib
import os
import sqlite3
from pathlib import Path

import pytest

from ardo_old.mind import mind
from assessment_db import EMQ_COLUMNS, PRS_COLUMNS, VAK_COLUMNS, Request, Table
from isolated import resident_bytes

MiB = 1024 * 1024
CALLS = int(os.environ.get("ARDO_RSS_CALLS", "20000"))
FAILING_CALLS = CALLS // 5

pytestmark = pytest.mark.skipif(bool(os.environ.get("ARDO_SANITIZED")), reason="resident size means nothing under the sanitizers")


class Faulty:
    def __eq__(self, other):
        raise ArithmeticError("cannot compare")

    __hash__ = object.__hash__


def small_tables() -> dict[str, Table]:
    answers = 8
    return {
        "IDs": Table(["Title", "Geo_Id"], [["T1", 1], ["S1", "space"], ["P1", 2.5], ["K1", None]]),
        "PRS": Table(PRS_COLUMNS, [[q, "Y", "Y" if q % 2 else None, "Y", None] for q in range(1, answers + 1)]),
        "VAK": Table(VAK_COLUMNS, [["A1", "A2", "A3", "A4", "A1"]] * answers),
        "EMQ": Table(EMQ_COLUMNS, [["A1", "", None, "A4", "A2"]] * answers),
        "CTD": Table(["Idx", "K1", "K2"], [[q, "A3", "A1"] for q in range(answers)]),
        "CMF": Table(["Space", "Aspect", "Skill"], [["S1", a, k] for a in ("P1", "P2", "P3") for k in ("K1", "K2", "K3")]),
        "QTM": Table(["Idx", "T1", "T2"], [[q, "A1", "A2"] for q in range(answers)]),
    }


def growth_over_calls(request: Request, expected: type[BaseException] | None, calls: int) -> int:
    def call():
        if expected is None:
            mind(request)
        else:
            with contextlib.suppress(expected):
                mind(request)
                raise AssertionError("the call did not fail")

    # Warm up until the allocators and SQLite's caches have settled.
    for _ in range(calls // 10):
        call()
    before = resident_bytes()
    for _ in range(calls):
        call()
    return resident_bytes() - before


@pytest.fixture
def quiet(monkeypatch):
    """Diagnostic lines go to a real file, so writing them is measured too and nothing piles up."""
    with open(os.devnull, "w") as devnull:
        monkeypatch.setattr("sys.stdout", devnull)
        yield


def test_reports_keep_resident_size_flat(make_db, quiet):
    path = make_db(**small_tables())
    assert mind(Request("c", [1, 2, 3, 4, 4, 3, 2, 1], str(path)))["Traits"][0]["id"] == 1
    assert growth_over_calls(Request("c", [1, 2, 3, 4, 4, 3, 2, 1], str(path)), None, CALLS) < 4 * MiB


@pytest.mark.parametrize(
    "change, answers, expected",
    [
        ({"QTM": None}, [1] * 8, sqlite3.OperationalError),
        ({"EMQ": Table(["SelfAwarness"], [["A1"]] * 8)}, [1] * 8, KeyError),
        ({}, [1] * 7, IndexError),
        ({}, [1, 2, Faulty(), 4, 1, 2, 3, 4], ArithmeticError),
    ],
    ids=["database error", "missing column", "missing answer", "answer raises"],
)
def test_failures_keep_resident_size_flat(make_db, quiet, change, answers, expected):
    path: Path = make_db(**{**small_tables(), **change})
    assert growth_over_calls(Request("c", answers, str(path)), expected, FAILING_CALLS) < 2 * MiB
