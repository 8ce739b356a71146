"""The scoring entry: arguments, the request, the database, errors, output and concurrency."""

from __future__ import annotations

import contextlib
import io
import os
import sqlite3
import sys
import threading
from pathlib import Path

import pytest

from ardo_old.mind import mind
from assessment_db import TABLE_ORDER, Request, Table, empty_tables, write_database
from conftest import open_descriptors_to

REPORT_KEYS = ["client_id", "Personality_Type", "vak", "Emotional_Intelligance", "Roles", "Traits", "Spaces"]


@pytest.fixture
def db(make_db):
    return make_db()


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda r: mind(), "mind() missing 1 required positional argument: 'response'"),
        (lambda r: mind(r, r), "mind() takes 1 positional argument but 2 were given"),
        (lambda r: mind(r, response=r), "mind() got multiple values for argument 'response'"),
        (lambda r: mind(request=r), "mind() got an unexpected keyword argument 'request'"),
    ],
)
def test_argument_check(db, call, message):
    with pytest.raises(TypeError) as info:
        call(Request("c", [], str(db)))
    assert str(info.value) == message


def test_keyword_and_positional_calls_agree(db, capsys):
    request = Request("c", [], str(db))
    assert mind(response=request) == mind(request)


def test_report_keys_in_order_and_client_id_passed_through(db, capsys):
    client = object()
    report = mind(Request(client, [], str(db)))
    assert list(report) == REPORT_KEYS
    assert report["client_id"] is client


@pytest.mark.parametrize("missing", ["client_id", "user_responses", "sqlite_database"])
def test_missing_request_attribute(db, missing):
    request = Request("c", [], str(db))
    delattr(request, missing)
    with pytest.raises(AttributeError, match=missing):
        mind(request)


@pytest.mark.parametrize("as_type", [str, os.fsencode, Path])
def test_path_forms_the_host_accepts(db, capsys, as_type):
    assert mind(Request("c", [], as_type(str(db))))["client_id"] == "c"


@pytest.mark.parametrize("path", [42, None, 1.5])
def test_path_of_wrong_type(path):
    with pytest.raises(TypeError):
        mind(Request("c", [], path))


def test_path_with_nul_byte():
    with pytest.raises(ValueError, match="embedded null byte"):
        mind(Request("c", [], "/tmp/a\0b"))


def test_missing_file_is_created_empty_and_fails_on_first_table(tmp_path):
    path = tmp_path / "new.db"
    with pytest.raises(sqlite3.OperationalError) as info:
        mind(Request("c", [], str(path)))
    assert str(info.value) == "Execution failed on sql 'SELECT * FROM IDs': no such table: IDs"
    assert path.exists() and path.stat().st_size == 0
    assert open_descriptors_to(path) == []


@pytest.mark.parametrize("missing", TABLE_ORDER)
def test_missing_table_fails_on_that_table(tmp_path, missing):
    tables = dict(empty_tables())
    tables[missing] = None
    path = write_database(tmp_path / "db", tables)
    with pytest.raises(sqlite3.OperationalError) as info:
        mind(Request("c", [], str(path)))
    assert str(info.value) == f"Execution failed on sql 'SELECT * FROM {missing}': no such table: {missing}"
    assert info.value.sqlite_errorcode == sqlite3.SQLITE_ERROR
    assert open_descriptors_to(path) == []


def test_file_that_is_not_a_database(tmp_path):
    path = tmp_path / "text.db"
    path.write_bytes(b"this is not a database, just some text" * 100)
    with pytest.raises(sqlite3.DatabaseError) as info:
        mind(Request("c", [], str(path)))
    assert str(info.value) == "Execution failed on sql 'SELECT * FROM IDs': file is not a database"
    assert open_descriptors_to(path) == []


def test_directory_cannot_be_opened(tmp_path):
    with pytest.raises(sqlite3.OperationalError, match="unable to open database file"):
        mind(Request("c", [], str(tmp_path)))


def test_invalid_utf8_text_raises_what_the_hosts_sqlite3_raises(tmp_path):
    path = write_database(tmp_path / "db", empty_tables())
    connection = sqlite3.connect(path)
    with connection:
        connection.execute("INSERT INTO IDs VALUES (CAST(X'41FF42' AS TEXT), 1)")
    with pytest.raises(sqlite3.OperationalError) as expected:
        connection.execute("SELECT * FROM IDs").fetchall()
    connection.close()
    with pytest.raises(sqlite3.OperationalError) as info:
        mind(Request("c", [], str(path)))
    assert str(info.value) == str(expected.value)
    assert open_descriptors_to(path) == []


def test_table_with_no_rows_loads_with_its_columns(score):
    report = score([], QTM=Table(["Idx", "Grit", "Focus"]))
    assert [t["name"] for t in report["Traits"]] == ["Grit", "Focus"]


def test_integer_column_with_a_null_reads_as_reals(score):
    ids = Table(["Title", "Geo_Id"], [["Grit", 3], ["Other", None]])
    report = score([], IDs=ids, QTM=Table(["Idx", "Grit", "Other"]))
    assert [(t["id"], type(t["id"])) for t in report["Traits"]] == [(3.0, float), (None, type(None))]


def test_failure_in_last_section_closes_the_connection(make_db):
    path = make_db(CMF=Table(["S", "A", "K"], [["S1", "A1", "K1"]]))  # one aspect: no maximum score
    with pytest.raises(KeyError) as info:
        mind(Request("c", [], str(path)))
    assert info.value.args == (1,)
    assert open_descriptors_to(path) == []


def test_diagnostic_lines_follow_sys_stdout(db):
    buffer = io.StringIO()
    with contextlib.redirect_stdout(buffer):
        mind(Request("c", [], str(db)))
    assert buffer.getvalue() == "set()\n[]\n" * 4


def test_no_stdout_is_not_an_error(db, monkeypatch):
    monkeypatch.setattr(sys, "stdout", None)
    assert mind(Request("c", [], str(db)))["client_id"] == "c"


def test_lines_are_written_before_a_later_failure(make_db, capsys):
    path = make_db(EMQ=Table(["SelfAwarness"], [["A1"]]))  # a row but no ManagingEmotions column
    with pytest.raises(KeyError):
        mind(Request("c", [1], str(path)))
    assert capsys.readouterr().out.count("\n") == 8


def test_concurrent_calls_give_what_each_gives_alone(make_db, capsys):
    from assessment_db import EMQ_COLUMNS, PRS_COLUMNS

    def database(n):
        return make_db(
            PRS=Table(PRS_COLUMNS, [[q, "Y", "Y", None, "Y"] for q in range(1, n + 1)]),
            EMQ=Table(EMQ_COLUMNS, [["A1", "A2", "A3", "A4", None]] * n),
        )

    requests = [Request(i, [1 + (i + q) % 4 for q in range(i + 3)], str(database(i + 3))) for i in range(6)]
    alone = [mind(r) for r in requests]
    capsys.readouterr()
    results: dict[int, list] = {}

    def worker(i):
        results[i] = [mind(requests[i]) for _ in range(20)]

    threads = [threading.Thread(target=worker, args=(i,)) for i in range(len(requests))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for i, reports in results.items():
        assert all(r == alone[i] for r in reports)
    lines = capsys.readouterr().out.splitlines()
    assert len(lines) == 8 * 20 * len(requests)
    # Each call's eight lines stand together: a set line is always followed by its list line.
    assert all(lines[k].startswith("{") or lines[k] == "set()" for k in range(0, len(lines), 2))
