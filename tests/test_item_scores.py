"""The scales of a battery: over the generated databases, every client's item scores add up to the
total that mind reports for each scale, for answers given as a matrix and as clients."""

from __future__ import annotations

import tempfile
from pathlib import Path
from types import SimpleNamespace
from typing import Any

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from ardo_old import psychometrics
from ardo_old.cohort import score_cohort
from test_generated_inputs import EXAMPLES, cases, write

SAMPLE = Path(psychometrics.__file__).with_name("data") / "sample.db"


def segment(name: Any) -> str:
    """An entry's name as a segment of a field's name (mind's rule)."""
    if isinstance(name, str):
        text = name.replace("\\", "\\\\").replace(".", "\\.").replace("\x00", "\\0")
        return "\\" + text if text.startswith("[") else text
    if isinstance(name, bool) or name is None:
        return "[null]" if name is None else f"[{int(name)}]"
    if isinstance(name, int):
        return f"[{name}]"
    if isinstance(name, float):
        return f"[{name:.17g}]"
    return f"[0x{name.hex()}]"


def totals_of(report: dict) -> dict[str, Any]:
    """Every scale's reported value, by its field's name."""
    values = {f"Personality_Type.{pole}": share for pole, share in report["Personality_Type"].items()}
    values |= {f"vak.{style}": total for style, total in report["vak"].items()}
    for section in ("Emotional_Intelligance", "Roles"):
        values |= {f"{section}.{key}": total for key, total in report[section].items()}
    values |= {f"Traits.{segment(trait['name'])}.score": trait["score"] for trait in report["Traits"]}
    for space in report["Spaces"]:
        prefix = f"Spaces.{segment(space['space_name'])}"
        values[f"{prefix}.percentage"] = space["percentage"]
        for aspect in space["aspects"]:
            inner = f"{prefix}.{segment(aspect['aspect_name'])}"
            values[f"{inner}.percentage"] = aspect["percentage"]
            values |= {f"{inner}.{segment(skill['skill_name'])}.score": skill["score"] for skill in aspect["skills"]}
    return values


def assert_items_add_up(scale: dict, answers: list[int], row: np.ndarray, reported: Any) -> None:
    total = int(row.sum())
    name = scale["scale"]
    if name.startswith("Personality_Type."):
        answered = sum(q <= len(answers) for q in scale["questions"])
        assert reported == round(total / max(answered, 1), 2), name
    elif scale["maximum"] is not None:
        assert reported == round(total / scale["maximum"] * 100, 2), name
    else:
        assert reported == total, name
    # The range is that of answers 1 to 4 to every question: fewer answers can give less.
    if all(q <= len(answers) for q in scale["questions"]):
        assert scale["lowest"] <= total <= scale["highest"], name


def check_battery(database: Path, answers: np.ndarray, form: str, tamper: bool = False) -> int:
    """Compares every scale's item scores with mind's totals; returns how many were compared."""
    clients = [SimpleNamespace(client_id=i, user_responses=[int(a) for a in row]) for i, row in enumerate(answers)]
    reports = score_cohort(database, clients, threads=2)
    given = clients if form == "clients" else answers
    compared = 0
    for scale in psychometrics.scales(database):
        questions, matrix = psychometrics.item_scores(database, given, scale["scale"], threads=3)
        rows = np.asarray(matrix).reshape(matrix.shape)
        assert list(questions) == list(scale["questions"]) and rows.shape[1] == len(questions)
        assert matrix.clients == [i for i, r in enumerate(reports) if not isinstance(r, BaseException)]
        if tamper and rows.size:
            rows = rows.copy()
            rows[0, 0] += 1
        for row, client in zip(rows, matrix.clients):
            assert_items_add_up(scale, clients[client].user_responses, row, totals_of(reports[client])[scale["scale"]])
            compared += 1
    return compared


@settings(max_examples=EXAMPLES, deadline=None,
          suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large, HealthCheck.large_base_example])
@given(case=cases(), seed=st.integers(0, 2**32 - 1), form=st.sampled_from(["matrix", "clients"]))
def test_item_scores_add_up_to_the_totals_over_generated_databases(case, seed, form):
    answers = np.random.default_rng(seed).integers(1, 5, size=(6, len(case.answers)), dtype=np.int8)
    with tempfile.TemporaryDirectory() as folder:
        path = Path(folder) / "generated.db"
        write(path, case.tables)
        try:
            psychometrics.scales(path)
        except Exception:  # a database that every client fails on: no scale to compare
            return
        check_battery(path, answers, form)


def test_the_sample_battery_adds_up_and_a_wrong_contribution_is_caught():
    answers = np.random.default_rng(5).integers(1, 5, size=(40, 82), dtype=np.int8)
    answers[3, 7] = 9  # fails scoring: no row
    assert check_battery(SAMPLE, answers, "matrix") == 74 * 39
    with pytest.raises(AssertionError):
        check_battery(SAMPLE, answers, "matrix", tamper=True)
