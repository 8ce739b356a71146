"""Builds assessment databases for tests from plain Python lists."""

from __future__ import annotations

import sqlite3
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Iterable, Sequence

TABLE_ORDER = ("IDs", "PRS", "VAK", "EMQ", "TRS", "CTD", "CMF", "QTM")
EMQ_COLUMNS = ("SelfAwarness", "ManagingEmotions", "MotivatingOneself", "Empathy", "SocialSkills")
TRS_COLUMNS = ("RI", "CO", "PL", "SH", "ME", "IMP", "TW", "CF", "SP")
VAK_COLUMNS = ("VN", "KF", "KP", "AS", "KS")
PRS_COLUMNS = ("Idx", "EI", "SN", "TF", "JP")


@dataclass
class Table:
    columns: Sequence[str]
    rows: list[Sequence[Any]] = field(default_factory=list)


def empty_tables() -> dict[str, Table]:
    """Every table present, with the columns scoring reads and no rows."""
    return {
        "IDs": Table(["Title", "Geo_Id"]),
        "PRS": Table(PRS_COLUMNS),
        "VAK": Table(VAK_COLUMNS),
        "EMQ": Table(EMQ_COLUMNS),
        "TRS": Table(TRS_COLUMNS),
        "CTD": Table(["Idx"]),
        "CMF": Table(["Space", "Aspect", "Skill"]),
        "QTM": Table(["Idx"]),
    }


def write_database(path: Path | str, tables: dict[str, Table | None]) -> Path:
    """Writes the tables (None leaves a table out) with untyped columns, so cells keep their kinds."""
    path = Path(path)
    connection = sqlite3.connect(path)
    try:
        for name, table in tables.items():
            if table is None:
                continue
            columns = ", ".join(f'"{c}"' for c in table.columns)
            connection.execute(f'CREATE TABLE "{name}" ({columns})')
            marks = ", ".join("?" for _ in table.columns)
            connection.executemany(f'INSERT INTO "{name}" VALUES ({marks})', table.rows)
        connection.commit()
    finally:
        connection.close()
    return path


class Request:
    """The object the host hands to mind(): three attributes, nothing else."""

    def __init__(self, client_id: Any, user_responses: Any, sqlite_database: Any) -> None:
        self.client_id = client_id
        self.user_responses = user_responses
        self.sqlite_database = sqlite_database


def rows_of(columns: Iterable[str], cells: dict[str, Any], count: int = 1) -> list[list[Any]]:
    """`count` rows holding `cells` by column name and NULL elsewhere."""
    row = [cells.get(c) for c in columns]
    return [list(row) for _ in range(count)]
