"""``python -m ardo_old score --clients FILE``: a cohort in JSON Lines, one client a line
(``{"client_id": ..., "answers": [...]}``), scored against one read of the database.

Every line that is not blank gives one output line, in input order: the report, or
``{"client_id": ..., "line": N, "error": {"type": ..., "message": ..., "hints": [...]}}``. The
input is read by one reader of clients and the output written by one writer of results;
`score_lines` gives the same results as objects, for any consumer that wants them per client."""

from __future__ import annotations

import argparse
import functools
import json
import os
import sqlite3
import sys
from collections import deque
from collections.abc import Callable, Iterable, Iterator
from contextlib import ExitStack
from pathlib import Path
from types import ModuleType
from typing import IO, Any, NamedTuple, NoReturn, TypeVar

from ardo_old._command import (AnswerRange, CommandError, LineWriter, UsageError, answer_problems, answers_taken,
                               database_path, failure_reason, jsonable, listed, page_options, refuse_overwriting,
                               require_pyarrow, stat_or_none, stats_of, standard_input, standard_output,
                               write_html)
from ardo_old._instrument import Standing, cohort_reliability
from ardo_old.cohort import iter_cohort
from ardo_old.mind_types import DatabasePath, Report

MAX_JOBS = 256
SHOWN_LINES = 10  # failed lines named in the summary
STANDING_CHUNK = 256  # clients whose standing one read of the database gives
ID_DEPTH = 32  # an id nested deeper than the parser allows could not be written back in a line
# The clients file's format by its extension (any other: JSON Lines); the results' the same way.
FORMATS = {".jsonl": "jsonl", ".json": "jsonl", ".ndjson": "jsonl", ".csv": "csv", ".parquet": "parquet", ".pq": "parquet"}
OUTPUT_FORMATS = ("jsonl", "csv", "parquet")
T = TypeVar("T")
JSON_KINDS = {list: "an array", str: "a string", bool: "a boolean", int: "a number", float: "a number",
              type(None): "null"}


class Client(NamedTuple):
    """One client of the input, as the scorer takes it."""

    line: int  # counted from 1
    client_id: Any
    user_responses: list[Any]


class Unreadable(NamedTuple):
    """A line that holds no client. It goes to the scorer in a client's place, which refuses it as
    it takes the answers, so its error keeps its place in the order and leaves with the results
    around it, holding nothing of the line but its id."""

    line: int
    client_id: Any
    reason: str

    @property
    def user_responses(self) -> NoReturn:
        raise ValueError(self.reason)


class Scored(NamedTuple):
    """One input line's result: the report, or the error that the line or its scoring met."""

    line: int  # counted from 1
    client_id: Any
    report: Report | None
    error: BaseException | None
    hints: tuple[str, ...] = ()  # what is wrong with the answers, when they are at fault
    norms: dict[str, Any] | None = None  # the client against a norm group, when asked for

    def outcome(self) -> Report | str:
        """The report, or in words what kept the client from one."""
        return self.report if self.report is not None else failure_reason(self.error, self.hints)


def add_arguments(command: argparse.ArgumentParser) -> None:
    command.add_argument("--clients", metavar="FILE",
                         help="score a cohort: JSON Lines, one {\"client_id\": ..., \"answers\": [...]} "
                              "a line, '-' for standard input, or a .csv or .parquet table of a client a row "
                              "(a client_id column and a column per question); one result out for each client in")
    command.add_argument("--out", metavar="FILE", help="with --clients: write the lines there, not to standard output")
    command.add_argument("--jobs", metavar="N", type=jobs_count,
                         help=f"with --clients: scoring threads, 1 to {MAX_JOBS} (default: the usable CPUs)")
    command.add_argument("--format", choices=OUTPUT_FORMATS,
                         help="with --clients: the format of the results (default: by the extension of --out, "
                              "else jsonl); csv and parquet need the 'tables' extra")


def jobs_count(text: str) -> int:
    try:
        jobs = int(text)
    except ValueError:
        jobs = 0
    if not 1 <= jobs <= MAX_JOBS:
        raise argparse.ArgumentTypeError(f"{text!r} is not a number of threads from 1 to {MAX_JOBS}")
    return jobs


def read_json_lines(lines: Iterable[bytes], first_line: int = 1) -> Iterator[Client | Unreadable]:
    """The one reader of clients: each line that is not blank, numbered as the input counts it."""
    for number, text in enumerate(lines, first_line):
        if text and not text.isspace():
            yield parse_client(text, number)


def parse_client(text: bytes, line: int) -> Client | Unreadable:
    try:
        data = json.loads(text.decode("utf-8-sig"))
    except UnicodeDecodeError as error:
        return Unreadable(line, None, f"not UTF-8 text: {error.reason} at byte {error.start + 1}")
    except json.JSONDecodeError as error:
        # The parser counts the lines of its own text, which is this one line.
        return Unreadable(line, None, f"not valid JSON: {error.msg} at column {error.colno}")
    except (ValueError, RecursionError) as error:  # an integer past the digit limit; deep nesting
        return Unreadable(line, None, f"not valid JSON: {error}")
    if not isinstance(data, dict):
        return Unreadable(line, None, f"a client must be a JSON object, not {JSON_KINDS[type(data)]}")
    client_id, answers = data.get("client_id"), data.get("answers")
    if _depth(client_id) > ID_DEPTH:
        return Unreadable(line, None, f"the client id is nested more than {ID_DEPTH} deep")
    if not isinstance(answers, list):
        return Unreadable(line, client_id, 'the client has no JSON array of "answers"')
    return Client(line, client_id, answers)


def _depth(value: Any) -> int:
    depth, level = 0, [value]
    while level:
        depth += 1
        level = [item for held in level if isinstance(held, (list, dict))
                 for item in (held.values() if isinstance(held, dict) else held)]
    return depth


def score_clients(database: DatabasePath, clients: Iterable[Client | Unreadable], jobs: int | None = None,
                  standing: Standing | None = None) -> Iterator[Scored]:
    """Every client's result, in order, as soon as scoring gives it, or with a `standing` a chunk
    of clients at a time; what the scorer holds in flight bounds what is held here."""
    in_flight: deque[Client | Unreadable] = deque()

    def given() -> Iterator[Client | Unreadable]:
        for client in clients:
            in_flight.append(client)
            yield client

    judge = Judge(database)
    results = ((in_flight.popleft(), result) for result in iter_cohort(database, given(), threads=jobs))
    for chunk in _chunks(results, 1 if standing is None else STANDING_CHUNK):
        scored = [client.user_responses for client, result in chunk if not isinstance(result, BaseException)]
        norms = iter(standing.many(scored) if standing is not None and scored else [])
        for client, result in chunk:
            judged = judge(client, result)
            yield judged if judged.report is None else judged._replace(norms=next(norms, None))


def _chunks(items: Iterator[Any], size: int) -> Iterator[list[Any]]:
    """The items a list of `size` at a time; on a failure, those taken before it, then the failure."""
    chunk: list[Any] = []
    try:
        for item in items:
            chunk.append(item)
            if len(chunk) == size:
                yield chunk
                chunk = []
    except Exception:
        if chunk:
            yield chunk
        raise
    if chunk:
        yield chunk


class Judge:
    """A client's result as `Scored`, with the hints on its answers when they may explain its failure."""

    def __init__(self, database: DatabasePath) -> None:
        self.database = database

    @functools.cached_property
    def takes(self) -> AnswerRange:  # read at the first failure that the answers may explain
        return answers_taken(self.database)

    def __call__(self, client: Client | Unreadable, result: Report | BaseException) -> Scored:
        if not isinstance(result, BaseException):
            return Scored(client.line, client.client_id, result, None)
        if isinstance(client, Client):
            return Scored(client.line, client.client_id, None, result,
                          tuple(answer_problems(client.user_responses, self.takes)))
        return Scored(client.line, client.client_id, None, result)


def score_lines(database: DatabasePath, lines: Iterable[bytes], jobs: int | None = None, *,
                first_line: int = 1, standing: Standing | None = None) -> Iterator[Scored]:
    """The result of every line of JSON Lines that is not blank, lines counted from `first_line`."""
    return score_clients(database, read_json_lines(lines, first_line), jobs, standing)


def read_standing(norms: Path, database: Path) -> Standing:
    """The standing of a client against the norm file's group, the file's failures as one line."""
    try:
        return Standing(norms, database)
    except (sqlite3.Error, OSError, ValueError, KeyError) as error:
        raise CommandError(f"cannot read the norm file {norms}: {type(error).__name__}: {error}") from None


def output_line(scored: Scored) -> str:
    if scored.report is not None:
        report = jsonable(scored.report)
        return json.dumps(report if scored.norms is None else {**report, "norms": scored.norms}, allow_nan=False)
    error = {"type": type(scored.error).__name__, "message": str(scored.error), "hints": list(scored.hints)}
    return json.dumps(jsonable({"client_id": scored.client_id, "line": scored.line, "error": error}),
                      allow_nan=False)


class Tally:
    """The clients written and those that failed, for the summary."""

    def __init__(self) -> None:
        self.clients = self.failed = 0
        self.failed_lines: list[int] = []

    def count(self, line: int, failed: bool) -> None:
        self.clients += 1
        if failed:
            self.failed += 1
            if len(self.failed_lines) < SHOWN_LINES:
                self.failed_lines.append(line)

    def summary(self) -> str:
        lines = f"line{'s' if self.failed > 1 else ''} {listed(self.failed_lines, SHOWN_LINES, self.failed)}"
        return f"{self.failed} of {self.clients} clients failed: {lines}"


class ResultWriter(Tally):
    """The one writer of results as JSON Lines: a JSON line for each."""

    def __init__(self, out: LineWriter) -> None:
        super().__init__()
        self.out = out

    def write(self, scored: Scored) -> Scored:
        self.out.write(output_line(scored))
        self.count(scored.line, scored.error is not None)
        return scored


def input_format(clients: str) -> str:
    return "jsonl" if clients == "-" else FORMATS.get(Path(clients).suffix.lower(), "jsonl")


def output_format(args: argparse.Namespace) -> str:
    """The results' format: --format, or the extension of --out (none: JSON Lines); a contradiction,
    an extension of no format, or Parquet to standard output is a usage error."""
    suffix = "" if args.out is None else Path(args.out).suffix.lower()
    named = FORMATS.get(suffix)
    if suffix and named is None and args.format is None:
        raise UsageError(f"--out {args.out}: {suffix} is the extension of no format; give --format")
    if named is not None and args.format not in (None, named):
        raise UsageError(f"--format {args.format} contradicts --out {args.out}")
    chosen: str = args.format or named or "jsonl"
    if chosen == "parquet" and args.out is None:
        raise UsageError("--format parquet needs --out FILE: Parquet is not written to standard output")
    return chosen


def _progress(items: Iterator[T], rows: Callable[[T], int] = lambda _: 1) -> Iterator[T]:
    """The items, counted in rows on a progress bar on a terminal."""
    if not os.isatty(2):
        return items
    try:
        from tqdm import tqdm
    except ImportError:
        return items
    return _counted(items, rows, tqdm(unit=" clients", file=sys.stderr))


def _counted(items: Iterator[T], rows: Callable[[T], int], bar: Any) -> Iterator[T]:
    with bar:
        for item in items:
            bar.update(rows(item))
            yield item


def _read(items: Iterable[T], name: str) -> Iterator[T]:
    """The items of a source, with a failure to read it as the command's error."""
    try:
        yield from items
    except (OSError, ValueError) as error:  # pyarrow's errors of a malformed table are ValueErrors
        raise CommandError(f"cannot read {name}: {getattr(error, 'strerror', None) or error}") from None


def _scoring(results: Iterator[T], database: Path) -> Iterator[T]:
    """The results, with a failure that every client meets (the database cannot be read, the threads
    cannot start) as a one-line error."""
    while True:
        try:
            scored = next(results)
        except StopIteration:
            return
        except CommandError:
            raise
        except Exception as error:
            raise CommandError(f"cannot score {database}: {type(error).__name__}: {error}") from None
        yield scored


class Opened(NamedTuple):
    source: IO[bytes]
    name: str  # of the source, as errors name it
    target: int  # the output's descriptor
    target_name: str


def _opened(args: argparse.Namespace, database: Path, stack: ExitStack) -> Opened:
    """The clients file and the output: the output is opened last, once it is known to be no file
    that is read."""
    source_name = "standard input" if args.clients == "-" else f"the clients file {args.clients}"
    out_name = "standard output" if args.out is None else args.out
    try:
        source = standard_input() if args.clients == "-" else stack.enter_context(open(args.clients, "rb"))
        read = {source_name: os.fstat(source.fileno()), "the database file": os.stat(database),
                **stats_of({"the norm file": args.norms})}
        refuse_overwriting(os.fstat(standard_output()) if args.out is None else stat_or_none(args.out), out_name, read)
        target = None if args.out is None else stack.enter_context(open(args.out, "wb"))
    except OSError as error:
        raise CommandError(f"cannot open {error.filename}: {error.strerror or error}") from None
    return Opened(source, source_name.removeprefix("the clients file "),
                  standard_output() if target is None else target.fileno(), out_name)


def read_clients(source: IO[bytes], file_format: str, name: str) -> Iterator[Client | Unreadable]:
    """The clients of a source in any format."""
    if file_format == "jsonl":
        return read_json_lines(_read(source, name))
    from ardo_old import cohort_tables

    return (client for rows in _read(cohort_tables.read_rows(source, file_format), name) for client in rows.clients)


def index_reliability(args: argparse.Namespace, html: ModuleType, database: Path) -> dict[str, Any]:
    """Each scale's alpha and flagged items for the index, from an item analysis of the clients file
    in a pass of its own; standard input, read once, gives none."""
    if args.clients == "-":
        return {}
    try:
        with open(args.clients, "rb") as source:
            found = cohort_reliability(database, read_clients(source, input_format(args.clients), args.clients),
                                       args.jobs)
    except OSError as error:
        raise CommandError(f"cannot read {args.clients}: {error.strerror or error}") from None
    return {scale: html.Reliability(alpha, flagged) for scale, (alpha, flagged) in found.items()}


def formats(args: argparse.Namespace) -> tuple[str, str]:
    """The formats of the clients and of the results, once pyarrow is there for a table."""
    chosen = input_format(args.clients), output_format(args)
    if {"csv", "parquet"} & set(chosen):
        require_pyarrow("a table in CSV or Parquet")
    return chosen


def _lines(opened: Opened, in_format: str, out: LineWriter, database: Path, jobs: int | None,
           standing: Standing | None) -> tuple[Tally, Iterator[Scored]]:
    """The results written as JSON Lines, each as it goes by."""
    writer = ResultWriter(out)
    clients = read_clients(opened.source, in_format, opened.name)
    results = _progress(_scoring(score_clients(database, clients, jobs, standing), database))
    return writer, (writer.write(scored) for scored in results)


def _tables(opened: Opened, file_formats: tuple[str, str], out: LineWriter, database: Path, args: argparse.Namespace,
            stack: ExitStack) -> tuple[Tally, Iterator[Scored]]:
    """The results written as a table batch by batch; each row's result goes by only for pages."""
    from ardo_old import cohort_tables

    in_format, out_format = file_formats
    writer = stack.enter_context(cohort_tables.writer(out_format, out, database, args.out))
    rows = cohort_tables.gathered(read_json_lines(opened.source)) if in_format == "jsonl" else \
        cohort_tables.read_rows(opened.source, in_format)
    results = cohort_tables.score_rows(database, _read(rows, opened.name), args.jobs, args.norms)
    tables = _progress(_scoring(results, database), lambda batch: len(batch[0].clients))
    return writer, (scored for batch in tables for scored in writer.write(*batch, args.html is not None))


def run(args: argparse.Namespace, html: ModuleType | None, file_formats: tuple[str, str]) -> int:
    """Runs the cohort command, ending with the summary of the clients that failed as the error."""
    with ExitStack() as stack:
        database = database_path(args.db, stack)
        standing = None if args.norms is None else read_standing(args.norms, database)
        opened = _opened(args, database, stack)
        out = LineWriter(opened.target, opened.target_name)
        with out:
            if file_formats[1] == "jsonl":
                writer, written = _lines(opened, file_formats[0], out, database, args.jobs, standing)
            else:
                writer, written = _tables(opened, file_formats, out, database, args, stack)
            if html is None:
                deque(written, maxlen=0)
            else:
                pages = ((s.client_id, s.outcome(), s.line) for s in written)
                options = page_options(args, database)
                reliability = index_reliability(args, html, database)
                write_html(args.html, lambda: html.write_pages(pages, args.html, reliability=reliability, **options))
    if writer.failed:
        raise CommandError(writer.summary())
    return 0
