"""The shipped sample database: built from its source, coherent, scoring to a full report."""

from __future__ import annotations

import json
import runpy
import sqlite3
from importlib import resources
from pathlib import Path

import pytest

from assessment_db import Request

DATA = resources.files("ardo_old").joinpath("data")
BUILDER = Path(__file__).resolve().parent.parent / "scripts" / "build_sample_db.py"


@pytest.fixture(scope="module")
def sample_db():
    with resources.as_file(DATA.joinpath("sample.db")) as path:
        yield path


@pytest.fixture(scope="module")
def sample_answers() -> list:
    return json.loads(DATA.joinpath("sample_answers.json").read_text(encoding="utf-8"))


def query(path: Path, sql: str) -> list[tuple]:
    connection = sqlite3.connect(path)
    try:
        return connection.execute(sql).fetchall()
    finally:
        connection.close()


def dump(path: Path) -> dict[str, tuple[str, list[list[str]]]]:
    """Each table's schema and rows, cells as repr so that 3 and 3.0 differ."""
    schema = query(path, "SELECT name, sql FROM sqlite_master WHERE type = 'table'")
    return {name: (sql, [[repr(c) for c in row] for row in query(path, f'SELECT * FROM "{name}"')])
            for name, sql in schema}


def column(path: Path, table: str, name: str) -> list:
    return [cell for (cell,) in query(path, f'SELECT "{name}" FROM "{table}"')]


def trait_or_skill_columns(path: Path, table: str) -> list[str]:
    return [name for _, name, *_ in query(path, f'PRAGMA table_info("{table}")') if name != "Idx"]


def row_count(path: Path, table: str) -> int:
    return query(path, f'SELECT count(*) FROM "{table}"')[0][0]


def test_shipped_database_is_what_its_source_builds(sample_db, tmp_path):
    build = runpy.run_path(str(BUILDER), run_name="build_sample_db")["build"]
    rebuilt = build(tmp_path / "rebuilt.db")
    assert dump(sample_db) == dump(rebuilt)


def test_sample_answers_fit_the_battery(sample_db, sample_answers):
    # The tallying keys need an answer for every row; the learning-style key a row for every answer.
    longest_tally = max(row_count(sample_db, t) for t in ("EMQ", "TRS", "QTM", "CTD"))
    assert longest_tally <= len(sample_answers) <= row_count(sample_db, "VAK")
    assert all(type(answer) is int and 1 <= answer <= 4 for answer in sample_answers)


def test_every_scored_name_has_one_identifier_and_every_skill_a_key(sample_db):
    titles = column(sample_db, "IDs", "Title")
    assert len(titles) == len(set(titles))
    hierarchy = query(sample_db, 'SELECT "Space", "Aspect", "Skill" FROM "CMF"')
    traits = trait_or_skill_columns(sample_db, "QTM")
    assert {name for row in hierarchy for name in row} | set(traits) <= set(titles)
    # A hierarchy skill missing from the key would silently drop out of its aspect.
    assert {skill for _, _, skill in hierarchy} == set(trait_or_skill_columns(sample_db, "CTD"))


def test_sample_client_scores_to_a_complete_report(sample_db, sample_answers, capsys):
    from ardo_old.mind import mind

    report = mind(Request("sample", sample_answers, str(sample_db)))
    capsys.readouterr()
    assert [t["name"] for t in report["Traits"]] == trait_or_skill_columns(sample_db, "QTM")
    assert all(t["id"] is not None for t in report["Traits"])
    assert len(report["Personality_Type"]["title"]) == 4
    assert report["Spaces"]
    for space in report["Spaces"]:
        assert space["space_id"] is not None
        assert 3 <= len(space["aspects"]) <= 5
        assert 0 <= space["percentage"] <= 100
        for aspect in space["aspects"]:
            assert aspect["space_id"] == space["space_id"]
            assert aspect["aspect_id"] is not None
            assert 0 <= aspect["percentage"] <= 100
            assert aspect["skills"]
            assert all(s["skill_id"] is not None and s["aspect_id"] == aspect["aspect_id"]
                       for s in aspect["skills"])


def test_sample_database_passes_the_check_warned_only_of_skill_levels_never_given(sample_db):
    from ardo_old._check import check_database

    # Every skill totals at most 12 points, while its levels change at 25 and 30.
    problems = [problem for problem in check_database(sample_db) if problem[0] != "note"]
    assert [(severity, table, name) for severity, table, _, name, _ in problems] == \
        [("warning", "CTD", name) for name in trait_or_skill_columns(sample_db, "CTD")]
    assert all(message.endswith("those levels are never given") for *_, message in problems)
