"""Command line of ardo_old: ``python -m ardo_old score`` scores one client, printing JSON;
``python -m ardo_old check`` checks an assessment database against everything scoring needs."""

from __future__ import annotations

import argparse
import contextlib
import io
import json
import os
import sqlite3
import sys
from importlib import resources
from pathlib import Path
from types import SimpleNamespace
from typing import Any, Sequence

from ardo_old import cohort_cli, speak
from ardo_old._check import answer_range, check_database
from ardo_old._command import (PROG, CommandError, data_file, jsonable, one_line, page_options, require_database_file,
                               write_html)
from ardo_old.mind import mind

SAMPLE_CLIENT_ID = "sample"
ANSWER_VALUES = (1, 2, 3, 4)  # compared as the scorer compares them: 2.0 and True are answers too

# (severity, table, row counted from 1, column, message), as the check lists each problem.
Problem = tuple[str, str | None, int | None, str | None, str]

JSON_FORMS = """\
The report is written as JSON. Values JSON cannot hold are written as:
  a byte string (blob)        {"$bytes": "<base64 of the bytes>"}
  an infinite or NaN real     the string "Infinity", "-Infinity" or "NaN"
"""


class _CommandParser(argparse.ArgumentParser):
    """The parser of one command: an argument it does not know is a usage error with the command's
    own usage, where argparse would leave it to the program's."""

    def parse_known_args(self, args=None, namespace=None):
        namespace, extras = super().parse_known_args(args, namespace)
        if extras:
            self.error(f"unrecognized arguments: {' '.join(extras)}")
        return namespace, extras


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog=PROG, description="Psychometric assessment scoring.")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND",
                                     parser_class=_CommandParser)
    command = commands.add_parser(
        "score",
        help="score one client's answers and print the report as JSON",
        description="Score one client's answers against an assessment database and print the\n"
        "report as JSON on standard output. With no options, the bundled sample client\n"
        "is scored against the bundled sample database.",
        epilog=JSON_FORMS,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    command.add_argument("--db", metavar="PATH", type=Path,
                       help="SQLite assessment database (default: the bundled sample database)")
    command.add_argument("--answers", metavar="FILE",
                       help="JSON list of the client's answers, '-' for standard input "
                            "(default: the bundled sample answers)")
    command.add_argument("--client-id", metavar="ID",
                       help="identifier copied into the report as text (default: "
                            f"{SAMPLE_CLIENT_ID!r} for the sample answers, otherwise null)")
    command.add_argument("--diagnostics", action="store_true",
                       help="also write the scorer's eight diagnostic lines to standard error")
    command.add_argument("--html", metavar="FILE|DIR", type=Path,
                         help="also write the report as one self-contained HTML page to FILE; with "
                              "--clients, a folder of one page per client and an index.html "
                              "(needs the 'html' extra)")
    command.add_argument("--pdf", metavar="FILE", type=Path,
                         help="also write the report as a tagged A4 PDF to FILE (needs the 'pdf' extra)")
    command.add_argument("--title", metavar="TEXT",
                         help="the instrument's title on the pages (default: the database file's name)")
    command.add_argument("--show-ids", action="store_true",
                         help="show the database's identifiers of traits, spaces, aspects and skills on the pages")
    cohort_cli.add_arguments(command)
    command.set_defaults(run=run_score)
    command = commands.add_parser(
        "check",
        help="check an assessment database against everything scoring needs",
        description="Check an assessment database against everything scoring needs, before any\n"
        "client meets it, and print each problem on its own line with its table, row\n"
        "(counted from 1) and column. An error makes scoring fail for some answers a\n"
        "client may give; a warning is scored, but not as meant. Exits with status 1\n"
        "when there is an error.",
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    command.add_argument("--db", metavar="PATH", type=Path,
                         help="SQLite assessment database (default: the bundled sample database)")
    command.set_defaults(run=run_check)
    speak.add_speak_command(commands)
    return parser


def read_answers(source: str | None) -> list:
    if source is None:
        return _parse_answers(data_file("sample_answers.json").read_bytes(), "sample answers")
    name = "standard input" if source == "-" else f"answers file {source}"
    try:
        data = sys.stdin.buffer.read() if source == "-" else Path(source).read_bytes()
    except OSError as error:
        raise CommandError(f"cannot read {name}: {error.strerror or error}") from None
    return _parse_answers(data, name)


def _parse_answers(data: bytes, name: str) -> list:
    try:
        answers = json.loads(data.decode("utf-8-sig"))
    except UnicodeDecodeError as error:
        raise CommandError(f"{name} is not UTF-8 text: {error.reason}") from None
    except (ValueError, RecursionError) as error:  # deep nesting ends in RecursionError
        raise CommandError(f"{name} is not valid JSON: {error}") from None
    if not isinstance(answers, list):
        raise CommandError(f"{name} must hold a JSON list of answers, not {type(answers).__name__}")
    return answers


def score(database: Path, answers: list, client_id: Any) -> tuple[dict, str]:
    """The report and the scorer's diagnostic lines, which it writes to sys.stdout."""
    require_database_file(database)
    request = SimpleNamespace(
        client_id=client_id, user_responses=answers, sqlite_database=str(database))
    diagnostics = io.StringIO()
    try:
        with contextlib.redirect_stdout(diagnostics):
            report = mind(request)
    except Exception as error:  # every scoring failure becomes one line, never a traceback
        reason = "; ".join([f"{type(error).__name__}: {error}", *answer_problems(database, answers)])
        raise CommandError(f"scoring {database} failed: {reason}") from None
    return report, diagnostics.getvalue()


def answer_problems(database: Path, answers: list) -> list[str]:
    """What is wrong with the answers themselves, the usual reason for a failure that the scorer
    names only by a bare key or index: answers outside 1 to 4, and a count the database does not take."""
    problems = []
    outside = [position for position, answer in enumerate(answers, 1) if answer not in ANSWER_VALUES]
    if outside:
        problems.append(f"{_at_positions(outside)} outside 1 to 4")
    try:
        takes = answer_range(database)
    except (sqlite3.Error, ValueError):  # the scorer's own error already says why
        takes = None
    if takes is not None and not takes[0] <= len(answers) <= takes[1]:
        least, most = takes
        count = f"exactly {most}" if least == most else f"{least} to {most}"
        problems.append(f"the database takes {count} answers, not {len(answers)}")
    return problems


def _at_positions(positions: list[int], shown: int = 10) -> str:
    if len(positions) == 1:
        return f"the answer at position {positions[0]} (counted from 1) is"
    listed = ", ".join(map(str, positions[:shown]))
    more = f" and {len(positions) - shown} more" if len(positions) > shown else ""
    return f"the answers at positions {listed}{more} (counted from 1) are"


def run_score(args: argparse.Namespace) -> int:
    if args.clients is not None:
        return cohort_cli.run(args)
    answers = read_answers(args.answers)
    client_id = args.client_id
    if client_id is None and args.answers is None:
        client_id = SAMPLE_CLIENT_ID
    if args.db is not None:
        report, diagnostics = score(args.db, answers, client_id)
    else:
        with resources.as_file(data_file("sample.db")) as database:
            report, diagnostics = score(database, answers, client_id)
    if args.diagnostics:
        sys.stderr.write(diagnostics)
    print(json.dumps(jsonable(report), indent=2, allow_nan=False))
    options = page_options(args)
    if args.html is not None:
        write_html(args.html, lambda html: args.html.write_text(html.render_report(report, **options), encoding="utf-8"))
    if args.pdf is not None:
        write_html(args.pdf, lambda html: args.pdf.write_bytes(html.render_pdf(report, **options)))
    return 0


def check(database: Path) -> list[Problem]:
    require_database_file(database)
    try:
        return check_database(database)
    except sqlite3.Error as error:
        raise CommandError(f"cannot check {database}: {error}") from None


def problem_line(problem: Problem) -> str:
    severity, table, row, column, message = problem
    place = [] if table is None else [table]
    if row is not None:
        place.append(f"row {row}")
    if column is not None:
        place.append(f'column "{column}"')
    return f"{severity}: {', '.join(place)}: {message}" if place else f"{severity}: {message}"


def counted(count: int, noun: str) -> str:
    return f"{count} {noun}" + ("" if count == 1 else "s")


def run_check(args: argparse.Namespace) -> int:
    if args.db is not None:
        problems = check(args.db)
    else:
        with resources.as_file(data_file("sample.db")) as database:
            problems = check(database)
    for problem in problems:
        print(problem_line(problem))
    severities = [severity for severity, *_ in problems]
    errors = severities.count("error")
    print(f"{counted(errors, 'error')}, {counted(severities.count('warning'), 'warning')}")
    return 1 if errors else 0


def main(argv: Sequence[str] | None = None) -> int:
    args = build_parser().parse_args(argv)
    try:
        status = args.run(args)
        sys.stdout.flush()
    except CommandError as failure:
        print(f"{PROG} {args.command}: error: {one_line(str(failure))}", file=sys.stderr)
        return 1
    except BrokenPipeError:
        # The reader went away (`| head`); keep the interpreter's final flush from complaining too.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    return status


