"""Corrupted and hostile databases: each call scores or raises the host's own error, never crashes, and
leaves memory where it was. Every call runs in a child interpreter (isolated.py)."""

from __future__ import annotations

import os
import random
import shutil
import sqlite3
import stat
import tempfile
from pathlib import Path

import pytest

from ardo_old.mind import mind
from assessment_db import EMQ_COLUMNS, PRS_COLUMNS, TRS_COLUMNS, VAK_COLUMNS, Request, Table, write_database
from interrupted import call_interrupted
from isolated import score_in_child

MiB = 1024 * 1024
# Scoring errors the host knows; anything else kills the child and fails the test.
DATABASE_ERRORS = {"OperationalError", "DatabaseError", "DataError", "IntegrityError", "InterfaceError", "InternalError"}
HOST_ERRORS = DATABASE_ERRORS | {"KeyError", "IndexError", "TypeError", "ValueError"}

# The sanitizers' quarantine holds freed memory for a while: resident size tells nothing there.
SIZE_MEANINGFUL = not os.environ.get("ARDO_SANITIZED")

ROWS = 240
ANSWERS = [1, 2, 3, 4] * (ROWS // 4)
CODES = ["A1", "A2", "A3", "A4"]


def code(row: int, column: int) -> str | None:
    return CODES[(row + column) % 4] if (row + column) % 3 else None


def rich_tables(rows: int = ROWS) -> dict[str, Table]:
    """Every table filled, several pages each, so that damage can land inside any of them."""
    skills, traits = ["K1", "K2", "K3"], ["T1", "T2", "T3"]
    titles = traits + ["S1", "P1", "P2", "P3"] + skills + [f"filler {i}" for i in range(rows)]
    return {
        "IDs": Table(["Title", "Geo_Id"], [[t, 1000 + i] for i, t in enumerate(titles)]),
        "PRS": Table(PRS_COLUMNS, [[q + 1] + ["Y" if (q + k) % 2 else None for k in range(4)] for q in range(rows)]),
        "VAK": Table(VAK_COLUMNS, [[code(i, k) for k in range(5)] for i in range(rows)]),
        "EMQ": Table(EMQ_COLUMNS, [[code(i, k) for k in range(5)] for i in range(rows)]),
        "TRS": Table(TRS_COLUMNS, [[code(i, k) for k in range(9)] for i in range(rows)]),
        "CTD": Table(["Idx"] + skills, [[i + 1] + [code(i, k) for k in range(3)] for i in range(rows)]),
        "CMF": Table(["Space", "Aspect", "Skill"], [["S1", a, k] for a in ("P1", "P2", "P3") for k in skills]),
        "QTM": Table(["Idx"] + traits, [[i + 1] + [code(i, k) for k in range(3)] for i in range(rows)]),
    }


@pytest.fixture
def rich_db(tmp_path: Path) -> Path:
    return write_database(tmp_path / "rich.db", rich_tables())


def assert_settled(results: list[dict], allowed: set[str] = HOST_ERRORS | {"report"}) -> None:
    for r in results:
        assert r["outcome"] in allowed, r
        assert r["rss_after"] - r["rss_before"] < 8 * MiB or not SIZE_MEANINGFUL, r


def damaged_copies(source: Path, folder: Path, damage, count: int) -> list[Path]:
    """`count` copies of the file, each passed through damage(bytearray, random.Random)."""
    copies = []
    for seed in range(count):
        data = bytearray(source.read_bytes())
        damage(data, random.Random(seed))
        copy = folder / f"damaged{seed}.db"
        copy.write_bytes(bytes(data))
        copies.append(copy)
    return copies


def test_the_undamaged_database_scores(rich_db):
    [result] = score_in_child([rich_db], ANSWERS)
    assert result["outcome"] == "report" and result["spaces"] == 1


@pytest.mark.parametrize("keep", [0, 50, 100, 4096, "half", "less one byte", "less one page"])
def test_truncated_file(rich_db, keep):
    size = rich_db.stat().st_size
    keep = {"half": size // 2, "less one byte": size - 1, "less one page": size - 4096}.get(keep, keep)
    os.truncate(rich_db, keep)
    [result] = score_in_child([rich_db], ANSWERS)
    assert_settled([result], DATABASE_ERRORS | {"report"})
    if keep == 0:  # an empty file is an empty database
        assert result["message"] == "Execution failed on sql 'SELECT * FROM IDs': no such table: IDs"


def scribble_over_header(data: bytearray, rng: random.Random) -> None:
    start = rng.choice([0, 16])  # the magic text too, or only the fields after it
    data[start:100] = rng.randbytes(100 - start)


def scribble_over_pages(data: bytearray, rng: random.Random) -> None:
    for _ in range(rng.randint(1, 4)):
        length = rng.choice([1, 4, 16, 200, 4096])
        at = rng.randrange(4096, len(data) - length)
        data[at : at + length] = rng.randbytes(length)


@pytest.mark.parametrize("damage, count", [(scribble_over_header, 12), (scribble_over_pages, 40)])
def test_random_bytes_over_the_file(rich_db, tmp_path, damage, count):
    results = score_in_child(damaged_copies(rich_db, tmp_path, damage, count), ANSWERS, calls=1)
    assert_settled(results)


def test_directory_in_place_of_the_file(tmp_path):
    [result] = score_in_child([tmp_path], ANSWERS)
    assert (result["outcome"], result["message"]) == ("OperationalError", "unable to open database file")


def views(connection: sqlite3.Connection, definitions: dict[str, str]) -> None:
    for name, select in definitions.items():
        connection.execute(f'DROP TABLE IF EXISTS "{name}"')
        connection.execute(f'CREATE VIEW "{name}" AS {select}')
    connection.commit()


def test_views_in_place_of_every_table_score_as_the_tables(rich_db, tmp_path):
    [as_tables] = score_in_child([rich_db], ANSWERS, calls=0)
    connection = sqlite3.connect(rich_db)
    for name in rich_tables():
        connection.execute(f'ALTER TABLE "{name}" RENAME TO "{name}_data"')
    views(connection, {name: f'SELECT * FROM "{name}_data"' for name in rich_tables()})
    connection.close()
    [as_views] = score_in_child([rich_db], ANSWERS)
    assert_settled([as_views])
    assert {k: v for k, v in as_views.items() if not k.startswith(("rss", "peak"))} == {
        k: v for k, v in as_tables.items() if not k.startswith(("rss", "peak"))
    }


MILLION_CMF_ROWS = (
    "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n LIMIT 200000) "
    "SELECT 'S1' AS Space, 'P' || (i % 3 + 1) AS Aspect, 'K' || (i % 4) AS Skill FROM n"
)


@pytest.mark.parametrize(
    "table, select, outcome, message",
    [
        ("QTM", "SELECT 'A1' AS T1, 'A1' AS T1, 1 AS Idx", "report", None),
        ("PRS", "SELECT * FROM nowhere", "OperationalError", "Execution failed on sql 'SELECT * FROM PRS': no such table: main.nowhere"),
        ("VAK", "SELECT abs(-9223372036854775807 - 1) AS VN", "OperationalError", "Execution failed on sql 'SELECT * FROM VAK': integer overflow"),
        ("EMQ", "SELECT zeroblob(2000000000) AS Empathy", "DataError", "Execution failed on sql 'SELECT * FROM EMQ': string or blob too big"),
        ("CMF", MILLION_CMF_ROWS, "report", None),
    ],
    ids=["duplicate names", "over a missing table", "fails while stepping", "too big", "200000 rows"],
)
def test_hostile_views(rich_db, table, select, outcome, message):
    connection = sqlite3.connect(rich_db)
    views(connection, {table: select})
    connection.close()
    [result] = score_in_child([rich_db], ANSWERS)
    assert_settled([result])
    assert result["outcome"] == outcome, result
    if message:
        assert result["message"] == message


def test_virtual_table_in_place_of_a_table(rich_db):
    connection = sqlite3.connect(rich_db)
    connection.execute("DROP TABLE EMQ")
    connection.execute(f"CREATE VIRTUAL TABLE EMQ USING fts5({', '.join(EMQ_COLUMNS)})")
    connection.executemany("INSERT INTO EMQ VALUES (?, ?, ?, ?, ?)", [["A1", "", "A2", "A3", "A4"]] * 10)
    connection.commit()
    connection.close()
    [result] = score_in_child([rich_db], ANSWERS)
    assert_settled([result], {"report"})


@pytest.mark.parametrize("table, column", [("VAK", "KS"), ("QTM", "T1"), ("CMF", "Skill")])
def test_column_name_that_is_not_utf8(rich_db, table, column):
    connection = sqlite3.connect(rich_db)
    connection.execute("PRAGMA writable_schema=ON")
    [sql] = connection.execute("SELECT sql FROM sqlite_master WHERE name = ?", [table]).fetchone()
    broken = sql.encode().replace(f'"{column}"'.encode(), f'"{column}\xff"'.encode("latin-1"))
    connection.execute("UPDATE sqlite_master SET sql = CAST(? AS TEXT) WHERE name = ?", [broken, table])
    connection.commit()
    connection.close()
    connection = sqlite3.connect(rich_db)
    with pytest.raises(UnicodeDecodeError) as expected:  # what the host's sqlite3 says of the name
        connection.execute(f"SELECT * FROM {table}")
    connection.close()
    [result] = score_in_child([rich_db], ANSWERS)
    assert_settled([result], {"UnicodeDecodeError"})
    assert result["message"] == str(expected.value)


@pytest.mark.parametrize("table", ["QTM", "CTD"])
def test_table_of_2000_columns(rich_db, table):
    names = [f"C{i}" for i in range(1999)]
    connection = sqlite3.connect(rich_db)
    connection.execute(f"DROP TABLE {table}")
    connection.execute(f"CREATE TABLE {table} (Idx, {', '.join(names)})")
    connection.executemany(f"INSERT INTO {table} VALUES ({', '.join('?' * 2000)})", [[q] + ["A1"] * 1999 for q in range(1, 6)])
    connection.executemany("INSERT INTO IDs VALUES (?, ?)", [[n, i] for i, n in enumerate(names)])
    connection.commit()
    connection.close()
    [result] = score_in_child([rich_db], ANSWERS)
    assert_settled([result], {"report"})
    if table == "QTM":
        assert result["traits"][:2] == [["C0", 11, 0], ["C1", 11, 1]] and len(result["traits"]) == 1999


@pytest.mark.parametrize("where", ["Geo_Id", "QTM"])
def test_text_cell_of_100_mb(rich_db, where):
    big = "x" * (100 * 1000 * 1000)
    connection = sqlite3.connect(rich_db)
    if where == "Geo_Id":  # copied into the report
        connection.execute("UPDATE IDs SET Geo_Id = ? WHERE Title = 'T1'", [big])
    else:  # read and skipped
        connection.execute("UPDATE QTM SET T1 = ? WHERE Idx = 3", [big])
    connection.commit()
    connection.close()
    del big
    [result] = score_in_child([rich_db], ANSWERS, calls=1)
    assert_settled([result], {"report"})
    assert result["peak"] - result["rss_before"] > 100 * MiB
    if where == "Geo_Id":
        assert result["traits"][0][::2] == ["T1", 100 * 1000 * 1000]


@pytest.fixture
def open_folder():
    """A folder that a user without privileges can reach."""
    folder = Path(tempfile.mkdtemp())
    folder.chmod(0o755)
    yield folder
    shutil.rmtree(folder)


@pytest.mark.skipif(os.geteuid() != 0, reason="needs root to score as another user")
@pytest.mark.parametrize(
    "file_mode, folder_mode, journal, outcome",
    [
        (0o000, 0o755, "delete", "OperationalError"),
        (0o444, 0o555, "delete", "report"),
        (0o444, 0o555, "wal", "OperationalError"),
        (None, 0o555, "delete", "OperationalError"),
        ("unreachable", 0o700, "delete", "OperationalError"),
    ],
    ids=["unreadable", "read-only", "read-only wal", "cannot be created", "folder not searchable"],
)
def test_file_without_permission(open_folder, file_mode, folder_mode, journal, outcome):
    path = open_folder / "inner" / "assessment.db"
    path.parent.mkdir()
    if file_mode is not None:
        write_database(path, rich_tables())
        connection = sqlite3.connect(path)
        connection.execute(f"PRAGMA journal_mode={journal}")
        connection.close()
        if isinstance(file_mode, int):
            path.chmod(file_mode)
    path.parent.chmod(folder_mode)
    try:
        [result] = score_in_child([path], ANSWERS, as_nobody=True)
    finally:
        path.parent.chmod(stat.S_IRWXU)
    assert_settled([result])
    assert result["outcome"] == outcome, result


ENDLESS = "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c)"


@pytest.mark.parametrize(
    "table, select",
    [
        ("IDs", f"{ENDLESS} SELECT 'T' || x AS Title, x AS Geo_Id FROM c"),
        ("PRS", f"{ENDLESS} SELECT DISTINCT randomblob(1000) AS Q FROM c"),
        ("CTD", f"{ENDLESS} SELECT x AS Idx FROM c"),
        ("QTM", f"{ENDLESS} SELECT x AS Idx, 'A1' AS T1 FROM c"),
    ],
    ids=["kept, growing", "spilling distinct", "streamed", "streamed, counted"],
)
@pytest.mark.parametrize("cohort", [False, True], ids=["mind", "cohort"])
def test_endless_view_ends_at_ctrl_c(rich_db, table, select, cohort):
    connection = sqlite3.connect(rich_db)
    views(connection, {table: select})
    connection.close()
    result = call_interrupted(rich_db, ANSWERS, sigint_after=0.5, cohort=cohort)
    assert (result["outcome"], result["left_open"]) == ("KeyboardInterrupt", 0), result
    assert result["ms_after_sigint"] < 200, result


@pytest.mark.parametrize(
    "select, outcome, message",
    [
        ("SELECT zeroblob(999999999) AS Title, 1 AS Geo_Id", "DataError", "string or blob too big"),
        (f"{ENDLESS} SELECT zeroblob(250000000) AS Title, x AS Geo_Id FROM c", "MemoryError", ""),
    ],
    ids=["one value of a gigabyte", "gigabytes of values"],
)
def test_values_needing_gigabytes_are_refused(rich_db, select, outcome, message):
    connection = sqlite3.connect(rich_db)
    views(connection, {"IDs": select})
    connection.close()
    result = call_interrupted(rich_db, ANSWERS, sigint_after=None)
    assert (result["outcome"], result["left_open"]) == (outcome, 0), result
    assert result["message"].endswith(message)


def test_keyboard_interrupt_from_an_answer_wins_over_a_missing_database(tmp_path):
    result = call_interrupted(tmp_path / "missing" / "assessment.db", "interrupting", sigint_after=None)
    assert result["outcome"] == "KeyboardInterrupt", result


def errors_of_the_host(path: Path) -> tuple:
    try:
        sqlite3.connect(path).execute("SELECT * FROM IDs").fetchall()
    except sqlite3.Error as error:
        return type(error), error.sqlite_errorcode, error.sqlite_errorname


@pytest.mark.parametrize("content", [None, b"", b"not a database" * 400], ids=["cannot open", "no table", "not a database"])
def test_database_errors_are_named_as_the_host_names_them(tmp_path, content):
    path = tmp_path / ("assessment.db" if content is not None else "missing/assessment.db")
    if content is not None:
        path.write_bytes(content)
    expected = errors_of_the_host(path)
    path.unlink(missing_ok=True)
    if content:
        path.write_bytes(content)
    with pytest.raises(sqlite3.Error) as ours:
        mind(Request(1, ANSWERS, path))
    assert (type(ours.value), ours.value.sqlite_errorcode, ours.value.sqlite_errorname) == expected
