"""The documented shape of a report, checked whole: keys in order, kinds of values, and levels that fit
their scores. Used where the inputs are generated or hostile and the exact figures are unknown."""

from __future__ import annotations

import math

from assessment_db import EMQ_COLUMNS, TRS_COLUMNS

REPORT_KEYS = ["client_id", "Personality_Type", "vak", "Emotional_Intelligance", "Roles", "Traits", "Spaces"]
PERSONALITY_KEYS = ["E", "I", "S", "N", "T", "F", "J", "P", "title"]
VAK_KEYS = ["type", "visual", "auditory", "kinesthetic"]
TRAIT_KEYS = ["id", "name", "score", "level"]
SPACE_KEYS = ["space_id", "space_name", "level", "percentage", "aspects"]
ASPECT_KEYS = ["space_id", "aspect_id", "aspect_name", "level", "percentage", "skills"]
SKILL_KEYS = ["aspect_id", "skill_id", "skill_name", "score", "level"]
# What a cell copied from the database may become in the report.
CELL_TYPES = (type(None), int, float, str, bytes)
LEVELS = {"Advanced", "Intermediate", "Beginner"}


def _keys(value: object, keys: list[str], where: str) -> dict:
    assert type(value) is dict, f"{where}: {type(value).__name__}, not dict"
    assert list(value) == keys, f"{where}: keys {list(value)}"
    return value


def _count(value: object, where: str) -> int:
    assert type(value) is int and value >= 0, f"{where}: {value!r}"
    return value


def _share(value: object, where: str) -> float:
    assert type(value) is float and 0.0 <= value <= 1.0, f"{where}: {value!r}"
    return value


def _cell(value: object, where: str) -> None:
    assert type(value) in CELL_TYPES, f"{where}: {type(value).__name__}"


def trait_level(score: int) -> str:
    return "balanced" if score > 15 else "rebalanced" if score >= 10 else "unbalanced"


def skill_level(score: int) -> str:
    return "Strong Skill" if score >= 30 else "Needs Attention" if score >= 25 else "Development Priority"


def dominant_style(visual: int, auditory: int, kinesthetic: int) -> str:
    if visual > auditory and visual > kinesthetic:
        return "Visual"
    if auditory > visual and auditory > kinesthetic:
        return "Auditory"
    return "Kinesthetic"


def check_personality(section: object) -> None:
    p = _keys(section, PERSONALITY_KEYS, "Personality_Type")
    title = p["title"]
    assert type(title) is str and len(title) == 4, f"title {title!r}"
    for i, (first, second) in enumerate(["EI", "SN", "TF", "JP"]):
        e, i_ = _share(p[first], first), _share(p[second], second)
        assert (e, i_) == (0.0, 0.0) or math.isclose(e + i_, 1.0, abs_tol=0.011), f"{first}/{second}: {e}, {i_}"
        assert title[i] in (first, second), f"title {title!r}"
        if e != i_:
            assert title[i] == (first if e > i_ else second), f"title {title!r} against {e}, {i_}"


def check_vak(section: object) -> None:
    v = _keys(section, VAK_KEYS, "vak")
    scores = [_count(v[k], k) for k in VAK_KEYS[1:]]
    assert v["type"] == dominant_style(*scores), f"vak {v}"


def check_traits(section: object) -> list[str]:
    assert type(section) is list, "Traits"
    for t in section:
        _keys(t, TRAIT_KEYS, "trait")
        _cell(t["id"], "trait id")
        assert type(t["name"]) is str, f"trait name {t['name']!r}"
        assert t["level"] == trait_level(_count(t["score"], "trait score")), f"trait {t}"
    return [t["name"] for t in section]


def _percentage(value: object, where: str) -> None:
    assert type(value) is float and value >= 0.0 and value == round(value, 2), f"{where}: {value!r}"


def check_spaces(section: object) -> None:
    assert type(section) is list, "Spaces"
    for space in section:
        _keys(space, SPACE_KEYS, "space")
        _cell(space["space_id"], "space_id")
        _cell(space["space_name"], "space_name")
        assert space["level"] in LEVELS, f"space level {space['level']!r}"
        _percentage(space["percentage"], "space percentage")
        assert type(space["aspects"]) is list and 3 <= len(space["aspects"]) <= 5, "a space has 3 to 5 aspects"
        for aspect in space["aspects"]:
            _keys(aspect, ASPECT_KEYS, "aspect")
            assert aspect["space_id"] == space["space_id"], "aspect space_id"
            _cell(aspect["aspect_id"], "aspect_id")
            _cell(aspect["aspect_name"], "aspect_name")
            assert aspect["level"] in LEVELS, f"aspect level {aspect['level']!r}"
            _percentage(aspect["percentage"], "aspect percentage")
            assert type(aspect["skills"]) is list, "skills"
            for skill in aspect["skills"]:
                _keys(skill, SKILL_KEYS, "skill")
                assert skill["aspect_id"] == aspect["aspect_id"], "skill aspect_id"
                _cell(skill["skill_id"], "skill_id")
                assert type(skill["skill_name"]) is str, "a skill with a total is named by a column"
                assert skill["level"] == skill_level(_count(skill["score"], "skill score")), f"skill {skill}"
            names = [skill["skill_name"] for skill in aspect["skills"]]
            assert len(names) == len(set(names)), f"a skill stands once per aspect: {names}"


def check_report(report: object) -> None:
    """Asserts that the report has exactly the documented structure."""
    r = _keys(report, REPORT_KEYS, "report")
    check_personality(r["Personality_Type"])
    check_vak(r["vak"])
    for key, columns in (("Emotional_Intelligance", EMQ_COLUMNS), ("Roles", TRS_COLUMNS)):
        section = _keys(r[key], list(columns), key)
        for name in columns:
            _count(section[name], f"{key}[{name}]")
    check_traits(r["Traits"])
    check_spaces(r["Spaces"])
