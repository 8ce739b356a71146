"""``score --clients`` on tables: clients read from CSV or Parquet in batches, and results written
as ``score_table``'s flat columns to CSV or Parquet. Needs pyarrow (the ``tables`` extra).

A table holds a client a row: an optional ``client_id`` column, and one column per question, in
question order. Rows are numbered from 1, the header and blank lines not counted."""

from __future__ import annotations

import contextlib
import csv as text_csv
import json
from collections import deque
from collections.abc import Iterable, Iterator, Sequence
from typing import IO, Any, NamedTuple

import pyarrow
import pyarrow.compute
from pyarrow import csv, parquet

from ardo_old._command import LineWriter, jsonable
from ardo_old.cohort import score_table, table_reports
from ardo_old.cohort_cli import Client, Judge, Scored, Tally, Unreadable
from ardo_old.mind_types import DatabasePath

ID_COLUMN = "client_id"
ERROR_COLUMN = "error.type"  # null where the client scored
CSV_BLOCK = 1 << 20  # bytes of CSV parsed at a time: some thousands of clients
PARQUET_BATCH = 8192  # rows
ANSWERS_IN_FLIGHT = 1 << 20  # answers of JSON Lines clients gathered into one table
CLIENTS_IN_FLIGHT = 8192


class Rows(NamedTuple):
    """A batch of rows of the input: as clients, and as Arrow columns of integers where the table
    gives them so, which ``score_table`` takes without a host object per answer."""

    clients: Sequence[Client | Unreadable]
    answers: Any = None  # a pyarrow.RecordBatch of the question columns, or None
    client_ids: Any = None  # the client_id column, a row per client, or None: the clients' own


def _cell(text: str | None) -> Any:
    """A CSV cell as an answer: an empty cell is missing (None), an integer or a real is that number,
    any other text stays a text, which is no answer. Every text that Arrow reads as an integer reads
    so here too, as the same number."""
    if text is None:
        return None
    for kind in (int, float):
        try:
            return kind(text)
        except ValueError:
            pass
    return text


def _integers(batch: Any) -> Any:
    """The batch with every column as integers, or None when some cell is not one."""
    try:
        return pyarrow.RecordBatch.from_arrays([pyarrow.compute.cast(column, pyarrow.int64()) for column in batch.columns],
                                               names=batch.schema.names)
    except (pyarrow.ArrowInvalid, pyarrow.ArrowNotImplementedError):
        return None


class _Table:
    """Batches of a table's rows as `Rows`, numbered on from 1."""

    def __init__(self, names: list[str], texts: bool) -> None:
        self.id_index = names.index(ID_COLUMN) if ID_COLUMN in names else None
        self.questions = [name for name in names if name != ID_COLUMN]
        self.texts = texts  # CSV: every cell read as its text
        self.next_line = 1
        self.broken: deque[tuple[int, str, str]] = deque()  # rows of the wrong width, by line

    def rows(self, batch: Any) -> Rows:
        questions = batch.select(self.questions)
        ids = batch.column(ID_COLUMN) if self.id_index is not None else None
        values = [[_cell(cell) for cell in column.to_pylist()] if self.texts else column.to_pylist()
                  for column in questions.columns]
        answers = zip(*values) if values else ([] for _ in range(batch.num_rows))
        clients: list[Client | Unreadable] = []
        for client_id, row in zip(ids.to_pylist() if ids is not None else [None] * batch.num_rows, answers):
            clients += self.take_broken()
            clients.append(Client(self.next_line, client_id, list(row)))
            self.next_line += 1
        if len(clients) > batch.num_rows:
            return Rows(clients)
        integers = _integers(questions) if self.texts else questions
        whole = integers is not None and all(pyarrow.types.is_integer(kind) for kind in integers.schema.types)
        return Rows(clients, integers if whole else None, ids)

    def take_broken(self, everything: bool = False) -> list[Unreadable]:
        """The rows of the wrong width that stand before the next row read whole (all, at the end)."""
        taken = []
        while self.broken and (everything or self.broken[0][0] <= self.next_line):
            number, text, reason = self.broken.popleft()
            taken.append(Unreadable(number, self._id_in(text), reason))
            self.next_line = number + 1
        return taken

    def _id_in(self, text: str) -> Any:
        cells = next(text_csv.reader([text]), [])
        if self.id_index is None or self.id_index >= len(cells):
            return None
        return cells[self.id_index] or None

    def rest(self) -> Iterator[Rows]:
        """The rows of the wrong width after the last row read whole."""
        if self.broken:
            yield Rows(self.take_broken(everything=True))


def read_csv(source: IO[bytes]) -> Iterator[Rows]:
    """The clients of a CSV file with a header, every cell read as its text, in batches of a block."""
    names = next(text_csv.reader([source.readline().decode("utf-8-sig", "replace")]), [])
    source.seek(0)  # the reader reads the header itself, so that it numbers the rows
    table = _Table(names, texts=True)

    def broken(row: Any) -> str:
        # row.number counts the header but no blank line.
        table.broken.append((row.number - 1, row.text,
                             f"the row has {row.actual_columns} values, not {row.expected_columns} as the header"))
        return "skip"

    reader = csv.open_csv(source, read_options=csv.ReadOptions(block_size=CSV_BLOCK, use_threads=False),
                          parse_options=csv.ParseOptions(invalid_row_handler=broken),
                          convert_options=csv.ConvertOptions(column_types=dict.fromkeys(names, pyarrow.string()),
                                                             strings_can_be_null=True, null_values=[""]))
    with reader:
        for batch in reader:
            yield table.rows(batch)
    yield from table.rest()


def read_parquet(source: IO[bytes]) -> Iterator[Rows]:
    """The clients of a Parquet file, in batches of its rows."""
    file = parquet.ParquetFile(source)
    table = _Table(file.schema_arrow.names, texts=False)
    for batch in file.iter_batches(batch_size=PARQUET_BATCH):
        yield table.rows(batch)


def read_rows(source: IO[bytes], file_format: str) -> Iterator[Rows]:
    return read_csv(source) if file_format == "csv" else read_parquet(source)


def gathered(clients: Iterable[Client | Unreadable]) -> Iterator[Rows]:
    """Clients of JSON Lines in batches for ``score_table``, of at most so many clients and answers."""
    batch: list[Client | Unreadable] = []
    answers = 0
    for client in clients:
        batch.append(client)
        answers += len(client.user_responses) if isinstance(client, Client) else 0
        if len(batch) == CLIENTS_IN_FLIGHT or answers >= ANSWERS_IN_FLIGHT:
            yield Rows(batch)
            batch, answers = [], 0
    if batch:
        yield Rows(batch)


def table_rows(batch: Any) -> Rows:
    """The clients of a record batch, numbered from 1."""
    return _Table(batch.schema.names, texts=False).rows(batch)


def score_batch(database: DatabasePath, rows: Rows, jobs: int | None = None, norms: DatabasePath | None = None) -> Any:
    """The table of results of a batch: from its Arrow columns where it has them, else its clients;
    with a norm file, each client's standing on its scales too."""
    answers = rows.answers if rows.answers is not None else rows.clients
    return score_table(database, answers, client_ids=_ids(rows), threads=jobs, norms=norms)


def _ids(rows: Rows) -> Any:
    """The client ids as a column of one type in every batch: a table's column where it holds
    integers, texts or bytes, else its texts; otherwise each client's id as text (a JSON text as
    itself, any other value as its JSON), null where it has none."""
    ids = rows.client_ids
    if ids is None:
        return pyarrow.array([_id_text(client.client_id) for client in rows.clients], pyarrow.string())
    kind = ids.type
    if any(test(kind) for test in (pyarrow.types.is_integer, pyarrow.types.is_string, pyarrow.types.is_large_string,
                                   pyarrow.types.is_binary, pyarrow.types.is_large_binary, pyarrow.types.is_dictionary)):
        return ids
    return ids.cast(pyarrow.string())


def _id_text(client_id: Any) -> str | None:
    if client_id is None or isinstance(client_id, str):
        return client_id
    return json.dumps(jsonable(client_id), allow_nan=False)


def score_rows(database: DatabasePath, batches: Iterable[Rows], jobs: int | None = None,
               norms: DatabasePath | None = None) -> Iterator[tuple[Rows, Any]]:
    """Each batch with its table of results; an input of no rows gives an empty table, whose schema
    the output still has."""
    empty = True
    for rows in batches:
        yield rows, score_batch(database, rows, jobs, norms)
        empty = False
    if empty:
        yield Rows([]), score_batch(database, Rows([]), jobs, norms)


class TableWriter(Tally):
    """Writes the tables of results, and gives each row's result as `Scored` when asked."""

    def __init__(self, out: LineWriter, database: DatabasePath) -> None:
        super().__init__()
        self.out, self.judge = out, Judge(database)

    def write(self, rows: Rows, results: Any, scored: bool) -> Iterator[Scored]:
        table = pyarrow.table(results)
        self.put(table)
        for client, failed in zip(rows.clients, table.column(ERROR_COLUMN).is_valid().to_pylist()):
            self.count(client.line, failed)
        if scored:
            yield from map(self.judge, rows.clients, table_reports(table))

    def put(self, table: Any) -> None:
        raise NotImplementedError

    def close(self) -> None:
        pass


def plain_texts(table: Any) -> Any:
    """The table with its dictionary-encoded columns as the texts they encode (and no metadata)."""
    return pyarrow.table([column.cast(column.type.value_type) if pyarrow.types.is_dictionary(column.type) else column
                          for column in table.columns], names=table.column_names)


class CsvWriter(TableWriter):
    """CSV with a header, each batch's rows written as one line is; a dictionary's texts as texts."""

    header = True

    def put(self, table: Any) -> None:
        sink = pyarrow.BufferOutputStream()
        csv.write_csv(plain_texts(table), sink, csv.WriteOptions(include_header=self.header))
        self.header = False
        self.out.write_bytes(sink.getvalue().to_pybytes())


class ParquetWriter(TableWriter):
    """One Parquet file, a row group per batch; closed whatever ends the run, so that it holds every
    batch written whole."""

    def __init__(self, out: LineWriter, database: DatabasePath, path: str | None) -> None:
        super().__init__(out, database)
        self.path = path
        self.writer: Any = None

    def put(self, table: Any) -> None:
        self.out.whole(lambda: self._writer(table.schema).write_table(table))

    def _writer(self, schema: Any) -> Any:
        if self.writer is None:  # pyarrow's own file: a write cut short is resumed, and nothing is held to flush
            self.writer = parquet.ParquetWriter(self.path, schema)
        return self.writer

    def close(self) -> None:
        if self.writer is not None:
            self.out.whole(self.writer.close)


@contextlib.contextmanager
def writer(file_format: str, out: LineWriter, database: DatabasePath, path: str | None) -> Iterator[TableWriter]:
    """The writer of the format to `out`, the output opened (Parquet: to the file at `path`)."""
    written = CsvWriter(out, database) if file_format == "csv" else ParquetWriter(out, database, path)
    try:
        yield written
    finally:
        written.close()
