"""`python -m ardo_old score`, run in a child process as a user runs it."""

from __future__ import annotations

import json
import os
import subprocess
import sys
from importlib import resources
from pathlib import Path

import pytest

from assessment_db import Table

REPORT_KEYS = ["client_id", "Personality_Type", "vak", "Emotional_Intelligance", "Roles", "Traits",
               "Spaces"]
SAMPLE_ANSWERS = resources.files("ardo_old").joinpath("data", "sample_answers.json")


def score(*args: str, cwd: Path, stdin: str | None = None) -> subprocess.CompletedProcess:
    return subprocess.run([sys.executable, "-m", "ardo_old", "score", *args], cwd=cwd, input=stdin,
                          capture_output=True, text=True, timeout=120)


def report_of(result: subprocess.CompletedProcess) -> dict:
    assert result.returncode == 0, result.stderr
    return json.loads(result.stdout)


def file_with(path: Path, text: str) -> str:
    path.write_text(text)
    return str(path)


def answers_of_sample_length(answer: int) -> str:
    return json.dumps([answer] * len(json.loads(SAMPLE_ANSWERS.read_text(encoding="utf-8"))))


@pytest.fixture(scope="module")
def default_run(tmp_path_factory) -> subprocess.CompletedProcess:
    return score(cwd=tmp_path_factory.mktemp("default"))


def test_default_run_prints_the_whole_sample_report_alone(default_run):
    report = report_of(default_run)
    assert list(report) == REPORT_KEYS
    assert report["client_id"] == "sample"
    assert report["Traits"] and report["Spaces"]
    assert default_run.stderr == ""


def test_diagnostic_lines_go_to_stderr_when_asked_for(default_run, tmp_path):
    result = score("--diagnostics", cwd=tmp_path)
    assert result.stdout == default_run.stdout
    assert len(result.stderr.splitlines()) == 8


@pytest.mark.parametrize("source", ["file", "stdin"])
def test_answers_given_explicitly_score_like_the_default(default_run, tmp_path, source):
    text = SAMPLE_ANSWERS.read_text(encoding="utf-8")
    if source == "file":
        (tmp_path / "answers.json").write_text(text)
        result = score("--answers", "answers.json", "--client-id", "sample", cwd=tmp_path)
    else:
        result = score("--answers", "-", "--client-id", "sample", cwd=tmp_path, stdin=text)
    assert report_of(result) == report_of(default_run)


def test_own_answers_replace_the_sample_client(tmp_path):
    # Every answer 4 leans to the second pole of every pair; no sample client id is assumed.
    report = report_of(score("--answers", "-", cwd=tmp_path, stdin=answers_of_sample_length(4)))
    assert report["client_id"] is None
    assert report["Personality_Type"]["title"] == "INFP"


def test_client_id_is_copied_into_the_report(tmp_path):
    assert report_of(score("--client-id", "C-042", cwd=tmp_path))["client_id"] == "C-042"


# Each case: (tmp_path, make_db) -> (command line options, standard input).
BAD_INPUTS = [
    pytest.param(lambda tmp, _: (["--answers", str(tmp / "absent.json")], None),
                 "cannot read answers file", id="missing answers file"),
    pytest.param(lambda tmp, _: (["--answers", file_with(tmp / "a.json", "[1, 2")], None),
                 "is not valid JSON", id="answers not JSON"),
    pytest.param(lambda tmp, _: (["--answers", file_with(tmp / "a.json", '{"a": [1]}')], None),
                 "must hold a JSON list", id="answers an object"),
    pytest.param(lambda tmp, _: (["--answers", "-"], "[" * 100_000),
                 "is not valid JSON", id="answers nested too deeply"),
    pytest.param(lambda tmp, _: (["--answers", "-"], '"1, 2, 3"'),
                 "standard input must hold a JSON list", id="stdin a text"),
    pytest.param(lambda tmp, _: (["--db", str(tmp / "absent.db")], None),
                 "no database file", id="missing database"),
    pytest.param(lambda tmp, _: (["--db", file_with(tmp / "x.db", "not sqlite\n" * 20)], None),
                 "file is not a database", id="not a database"),
    pytest.param(lambda tmp, make_db: (["--db", str(make_db(QTM=None))], None),
                 "no such table: QTM", id="database without a table"),
    pytest.param(lambda tmp, _: (["--answers", "-"], "[1, 2, 3]"),
                 "IndexError: list index out of range; the database takes exactly 82 answers, not 3",
                 id="too few answers"),
    pytest.param(lambda tmp, _: (["--answers", "-"], json.dumps([2] * 82 + [1])),
                 "KeyError: 82; the database takes exactly 82 answers, not 83", id="too many answers"),
    pytest.param(lambda tmp, _: (["--answers", "-"], json.dumps([1, 2.0, True, 0, 4, "3"] + [1] * 76)),
                 "KeyError: '3'; the answers at positions 4, 6 (counted from 1) are outside 1 to 4",
                 id="answers out of range"),
    pytest.param(lambda tmp, _: (["--answers", "-"], answers_of_sample_length(7)),
                 "KeyError: 7; the answers at positions 1, 2, 3, 4, 5, 6, 7, 8, 9, 10 and 72 more (counted from 1) "
                 "are outside 1 to 4", id="every answer out of range"),
]


@pytest.mark.parametrize("bad_input, expected", BAD_INPUTS)
def test_bad_input_fails_with_one_line_and_status_1(tmp_path, make_db, bad_input, expected):
    args, stdin = bad_input(tmp_path, make_db)
    result = score(*args, cwd=tmp_path, stdin=stdin)
    assert result.returncode == 1
    assert result.stdout == ""
    assert "Traceback" not in result.stderr
    [line] = result.stderr.splitlines()
    assert line.startswith("ardo_old score: error: ")
    assert expected in line
    assert not (tmp_path / "absent.db").exists()


@pytest.mark.parametrize("args, reason", [
    (["--no-such-option"], "unrecognized arguments: --no-such-option"),
    (["--out", "out.jsonl"], "--out does not apply without --clients"),
    (["--jobs", "2"], "--jobs does not apply without --clients"),
    (["--clients", "-", "--client-id", "c"], "--client-id does not apply with --clients"),
    (["--clients", "-", "--diagnostics"], "--diagnostics does not apply with --clients"),
    (["--clients", "-", "--pdf", "out.jsonl"], "--pdf does not apply with --clients (--html DIR writes a page per client)"),
    (["--title", "Battery"], "--title does not apply without --html or --pdf"),
    (["--clients", "-", "--jobs", "0"], "argument --jobs: '0' is not a number of threads from 1 to 256"),
    (["--clients", "-", "--jobs", "99999999999999999999"], "is not a number of threads from 1 to 256"),
    (["--format", "csv"], "--format does not apply without --clients"),
    (["--clients", "-", "--out", "out.txt"], "--out out.txt: .txt is the extension of no format; give --format"),
    (["--clients", "-", "--out", "out.csv", "--format", "parquet"], "--format parquet contradicts --out out.csv"),
    (["--clients", "in.csv", "--format", "parquet"], "--format parquet needs --out FILE: Parquet is not written to standard output"),
])
def test_usage_error_exits_2_with_the_command_usage(tmp_path, args, reason):
    result = score(*args, cwd=tmp_path, stdin="")
    assert (result.returncode, result.stdout) == (2, "")
    assert result.stderr.startswith("usage: ardo_old score ")
    assert result.stderr.splitlines()[-1].startswith("ardo_old score: error: ")
    assert result.stderr.endswith(f"{reason}\n")
    assert not (tmp_path / "out.jsonl").exists()


@pytest.mark.parametrize("missing, args, says", [
    ("jinja2", ["--html", "page.html"], "HTML reports need Jinja2: pip install 'ardo_old[html]'"),
    ("jinja2", ["--clients", "in.jsonl", "--out", "out.jsonl", "--html", "pages"], "HTML reports need Jinja2"),
    ("weasyprint", ["--html", "page.html", "--pdf", "page.pdf"],
     "PDF reports need WeasyPrint: pip install 'ardo_old[pdf]' (No module named 'weasyprint')"),
    ("pyarrow", ["--clients", "in.jsonl", "--out", "out.parquet"],
     "a table in CSV or Parquet needs pyarrow: pip install 'ardo_old[tables]'"),
])
def test_output_without_its_library_is_refused_before_any_work(tmp_path, missing, args, says):
    (tmp_path / f"{missing}.py").write_text(f"raise ModuleNotFoundError(\"No module named '{missing}'\", name='{missing}')\n")
    (tmp_path / "in.jsonl").write_text(answers_of_sample_length(1))
    result = subprocess.run([sys.executable, "-m", "ardo_old", "score", *args], cwd=tmp_path, capture_output=True,
                            text=True, timeout=120, env={**os.environ, "PYTHONPATH": str(tmp_path)})
    assert (result.returncode, result.stdout) == (1, "")
    assert result.stderr.startswith(f"ardo_old score: error: {says}") and result.stderr.count("\n") == 1
    assert {path.name for path in tmp_path.iterdir()} <= {"in.jsonl", f"{missing}.py", "__pycache__"}


@pytest.mark.parametrize("geo_id, written", [
    (b"\x00\xffid", {"$bytes": "AP9pZA=="}),
    (float("inf"), "Infinity"),
    (float("-inf"), "-Infinity"),
])
def test_values_json_cannot_hold_are_written_in_their_documented_form(tmp_path, make_db, geo_id,
                                                                        written):
    db = make_db(IDs=Table(["Title", "Geo_Id"], [["Calm", geo_id]]), QTM=Table(["Idx", "Calm"]))
    report = report_of(score("--db", str(db), "--answers", "-", cwd=tmp_path, stdin="[]"))
    assert report["Traits"] == [{"id": written, "name": "Calm", "score": 0, "level": "unbalanced"}]
