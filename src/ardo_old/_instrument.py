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


class Standing:
    """Clients' standing on every scale of the norm file that the battery has, as the JSON gives it
    under "norms": the group, its date, and by scale {percentile, t, sten, stanine, range}. The norm
    file is read once, when made, with read_norms' errors. A scale's standing depends on its total
    alone, so norm_scores is asked only for the totals no client before had."""

    def __init__(self, norms: DatabasePath, database: DatabasePath) -> None:
        self.norms, self.database = norms, database
        self.scales = psychometrics.read_norms(norms)["scales"]
        self.known: dict[tuple[str, int], dict[str, Any]] = {}
        self.group: dict[str, Any] = {}

    def __call__(self, answers: list[Any]) -> dict[str, Any] | None:
        return self.many([answers])[0]

    def many(self, answers: list[list[Any]]) -> list[dict[str, Any] | None]:
        """Each client's standing, from one read of the database; None for a client that fails."""
        names, totals = psychometrics.scale_totals(self.database, [SimpleNamespace(user_responses=a) for a in answers])
        rows: list[list[int]] = memoryview(totals).tolist()  # type: ignore[assignment]
        found: list[dict[str, Any] | None] = [None] * len(answers)
        for client, row in zip(totals.clients, rows):
            kept = [(name, total) for name, total in zip(names, row) if name in self.scales]
            new = {name: total for name, total in kept if (name, total) not in self.known}
            if new or not self.group:
                normed = psychometrics.norm_scores(self.norms, new)
                self.group = {"group": normed["group"], "date": normed["date"]}
                self.known.update(((name, new[name]), dict(scores)) for name, scores in normed["scales"].items())
            found[client] = {**self.group, "scales": {name: dict(self.known[name, total]) for name, total in kept}}
        return found


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
