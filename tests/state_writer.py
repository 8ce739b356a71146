"""Committed states of an assessment database, and a writer process that moves a file between them.

State k shows in every table: each one gives the report something that only k gives it, so a report
read from a mixture of states equals the report of no single state. As a script it is the writer:
  python state_writer.py PATH rewrite SECONDS   rewrite every table, state after state, one
                                                transaction per state, for SECONDS and at least
                                                once through every state; prints the count
  python state_writer.py PATH hold SECONDS BEGIN   rewrite every table inside a transaction opened
                                                with BEGIN (IMMEDIATE, EXCLUSIVE), print "held",
                                                keep it open for SECONDS and roll it back
"""

from __future__ import annotations

import itertools
import sqlite3
import sys
import time

from assessment_db import EMQ_COLUMNS, PRS_COLUMNS, TRS_COLUMNS, VAK_COLUMNS, Table

STATES = range(1, 9)
HALF = 10
ANSWERS = [1] * HALF + [3] * HALF  # questions 1 to 10 answered 1, 11 to 20 answered 3


def _keyed(columns, first: str, code: str, rows: int) -> Table:
    return Table(columns, [[code if c == first else None for c in columns] for _ in range(rows)])


def state_tables(k: int) -> dict[str, Table]:
    """What each table reveals of k: IDs the identifiers, PRS the E share k / (k + 1), VAK the visual
    score, EMQ and TRS their first totals, CTD the skill total, CMF an aspect name, QTM the trait total."""
    return {
        "IDs": Table(["Title", "Geo_Id"], [[t, 100 * k + i] for i, t in enumerate(["T", "S", "P1", "P2", f"Q{k}", "K"])]),
        "PRS": Table(PRS_COLUMNS, [[q, "Y" if q <= k or q == HALF + 1 else None, None, None, None] for q in range(1, 2 * HALF + 1)]),
        "VAK": Table(VAK_COLUMNS, [["A1" if q < k else None, None, None, None, None] for q in range(2 * HALF)]),
        "EMQ": _keyed(EMQ_COLUMNS, "SelfAwarness", "A1", k),
        "TRS": _keyed(TRS_COLUMNS, "RI", "A2", k),
        "CTD": Table(["Idx", "K"], [[q, "A1"] for q in range(k)]),
        "CMF": Table(["Space", "Aspect", "Skill"], [["S", aspect, "K"] for aspect in ("P1", "P2", f"Q{k}")]),
        "QTM": Table(["Idx", "T"], [[q, "A1"] for q in range(k)]),
    }


def create_tables(connection: sqlite3.Connection) -> None:
    for name, table in state_tables(1).items():
        columns = ", ".join(f'"{c}"' for c in table.columns)
        connection.execute(f'CREATE TABLE "{name}" ({columns})')


def write_state(connection: sqlite3.Connection, tables: dict[str, Table]) -> None:
    """Replaces the rows of every table; the caller holds the transaction."""
    for name, table in tables.items():
        connection.execute(f'DELETE FROM "{name}"')
        marks = ", ".join("?" for _ in table.columns)
        connection.executemany(f'INSERT INTO "{name}" VALUES ({marks})', table.rows)


def create_database(path, journal_mode: str, tables: dict[str, Table]) -> None:
    connection = sqlite3.connect(path, isolation_level=None)
    try:
        connection.execute(f"PRAGMA journal_mode={journal_mode}")
        connection.execute("BEGIN")
        create_tables(connection)
        write_state(connection, tables)
        connection.execute("COMMIT")
    finally:
        connection.close()


def rewrite(connection: sqlite3.Connection, seconds: float) -> int:
    """Commits state after state for SECONDS, and in any case until every state has been committed
    and the cycle begun again: on a slow machine busy readers may leave the writer few chances."""
    states = itertools.cycle(STATES)
    commits = 0
    end = time.monotonic() + seconds
    while time.monotonic() < end or commits <= len(STATES):
        connection.execute("BEGIN IMMEDIATE")
        write_state(connection, state_tables(next(states)))
        connection.execute("COMMIT")
        commits += 1
    return commits


def hold(connection: sqlite3.Connection, seconds: float, begin: str) -> None:
    connection.execute(f"BEGIN {begin}")
    write_state(connection, state_tables(STATES[-1]))
    print("held", flush=True)
    time.sleep(seconds)
    connection.execute("ROLLBACK")


def main(path: str, mode: str, seconds: str, begin: str = "IMMEDIATE") -> None:
    connection = sqlite3.connect(path, isolation_level=None, timeout=60)
    try:
        if mode == "rewrite":
            print(rewrite(connection, float(seconds)), flush=True)
        else:
            hold(connection, float(seconds), begin)
    finally:
        connection.close()


if __name__ == "__main__":
    main(*sys.argv[1:])
