"""The commands that judge the instrument: analyse over a cohort, score against a norm group, and
the pages that show the scales' ranges, norms, design warnings and the cohort's reliability."""

from __future__ import annotations

import csv
import json
import subprocess
import sys
from pathlib import Path

import numpy as np
import pyarrow.parquet as pq

from ardo_old import psychometrics

SAMPLE = Path(psychometrics.__file__).with_name("data") / "sample.db"


def run(*args: str, cwd: Path) -> subprocess.CompletedProcess:
    return subprocess.run([sys.executable, "-m", "ardo_old", *args], cwd=cwd, capture_output=True, text=True, timeout=300)


def test_analyse_norms_and_pages_agree_with_the_library(tmp_path):
    rng = np.random.default_rng(11)
    answers = np.clip(np.rint(2.5 + 0.8 * rng.normal(size=(300, 1)) + rng.normal(size=(300, 82))), 1, 4).astype(int)
    answers[7, 2] = 9
    cohort = tmp_path / "cohort.jsonl"
    cohort.write_text("".join(json.dumps({"client_id": i, "answers": row.tolist()}) + "\n" for i, row in enumerate(answers))
                      + "{broken\n")
    done = run("analyse", "--clients", str(cohort), "--out", str(tmp_path / "tables"), cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    assert done.stdout.startswith("299 clients analysed, 2 left out (their scoring failed)\n")
    expected = psychometrics.item_analysis(SAMPLE, answers).scales.to_pylist()
    with open(tmp_path / "tables" / "scales.csv") as table:
        written = list(csv.DictReader(table))
    assert [row["scale"] for row in written] == [row["scale"] for row in expected]
    assert all(float(w["alpha"]) == e["alpha"] for w, e in zip(written, expected) if e["alpha"] is not None)

    norms = tmp_path / "norms.db"
    psychometrics.build_norms(SAMPLE, answers, norms, name="pilot", date="2024-09-01")
    done = run("score", "--norms", str(norms), "--html", str(tmp_path / "page.html"), cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    scored = json.loads(done.stdout)
    assert list(scored)[-1] == "norms" and scored["norms"]["group"] == "pilot"
    sample = json.loads((SAMPLE.with_name("sample_answers.json")).read_text())
    names, totals = psychometrics.scale_totals(SAMPLE, np.array([sample]))
    assert scored["norms"] == psychometrics.norm_scores(norms, dict(zip(names, np.asarray(totals)[0].tolist())))
    page = (tmp_path / "page.html").read_text()
    assert "Percentile in" in page and "22 (range 6 to 24)" in page and "never given" in page

    done = run("score", "--clients", str(cohort), "--html", str(tmp_path / "pages"), cwd=tmp_path)
    assert done.returncode == 1 and "2 of 301 clients failed" in done.stderr
    assert "Alpha" in (tmp_path / "pages" / "index.html").read_text()
    assert run("score", "--clients", str(cohort), "--norms", str(norms), "--html", "pages", cwd=tmp_path).returncode == 2

    done = run("score", "--clients", str(cohort), "--norms", str(norms), cwd=tmp_path)
    assert done.returncode == 1 and "2 of 301 clients failed" in done.stderr
    lines = [json.loads(line) for line in done.stdout.splitlines()]
    assert "norms" not in lines[7] and "norms" not in lines[-1]
    for i in (0, 1, 299):
        (tmp_path / "answers.json").write_text(json.dumps(answers[i].tolist()))
        single = run("score", "--answers", "answers.json", "--client-id", str(i), "--norms", str(norms), cwd=tmp_path)
        assert lines[i] == {**json.loads(single.stdout), "client_id": i}
    done = run("score", "--clients", str(cohort), "--norms", str(norms), "--out", "results.parquet", cwd=tmp_path)
    table = pq.read_table(tmp_path / "results.parquet")
    assert done.returncode == 1 and table.schema.metadata[b"ardo_old.norms.group"] == b"pilot"
    assert table.column("Traits.Composure.score.percentile")[0].as_py() == lines[0]["norms"]["scales"][
        "Traits.Composure.score"]["percentile"]
    done = run("score", "--clients", str(cohort), "--norms", str(norms), "--out", str(norms), "--format", "jsonl",
               cwd=tmp_path)
    assert done.returncode == 1 and "it is the norm file" in done.stderr and psychometrics.read_norms(norms)
