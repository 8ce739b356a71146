"""What the commands and pages know of the instrument from its scales: each scale's possible range,
the design warnings that concern a scale, a client's standing against a norm group, and a cohort's
reliability. Everything comes from ``ardo_old.psychometrics`` and ``check``'s own definitions."""

from __future__ import annotations

from collections.abc import Iterable
from types import SimpleNamespace
from typing import Any

from ardo_old import psychometrics
from ardo_old.mind_types import DatabasePath

PERCENT = 100


def scale_ranges(database: DatabasePath) -> dict[str, tuple[float, float]]:
    """Each scale's possible (lowest, highest) value, in the units the report gives it: totals, and
    for an aspect or a space its percentage. Pole shares always run from 0 to 1 and are left out."""
    ranges: dict[str, tuple[float, float]] = {}
    for scale in psychometrics.scales(database):
        if scale["scale"].startswith("Personality_Type."):
            continue
        low, high, maximum = scale["lowest"], scale["highest"], scale["maximum"]
        ranges[scale["scale"]] = (low, high) if maximum is None else (PERCENT * low / maximum, PERCENT * high / maximum)
    return ranges


def client_norms(norms: DatabasePath, database: DatabasePath, answers: list[Any]) -> dict[str, Any]:
    """A client's standing on every scale of the norm file that the battery has: the group, its date,
    and by scale {percentile, t, sten, stanine, range}."""
    names, totals = psychometrics.scale_totals(database, [SimpleNamespace(user_responses=answers)])
    group = psychometrics.read_norms(norms)
    rows: list[list[int]] = memoryview(totals).tolist()  # type: ignore[assignment]
    kept = {name: total for name, total in zip(names, rows[0] if rows else []) if name in group["scales"]}
    return dict(psychometrics.norm_scores(norms, kept))


def stanine_band(normed: dict[str, Any]) -> str:
    """The band a page shows beside a percentile: the stanine, and a score outside the group's range."""
    band = "no stanine" if normed["stanine"] is None else f"stanine {normed['stanine']}"
    return band if normed["range"] is None else f"{band}, {normed['range']} the group's range"


def flagged_items(analysis: Any) -> dict[str, tuple[float | None, list[tuple[int, str]]]]:
    """Each scale's alpha and its flagged items (question, why), from an item analysis."""
    found: dict[str, tuple[float | None, list[tuple[int, str]]]] = {
        row["scale"]: (row["alpha"], []) for row in analysis.scales.to_pylist()}
    for item in analysis.items.to_pylist():
        if item["flag"] is not None:
            found[item["scale"]][1].append((item["question"], item["flag"]))
    return found


def cohort_reliability(database: DatabasePath, clients: Iterable[Any], jobs: int | None = None
                       ) -> dict[str, tuple[float | None, list[tuple[int, str]]]]:
    return flagged_items(psychometrics.item_analysis(database, clients, threads=jobs))
