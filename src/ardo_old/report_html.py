"""A report of ``ardo_old.mind.mind`` as one self-contained HTML page, for the people who read it.

``render_report(report)`` gives the page of one client; ``render_index(entries)`` the index page of a
cohort; ``write_pages(results, directory)`` writes both. A page fetches nothing and runs no script:
its style is inline, its charts are inline SVG drawn from the report's numbers, and every text that
comes from the database is escaped. Every level is named in text, so the page reads without colour,
and it prints on A4. Needs Jinja2 (the ``html`` extra).
"""

from __future__ import annotations

import math
import re
from collections.abc import Iterable, Mapping
from functools import cache
from pathlib import Path
from typing import Any

from ardo_old._check import level_bands

__all__ = ["render_index", "render_report", "write_pages"]

# The poles of the personality type, each pair drawn as one bipolar bar.
POLE_PAIRS = [("E", "I"), ("S", "N"), ("T", "F"), ("J", "P")]
POLE_NAMES = {"E": "Extraversion", "I": "Introversion", "S": "Sensing", "N": "Intuition",
              "T": "Thinking", "F": "Feeling", "J": "Judging", "P": "Perceiving"}
EMOTION_NAMES = {"SelfAwarness": "Self-awareness", "ManagingEmotions": "Managing emotions",
                 "MotivatingOneself": "Motivating oneself", "Empathy": "Empathy",
                 "SocialSkills": "Social skills"}
ROLE_NAMES = {"RI": "Resource Investigator", "CO": "Co-ordinator", "PL": "Plant", "SH": "Shaper",
              "ME": "Monitor Evaluator", "IMP": "Implementer", "TW": "Teamworker",
              "CF": "Completer Finisher", "SP": "Specialist"}
# The percentage bands of the level rules, lowest first: (level, lower bound in percent).
ASPECT_BANDS = level_bands["aspect"]
SPACE_BANDS = level_bands["space"]


def render_report(report: Mapping[str, Any]) -> str:
    """The page of one client's report, as ``mind`` returns it."""
    return _template("report.html.j2").render(
        client=text(report.get("client_id")),
        personality=personality_view(report.get("Personality_Type") or {}),
        learning=learning_view(report.get("vak") or {}),
        emotions=bars(report.get("Emotional_Intelligance") or {}, EMOTION_NAMES),
        roles=sorted(bars(report.get("Roles") or {}, ROLE_NAMES), key=_ranking),
        traits=[scored_view(trait, "id", "name") for trait in report.get("Traits") or []],
        spaces=[space_view(space) for space in report.get("Spaces") or []],
    )


def render_index(entries: Iterable[tuple[Any, str | None, Mapping[str, Any] | BaseException | str]]
                 ) -> str:
    """The index page of a cohort: one row per (client id, file name of its page, its report or
    the error that kept it from one); a row without a page names the error instead of linking."""
    rows = [index_row(client_id, page, result) for client_id, page, result in entries]
    failed = sum(row["error"] is not None for row in rows)
    return _template("index.html.j2").render(rows=rows, failed=failed)


def write_pages(results: Iterable[tuple[Any, Mapping[str, Any] | BaseException | str]],
                directory: str | Path) -> Path:
    """Writes one page per scored client of ``results`` (pairs of client id and its report, or the
    error that kept it from one) into ``directory``, made if missing, and ``index.html`` linking
    them; returns the index's path. Pages are numbered in cohort order, so no two clients share a
    file whatever their ids."""
    directory = Path(directory)
    directory.mkdir(parents=True, exist_ok=True)
    entries = []
    for position, (client_id, result) in enumerate(results, start=1):
        page = None
        if isinstance(result, Mapping):
            page = f"{position:04d}-{_file_stem(client_id)}.html"
            (directory / page).write_text(render_report(result), encoding="utf-8")
        entries.append((client_id, page, result))
    index = directory / "index.html"
    index.write_text(render_index(entries), encoding="utf-8")
    return index


@cache
def _environment():
    try:
        import jinja2
    except ModuleNotFoundError as missing:
        raise ModuleNotFoundError(
            "HTML reports need Jinja2: pip install 'ardo_old[html]'", name=missing.name) from None
    return jinja2.Environment(loader=jinja2.PackageLoader("ardo_old", "templates"),
                              autoescape=True, undefined=jinja2.StrictUndefined,
                              trim_blocks=True, lstrip_blocks=True)


def _template(name: str):
    return _environment().get_template(name)


def _file_stem(client_id: Any) -> str:
    return re.sub(r"[^A-Za-z0-9_-]+", "_", text(client_id))[:40].strip("_") or "client"


def is_number(value: Any) -> bool:
    return isinstance(value, (int, float)) and not isinstance(value, bool) and math.isfinite(value)


def text(value: Any) -> str:
    """A database cell or identifier as the page shows it."""
    if value is None:
        return "none"
    if isinstance(value, bytes):
        return f"{len(value)} bytes"
    return str(value)


def figure(value: Any) -> str:
    """A total or score: integers as they are, reals to two decimals."""
    if isinstance(value, float) and math.isfinite(value):
        return f"{value:.2f}"
    return "not a number" if isinstance(value, float) else text(value)


def percent(value: Any) -> str:
    return f"{value:.2f} %" if is_number(value) else figure(value)


def fraction(value: Any, whole: float) -> float:
    """The share of the bar a value fills: 0 for what is no number, never beyond the bar."""
    if not is_number(value) or whole <= 0:
        return 0.0
    return min(max(value / whole, 0.0), 1.0)


def pole_share(value: Any) -> str:
    return f"{100 * value:.0f} %" if is_number(value) else figure(value)


def personality_view(section: Mapping[str, Any]) -> dict:
    pairs = []
    for left, right in POLE_PAIRS:
        shares = section.get(left), section.get(right)
        total = sum((share for share in shares if is_number(share)), 0.0)
        poles = [{"letter": letter, "name": POLE_NAMES[letter], "share": pole_share(share)}
                 for letter, share in zip((left, right), shares)]
        pairs.append({"poles": poles, "left": 100 * fraction(shares[0], total)})
    return {"title": text(section.get("title")), "pairs": pairs}


def bars(section: Mapping[str, Any], names: Mapping[str, str]) -> list[dict]:
    """One bar per entry of a section of totals, scaled to the largest total."""
    largest = max((value for value in section.values() if is_number(value)), default=0)
    return [{"key": key, "name": names.get(key, key), "value": value, "figure": figure(value),
             "width": 100 * fraction(value, largest)} for key, value in section.items()]


def _ranking(bar: dict) -> float:
    return -bar["value"] if is_number(bar["value"]) else math.inf


def learning_view(section: Mapping[str, Any]) -> dict:
    dominant = text(section.get("type"))
    styles = {key: value for key, value in section.items() if key != "type"}
    rows = bars(styles, {key: key.capitalize() for key in styles})
    for row in rows:
        row["dominant"] = row["name"] == dominant
    return {"type": dominant, "bars": rows}


def scored_view(entry: Mapping[str, Any], id_key: str, name_key: str) -> dict:
    """A trait or a skill: its name and identifier, its score and level."""
    return {"id": text(entry.get(id_key)), "name": text(entry.get(name_key)),
            "score": figure(entry.get("score")), "level": text(entry.get("level"))}


def banded(percentage: Any, bands: list[tuple[str, int]]) -> dict:
    """A percentage drawn against its level bands, each band with its range named."""
    ranges = []
    for (level, low), upper in zip(bands, [*(low for _, low in bands[1:]), None]):
        span = f"≥ {low} %" if upper is None else f"{low}–{upper} %" if low else f"< {upper} %"
        ranges.append({"level": level, "x": low, "width": (upper or 100) - low, "range": span})
    return {"percent": percent(percentage), "width": 100 * fraction(percentage, 100),
            "bands": ranges}


def space_view(space: Mapping[str, Any]) -> dict:
    return {"id": text(space.get("space_id")), "name": text(space.get("space_name")),
            "level": text(space.get("level")), **banded(space.get("percentage"), SPACE_BANDS),
            "aspects": [aspect_view(aspect) for aspect in space.get("aspects") or []]}


def aspect_view(aspect: Mapping[str, Any]) -> dict:
    return {"id": text(aspect.get("aspect_id")), "name": text(aspect.get("aspect_name")),
            "level": text(aspect.get("level")), **banded(aspect.get("percentage"), ASPECT_BANDS),
            "skills": [scored_view(skill, "skill_id", "skill_name")
                       for skill in aspect.get("skills") or []]}


def index_row(client_id: Any, page: str | None, result: Any) -> dict:
    row: dict[str, Any] = {"client": text(client_id), "page": page, "error": None}
    if not isinstance(result, Mapping):
        row["error"] = (f"{type(result).__name__}: {result}" if isinstance(result, BaseException)
                        else text(result))
        return row
    learning = result.get("vak") or {}
    row.update(type=text((result.get("Personality_Type") or {}).get("title")),
               learning=text(learning.get("type")),
               spaces=[{"name": text(space.get("space_name")), "level": text(space.get("level")),
                        "percent": percent(space.get("percentage"))}
                       for space in result.get("Spaces") or []])
    return row
