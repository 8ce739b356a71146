"""``python -m ardo_old score --clients FILE``: a cohort in JSON Lines, one client a line
(``{"client_id": ..., "answers": [...]}``), scored against one read of the database.

Every input line gives one output line, in input order: the report, or
``{"client_id": ..., "line": N, "error": {"type": ..., "message": ...}}``. `score_lines` gives the
same results as objects, for any consumer that wants them per client."""

from __future__ import annotations

import argparse
import json
import sqlite3
import sys
from collections import deque
from collections.abc import Iterable, Iterator
from contextlib import ExitStack
from importlib import resources
from pathlib import Path
from types import SimpleNamespace
from typing import IO, Any, NamedTuple

from ardo_old._command import CommandError, jsonable, page_options, require_database_file, write_html
from ardo_old.cohort import iter_cohort


class Scored(NamedTuple):
    """One input line's result: the report, or the error that the line or its scoring met."""

    line: int  # counted from 1
    client_id: Any
    report: dict | None
    error: BaseException | None


def add_arguments(command: argparse.ArgumentParser) -> None:
    command.add_argument("--clients", metavar="FILE",
                         help="score a cohort: JSON Lines, one {\"client_id\": ..., \"answers\": [...]} "
                              "a line, '-' for standard input; one JSON line out for each line in")
    command.add_argument("--out", metavar="FILE", help="with --clients: write the lines there, not to standard output")
    command.add_argument("--jobs", metavar="N", type=int, help="with --clients: scoring threads (default: the usable CPUs)")


def parse_client(text: bytes) -> SimpleNamespace:
    """The client of one line; ValueError for a line that is not one."""
    try:
        data = json.loads(text.decode("utf-8-sig"))
    except UnicodeDecodeError as error:
        raise ValueError(f"not UTF-8 text: {error.reason}") from None
    except (ValueError, RecursionError) as error:
        raise ValueError(f"not valid JSON: {error}") from None
    if not isinstance(data, dict):
        raise ValueError(f"a client must be a JSON object, not {type(data).__name__}")
    client = SimpleNamespace(client_id=data.get("client_id"), user_responses=data.get("answers"))
    if not isinstance(client.user_responses, list):
        raise ValueError(f"client {client.client_id!r} has no JSON list of answers")
    return client


def score_lines(database: Path | str, lines: Iterable[bytes], jobs: int | None = None, *,
                first_line: int = 1) -> Iterator[Scored]:
    """Every line's result, in order, as soon as scoring gives it, lines counted from `first_line`.
    Lines that are no client take their place in the order without reaching the scorer."""
    pending: deque[Scored | SimpleNamespace] = deque()  # lines read, in order, whose result is still to go

    def clients() -> Iterator[SimpleNamespace]:
        for number, text in enumerate(lines, first_line):
            try:
                client = parse_client(text)
            except ValueError as error:
                pending.append(Scored(number, _client_id_of(text), None, error))
                continue
            client.line = number
            pending.append(client)
            yield client

    for result in iter_cohort(database, clients(), threads=jobs):
        while isinstance(pending[0], Scored):
            yield pending.popleft()
        client = pending.popleft()
        if isinstance(result, BaseException):
            yield Scored(client.line, client.client_id, None, result)
        else:
            yield Scored(client.line, client.client_id, result, None)
    yield from pending  # type: ignore[misc]  # only lines that were no client are left


def _client_id_of(text: bytes) -> Any:
    with_id = None
    try:
        with_id = json.loads(text)
    except (ValueError, RecursionError):
        pass
    return with_id.get("client_id") if isinstance(with_id, dict) else None


def output_line(scored: Scored) -> str:
    if scored.report is not None:
        return json.dumps(jsonable(scored.report), allow_nan=False)
    error = scored.error
    message = {"type": type(error).__name__, "message": str(error)}
    return json.dumps({"client_id": scored.client_id, "line": scored.line, "error": message})


def _progress(results: Iterator[Scored]) -> Iterable[Scored]:
    if not sys.stderr.isatty():
        return results
    try:
        from tqdm import tqdm
    except ImportError:
        return results
    return tqdm(results, unit=" clients", file=sys.stderr)


def emitted(results: Iterable[Scored], out: IO[str]) -> Iterator[Scored]:
    """Writes a whole line at a time, each flushed, so a run cut short leaves whole lines."""
    for scored in _progress(iter(results)):
        out.write(output_line(scored) + "\n")
        out.flush()
        yield scored


def write_results(results: Iterable[Scored], out: IO[str], html: Path | None = None,
                  pages: dict[str, Any] | None = None) -> int:
    """Writes the lines, and with ``html`` a folder of report pages as they come (``pages``: the
    options of ``report_html.write_pages``); 1 when any line failed."""
    failed = 0

    def counted() -> Iterator[Scored]:
        nonlocal failed
        for scored in emitted(results, out):
            failed += scored.error is not None
            yield scored

    if html is None:
        deque(counted(), maxlen=0)
    else:
        results_in = ((s.client_id, s.report if s.report is not None else s.error, s.line) for s in counted())
        write_html(html, lambda report_html: report_html.write_pages(results_in, html, **(pages or {})))
    return 1 if failed else 0


def run(args: argparse.Namespace) -> int:
    if args.pdf is not None:
        raise CommandError("--pdf writes one client's report; for a cohort, --html DIR writes a page per client")
    with ExitStack() as stack:
        if args.db is None:
            database = stack.enter_context(resources.as_file(resources.files("ardo_old").joinpath("data", "sample.db")))
        else:
            database = args.db
            require_database_file(database)
        try:
            source = sys.stdin.buffer if args.clients == "-" else stack.enter_context(open(args.clients, "rb"))
            out = sys.stdout if args.out is None else stack.enter_context(open(args.out, "w", encoding="utf-8"))
        except OSError as error:
            raise CommandError(f"cannot open {error.filename}: {error.strerror or error}") from None
        try:
            return write_results(score_lines(database, source, args.jobs), out, args.html, page_options(args))
        except (sqlite3.Error, UnicodeDecodeError) as error:
            raise CommandError(f"cannot score {database}: {error}") from None
