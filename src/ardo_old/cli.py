"""Command line of ardo_old: ``python -m ardo_old score`` scores one client, printing JSON;
``python -m ardo_old check`` checks an assessment database against everything scoring needs."""

from __future__ import annotations

import argparse
import contextlib
import io
import json
import sqlite3
from collections.abc import Sequence
from pathlib import Path
from types import ModuleType, SimpleNamespace
from typing import Any, Literal

from ardo_old import __version__, analyse_cli, cohort_cli, speak
from ardo_old._check import check_database
from ardo_old._command import (PROG, CommandError, LineWriter, UsageError, add_database_option, answer_problems,
                               answers_taken, complain, data_file, database_path, failure_reason, html_module, jsonable, page_options,
                               refuse_overwriting, stat_or_none, standard_input, standard_output, stats_of, to_stderr,
                               write_html)
from ardo_old._instrument import stanine_band
from ardo_old.mind import mind
from ardo_old.mind_types import Report

SAMPLE_CLIENT_ID = "sample"
INTERRUPTED = 130  # as a shell reports a command that Ctrl-C ended

# (severity, table, row counted from 1, column, message), as the check lists each problem.
Problem = tuple[Literal["error", "warning", "note"], str | None, int | None, str | None, str]

JSON_FORMS = """\
The report is written as JSON. Values JSON cannot hold are written as:
  a byte string (blob)        {"$bytes": "<base64 of the bytes>"}
  an infinite or NaN real     the string "Infinity", "-Infinity" or "NaN"

Exit status: 0 when every client is scored, 1 on any failure, 2 on a usage error,
130 when interrupted. Every line written is whole, whatever ends the run.
"""


class _CommandParser(argparse.ArgumentParser):
    """The parser of one command: an argument it does not know is a usage error with the command's
    own usage, where argparse would leave it to the program's."""

    def parse_known_args(self, args: Sequence[str] | None = None,  # type: ignore[override]
                         namespace: argparse.Namespace | None = None) -> tuple[argparse.Namespace, list[str]]:
        parsed, extras = super().parse_known_args(args, namespace)
        if extras:
            self.error(f"unrecognized arguments: {' '.join(extras)}")
        return parsed, extras


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog=PROG, description="Psychometric assessment scoring.")
    parser.add_argument("--version", action="version", version=f"{PROG} {__version__}")
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
    command.add_argument("--norms", metavar="FILE", type=Path,
                         help="a norm file (build_norms): add each scale's percentile rank, T-score, sten and "
                              "stanine in the norm group, under \"norms\" in the JSON and on the pages")
    cohort_cli.add_arguments(command)
    command.set_defaults(run=run_score, parser=command)
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
    add_database_option(command)
    command.set_defaults(run=run_check, parser=command)
    analyse_cli.add_analyse_command(commands)
    speak.add_speak_command(commands)
    return parser


def read_answers(source: str | None) -> list[Any]:
    if source is None:
        return _parse_answers(data_file("sample_answers.json").read_bytes(), "sample answers")
    name = "standard input" if source == "-" else f"answers file {source}"
    try:
        data = standard_input().read() if source == "-" else Path(source).read_bytes()
    except OSError as error:
        raise CommandError(f"cannot read {name}: {error.strerror or error}") from None
    return _parse_answers(data, name)


def _parse_answers(data: bytes, name: str) -> list[Any]:
    try:
        answers = json.loads(data.decode("utf-8-sig"))
    except UnicodeDecodeError as error:
        raise CommandError(f"{name} is not UTF-8 text: {error.reason}") from None
    except (ValueError, RecursionError) as error:  # deep nesting ends in RecursionError
        raise CommandError(f"{name} is not valid JSON: {error}") from None
    if not isinstance(answers, list):
        raise CommandError(f"{name} must hold a JSON list of answers, not {type(answers).__name__}")
    return answers


def score(database: Path, answers: list[Any], client_id: Any) -> tuple[Report, str]:
    """The report and the scorer's diagnostic lines, which it writes to sys.stdout."""
    request = SimpleNamespace(
        client_id=client_id, user_responses=answers, sqlite_database=str(database))
    diagnostics = io.StringIO()
    try:
        with contextlib.redirect_stdout(diagnostics):
            report = mind(request)
    except Exception as error:  # every scoring failure becomes one line, never a traceback
        reason = failure_reason(error, answer_problems(answers, answers_taken(database)))
        raise CommandError(f"scoring {database} failed: {reason}") from None
    return report, diagnostics.getvalue()


def require_applicable_options(args: argparse.Namespace) -> None:
    """An option that does not apply to the way the command runs would be silently ignored."""
    cohort = args.clients is not None
    pages = args.html is not None or args.pdf is not None
    rules = [("--answers", args.answers is not None, not cohort, "with --clients"),
             ("--client-id", args.client_id is not None, not cohort, "with --clients"),
             ("--diagnostics", args.diagnostics, not cohort, "with --clients"),
             ("--pdf", args.pdf is not None, not cohort, "with --clients (--html DIR writes a page per client)"),
             ("--norms", args.norms is not None, not (cohort and pages), "with --clients and --html or --pdf"),
             ("--out", args.out is not None, cohort, "without --clients"),
             ("--jobs", args.jobs is not None, cohort, "without --clients"),
             ("--format", args.format is not None, cohort, "without --clients"),
             ("--title", args.title is not None, pages, "without --html or --pdf"),
             ("--show-ids", args.show_ids, pages, "without --html or --pdf")]
    for option, given, applies, when in rules:
        if given and not applies:
            raise UsageError(f"{option} does not apply {when}")


def run_score(args: argparse.Namespace) -> int:
    require_applicable_options(args)
    file_formats = cohort_cli.formats(args) if args.clients is not None else None
    html = html_module(pdf=args.pdf is not None) if args.html is not None or args.pdf is not None else None
    if file_formats is not None:
        return cohort_cli.run(args, html, file_formats)
    with contextlib.ExitStack() as stack:
        database = database_path(args.db, stack)
        if args.norms is not None and not args.norms.is_file():
            raise CommandError(f"no norm file at {args.norms}")
        if html is not None:
            read = stats_of({"the database file": database, "the answers file": args.answers,
                             "the norm file": args.norms})
            for page in filter(None, (args.html, args.pdf)):
                refuse_overwriting(stat_or_none(page), str(page), read)
        out = LineWriter(standard_output(), "standard output")
        answers = read_answers(args.answers)
        client_id = args.client_id
        if client_id is None and args.answers is None:
            client_id = SAMPLE_CLIENT_ID
        report, diagnostics = score(database, answers, client_id)
        norms = None if args.norms is None else standing(args.norms, database, answers)
        options = page_options(args, database) if html is not None else {}
    if args.diagnostics:
        to_stderr(diagnostics)
    with out:
        output = jsonable(report) if norms is None else {**jsonable(report), "norms": norms}
        out.write(json.dumps(output, indent=2, allow_nan=False))
    if html is not None:
        if norms is not None:
            options["norms"] = page_norms(html, norms)
        write_pages(args, html, report, options)
    return 0


def standing(norms: Path, database: Path, answers: list[Any]) -> dict[str, Any] | None:
    """The client against the norm group, as the JSON gives it under "norms"."""
    return cohort_cli.read_standing(norms, database)(answers)


def page_norms(html: ModuleType, norms: dict[str, Any]) -> Any:
    scales = norms["scales"]

    def lookup(scale: str, value: Any) -> Any:
        normed = scales.get(scale)
        return None if normed is None else html.NormScore(normed["percentile"], stanine_band(normed))
    return html.Norms(norms["group"], lookup)


def write_pages(args: argparse.Namespace, html: ModuleType, report: Report, options: dict[str, Any]) -> None:
    """The report's page of --html and its PDF of --pdf."""
    if args.html is not None:
        write_html(args.html, lambda: args.html.write_text(html.render_report(report, **options), encoding="utf-8"))
    if args.pdf is not None:
        write_html(args.pdf, lambda: args.pdf.write_bytes(html.render_pdf(report, **options)))


def check(database: Path) -> list[Problem]:
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
    out = LineWriter(standard_output(), "standard output")
    with contextlib.ExitStack() as stack:
        problems = check(database_path(args.db, stack))
    severities = [severity for severity, *_ in problems]
    errors = severities.count("error")
    with out:
        for problem in problems:
            out.write(problem_line(problem))
        out.write(f"{counted(errors, 'error')}, {counted(severities.count('warning'), 'warning')}")
    return 1 if errors else 0


def main(argv: Sequence[str] | None = None) -> int:
    args = build_parser().parse_args(argv)
    try:
        status: int = args.run(args)
    except UsageError as failure:
        args.parser.error(str(failure))
    except CommandError as failure:
        complain(f"{args.command}: error: {failure}")
        return 1
    except MemoryError:
        complain(f"{args.command}: error: out of memory")
        return 1
    except KeyboardInterrupt:
        complain(f"{args.command}: interrupted")
        return INTERRUPTED
    return status
