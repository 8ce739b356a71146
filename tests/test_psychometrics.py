"""ardo_old.psychometrics against R itself: psych::alpha() on a generated family of item matrices,
R's own longstring, sd and Mahalanobis distances on answer matrices, and qf(). One R process serves
the whole run (tests/psych_reference.R); in CI a missing R fails these tests, elsewhere they skip."""

from __future__ import annotations

import functools
import math
import os
import shutil
import sqlite3
import subprocess
from collections import defaultdict
from pathlib import Path

import numpy as np
import pytest

from ardo_old import psychometrics

TOLERANCE = 1e-9
rng = np.random.default_rng(20240923)


def cohort(n: int, k: int, *, low: int = 0, high: int = 4, loading: float = 1.0) -> np.ndarray:
    """Items of one common factor (none at loading 0), rounded into low..high."""
    raw = (low + high) / 2 + loading * rng.normal(size=(n, 1)) + rng.normal(size=(n, k))
    return np.clip(np.rint(raw), low, high).astype(np.int64)


def with_columns(x: np.ndarray, make) -> np.ndarray:
    x = x.copy()
    make(x)
    return x


def varying_items(x: np.ndarray) -> int:
    return int((x.std(axis=0) > 0).sum()) if len(x) else 0


ITEMS = {f"n{n}_k{k}_{low}to4_r{loading}": cohort(n, k, low=low, loading=loading)
         for n, k in [(2, 2), (3, 5), (5, 12), (10, 3), (30, 8), (50, 2), (200, 12), (400, 10), (1000, 6), (5000, 12)]
         for low, loading in [(0, 1.0), (1, 0.0)]}
ITEMS |= {
    "constant_item": with_columns(cohort(300, 5), lambda x: x.__setitem__((slice(None), 2), 3)),
    "duplicated_items": with_columns(cohort(300, 6), lambda x: x.__setitem__((slice(None), 4), x[:, 1])),
    "three_copies_and_a_constant": with_columns(
        cohort(500, 7), lambda x: (x.__setitem__((slice(None), 5), x[:, 0]), x.__setitem__((slice(None), 6), x[:, 0]),
                                  x.__setitem__((slice(None), 3), 0))),
    "reversed_item": with_columns(cohort(800, 6), lambda x: x.__setitem__((slice(None), 0), 4 - x[:, 0])),
    "fewer_clients_than_items": cohort(4, 12, low=1),
}
SAMPLE = Path(psychometrics.__file__).with_name("data") / "sample.db"


def battery_cohort(n: int, loading: float) -> np.ndarray:
    """Answers 1 to 4 of the sample battery from one common factor; a few clients answer 5 and fail."""
    answers = cohort(n, 82, low=1, loading=loading)
    answers[::97, 11] = 5
    return answers


# Generated cohorts of the sample battery, each scale's item scores a case of its own.
BATTERY = {f"n{n}_r{loading}": battery_cohort(n, loading) for n, loading in [(60, 0.0), (400, 1.0), (3000, 0.6)]}
SCALES = [scale["scale"] for scale in psychometrics.scales(SAMPLE)]  # R's cases are named by number: names hold spaces
BATTERY_ITEMS = {f"{cohort_name}|{i}": np.asarray(psychometrics.item_scores(SAMPLE, answers, scale)[1])
                 for cohort_name, answers in BATTERY.items() for i, scale in enumerate(SCALES)}
# A scale R can take: at least two items that vary, and a total that varies.
R_ITEMS = {name: x for name, x in (ITEMS | BATTERY_ITEMS).items() if varying_items(x) >= 2 and x.sum(axis=1).std() > 0}

ANSWERS = {
    "sample_like": cohort(600, 40, low=1),
    "uncorrelated": cohort(300, 20, low=1, loading=0.0),
    "constant_and_repeated": with_columns(
        cohort(400, 15, low=1), lambda x: (x.__setitem__((slice(None), 3), 2), x.__setitem__((slice(None), 9), x[:, 8]))),
    "fewer_clients_than_questions": cohort(8, 12, low=1),
}

QF = [(p, df1, df1 * items) for p in (1e-10, 0.001, 0.025, 0.5, 0.975, 0.999) for items in (1, 4, 19)
      for df1 in (1, 2, 3, 10, 99, 1000, 4999, 99_999, 999_999)]


def write_cases(path: Path) -> None:
    with open(path, "w") as out:
        for kind, cases in (("reliability", R_ITEMS), ("quality", ANSWERS)):
            for name, x in cases.items():
                out.write(f"{kind} {name} {x.shape[0]} {x.shape[1]}\n")
                np.savetxt(out, x, fmt="%d")
        for i, (p, df1, df2) in enumerate(QF):
            out.write(f"qf {i} {p!r} {df1} {df2} {psychometrics._f_quantile(p, df1, df2)!r}\n")


@pytest.fixture(scope="session")
def r_reference(tmp_path_factory) -> dict[tuple[str, str], dict[int, float | None]]:
    """{(case, field): {index: value}}, all from one run of R."""
    if shutil.which("Rscript") is None:
        message = "R is not installed (scripts/install-test-tools installs r-base-core and r-cran-psych)"
        if os.environ.get("CI") == "true":
            pytest.fail(message)
        pytest.skip(message)
    folder = tmp_path_factory.mktemp("r")
    write_cases(folder / "cases.txt")
    done = subprocess.run(["Rscript", str(Path(__file__).with_name("psych_reference.R")), str(folder / "cases.txt"),
                           str(folder / "values.txt")], capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, done.stderr
    values: dict[tuple[str, str], dict[int, float | None]] = defaultdict(dict)
    for line in (folder / "values.txt").read_text().splitlines():
        case, field, index, value = line.split(" ")
        values[case, field][int(index)] = None if value == "NA" else float(value)
    return values


def assert_close(ours: float | None, theirs: float | None, what: str) -> None:
    if theirs is None:
        assert ours is None, what
    else:
        assert ours is not None and math.isclose(ours, theirs, rel_tol=TOLERANCE, abs_tol=TOLERANCE), \
            f"{what}: {ours!r} here, {theirs!r} in R"


@functools.cache
def analysis_of(cohort_name: str) -> tuple[dict[str, dict], dict[str, list[dict]]]:
    """item_analysis of a battery cohort as rows, by scale."""
    result = psychometrics.item_analysis(SAMPLE, BATTERY[cohort_name], threads=2)
    assert (result.clients, result.failed) == (len(BATTERY[cohort_name]) - len(BATTERY[cohort_name][::97]), len(BATTERY[cohort_name][::97]))
    items: dict[str, list[dict]] = defaultdict(list)
    for item in result.items.to_pyarrow().to_pylist():
        items[item["scale"]].append(item)
    return {row["scale"]: row for row in result.scales.to_pyarrow().to_pylist()}, items


@pytest.mark.parametrize("name", R_ITEMS)
def test_reliability_equals_psych_alpha(name, r_reference):
    x = R_ITEMS[name]
    result = psychometrics.reliability(x)
    if "|" in name:  # a scale of the battery: item_analysis gives what reliability gives on its item scores
        cohort_name, number = name.split("|")
        scale_name = SCALES[int(number)]
        scales, items = analysis_of(cohort_name)
        assert items[scale_name] == [{"scale": scale_name, "question": q, **item} for q, item in
                                     zip(psychometrics.item_scores(SAMPLE, BATTERY[cohort_name], scale_name)[0], result["items"])]
        assert scales[scale_name] == {"scale": scale_name, **result["scale"]}
    scale, items = result["scale"], result["items"]
    assert (scale["k"], scale["n"]) == (x.shape[1], x.shape[0])
    for field in ("alpha", "g6", "average_r", "mean", "sd", "alpha_low", "alpha_high"):
        assert_close(scale[field], r_reference[name, field][0], field)
    assert_close(scale["sem"], scale["sd"] * math.sqrt(1 - scale["alpha"]), "sem")
    varying = [i for i in range(x.shape[1]) if x[:, i].std() > 0]
    assert sorted(r_reference[name, "r_drop"]) == varying
    for field, r_field in (("r_drop", "r_drop"), ("mean", "item_mean"), ("sd", "item_sd")):
        for i, theirs in r_reference[name, r_field].items():
            assert_close(items[i][field], theirs, f"item {i} {field}")
    # psych reports C12/C22 as the "alpha" of the one item left of two; an alpha of one item is none.
    for i in varying:
        theirs = r_reference[name, "alpha_if_dropped"][i] if len(varying) >= 3 else None
        assert_close(items[i]["alpha_if_dropped"], theirs, f"item {i} alpha_if_dropped")
    for i in set(range(x.shape[1])) - set(varying):
        assert items[i]["flag"] == "no variance" and items[i]["r_drop"] is None


@pytest.mark.parametrize("name", ANSWERS)
def test_response_quality_equals_r(name, r_reference):
    x = ANSWERS[name]
    result = psychometrics.response_quality(x, threads=2)
    assert result["cohort"]["rank"] == r_reference[name, "rank"][0]
    for field in ("longstring", "irv", "mahalanobis_d2", "mahalanobis_p"):
        for row, theirs in r_reference[name, field].items():
            assert_close(result["clients"][row][field], theirs, f"client {row} {field}")


def test_f_quantile_equals_qf_where_r_computes_it_exactly(r_reference):
    for i, (p, df1, df2) in enumerate(QF):
        ours = psychometrics._f_quantile(p, df1, df2)
        # R's qf takes chi-square / df1 for F past 400,000 degrees of freedom in the denominator, and
        # its far tails are off by up to 1 %; there pf, which R computes exactly, checks ours.
        theirs = r_reference[str(i), "qf"][0]
        if df2 <= 400_000 and 0.025 <= p <= 0.975:
            assert math.isclose(ours, theirs, rel_tol=1e-12), f"qf({p}, {df1}, {df2}): {ours!r} here, {theirs!r} in R"
        tail = p if p < 0.5 else 1 - p
        assert math.isclose(r_reference[str(i), "tail_of_ours"][0], tail, rel_tol=1e-9), f"pf of qf({p}, {df1}, {df2})"


@pytest.mark.parametrize("x", [
    np.array([[1], [2], [4]]),                  # one item
    np.full((20, 4), 2),                        # no variance at all
    np.array([[0, 3, 1], [4, 3, 1], [2, 3, 1]]),  # one item varies
    np.array([[0, 4], [1, 3], [4, 0]]),         # items that cancel: the total does not vary
    np.zeros((1, 5), dtype=np.int8),            # one client
    np.zeros((0, 5), dtype=np.int8),            # none
])
def test_scales_without_a_reliability_get_null_statistics(x):
    scale = psychometrics.reliability(x)["scale"]
    assert all(scale[field] is None for field in ("alpha", "alpha_low", "alpha_high", "g6", "average_r", "sem"))
    assert scale["mean"] == (x.sum(axis=1).mean() if len(x) else None)


def test_any_integer_layout_and_any_thread_count_give_the_same_results():
    x = cohort(40_000, 9)
    base = psychometrics.reliability(x, threads=1)
    strided = np.zeros((x.shape[0], 2 * x.shape[1]), dtype=np.int16)
    strided[:, ::2] = x
    for layout in (x.astype(np.int8), x.astype(np.uint8), np.asfortranarray(x), strided[:, ::2]):
        assert psychometrics.reliability(layout, threads=3) == base
    assert psychometrics.reliability(x > 2) == psychometrics.reliability((x > 2).astype(np.int64))
    # Scores near the ends of their range take wider sums; alpha and the correlations do not change.
    wide = psychometrics.reliability(x * 16383 - 32768, threads=2)
    for field in ("alpha", "alpha_low", "g6", "average_r"):
        assert math.isclose(wide["scale"][field], base["scale"][field], rel_tol=1e-12)
    assert math.isclose(wide["scale"]["sd"], 16383 * base["scale"]["sd"], rel_tol=1e-12)
    assert all(math.isclose(w["r_drop"], b["r_drop"], rel_tol=1e-12) for w, b in zip(wide["items"], base["items"]))
    answers = cohort(30_000, 12, low=1)
    assert psychometrics.response_quality(answers, threads=1) == psychometrics.response_quality(answers, threads=3)


def test_flags_point_at_the_careless_clients_of_a_cohort():
    answers = cohort(2000, 30, low=1, loading=0.3)
    answers[7] = 3                               # straight-lining
    answers[8] = np.tile([1, 4], 15)             # alternating extremes
    clients = psychometrics.response_quality(answers)["clients"]
    assert clients[7]["flag"] == "long string; low variability"
    assert "Mahalanobis p < .001" in clients[8]["flag"]
    assert sum(c["flag"] is not None for c in clients) < 40


@pytest.mark.parametrize("call, error, words", [
    (lambda: psychometrics.reliability([[1, 2], [3, 4]]), TypeError, "2-D integer buffer"),
    (lambda: psychometrics.reliability(np.ones((3, 2))), TypeError, "format 'd'"),
    (lambda: psychometrics.reliability(np.ones(3, dtype=np.int8)), ValueError, "2 dimensions"),
    (lambda: psychometrics.response_quality(np.array([[1, 2], [3, 40_000]])), ValueError, "answers[1, 1] is 40000"),
    (lambda: psychometrics.reliability(np.ones((3, 2), dtype=np.int8), threads=0), ValueError, "at least 1"),
    (lambda: psychometrics.read_norms("/nonexistent/norms.db"), FileNotFoundError, "norms.db"),
    (lambda: psychometrics.write_norms("/tmp/n.db", {"a": []}, name="g"), ValueError, "no totals of scale 'a'"),
    (lambda: psychometrics.write_norms("/tmp/n.db", {"a": [1]}, name="g", date="1.1.2024"), ValueError, "YYYY-MM-DD"),
])
def test_bad_input_is_refused_clearly(call, error, words):
    with pytest.raises(error) as raised:
        call()
    assert words in str(raised.value)


def test_norm_file_round_trip_and_scores(tmp_path):
    totals = {"Traits.Composure.score": rng.integers(0, 30, 5000), "vak.visual": rng.integers(5, 9, 40)}
    path = tmp_path / "norms.db"
    path.write_text("an older file, replaced whole")
    psychometrics.write_norms(path, totals, name="pilot 2024", date="2024-09-01")
    group = psychometrics.read_norms(path)
    assert (group["name"], group["date"], list(group["scales"])) == ("pilot 2024", "2024-09-01", list(totals))
    for scale, values in totals.items():
        norm = group["scales"][scale]
        assert norm["counts"] == {int(s): int(c) for s, c in zip(*np.unique(values, return_counts=True))}
        assert norm["size"] == len(values) and math.isclose(norm["sd"], values.std(ddof=1), rel_tol=1e-12)
        for score in range(int(values.min()) - 2, int(values.max()) + 3):
            got = psychometrics.norm_scores(path, {scale: score})["scales"][scale]
            rank = 100 * ((values < score).mean() + (values == score).mean() / 2)
            z = (score - values.mean()) / values.std(ddof=1)
            bands = np.arange(-2, 2.01, 0.5)
            assert math.isclose(got["percentile"], min(max(rank, 1), 99), abs_tol=1e-9)
            assert math.isclose(got["t"], 50 + 10 * z, abs_tol=1e-9)
            assert got["sten"] == np.searchsorted(bands, z, side="right") + 1
            assert got["stanine"] == np.searchsorted(np.arange(-1.75, 1.76, 0.5), z, side="right") + 1
            assert got["range"] == ("below" if score < values.min() else "above" if score > values.max() else None)
    with sqlite3.connect(path) as db:
        assert db.execute("PRAGMA application_id").fetchone() == (0x4E524D31,)
        db.execute("DELETE FROM norm_count WHERE score = (SELECT min(score) FROM norm_count)")
    with pytest.raises(ValueError, match="do not add up"):
        psychometrics.read_norms(path)
    sqlite3.connect(tmp_path / "other.db").execute("CREATE TABLE t (x)").connection.commit()
    with pytest.raises(ValueError, match="is not a norm file"):
        psychometrics.read_norms(tmp_path / "other.db")
    assert sorted(p.name for p in tmp_path.iterdir()) == ["norms.db", "other.db"]
