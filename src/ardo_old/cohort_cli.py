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
from collections.abc import Iterable, Iterator
from contextlib import ExitStack
from pathlib import Path
from types import ModuleType
from typing import IO, Any, NamedTuple, NoReturn

from ardo_old._command import (AnswerRange, CommandError, LineWriter, answer_problems, answers_taken, database_path,
                               failure_reason, jsonable, listed, page_options, refuse_overwriting, stat_or_none,
                               standard_input, standard_output, write_html)
from ardo_old._instrument import Standing, cohort_reliability
from ardo_old.cohort import iter_cohort
from ardo_old.mind_types import DatabasePath, Report

MAX_JOBS = 256
SHOWN_LINES = 10  # failed lines named in the summary
STANDING_CHUNK = 256  # clients whose standing one read of the database gives
ID_DEPTH = 32  # an id nested deeper than the parser allows could not be written back in a line
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
                              "a line, '-' for standard input; one JSON line out for each line in that is not blank")
    command.add_argument("--out", metavar="FILE", help="with --clients: write the lines there, not to standard output")
    command.add_argument("--jobs", metavar="N", type=jobs_count,
                         help=f"with --clients: scoring threads, 1 to {MAX_JOBS} (default: the usable CPUs)")


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

    @functools.cache
    def takes() -> AnswerRange:  # read at the first failure that the answers may explain
        return answers_taken(database)

    results = ((in_flight.popleft(), result) for result in iter_cohort(database, given(), threads=jobs))
    for chunk in _chunks(results, 1 if standing is None else STANDING_CHUNK):
        scored = [client.user_responses for client, result in chunk if not isinstance(result, BaseException)]
        norms = iter(standing.many(scored) if standing is not None and scored else [])
        for client, result in chunk:
            if not isinstance(result, BaseException):
                yield Scored(client.line, client.client_id, result, None, norms=next(norms, None))
            elif isinstance(client, Client):
                yield Scored(client.line, client.client_id, None, result,
                             tuple(answer_problems(client.user_responses, takes())))
            else:
                yield Scored(client.line, client.client_id, None, result)


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


class ResultWriter:
    """The one writer of results: a JSON line for each, and the tally of failures for the summary."""

    def __init__(self, out: LineWriter) -> None:
        self.out = out
        self.clients = self.failed = 0
        self.failed_lines: list[int] = []

    def write(self, scored: Scored) -> Scored:
        self.out.write(output_line(scored))
        self.clients += 1
        if scored.error is not None:
            self.failed += 1
            if len(self.failed_lines) < SHOWN_LINES:
                self.failed_lines.append(scored.line)
        return scored

    def summary(self) -> str:
        lines = f"line{'s' if self.failed > 1 else ''} {listed(self.failed_lines, SHOWN_LINES, self.failed)}"
        return f"{self.failed} of {self.clients} clients failed: {lines}"


def _progress(results: Iterator[Scored]) -> Iterable[Scored]:
    if not os.isatty(2):
        return results
    try:
        from tqdm import tqdm
    except ImportError:
        return results
    bar: Iterable[Scored] = tqdm(results, unit=" clients", file=sys.stderr)
    return bar


def _read(source: IO[bytes], name: str) -> Iterator[bytes]:
    try:
        yield from source
    except OSError as error:
        raise CommandError(f"cannot read {name}: {error.strerror or error}") from None


def _scoring(results: Iterator[Scored], database: Path) -> Iterator[Scored]:
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


def _opened(args: argparse.Namespace, database: Path, stack: ExitStack) -> tuple[Iterator[bytes], LineWriter]:
    """The lines read and the writer of the results: the output is opened last, once it is known
    to be no file that is read."""
    source_name = "standard input" if args.clients == "-" else f"the clients file {args.clients}"
    out_name = "standard output" if args.out is None else args.out
    try:
        source = standard_input() if args.clients == "-" else stack.enter_context(open(args.clients, "rb"))
        read = {source_name: os.fstat(source.fileno()), "the database file": os.stat(database)}
        refuse_overwriting(os.fstat(standard_output()) if args.out is None else stat_or_none(args.out), out_name, read)
        target = standard_output() if args.out is None else stack.enter_context(open(args.out, "wb")).fileno()
    except OSError as error:
        raise CommandError(f"cannot open {error.filename}: {error.strerror or error}") from None
    return _read(source, source_name.removeprefix("the clients file ")), LineWriter(target, out_name)


def index_reliability(args: argparse.Namespace, html: ModuleType, database: Path) -> dict[str, Any]:
    """Each scale's alpha and flagged items for the index, from an item analysis of the clients file
    in a pass of its own; standard input, read once, gives none."""
    if args.clients == "-":
        return {}
    try:
        with open(args.clients, "rb") as source:
            found = cohort_reliability(database, read_json_lines(source), args.jobs)
    except OSError as error:
        raise CommandError(f"cannot read {args.clients}: {error.strerror or error}") from None
    return {scale: html.Reliability(alpha, flagged) for scale, (alpha, flagged) in found.items()}


def run(args: argparse.Namespace, html: ModuleType | None) -> int:
    """Runs the cohort command, ending with the summary of the clients that failed as the error."""
    with ExitStack() as stack:
        database = database_path(args.db, stack)
        standing = None if args.norms is None else read_standing(args.norms, database)
        lines, out = _opened(args, database, stack)
        writer = ResultWriter(out)
        results = _progress(_scoring(score_lines(database, lines, args.jobs, standing=standing), database))
        with out:
            written = (writer.write(scored) for scored in results)
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
