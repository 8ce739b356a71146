"""`score --clients` over tables: one generated cohort written as JSON Lines, CSV and Parquet, each
scored to JSON Lines, CSV and Parquet, in batches small enough that every path crosses several,
gives the same results as mind, a row per input row in order."""

from __future__ import annotations

import csv
import json
import random
from importlib import resources
from pathlib import Path

import pyarrow
import pytest
from pyarrow import csv as arrow_csv
from pyarrow import parquet

from ardo_old import cli, cohort_tables
from ardo_old._command import jsonable
from ardo_old.cohort import table_reports
from assessment_db import Request
from test_cohort import mind_result, shape

DATABASE = resources.files("ardo_old") / "data" / "sample.db"
QUESTIONS = [f"q{n}" for n in range(1, 83)]


def cohort(seed: int) -> list[tuple[str, list[int | None]]]:
    """Clients of valid answers, some with an answer outside 1 to 4 or a missing one."""
    draw = random.Random(seed)
    clients = []
    for n in range(90):
        answers: list[int | None] = [draw.randint(1, 4) for _ in QUESTIONS]
        answers[draw.randrange(82)] = draw.choice([1, 1, 1, 0, 5, None])
        clients.append((f"c{n}", answers))
    return clients


def write_inputs(folder: Path, clients: list[tuple[str, list[int | None]]], broken: set[int]) -> None:
    """The cohort in each format; the CSV also has rows of the wrong width before the clients `broken`,
    and some answers 2 as 2.0."""
    (folder / "in.jsonl").write_text("".join(json.dumps({"client_id": i, "answers": a}) + "\n" for i, a in clients))
    with open(folder / "in.csv", "w", newline="") as out:
        rows = csv.writer(out)
        rows.writerow(["client_id", *QUESTIONS])
        for n, (client_id, answers) in enumerate(clients):
            if n in broken:
                rows.writerow([f"broken{n}", *answers[:40]])
            # A real that is an answer reads as one; it also keeps a batch from Arrow's integers.
            rows.writerow([client_id, *("" if a is None else "2.0" if a == 2 and n % 29 == 0 else a for a in answers)])
    columns = {"client_id": [i for i, _ in clients]} | {q: [a[k] for _, a in clients] for k, q in enumerate(QUESTIONS)}
    parquet.write_table(pyarrow.table(columns), folder / "in.parquet")


def without_line(line: dict) -> dict:
    return {key: value for key, value in line.items() if key != "line"}


@pytest.mark.parametrize("seed", [3, 8])
def test_every_input_format_scored_to_every_output_format_gives_what_mind_gives(tmp_path, monkeypatch, seed):
    for name, rows in (("CSV_BLOCK", 4096), ("PARQUET_BATCH", 40), ("CLIENTS_IN_FLIGHT", 33)):
        monkeypatch.setattr(cohort_tables, name, rows)  # several batches on every path
    clients = cohort(seed)
    broken = set(random.Random(seed).sample(range(1, len(clients)), 4)) | {0}
    write_inputs(tmp_path, clients, broken)
    results = [mind_result(Request(i, a, str(DATABASE))) for i, a in clients]
    in_rows = {source: list(results) for source in ("jsonl", "parquet", "csv")}
    for n in sorted(broken, reverse=True):  # each broken row stands before its client
        in_rows["csv"].insert(n, ValueError("the row has 41 values, not 83 as the header"))
    lines = {}
    for source, rows in in_rows.items():
        for output in ("jsonl", "csv", "parquet"):
            out = tmp_path / f"{source}.{output}"
            html = ["--html", str(tmp_path / "pages")] if (source, output) == ("csv", "parquet") else []
            assert cli.main(["score", "--clients", str(tmp_path / f"in.{source}"), "--out", str(out), *html]) == 1
            if output == "jsonl":
                lines[source] = [json.loads(line) for line in out.read_text().splitlines()]
                assert [n for n, line in enumerate(lines[source], 1) if "error" in line] == \
                    [line["line"] for line in lines[source] if "error" in line]
            elif output == "parquet":
                assert [shape(result) for result in table_reports(parquet.read_table(out))] == list(map(shape, rows))
        written = parquet.read_table(tmp_path / f"{source}.parquet")
        kinds = {f.name: f.type.value_type if pyarrow.types.is_dictionary(f.type) else f.type for f in written.schema}
        options = arrow_csv.ConvertOptions(column_types=kinds, strings_can_be_null=True)
        assert arrow_csv.read_csv(tmp_path / f"{source}.csv", convert_options=options).to_pylist() == written.to_pylist()

    assert [(line["error"]["type"], line["error"]["message"]) if "error" in line else line for line in lines["jsonl"]] == \
        [(type(r).__name__, str(r)) if isinstance(r, Exception) else json.loads(json.dumps(jsonable(r))) for r in results]
    assert lines["parquet"] == lines["jsonl"]
    at = {n + sum(b < n for b in broken) for n in broken}  # where the broken rows stand in the output
    assert [(lines["csv"][p]["client_id"], lines["csv"][p]["error"]["type"]) for p in sorted(at)] == \
        [(f"broken{n}", "ValueError") for n in sorted(broken)]
    assert [without_line(line) for p, line in enumerate(lines["csv"]) if p not in at] == list(map(without_line, lines["jsonl"]))
    index = (tmp_path / "pages" / "index.html").read_text()
    assert f"{len(in_rows['csv'])} clients, {sum(isinstance(r, dict) for r in results)} scored" in index
