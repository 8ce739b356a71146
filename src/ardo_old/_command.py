"""What every command of ``python -m ardo_old`` shares: the one-line failure, the bundled data, the
check of a database path, the JSON forms of report values and the writing of HTML pages. It imports
no command module, so each command imports it and none imports another."""

from __future__ import annotations

import base64
import math
from importlib import resources
from importlib.resources.abc import Traversable
from pathlib import Path
from types import ModuleType
from typing import Any, Callable

PROG = "ardo_old"


class CommandError(Exception):
    """A failure of the command that the user can act on: one line on standard error, status 1."""


def data_file(name: str) -> Traversable:
    return resources.files("ardo_old").joinpath("data", name)


def require_database_file(database: Path) -> None:
    # Opening would create an empty database file at a path that names none.
    if not database.is_file():
        raise CommandError(f"no database file at {database}")


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


def page_options(args: Any) -> dict[str, Any]:
    """What the pages of ``score --html`` and ``--pdf`` are given from the command line."""
    database = args.db if args.db is not None else Path(data_file("sample.db").name)
    return {"title": args.title or Path(database).stem, "show_ids": args.show_ids}


def write_html(path: Path, write: Callable[[ModuleType], object]) -> None:
    """Runs ``write`` with the module that makes the pages; a missing Jinja2 or WeasyPrint or an
    unwritable ``path`` is a one-line error."""
    try:
        from ardo_old import report_html

        write(report_html)
    except ImportError as missing:
        raise CommandError(str(missing)) from None
    except OSError as error:
        raise CommandError(f"cannot write {error.filename or path}: {error.strerror or error}") from None


def one_line(message: str) -> str:
    return " ".join(message.split())
