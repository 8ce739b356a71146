"""Checking an assessment database: each kind of problem is found where it stands, with the severity
that scoring itself bears out (errors fail a run with valid answers, warnings do not)."""

from __future__ import annotations

import copy
import sqlite3
import subprocess
import sys
from pathlib import Path
from typing import Callable

import pytest

from ardo_old._check import answer_range, check_database, design_warnings
from ardo_old.mind import mind
from assessment_db import EMQ_COLUMNS, PRS_COLUMNS, TRS_COLUMNS, VAK_COLUMNS, Request, Table, write_database

ANSWERS = [1, 2]  # the base database takes exactly two answers

BASE = {
    "IDs": Table(["Title", "Geo_Id"], [["Calm", 1001], ["S1", 2001], ["Asp1", 3001], ["Asp2", 3002],
                                       ["Asp3", 3003], ["K1", 4001], ["K2", 4002], ["K3", 4003]]),
    "PRS": Table(PRS_COLUMNS, [[1, "Y", "Y", None, None], [2, None, None, "Y", "Y"]]),
    "VAK": Table(VAK_COLUMNS, [["A1", None, None, "A2", None], [None, "A3", "A4", None, "A1"]]),
    "EMQ": Table(EMQ_COLUMNS, [["A1", None, "", "A2", None], [None, "A3", None, "A4", "A1"]]),
    "TRS": Table(TRS_COLUMNS, [["A1"] + [None] * 8, [None] * 8 + ["A2"]]),
    "CTD": Table(["Idx", "K1", "K2", "K3"], [[1, "A1", None, "A2"], [2, None, "A3", ""]]),
    "CMF": Table(["Space", "Aspect", "Skill"], [["S1", "Asp1", "K1"], ["S1", "Asp2", "K2"], ["S1", "Asp3", "K3"]]),
    "QTM": Table(["Idx", "Calm"], [[1, "A1"], [2, None]]),
}

Change = Callable[[dict], None]


def set_cell(table: str, row: int, column: str, value: object) -> Change:
    def change(tables: dict) -> None:
        tables[table].rows[row][list(tables[table].columns).index(column)] = value
    return change


def drop_column(table: str, column: str) -> Change:
    def change(tables: dict) -> None:
        t = tables[table]
        keep = [i for i, name in enumerate(t.columns) if name != column]
        tables[table] = Table([t.columns[i] for i in keep], [[row[i] for i in keep] for row in t.rows])
    return change


def add_column(table: str, column: str, cells: list) -> Change:
    def change(tables: dict) -> None:
        t = tables[table]
        tables[table] = Table([*t.columns, column], [[*row, cell] for row, cell in zip(t.rows, cells)])
    return change


def add_row(table: str, row: list) -> Change:
    return lambda tables: tables[table].rows.append(row)


def replace(table: str, new: Table | None) -> Change:
    return lambda tables: tables.__setitem__(table, new)


def undecodable(path: Path) -> None:
    with sqlite3.connect(path) as connection:
        connection.execute("UPDATE QTM SET Calm = CAST(x'ff' AS TEXT) WHERE Idx = 1")
    connection.close()


def build(tmp_path: Path, change: Change | None = None, after: Callable[[Path], None] | None = None) -> Path:
    tables = copy.deepcopy(BASE)
    if change is not None:
        change(tables)
    path = write_database(tmp_path / "assessment.db", tables)
    if after is not None:
        after(path)
    return path


def scoring_fails(path: Path, capsys: pytest.CaptureFixture[str]) -> bool:
    try:
        mind(Request("c", ANSWERS, str(path)))
        return False
    except Exception:
        return True
    finally:
        capsys.readouterr()


def key_problems(path: Path) -> list[tuple]:
    """The problems found but the design warnings, which the keys of a two-question battery are full of."""
    design = {message for _, message in design_warnings(path)}
    return [p for p in check_database(path) if p[4] not in design]


def test_a_sound_database_has_no_problem_and_takes_exactly_its_answer_count(tmp_path):
    assert key_problems(build(tmp_path)) == [
        ("note", None, None, None,
         "a client may give exactly 2 answers (fewer leave a row of EMQ unanswered; more have no row in VAK)")]


def case(change: Change | None, expected: tuple, id: str, after: Callable[[Path], None] | None = None):
    return pytest.param(change, after, expected, id=id)


# Each case: a change to the sound database (its tables, then its file), and the one problem it makes:
# (severity, table, row, column, text).
PROBLEMS = [
    case(replace("PRS", None), ("error", "PRS", None, None, "no such table"), "missing table"),
    case(None, ("error", "QTM", None, None, "holds text that is not UTF-8"), "unreadable table",
         after=undecodable),
    case(drop_column("TRS", "SP"), ("error", "TRS", None, "SP", "no such column"), "missing column"),
    case(replace("EMQ", Table(EMQ_COLUMNS[:4])),
         ("warning", "EMQ", None, "SocialSkills", "harmless only while the table has no rows"),
         "missing column of an empty key"),
    case(set_cell("EMQ", 1, "Empathy", "A5"),
         ("error", "EMQ", 2, "Empathy", '"A5" is not a method code ("A1" to "A4"), yet the tally counts it'),
         "bad emotional code"),
    # The column holds integers and NULLs, so scoring reads the 3 as 3.0.
    case(set_cell("TRS", 0, "PL", 3), ("error", "TRS", 1, "PL", "3.0 is not a method code"), "bad team role code"),
    case(set_cell("QTM", 1, "Calm", "a1"),
         ("warning", "QTM", 2, "Calm", '"a1" is not a method code ("A1" to "A4"); the tally ignores it'),
         "ignored trait code"),
    case(set_cell("CTD", 0, "K2", "A1 "), ("warning", "CTD", 1, "K2", '"A1 " is not a method code'),
         "ignored skill code"),
    case(set_cell("VAK", 1, "KS", "A5"), ("warning", "VAK", 2, "KS", '"A5" is not a method code'),
         "ignored learning-style code"),
    case(set_cell("QTM", 0, "Idx", "A2"), ("error", "QTM", 1, "Idx", '"A2" is a method code, but "Idx"'),
         "method code in Idx"),
    case(add_column("CMF", "Note", ["", "", ""]),
         ("error", "CMF", None, None, "rows are 4 cells wide, not 3 (space, aspect, skill)"),
         "hierarchy row of four cells"),
    case(set_cell("CMF", 2, "Aspect", "Asp2"),
         ("error", "CMF", 1, "Space", 'space "S1" has 2 aspects, but space levels are defined for 3, 4 or 5'),
         "space of two aspects"),
    case(add_row("CMF", ["S1", "Asp3", "K4"]), ("warning", "CMF", 4, "Skill", 'skill "K4" has no column in CTD'),
         "listed skill without a column"),
    case(add_column("CTD", "K9", ["A1", None]), ("warning", "CTD", None, "K9", "no aspect in CMF lists this skill"),
         "column no aspect lists"),
    case(lambda tables: tables["IDs"].rows.pop(0),
         ("warning", "QTM", None, "Calm", 'trait "Calm" has no row in IDs with that title'),
         "trait without identifier"),
    case(lambda tables: tables["IDs"].rows.pop(3),
         ("warning", "CMF", 2, "Aspect", 'aspect "Asp2" has no row in IDs with that title'),
         "aspect without identifier"),
    case(set_cell("IDs", 5, "Geo_Id", None),
         ("warning", "CMF", 1, "Skill", 'skill "K1" has a NULL "Geo_Id" in IDs row 6'),
         "skill with a null identifier"),
    case(add_row("IDs", ["S1", 2999]),
         ("warning", "IDs", 9, "Title", 'the title of space "S1" is here again, after row 2'), "title twice"),
    case(drop_column("IDs", "Geo_Id"),
         ("warning", "IDs", None, "Geo_Id", "every trait, space, aspect and skill would carry null"),
         "identifiers without their column"),
    case(add_row("CTD", [3, None, None, None]),
         ("error", None, None, None,
          "no number of answers can be scored: CTD has 3 rows, each needing an answer, but VAK has 2"),
         "empty answer range"),
]


@pytest.mark.parametrize("change, after, expected", PROBLEMS)
def test_each_kind_of_problem_is_found_where_it_stands(tmp_path, capsys, change, after, expected):
    path = build(tmp_path, change, after)
    found = [p for p in key_problems(path) if p[0] != "note"]
    assert len(found) == 1, found
    *place, text = found[0]
    *expected_place, expected_text = expected
    assert place == expected_place and expected_text in text, found[0]
    # The severity says what scoring does with two valid answers.
    assert scoring_fails(path, capsys) == (expected[0] == "error")


def test_design_warnings_name_the_scale_and_change_no_score(tmp_path, capsys):
    def flawed(tables: dict) -> None:
        tables["VAK"].rows.append([None] * 5)  # a third question that no key counts
        tables["CMF"].rows += [["S1", "Asp1", "K1"]] * 12  # 13 listings of a 4-point skill: 52 of 48
    path = build(tmp_path, flawed)
    warnings = design_warnings(path)
    assert (None, "question 3 counts for no scale: the answers to it change no score") in warnings
    assert ("Spaces.S1.Asp1.percentage",
            'aspect "Asp1" can total 52 points, above the 48 its percentage divides by: it reads up to 108.33 %') in warnings
    calm = 'trait "Calm" totals at most 4 points, below 10 and 16 where "rebalanced" and "balanced" begin: ' \
           'those levels are never given'
    assert ("Traits.Calm.score", calm) in warnings
    assert ("Roles.CO", 'scale "Roles.CO" counts no question: its total is always 0') in warnings
    listed = [p for p in check_database(path) if p[0] == "warning"]
    assert sorted(p[4] for p in listed) == sorted(m for _, m in warnings)  # grouped by table
    assert ("warning", "QTM", None, "Calm", calm) in listed
    assert not scoring_fails(path, capsys)
    # The sample battery: every skill's levels above its reach, and nothing else.
    sample = design_warnings(Path(sys.modules["ardo_old"].__file__).with_name("data") / "sample.db")
    assert len(sample) == 30 and all("below 25 and 30 where" in message for _, message in sample)


def test_answer_range_spans_the_longest_tallied_key_to_the_learning_style_key(tmp_path):
    vak = Table(VAK_COLUMNS, [[None] * 5 for _ in range(5)])
    path = build(tmp_path, replace("VAK", vak))
    [note] = key_problems(path)
    assert note == ("note", None, None, None,
                    "a client may give 2 to 5 answers (fewer leave a row of EMQ unanswered; more have no row in VAK)")
    assert answer_range(path) == (2, 5)


@pytest.mark.parametrize("change", [add_row("CTD", [3, None, None, None]), replace("VAK", None), replace("QTM", None)],
                         ids=["no count works", "no VAK", "no tallied key"])
def test_answer_range_is_none_where_the_check_gives_no_range(tmp_path, change):
    assert answer_range(build(tmp_path, change)) is None


def run_check(*args: str, cwd: Path) -> subprocess.CompletedProcess:
    return subprocess.run([sys.executable, "-m", "ardo_old", "check", *args], cwd=cwd, capture_output=True,
                          text=True, timeout=120)


def test_command_prints_each_problem_on_its_own_line_and_exits_1_on_an_error(tmp_path):
    def broken(tables: dict) -> None:
        set_cell("EMQ", 1, "Empathy", "A5")(tables)
        set_cell("QTM", 1, "Calm", "a1")(tables)

    done = run_check("--db", str(build(tmp_path, broken)), cwd=tmp_path)
    assert done.returncode == 1, done.stderr
    assert done.stdout.splitlines() == [
        'error: EMQ, row 2, column "Empathy": "A5" is not a method code ("A1" to "A4"), yet the tally counts it: '
        "scoring fails on it (KeyError)",
        'warning: QTM, row 2, column "Calm": "a1" is not a method code ("A1" to "A4"); the tally ignores it',
        "note: a client may give exactly 2 answers (fewer leave a row of EMQ unanswered; more have no row in VAK)",
        "1 error, 1 warning",
    ]


@pytest.mark.parametrize("db, status", [("sound", 0), ("warned", 0), ("sample", 0), ("absent", 1)])
def test_command_exits_0_unless_there_is_an_error(tmp_path, db, status):
    paths = {
        "sound": lambda: ["--db", str(build(tmp_path))],
        "warned": lambda: ["--db", str(build(tmp_path, add_column("CTD", "K9", ["A1", None])))],
        "sample": lambda: [],
        "absent": lambda: ["--db", str(tmp_path / "absent.db")],
    }
    done = run_check(*paths[db](), cwd=tmp_path)
    assert done.returncode == status, done.stdout + done.stderr
    assert "Traceback" not in done.stderr
    assert not (tmp_path / "absent.db").exists()
