"""Generated databases and requests: every call gives a report of the documented shape or one of the
documented errors, keeps no descriptor of the file open, and leaves the answers' reference counts alone.

ARDO_HYPOTHESIS_EXAMPLES sets the number of generated cases (a long run: 20000).
"""

from __future__ import annotations

import collections
import contextlib
import gc
import io
import json
import math
import os
import re
import sqlite3
import sys
import tempfile
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Callable

from hypothesis import HealthCheck, event, given, settings
from hypothesis import strategies as st

from ardo_old.mind import mind
from assessment_db import EMQ_COLUMNS, PRS_COLUMNS, TABLE_ORDER, TRS_COLUMNS, VAK_COLUMNS, Request
from conftest import open_descriptors_to
from report_shape import check_report

EXAMPLES = int(os.environ.get("ARDO_HYPOTHESIS_EXAMPLES", "200"))


class AnswerFault(Exception):
    """Raised by the answer objects themselves; the call must hand it on untouched."""


class BadText(bytes):
    """Bytes stored as a text cell that is not valid UTF-8."""


# Names that tables share, so that lookups across them sometimes match.
SPACES = ["S1", "S2", "Space"]
ASPECTS = ["P1", "P2", "P3", "P4", "P5", "P6"]
SKILLS = ["K1", "K2", "K3", "K4"]
TRAITS = ["T1", "T2", "T3"]
NAMES = SPACES + ASPECTS + SKILLS + TRAITS

TYPICAL_COLUMNS = {
    "IDs": ["Title", "Geo_Id"],
    "PRS": list(PRS_COLUMNS),
    "VAK": list(VAK_COLUMNS),
    "EMQ": list(EMQ_COLUMNS),
    "TRS": list(TRS_COLUMNS),
    "CTD": ["Idx"] + SKILLS[:3],
    "CMF": ["Space", "Aspect", "Skill"],
    "QTM": ["Idx"] + TRAITS,
}
EXTRA_COLUMNS = ["Idx", "Extra", "x y", "K4", "T3", "Ünïcode", 'quo"te', "Title", "A1", "sp ace"]

int64 = st.integers(-(2**63), 2**63 - 1)
codes = st.sampled_from(["A1", "A2", "A3", "A4"])
odd_texts = st.sampled_from(["", " ", "a1", "A5", "A0", "A1 ", " A1", "Y", "y", "Y ", "Space", "Idx", "\x00", "A1\x00"])
invalid_utf8 = st.sampled_from([b"\xff", b"A\xffB", b"\xc3", b"\xed\xa0\x80", b"\xf4\x90\x80\x80", b"\xc0\xaf"]).map(BadText)
# The cells a column of each kind usually holds. Cells that fail every read (invalid UTF-8) or that
# reach the report unfit for JSON (blobs, infinities) come only in the cases drawn as wild.
tame_cell = st.one_of(
    st.none(),
    int64,
    st.sampled_from([0, 1, 2, 3, 4, 5, 1.0, 3.0, 2.5, -0.0, math.nan]),
    st.floats(allow_infinity=False),
    st.text(max_size=6),
    odd_texts,
    codes,
    st.sampled_from(NAMES),
)
wild_cell = st.one_of(tame_cell, st.sampled_from([math.inf, -math.inf]), st.binary(max_size=6), invalid_utf8)
FLAVOURS = {
    "codes": st.one_of(codes, codes, st.none(), st.just("")),
    "flags": st.sampled_from(["Y", "Y", None, "y", "Y "]),
    "numbers": st.one_of(st.integers(0, 12), st.none()),
    "names": st.one_of(st.sampled_from(NAMES), st.none()),
    "anything": tame_cell,
}
CHANGES = st.sampled_from(["typical"] * 21 + ["drop", "extra", "extra", "shuffle"] * 2)
EXTRAS = st.lists(st.sampled_from(EXTRA_COLUMNS), min_size=1, max_size=3)
SPACE_NAMES = st.lists(st.sampled_from(SPACES), max_size=2, unique=True)
ASPECT_NAMES = st.lists(st.sampled_from(ASPECTS), min_size=3, max_size=5, unique=True)
SKILL_NAMES = st.lists(st.sampled_from(SKILLS + ["X"]), min_size=1, max_size=4)
ONE_IN = {n: st.integers(0, n - 1) for n in (3, 4, 8)}


def one_in(draw, n: int) -> bool:
    # Not 0 nor n - 1: the generator favours the ends of a range.
    return draw(ONE_IN[n]) == 1


def typical_flavour(table: str, column: str) -> str:
    if table == "IDs":
        return "names" if column == "Title" else "numbers"
    if table == "CMF":
        return "names"
    if column == "Idx":
        return "numbers"
    return "flags" if table == "PRS" else "codes"


def draw_column_names(draw, table: str) -> list[str]:
    names = list(TYPICAL_COLUMNS[table])
    change = draw(CHANGES)
    if change == "drop":
        names = [n for n in names if not draw(st.booleans())] or [draw(st.sampled_from(EXTRA_COLUMNS))]
    elif change == "extra":
        for extra in draw(EXTRAS):
            names.insert(draw(st.integers(0, len(names))), extra)
    elif change == "shuffle":
        names = draw(st.permutations(names))
    # SQLite refuses two columns whose names differ only in case.
    unique: dict[str, str] = {}
    for n in names:
        unique.setdefault(n.lower(), n)
    return list(unique.values())


def draw_hierarchy(draw, odd_cell: st.SearchStrategy) -> list[list]:
    """Spaces of three to five aspects, as scoring needs; a stray row now and then."""
    rows = []
    for space in draw(SPACE_NAMES):
        for aspect in draw(ASPECT_NAMES):
            rows += [[space, aspect, skill] for skill in draw(SKILL_NAMES)]
    if one_in(draw, 4):
        rows.insert(draw(st.integers(0, len(rows))), [draw(odd_cell) for _ in range(3)])
    return rows


def draw_row_count(draw, name: str, answers: int) -> int:
    if name in ("IDs", "PRS", "CMF"):
        return draw(st.integers(0, 12))
    # VAK needs a row for every answer, the others an answer for every row.
    usual = answers if name == "VAK" else draw(st.integers(0, answers))
    return draw(st.integers(0, answers + 2)) if one_in(draw, 8) else usual


def draw_table(draw, name: str, answers: int, odd_cell: st.SearchStrategy) -> tuple[list[str], list[list]]:
    columns = draw_column_names(draw, name)
    if name == "CMF" and columns == TYPICAL_COLUMNS["CMF"] and not one_in(draw, 4):
        return columns, draw_hierarchy(draw, odd_cell)
    rows = draw_row_count(draw, name, answers)
    odd_cells = one_in(draw, 4)
    by_column = []
    for c in columns:
        usual = FLAVOURS[typical_flavour(name, c) if not one_in(draw, 8) else draw(st.sampled_from(list(FLAVOURS)))]
        by_column.append([draw(odd_cell if odd_cells and one_in(draw, 8) else usual) for _ in range(rows)])
    return columns, [list(row) for row in zip(*by_column)]


class Answer:
    """An answer object with its own equality, as numpy scalars and similar have, in its various failings."""

    def __init__(self, value: Any, mode: str) -> None:
        self.value = value
        self.mode = mode

    def __eq__(self, other: object) -> Any:
        if self.mode == "eq raises":
            raise AnswerFault("cannot compare")
        if self.mode == "ambiguous":
            return Ambiguous()
        if self.mode == "not implemented":
            return NotImplemented
        return self.value == other

    def __hash__(self) -> int:
        if self.mode == "hash raises":
            raise AnswerFault("cannot hash")
        if self.mode == "unhashable":
            raise TypeError(f"unhashable type: '{type(self).__name__}'")
        return hash(self.value)

    def __repr__(self) -> str:
        if self.mode == "repr raises":
            raise AnswerFault("cannot print")
        return f"Answer({self.value!r}, {self.mode!r})"


class Ambiguous:
    """What an array's == gives: no truth value."""

    def __bool__(self) -> bool:
        raise ValueError("The truth value of an array with more than one element is ambiguous.")


class Indexable:
    """A sequence by the old protocol: __getitem__ only, iterated until IndexError."""

    def __init__(self, items: list) -> None:
        self._items = items

    def __getitem__(self, i: int) -> Any:
        return self._items[i]


class ShortIterating(collections.abc.Sequence):
    """A sequence whose iteration stops one short of what indexing gives."""

    def __init__(self, items: list) -> None:
        self._items = items

    def __getitem__(self, i):  # type: ignore[override]
        return self._items[i]

    def __len__(self) -> int:
        return len(self._items)

    def __iter__(self):
        return iter(self._items[:-1])


CONTAINERS: dict[str, Callable[[list], Any]] = {
    "list": list,
    "tuple": tuple,
    "deque": collections.deque,
    "indexable": Indexable,
    "short iterating": ShortIterating,
    "generator": lambda items: (x for x in items),
}

plain_answers = st.one_of(
    st.sampled_from([1, 2, 3, 4]),
    st.sampled_from([1.0, 2.0, 3.0, 4.0, True, False]),
    st.sampled_from([0, 5, -1, 2**80, -(2**80), 2.5, math.nan, math.inf, -0.0, None, "1", "", "é", b"1"]),
    st.integers(),
    st.floats(),
    st.text(max_size=3),
)
nested_answers = st.recursive(plain_answers, lambda inner: st.lists(inner, max_size=3) | st.tuples(inner), max_leaves=4)
object_answers = st.builds(
    Answer,
    st.sampled_from([1, 2, 3, 4, 7]),
    st.sampled_from(["value", "value", "eq raises", "ambiguous", "not implemented", "hash raises", "unhashable", "repr raises"]),
)
answer_items = st.lists(
    st.one_of(st.sampled_from([1, 2, 3, 4]), st.sampled_from([1, 2, 3, 4]), plain_answers, nested_answers, object_answers),
    max_size=12,
)


@dataclass
class Case:
    tables: dict[str, tuple[list[str], list[list]] | None]
    container: str
    answers: list
    client_id: Any

    def request(self, path: Path) -> Request:
        return Request(self.client_id, CONTAINERS[self.container](self.answers), str(path))


ANSWER_LISTS = st.lists(st.sampled_from([1, 2, 3, 4]), max_size=12)
CONTAINER_NAMES = st.sampled_from(["list"] * 6 + list(CONTAINERS))
CLIENT_IDS = st.one_of(st.text(max_size=4), st.integers(), st.none())


@st.composite
def cases(draw) -> Case:
    answers = draw(answer_items if one_in(draw, 3) else ANSWER_LISTS)
    odd_cell = wild_cell if one_in(draw, 4) else tame_cell
    # Now and then one table is left out, or left empty.
    gone = draw(st.sampled_from(TABLE_ORDER)) if one_in(draw, 4) else None
    tables: dict[str, tuple[list[str], list[list]] | None] = {}
    for name in TABLE_ORDER:
        table = draw_table(draw, name, len(answers), odd_cell)
        tables[name] = table if name != gone else draw(st.sampled_from([None, (table[0], [])]))
    return Case(tables, draw(CONTAINER_NAMES), answers, draw(CLIENT_IDS))


def quoted(name: str) -> str:
    return '"' + name.replace('"', '""') + '"'


def write(path: Path, tables: dict[str, tuple[list[str], list[list]] | None]) -> None:
    connection = sqlite3.connect(path, isolation_level=None)
    try:
        connection.execute("PRAGMA synchronous=OFF")
        connection.execute("BEGIN")
        for name, layout in tables.items():
            if layout is None:
                continue
            columns, rows = layout
            connection.execute(f"CREATE TABLE {quoted(name)} ({', '.join(quoted(c) for c in columns)})")
            for row in rows:
                # Invalid UTF-8 cannot travel as a parameter: it goes in as a literal cast to text.
                marks = ", ".join(f"CAST(X'{cell.hex()}' AS TEXT)" if isinstance(cell, BadText) else "?" for cell in row)
                values = [cell for cell in row if not isinstance(cell, BadText)]
                connection.execute(f"INSERT INTO {quoted(name)} VALUES ({marks})", values)
        connection.execute("COMMIT")
    finally:
        connection.close()


def copies_unjsonable_cell(tables: dict[str, tuple[list[str], list[list]] | None]) -> bool:
    """Whether a table whose cells reach the report holds a blob or an infinite real."""
    for name in ("IDs", "CMF"):
        for row in (tables[name] or ((), []))[1]:
            for cell in row:
                if (type(cell) is bytes) or (type(cell) is float and math.isinf(cell)):
                    return True
    return False


ALLOWED = (KeyError, IndexError, TypeError, ValueError, sqlite3.Error, AnswerFault)


def safe_repr(value: object) -> str:
    try:
        return repr(value)
    except AnswerFault:
        return "<unprintable>"


def failure_kind(error: BaseException) -> str:
    """A short name for the kind of failure, for the run's statistics."""
    name = type(error).__name__
    if isinstance(error, sqlite3.Error):
        reason = str(error).rsplit("': ", 1)[-1]
        return f"{name}: {re.sub(r'(: | column ).*$', '', reason)}"
    if isinstance(error, KeyError) and error.args:
        return f"{name} of {type(error.args[0]).__name__}"
    return name


def outcome_of(case: Case, path: Path) -> tuple[str, Any]:
    """('report', report) or ('raised', (type, args)); the diagnostic lines are checked on the way."""
    out = io.StringIO()
    try:
        with contextlib.redirect_stdout(out):
            report = mind(case.request(path))
    except ALLOWED as error:
        event(failure_kind(error))
        return "raised", (type(error), [safe_repr(a) for a in error.args])
    assert out.getvalue().count("\n") == 8, out.getvalue()
    event("report")
    return "report", report


def checked_report(report: dict, case: Case) -> None:
    check_report(report)
    assert report["client_id"] == case.client_id
    qtm = case.tables["QTM"]
    assert [t["name"] for t in report["Traits"]] == [c for c in qtm[0] if c != "Idx"]  # type: ignore[index]
    if copies_unjsonable_cell(case.tables):
        json.dumps(report, default=bytes.hex)
    else:
        json.dumps(report, allow_nan=False)


def descriptors_to(path: Path) -> list[str]:
    return [fd for suffix in ("", "-journal", "-wal", "-shm") for fd in open_descriptors_to(Path(f"{path}{suffix}"))]


@settings(
    max_examples=EXAMPLES,
    deadline=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large, HealthCheck.large_base_example],
)
@given(case=cases())
def test_generated_inputs_give_a_documented_outcome(case):
    with tempfile.TemporaryDirectory() as folder:
        path = Path(folder) / "generated.db"
        write(path, case.tables)
        watched = [*case.answers, case.client_id]
        counts = [sys.getrefcount(x) for x in watched]

        kind, value = outcome_of(case, path)
        if kind == "report":
            checked_report(value, case)
        again = outcome_of(case, path)
        assert (kind, value) == again, "the same inputs gave another outcome"
        del value, again

        assert descriptors_to(path) == []
        if [sys.getrefcount(x) for x in watched] != counts:
            gc.collect()  # a cycle through a raised error's traceback is no leak of ours
            assert [sys.getrefcount(x) for x in watched] == counts
