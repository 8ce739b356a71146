"""``python -m ardo_old analyse --clients FILE``: is the instrument working? The reliability of
every scale and the analysis of its items over a cohort, in JSON Lines as ``score --clients``
reads them, written as two tables and summed up on standard output."""

from __future__ import annotations

import argparse
import contextlib
import sqlite3
from pathlib import Path
from typing import Any

from ardo_old._command import (CommandError, LineWriter, add_database_option, database_path, require_pyarrow,
                               standard_input, standard_output)
from ardo_old.cohort_cli import jobs_count, read_json_lines
from ardo_old.psychometrics import item_analysis

LOW_ALPHA = 0.6  # the usual floor of an acceptable alpha for a scale in use
SHOWN = 20  # flagged items listed in the summary
FORMATS = ("csv", "parquet")


def add_analyse_command(commands: Any) -> None:
    command = commands.add_parser(
        "analyse",
        help="reliability and item analysis of every scale over a cohort",
        description="Score a cohort (JSON Lines, as score --clients reads them) and analyse every scale\n"
        "of the battery: alpha, its Feldt interval, G6, the average correlation and the sem, and\n"
        "each item's mean, sd, r_drop and alpha if dropped, with a flag where an item hurts its\n"
        "scale. Clients whose scoring fails are left out and counted. Prints a summary; with\n"
        "--out, also writes scales.csv and items.csv (or .parquet) there.",
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    command.add_argument("--clients", metavar="FILE", required=True,
                         help="JSON Lines, one {\"client_id\": ..., \"answers\": [...]} a line, '-' for standard input")
    add_database_option(command)
    command.add_argument("--out", metavar="DIR", type=Path,
                         help="write the tables scales and items into DIR, made if missing (needs the 'tables' extra)")
    command.add_argument("--format", choices=FORMATS, default="csv", help="the tables' file format (default: csv)")
    command.add_argument("--jobs", metavar="N", type=jobs_count, help="threads (default: the usable CPUs)")
    command.set_defaults(run=run_analyse, parser=command)


def arrow_writer(file_format: str) -> Any:
    """pyarrow's writer of the format, or the command's error saying how to install it."""
    require_pyarrow("writing the tables")
    from pyarrow import csv, parquet

    return csv.write_csv if file_format == "csv" else parquet.write_table


def analyse(database: Path, source: str, jobs: int | None) -> Any:
    try:
        with contextlib.ExitStack() as stack:
            lines = standard_input() if source == "-" else stack.enter_context(open(source, "rb"))
            return item_analysis(database, read_json_lines(lines), threads=jobs)
    except OSError as error:
        raise CommandError(f"cannot read {error.filename or source}: {error.strerror or error}") from None
    except (sqlite3.Error, ValueError, KeyError, IndexError) as error:
        raise CommandError(f"cannot analyse {database}: {type(error).__name__}: {error}") from None


def write_tables(analysis: Any, folder: Path, file_format: str) -> list[Path]:
    write = arrow_writer(file_format)
    paths = [folder / f"{name}.{file_format}" for name in ("scales", "items")]
    try:
        folder.mkdir(parents=True, exist_ok=True)
        for table, path in zip((analysis.scales, analysis.items), paths):
            write(table.to_pyarrow(), str(path))
    except OSError as error:
        raise CommandError(f"cannot write {error.filename or folder}: {error.strerror or error}") from None
    return paths


def summary(analysis: Any) -> list[str]:
    lines = [f"{analysis.clients} clients analysed, {analysis.failed} left out (their scoring failed)"]
    low = [f"  {row['scale']}: {row['alpha']:.2f}" for row in analysis.scales.to_pylist()
           if row["alpha"] is not None and row["alpha"] < LOW_ALPHA]
    lines.append(f"scales with alpha under {LOW_ALPHA}: {len(low)}")
    lines += low
    flagged = [f"  {item['scale']}, question {item['question']}: {item['flag']}" for item in analysis.items.to_pylist()
               if item["flag"] is not None]
    lines.append(f"flagged items: {len(flagged)}")
    lines += flagged[:SHOWN]
    if len(flagged) > SHOWN:
        lines.append(f"  and {len(flagged) - SHOWN} more")
    return lines


def run_analyse(args: argparse.Namespace) -> int:
    out = LineWriter(standard_output(), "standard output")
    if args.out is not None:
        arrow_writer(args.format)  # a missing pyarrow is said before the work
    with contextlib.ExitStack() as stack:
        analysis = analyse(database_path(args.db, stack), args.clients, args.jobs)
    written = [] if args.out is None else write_tables(analysis, args.out, args.format)
    with out:
        for line in summary(analysis) + [f"wrote {path}" for path in written]:
            out.write(line)
    return 0
