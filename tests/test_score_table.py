"""Cohort tables: over the generated databases, what table_reports reads back from score_table's
table, and from the same table after a Parquet round trip, is what mind gives each client, for
answers as a matrix, as Arrow data and as clients; pyarrow, polars and DuckDB read the table."""

from __future__ import annotations

import io
import tempfile
from pathlib import Path
from types import SimpleNamespace
from typing import Any

import duckdb
import numpy as np
import polars
import pyarrow as pa
import pyarrow.parquet as pq
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from ardo_old import psychometrics
from ardo_old.cohort import score_cohort, score_table, table_reports
from test_generated_inputs import EXAMPLES, cases, write

SAMPLE = Path(__file__).resolve().parent.parent / "src" / "ardo_old" / "data" / "sample.db"


def exact(value: Any) -> Any:
    """A value with everything equality overlooks made visible: types, key order, float bits."""
    if isinstance(value, BaseException):
        return ("raised", type(value), exact(list(value.args)), getattr(value, "sqlite_errorcode", None))
    if isinstance(value, dict):
        return [(k, exact(v)) for k, v in value.items()]
    if isinstance(value, list):
        return [exact(v) for v in value]
    if isinstance(value, float):
        return ("float", value.hex())
    return (type(value), value)


def answers_as(form: str, answers: np.ndarray, clients: list[SimpleNamespace]) -> Any:
    if form == "clients":
        return clients
    if form == "arrow columns" and answers.shape[1]:
        return pa.table({f"q{i + 1}": answers[:, i] for i in range(answers.shape[1])})
    if form.startswith("arrow"):
        return pa.table({"answers": pa.array(answers.tolist(), type=pa.list_(pa.from_numpy_dtype(answers.dtype)))})
    return answers[:, ::-1][:, ::-1]  # strided, not contiguous


def parquet_round_trip(table: Any) -> pa.Table:
    buffer = io.BytesIO()
    pq.write_table(pa.table(table), buffer)
    return pq.read_table(io.BytesIO(buffer.getvalue()), read_dictionary=[])


def check_tables(database: Path, answers: np.ndarray, form: str, threads: int) -> list[Any]:
    clients = [SimpleNamespace(client_id=f"c-{i}", user_responses=[int(a) for a in row]) for i, row in enumerate(answers)]
    ids = None if form == "clients" else [c.client_id for c in clients]
    given = answers_as(form, answers, clients)
    try:
        expected = score_cohort(database, clients)
    except Exception as error:  # a failure every client meets is raised once, as a cohort raises it
        with pytest.raises(type(error)) as raised:
            score_table(database, given, client_ids=ids, threads=threads)
        assert exact(raised.value) == exact(error)
        return []
    table = score_table(database, given, client_ids=ids, threads=threads)
    assert len(table) == len(clients)
    assert exact(table_reports(table)) == exact(expected)
    assert exact(table_reports(parquet_round_trip(table))) == exact(expected)
    return expected


@settings(max_examples=EXAMPLES, deadline=None,
          suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large, HealthCheck.large_base_example])
@given(case=cases(), seed=st.integers(0, 2**32 - 1), form=st.sampled_from(["matrix", "arrow columns", "arrow list", "clients"]),
       threads=st.sampled_from([1, 3]), dtype=st.sampled_from(["int8", "uint8", "int16", "uint32", "int64", "uint64"]))
def test_tables_read_back_as_mind_gives_over_generated_databases(case, seed, form, threads, dtype):
    # Now and then an answer outside 1 to 4, which fails as mind fails it: the type's extremes too.
    answers = np.random.default_rng(seed).integers(0, 6 if seed % 3 == 0 else 5, size=(5, len(case.answers))).astype(dtype)
    answers[answers == 0] = 1 if seed % 2 else 0
    if answers.size and seed % 5 == 0:
        answers[0, seed % answers.shape[1]] = np.iinfo(dtype).max if seed % 2 else np.iinfo(dtype).min
    with tempfile.TemporaryDirectory() as folder:
        path = Path(folder) / "generated.db"
        write(path, case.tables)
        check_tables(path, answers, form, threads)


def test_a_large_sample_cohort_reads_back_and_real_consumers_read_the_table():
    rng = np.random.default_rng(3)
    answers = rng.integers(1, 5, size=(3000, 82), dtype=np.int8)
    answers[7, 5] = 9
    expected = check_tables(SAMPLE, answers, "matrix", threads=2)
    assert type(expected[7]) is KeyError and sum(isinstance(r, dict) for r in expected) == 2999
    results = score_table(SAMPLE, answers)
    arrow = results.to_pyarrow()
    assert arrow.column("client_id").to_pylist() == list(range(3000))  # numbered from 0
    assert pa.types.is_dictionary(arrow.schema.field("Traits.Composure.level").type)
    assert arrow.column("Traits.Composure.score").to_pylist() == [
        next(t["score"] for t in r["Traits"] if t["name"] == "Composure") if isinstance(r, dict) else None for r in expected
    ]
    frame = polars.DataFrame(results)
    assert frame.shape == arrow.shape and frame["Spaces.Working with Others.percentage"].to_list() == arrow.column(
        "Spaces.Working with Others.percentage").to_pylist()
    assert duckdb.sql('SELECT count(*), count("error.type") FROM results').fetchall() == [(3000, 1)]
    scores = results.to_pandas()["Traits.Composure.score"]
    assert str(scores.dtype) == "Int64" and scores.isna().tolist() == [i == 7 for i in range(3000)]


def tampered(table: pa.Table, how: str) -> pa.Table:
    metadata = dict(table.schema.metadata)
    if how == "no metadata":
        return table.replace_schema_metadata({})
    if how == "bad shape":
        return table.replace_schema_metadata(metadata | {b"ardo_old.report": b'{"map": [["x", {"eval": "1"}]]}'})
    if how == "foreign error type":
        errors = pa.array(["os.system"] * len(table))
        return table.set_column(table.schema.get_field_index("error.type"), "error.type", errors)
    if how == "score as text":
        column = table.schema.get_field_index("Traits.Composure.score")
        return table.set_column(column, "Traits.Composure.score", pa.array(["1"] * len(table)))
    return table.drop_columns(["vak.visual"])


@pytest.mark.parametrize("how", ["no metadata", "bad shape", "foreign error type", "score as text", "column missing"])
def test_a_table_that_does_not_fit_is_refused(how):
    table = score_table(SAMPLE, np.full((4, 82), 2, dtype=np.int8)).to_pyarrow()
    with pytest.raises(ValueError):
        table_reports(tampered(table, how))


@pytest.mark.parametrize("call, message", [
    (lambda: score_table(SAMPLE, np.full((2, 82), 2, dtype=np.int8), client_ids=[1, "b"]),
     "an id of type str follows ids of another"),
    (lambda: score_table(SAMPLE, np.full((1, 82), 2, dtype=np.int8), client_ids=[1.5]), "not float"),
    (lambda: table_reports([1, 2]), "not list"),
])
def test_a_wrong_type_is_named_in_a_type_error(call, message):
    with pytest.raises(TypeError, match=message):
        call()


@pytest.mark.parametrize("form", ["matrix", "arrow list", "clients"])
def test_quality_and_norm_columns_are_response_quality_and_norm_scores_of_the_clients_that_scored(tmp_path, form):
    rng = np.random.default_rng(11)
    norms = tmp_path / "norms.db"
    psychometrics.build_norms(SAMPLE, rng.integers(2, 4, size=(40, 82), dtype=np.int8), norms, name="pilot", date="2024-09-01")
    answers = rng.integers(1, 5, size=(300, 82), dtype=np.int8)
    answers[:4] = 1  # straight-lined
    answers[[5, 50, 299], 3] = 9  # fails, as mind fails it
    clients = [SimpleNamespace(client_id=i, user_responses=[int(a) for a in row]) for i, row in enumerate(answers)]
    table = score_table(SAMPLE, answers_as(form, answers, clients), quality=True, norms=norms, threads=2)
    expected = score_cohort(SAMPLE, clients)
    assert exact(table_reports(table)) == exact(expected)
    arrow = table.to_pyarrow()
    assert arrow.schema.metadata[b"ardo_old.norms.group"] == b"pilot"
    assert arrow.schema.metadata[b"ardo_old.norms.date"] == b"2024-09-01"
    rows = arrow.to_pylist()

    scored = [i for i, r in enumerate(expected) if isinstance(r, dict)]
    quality = dict(zip(scored, psychometrics.response_quality(answers[scored])["clients"]))
    names, totals = psychometrics.scale_totals(SAMPLE, clients)
    assert totals.clients == scored
    group = psychometrics.read_norms(norms)["scales"]
    standing = {i: psychometrics.norm_scores(norms, {n: t for n, t in zip(names, row) if n in group})["scales"]
                for i, row in zip(scored, memoryview(totals).tolist())}
    keys = {"percentile": "percentile", "t": "t_score", "sten": "sten", "stanine": "stanine", "range": "range"}
    marks = set()
    for i, row in enumerate(rows):
        got = {k[len("quality."):]: v for k, v in row.items() if k.startswith("quality.")}
        assert got == quality.get(i, dict.fromkeys(got))
        for scale in group:
            got = {key: row[f"{scale}.{column}"] for key, column in keys.items()}
            assert exact(got) == exact(standing[i][scale] if i in standing else dict.fromkeys(keys))
            marks.add(got["range"])
    assert {q["flag"] for q in quality.values()} >= {None, "long string"} and marks == {None, "below", "above"}


@pytest.mark.parametrize("norms", ["missing.db", "not a norm file.db"])
def test_a_norm_file_that_cannot_be_read_raises_what_read_norms_raises(tmp_path, norms):
    (tmp_path / "not a norm file.db").write_bytes(SAMPLE.read_bytes())
    with pytest.raises(Exception) as expected:
        psychometrics.read_norms(tmp_path / norms)
    with pytest.raises(type(expected.value)) as raised:
        score_table(SAMPLE, np.ones((3, 82), dtype=np.int8), norms=tmp_path / norms)
    assert exact(raised.value) == exact(expected.value)
