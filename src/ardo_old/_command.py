"""What every command of ``python -m ardo_old`` shares: the one-line failure, the bundled data, the
checks of paths given, the JSON forms of report values, the hints on answers at fault, the writing
of whole lines and of HTML and PDF pages. It imports no command module, so each command imports it
and none imports another."""

from __future__ import annotations

import base64
import math
import os
import signal
import sqlite3
import stat
import sys
import threading
from collections.abc import Callable, Sequence
from contextlib import ExitStack
from importlib import resources
from importlib.resources.abc import Traversable
from pathlib import Path
from types import FrameType, ModuleType, TracebackType
from typing import Any, BinaryIO

from ardo_old._check import answer_range, design_warnings
from ardo_old._instrument import scale_ranges
from ardo_old.mind_types import DatabasePath

PROG = "ardo_old"
ANSWER_VALUES = (1, 2, 3, 4)  # compared as the scorer compares them: 2.0 and True are answers too


class CommandError(Exception):
    """A failure of the command that the user can act on: one line on standard error, status 1."""


class UsageError(CommandError):
    """Options that do not go together: the command's usage and one line, status 2."""


def to_stderr(text: str) -> None:
    """Writes to standard error, when there is one to take it: a closed or full one has no room
    for the news, and failing on it would hide the failure it tells of."""
    if sys.stderr is None:
        return
    try:
        sys.stderr.write(text)
        sys.stderr.flush()
    except (OSError, ValueError):
        pass


def complain(line: str) -> None:
    """One line on standard error, after the program's name."""
    to_stderr(f"{PROG} {' '.join(line.split())}\n")


def data_file(name: str) -> Traversable:
    return resources.files("ardo_old").joinpath("data", name)


def add_database_option(command: Any) -> None:
    command.add_argument("--db", metavar="PATH", type=Path,
                         help="SQLite assessment database (default: the bundled sample database)")


def database_path(given: Path | None, stack: ExitStack) -> Path:
    """The database given, which must be a file, or the bundled sample for the life of `stack`."""
    if given is None:
        return stack.enter_context(resources.as_file(data_file("sample.db")))
    if not given.is_file():  # opening would create an empty database file at a path that names none
        raise CommandError(f"no database file at {given}")
    return given


# A command started with a standard stream closed has None for it.
def standard_input() -> BinaryIO:
    if sys.stdin is None:
        raise CommandError("standard input is closed")
    return sys.stdin.buffer


def standard_output() -> int:
    if sys.stdout is None:
        raise CommandError("standard output is closed")
    return sys.stdout.fileno()


def refuse_overwriting(output: os.stat_result | None, name: str, inputs: dict[str, os.stat_result]) -> None:
    """Writing a file that is also read (under any name or link) would empty it before it is read."""
    if output is None or not stat.S_ISREG(output.st_mode):
        return
    for input_name, read in inputs.items():
        if (read.st_dev, read.st_ino) == (output.st_dev, output.st_ino):
            raise CommandError(f"refusing to write {name}: it is {input_name}, which is read")


def stat_or_none(path: str | Path) -> os.stat_result | None:
    try:
        return os.stat(path)
    except OSError:
        return None


def stats_of(paths: dict[str, str | Path | None]) -> dict[str, os.stat_result]:
    """The files found of those named ('-' is standard input, None none)."""
    found = {name: stat_or_none(path) for name, path in paths.items() if path not in (None, "-")}
    return {name: result for name, result in found.items() if result is not None}


def jsonable(value: Any) -> Any:
    """The value with blobs and non-finite reals in their documented JSON forms."""
    if isinstance(value, dict):
        return {key: jsonable(item) for key, item in value.items()}
    if isinstance(value, list):
        return [jsonable(item) for item in value]
    if isinstance(value, bytes):
        return {"$bytes": base64.b64encode(value).decode("ascii")}
    if isinstance(value, float) and not math.isfinite(value):
        return "NaN" if math.isnan(value) else ("Infinity" if value > 0 else "-Infinity")
    return value


AnswerRange = tuple[int, int] | None


def answers_taken(database: DatabasePath) -> AnswerRange:
    """How many answers the database takes, as the check computes it; None when it cannot tell."""
    try:
        return answer_range(database)
    except (sqlite3.Error, ValueError):  # the scorer's own error already says why
        return None


def failure_reason(error: object, hints: Sequence[str] = ()) -> str:
    """Why a client was not scored: the scorer's error, then what is wrong with the answers."""
    return "; ".join([f"{type(error).__name__}: {error}", *hints])


def answer_problems(answers: Sequence[Any], takes: AnswerRange) -> list[str]:
    """What is wrong with the answers themselves, the usual reason for a failure that the scorer
    names only by a bare key or index: answers outside 1 to 4, and a count the database does not take."""
    problems = []
    outside = [position for position, answer in enumerate(answers, 1) if answer not in ANSWER_VALUES]
    if outside:
        problems.append(f"{_at_positions(outside)} outside 1 to 4")
    if takes is not None and not takes[0] <= len(answers) <= takes[1]:
        least, most = takes
        count = f"exactly {most}" if least == most else f"{least} to {most}"
        problems.append(f"the database takes {count} answers, not {len(answers)}")
    return problems


def _at_positions(positions: list[int], shown: int = 10) -> str:
    if len(positions) == 1:
        return f"the answer at position {positions[0]} (counted from 1) is"
    return f"the answers at positions {listed(positions, shown)} (counted from 1) are"


def listed(numbers: Sequence[int], shown: int = 10, total: int | None = None) -> str:
    """The first `shown` numbers, and how many more there are of `total` (default: all given)."""
    more = (len(numbers) if total is None else total) - min(len(numbers), shown)
    return ", ".join(map(str, numbers[:shown])) + (f" and {more} more" if more else "")


def html_module(pdf: bool = False) -> ModuleType:
    """The module that makes the pages, once it has what they need: a missing Jinja2, or WeasyPrint
    for a PDF, is found before any work is done."""
    try:
        from ardo_old import report_html

        report_html.render_index([])  # loads Jinja2 and the templates
        if pdf:
            report_html.pdf_engine()
    except ImportError as missing:
        raise CommandError(str(missing)) from None
    return report_html


def require_pyarrow(what: str) -> None:
    """pyarrow, for tables read or written: a missing one is found before any work is done."""
    try:
        import pyarrow.csv
        import pyarrow.parquet  # noqa: F401
    except ImportError:
        raise CommandError(f"{what} needs pyarrow: pip install 'ardo_old[tables]'") from None


def page_options(args: Any, database: Path) -> dict[str, Any]:
    """What the pages of ``score --html`` and ``--pdf`` are given from the command line and the
    database: each scale's possible range, and the design warnings of ``check`` (a database that
    cannot be read for them gives neither: scoring has read it, so its own error would be said)."""
    named = args.db if args.db is not None else Path(data_file("sample.db").name)
    options: dict[str, Any] = {"title": args.title or Path(named).stem, "show_ids": args.show_ids}
    try:
        options["ranges"] = scale_ranges(database)
        options["warnings"] = design_warnings(database)
    except (sqlite3.Error, ValueError, KeyError, IndexError):
        pass
    return options


def write_html(path: Path, write: Callable[[], object]) -> None:
    """Runs ``write``, which writes pages; a page that cannot be written is a one-line error."""
    try:
        write()
    except OSError as error:
        raise CommandError(f"cannot write {error.filename or path}: {error.strerror or error}") from None


class LineWriter:
    """Writes whole lines to a descriptor, whatever ends the run. Each line is one write, resumed
    until all of it is out. A Ctrl-C that comes while a line is written takes effect once the line
    is out (a second one at once, for a reader that has stopped reading); a line cut off part way,
    by a full disk or that second Ctrl-C, is taken back from a regular file. Use it as a context:
    it holds Ctrl-C back only inside."""

    def __init__(self, descriptor: int, name: str) -> None:
        self.descriptor, self.name = descriptor, name
        self._regular = stat.S_ISREG(os.fstat(descriptor).st_mode)
        self._writing = self._interrupted = False
        self._handler: Any = None

    def __enter__(self) -> LineWriter:
        # Only the main thread takes signals, and a Ctrl-C that is ignored stays ignored.
        if threading.current_thread() is threading.main_thread() \
                and signal.getsignal(signal.SIGINT) is signal.default_int_handler:
            self._handler = signal.signal(signal.SIGINT, self._interrupt)
        return self

    def __exit__(self, kind: type[BaseException] | None, error: BaseException | None,
                 traceback: TracebackType | None) -> None:
        if self._handler is not None:
            signal.signal(signal.SIGINT, self._handler)

    def _interrupt(self, number: int, frame: FrameType | None) -> None:
        if self._writing and not self._interrupted:
            self._interrupted = True
            return
        raise KeyboardInterrupt

    def write(self, text: str) -> None:
        self.write_bytes((text + "\n").encode("utf-8", "backslashreplace"))

    def write_bytes(self, whole: bytes) -> None:
        """Writes `whole`, lines that end in a newline, as one line is written."""
        data = memoryview(whole)
        written = 0

        def write() -> None:
            nonlocal written
            try:
                while written < len(data):
                    written += os.write(self.descriptor, data[written:])
            except BaseException:
                self._take_back(written)
                raise

        self.whole(write)

    def whole(self, write: Callable[[], object]) -> None:
        """Runs `write`, which writes to the descriptor, as one line is written: a Ctrl-C during it
        takes effect once it is done, and its OSError is the command's error."""
        self._writing = True
        try:
            write()
        except OSError as error:
            raise CommandError(f"cannot write {self.name}: {error.strerror or error}") from None
        finally:
            self._writing = False
        if self._interrupted:
            raise KeyboardInterrupt

    def _take_back(self, written: int) -> None:
        if written and self._regular:
            try:
                os.ftruncate(self.descriptor, os.lseek(self.descriptor, 0, os.SEEK_CUR) - written)
            except OSError:
                pass
