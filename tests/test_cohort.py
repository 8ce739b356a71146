"""score_cohort and iter_cohort give, client by client, exactly what mind gives: the same report
(key order and value types included) or an exception of the same type and arguments; a failure
every client meets is raised once."""

from __future__ import annotations

import contextlib
import gc
import io
import json
import os
import signal
import subprocess
import sys
import tempfile
import warnings
from importlib import resources
from pathlib import Path
from typing import Any

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from ardo_old.cohort import iter_cohort, score_cohort
from ardo_old.mind import mind
from assessment_db import Request
from test_generated_inputs import CONTAINER_NAMES, CONTAINERS, CLIENT_IDS, EXAMPLES, answer_items, cases, safe_repr, write


def shape(value: Any) -> Any:
    """The value with every type and key order in view; equal NaNs compare equal."""
    if isinstance(value, BaseException):
        return ("raised", type(value), [safe_repr(a) for a in value.args])
    if isinstance(value, dict):
        return [(key, shape(item)) for key, item in value.items()]
    if isinstance(value, list):
        return [shape(item) for item in value]
    return (type(value), repr(value))


def mind_result(request: Request) -> Any:
    try:
        with contextlib.redirect_stdout(io.StringIO()):
            return mind(request)
    except Exception as error:
        return error


@st.composite
def cohorts(draw):
    case = draw(cases())
    same_count = st.lists(st.sampled_from([1, 2, 3, 4]), min_size=len(case.answers), max_size=len(case.answers))
    clients = [(case.answers, case.container, case.client_id)]
    clients += draw(st.lists(st.tuples(st.one_of(same_count, answer_items), CONTAINER_NAMES, CLIENT_IDS), max_size=5))
    return case.tables, clients, draw(st.sampled_from([1, 3]))


@settings(max_examples=EXAMPLES, deadline=None,
          suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large, HealthCheck.large_base_example])
@given(cohort=cohorts())
def test_each_client_gets_what_mind_gives(cohort):
    tables, clients, threads = cohort
    with tempfile.TemporaryDirectory() as folder:
        path = Path(folder) / "generated.db"
        write(path, tables)
        # Containers afresh for each side: a generator is used up by one reading.
        def requests():
            return [Request(client_id, CONTAINERS[container](answers), str(path)) for answers, container, client_id in clients]

        expected = [shape(mind_result(r)) for r in requests()]
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            try:
                got = [shape(result) for result in score_cohort(path, requests(), threads=threads)]
            except Exception as error:  # a failure to read: every client met it, alike
                got = [shape(error)] * len(clients)
        assert out.getvalue() == ""
        assert got == expected


@pytest.fixture(scope="module")
def sample() -> tuple[Path, list]:
    with resources.as_file(resources.files("ardo_old") / "data" / "sample.db") as path:
        answers = json.loads((resources.files("ardo_old") / "data" / "sample_answers.json").read_text())
        yield path, answers


@pytest.mark.parametrize("threads", [1, 2, 5])
def test_a_cohort_past_one_batch_streams_in_order(sample, threads):
    path, answers = sample
    # Rotated answers score differently; every seventh client has too few, every eleventh no answers attribute.
    def client(i: int) -> Any:
        if i % 11 == 0:
            return object()
        rotated = answers[i % 82:] + answers[:i % 82]
        return Request(f"c{i}", rotated[: 10 if i % 7 == 0 else 82], str(path))

    got = iter_cohort(path, (client(i) for i in range(2100)), threads=threads)
    for i, result in enumerate(got):
        if i % 11 == 0:
            assert isinstance(result, AttributeError)
        elif i % 97 == 0 or i % 7 == 0:
            assert shape(result) == shape(mind_result(client(i)))
    assert i == 2099


@pytest.mark.parametrize("threads", [0, 256, 257])
def test_threads_outside_1_to_256_are_refused(sample, threads):
    path, answers = sample
    clients = [Request(i, answers, str(path)) for i in range(20)]
    if threads == 256:
        assert [r["client_id"] for r in score_cohort(path, clients, threads=threads)] == list(range(20))
        return
    with pytest.raises(ValueError, match=f"threads must be 1 to 256, not {threads}"):
        score_cohort(path, clients, threads=threads)


def test_a_forked_child_refuses_the_parents_run_at_once_and_drops_it(sample):
    path, answers = sample
    clients = [Request(i, answers, str(path)) for i in range(1000)]
    run = iter_cohort(path, clients, threads=3)
    first = next(run)  # the helpers are scoring the next batch
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)  # forking a process that has threads
        child = os.fork()
    if child == 0:
        signal.alarm(20)  # a child that waits for helpers it does not have dies instead
        try:
            next(run)
        except RuntimeError as error:
            del run
            os._exit(0 if "started in another process" in str(error) else 2)
        os._exit(1)
    _, status = os.waitpid(child, 0)
    assert os.waitstatus_to_exitcode(status) == 0
    assert [r["client_id"] for r in [first, *run]] == list(range(1000))


LONG_ANSWERS = """
import resource, sys
from ardo_old.cohort import iter_cohort
from assessment_db import Request
answers = [1] * 1_000_082
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
for result in iter_cohort(sys.argv[1], (Request(i, answers, None) for i in range(64)), threads=2):
    assert isinstance(result, KeyError)
print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before)
"""


@pytest.mark.skipif(bool(os.environ.get("ARDO_SANITIZED")), reason="the sanitizers keep freed memory")
def test_clients_with_long_answer_lists_are_few_in_flight(sample):
    # Each answer taken holds 11 bytes: 64 such clients in one batch would take 700 MB.
    path, _ = sample
    child = subprocess.run([sys.executable, "-c", LONG_ANSWERS, str(path)], cwd=Path(__file__).parent,
                           capture_output=True, text=True, timeout=120)
    assert child.returncode == 0, child.stderr
    assert int(child.stdout) < 200_000  # KiB


@pytest.mark.parametrize("database, error", [("missing.db", FileNotFoundError), (1.5, TypeError)])
def test_a_database_that_cannot_be_read_fails_the_call(tmp_path, database, error):
    target = tmp_path / database if isinstance(database, str) else database
    with pytest.raises(error):
        score_cohort(target, [Request("c", [1], None)])
    assert list(tmp_path.iterdir()) == []


def test_the_command_gives_a_line_for_every_line_in_order(sample, tmp_path):
    _, answers = sample
    good = [{"client_id": f"c{i}", "answers": answers[i:] + answers[:i]} for i in range(3)]
    lines = [json.dumps(good[0]), "not json", json.dumps({"client_id": 7}), json.dumps(good[1]), "",
             json.dumps({"client_id": "short", "answers": [1, 2]}), json.dumps(good[2])]
    (tmp_path / "in.jsonl").write_text("\n".join(lines) + "\n")
    run = subprocess.run([sys.executable, "-m", "ardo_old", "score", "--clients", "in.jsonl", "--out", "out.jsonl",
                          "--jobs", "2"], cwd=tmp_path, capture_output=True, text=True, timeout=60)
    assert (run.returncode, run.stdout) == (1, "")
    assert run.stderr == "ardo_old score: error: 3 of 6 clients failed: lines 2, 3, 6\n"
    written = [json.loads(line) for line in (tmp_path / "out.jsonl").read_text().splitlines()]
    with resources.as_file(resources.files("ardo_old") / "data" / "sample.db") as path:
        expected = [mind_result(Request(c["client_id"], c["answers"], str(path))) for c in good]
    assert [written[i] for i in (0, 3, 5)] == expected  # the blank line gives none
    errors = [(w["client_id"], w["line"], w["error"]["type"], w["error"]["hints"]) for w in (written[i] for i in (1, 2, 4))]
    assert errors == [(None, 2, "ValueError", []), (7, 3, "ValueError", []),
                      ("short", 6, "IndexError", ["the database takes exactly 82 answers, not 2"])]


@pytest.fixture(scope="module")
def dask_client():
    import distributed  # in the test extra: a missing one fails, never skips

    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        yield client


def test_a_dask_cluster_gives_the_one_process_result(sample, tmp_path, dask_client):
    from ardo_old.cohort_dask import score_on_dask

    path, answers = sample
    lines = [json.dumps({"client_id": i, "answers": answers[i:] + answers[:i][: 82 - i % 5]}) for i in range(300)]
    lines[17], lines[250] = "{", "\udcff"
    (tmp_path / "in.jsonl").write_bytes("\n".join(lines).encode("utf-8", "surrogateescape") + b"\n")
    local = subprocess.run([sys.executable, "-m", "ardo_old", "score", "--clients", "in.jsonl", "--db", str(path)],
                           cwd=tmp_path, capture_output=True, text=True, timeout=60)
    with open(tmp_path / "out.jsonl", "w") as out:
        status = score_on_dask(dask_client, path, tmp_path / "in.jsonl", out, blocksize=8000)
    assert (status, (tmp_path / "out.jsonl").read_text()) == (1, local.stdout)
    assert local.returncode == 1 and local.stdout.count("\n") == 300


@pytest.mark.parametrize("answer_type", ["Int64", "float64"])  # nullable integers go as Arrow's; reals as clients
def test_a_dask_frame_on_two_workers_gives_the_one_process_table(sample, dask_client, answer_type):
    import dask.dataframe
    import pandas
    import pyarrow
    from ardo_old.cohort import score_table
    from ardo_old.cohort_dask import score_on_dask

    path, answers = sample
    rows = [answers[i:] + answers[:i] for i in range(120)]
    rows[7][3], rows[50][0], rows[90] = 9, None, rows[90][:40] + [None] * 42
    frame = pandas.DataFrame(rows, columns=[f"q{n}" for n in range(1, 83)]).astype(answer_type)
    frame.insert(0, "client_id", [f"c{i}" for i in range(120)])
    results = score_on_dask(dask_client, path, dask.dataframe.from_pandas(frame, npartitions=4))
    assert results.npartitions == 4
    clients = [Request(row.pop("client_id"), list(row.values()), path) for row in pyarrow.Table.from_pandas(frame).to_pylist()]
    whole = score_table(path, clients)
    assert pyarrow.Table.from_pandas(results.compute(), preserve_index=False).to_pylist() == pyarrow.table(whole).to_pylist()


class Interrupting:
    def __eq__(self, other):
        raise KeyboardInterrupt


def native_threads() -> int:
    return len(list(Path("/proc/self/task").iterdir()))


@pytest.mark.parametrize("threads", [1, 3])
@pytest.mark.parametrize("ending", ["source fails", "answer interrupts", "abandoned", "abandoned in a cycle"])
def test_a_run_ends_cleanly_past_batches_in_flight(sample, threads, ending):
    path, answers = sample
    before = native_threads()
    reentered = []
    def source():
        for i in range(2500):
            if i == 1200:
                with pytest.raises(ValueError, match="already running") as refused:
                    next(run)
                reentered.append(refused.type)
            yield Request(i, [Interrupting()] + answers[1:] if ending == "answer interrupts" and i == 1500 else answers, str(path))
        raise ValueError("the source broke")

    run = iter_cohort(path, source(), threads=threads)
    if ending == "abandoned in a cycle":
        # Only the clients in flight hold the iterator, the source being used up: the collector ends it.
        holders: list[list] = [[] for _ in range(300)]
        run = iter_cohort(path, (Request(holder, answers, str(path)) for holder in holders), threads=threads)
        for holder in holders:
            holder.append(run)
        del holders, holder
        next(run)
        del run
        gc.collect()
    elif ending == "abandoned":
        next(run)
        del run
    elif ending == "source fails":
        # Every client taken before the failure is scored and handed out before it.
        results = []
        with pytest.raises(ValueError, match="the source broke"):
            results.extend(run)
        assert [r["client_id"] for r in results] == list(range(2500))
        assert list(run) == [] and reentered == [ValueError]
    else:
        with pytest.raises(KeyboardInterrupt):
            list(run)
        del run
    assert native_threads() <= before  # the helpers are gone; a thread of an earlier test may be too
