from __future__ import annotations

import importlib.util
import os
from pathlib import Path
from typing import Callable

import pytest

from assessment_db import VAK_COLUMNS, Request, Table, empty_tables, write_database

# The real-SDK tests run in environments of their own (scripts/test-audio-sdk). In CI the other runs
# leave them out rather than skip them, since a skip there would read as a missing component.
if os.environ.get("CI") == "true" and importlib.util.find_spec("elevenlabs") is None:
    collect_ignore = ["test_audio_sdk.py"]


@pytest.fixture
def make_db(tmp_path: Path) -> Callable[..., Path]:
    """make_db(NAME=Table(...), ...): every table empty unless given, but "VAK", which has 100 blank
    rows since every answer needs its row there; NAME=None leaves a table out."""
    counter = iter(range(1_000_000))

    def build(**tables: Table | None) -> Path:
        all_tables: dict[str, Table | None] = dict(empty_tables())
        all_tables["VAK"] = Table(VAK_COLUMNS, [[None] * 5 for _ in range(100)])
        all_tables.update(tables)
        return write_database(tmp_path / f"assessment{next(counter)}.db", all_tables)

    return build


@pytest.fixture
def score(make_db: Callable[..., Path], capsys: pytest.CaptureFixture[str]) -> Callable[..., dict]:
    """score(answers, **tables): the report of mind() on a fresh database; diagnostic lines swallowed."""
    from ardo_old.mind import mind

    def run(answers: list, client_id: object = "client", **tables: Table | None) -> dict:
        report = mind(Request(client_id, answers, make_db(**tables)))
        capsys.readouterr()
        return report

    return run


def open_descriptors_to(path: Path) -> list[str]:
    """Descriptors of this process that point at the file."""
    found = []
    fd_dir = Path("/proc/self/fd")
    for entry in fd_dir.iterdir():
        try:
            if os.path.realpath(entry) == os.path.realpath(path):
                found.append(entry.name)
        except OSError:
            continue
    return found
