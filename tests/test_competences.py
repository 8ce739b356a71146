"""The space / aspect / skill hierarchy: totals from "CTD", structure from "CMF", levels and identifiers."""

from __future__ import annotations

import pytest

from ardo_old.mind import mind
from assessment_db import VAK_COLUMNS, Request, Table

CMF = ["Space", "Aspect", "Skill"]


def ctd_with_totals(totals: dict[str, int]) -> tuple[list[int], Table]:
    """All answers 1 and method "A1" (1 point), so a skill's total is the number of its coded rows."""
    rows = max(totals.values(), default=0)
    names = list(totals)
    table = Table(["Idx"] + names, [[q + 1] + ["A1" if q < totals[n] else None for n in names] for q in range(rows)])
    return [1] * rows, table


def hierarchy(*rows):
    return Table(CMF, [list(r) for r in rows])


def score_hierarchy(score, totals, cmf, **tables):
    answers, ctd = ctd_with_totals(totals)
    vak = Table(VAK_COLUMNS, [[None] * 5 for _ in answers])
    return score(answers, CTD=ctd, CMF=cmf, VAK=vak, **tables)["Spaces"]


def three_aspects(space, *aspect_skills):
    rows = []
    for i, skills in enumerate(aspect_skills):
        rows += [(space, f"{space}-A{i}", k) for k in skills or ["no total"]]
    return rows


@pytest.mark.parametrize(
    "totals, level, percentage",
    [((12, 10, 8), "Advanced", 83.33), ((10, 10, 9), "Intermediate", 80.56), ((7, 7, 7), "Intermediate", 58.33), ((0, 0, 0), "Beginner", 0.0)],
)
def test_aspect_of_three_skills(score, totals, level, percentage):
    names = {f"K{i}": t for i, t in enumerate(totals)}
    cmf = hierarchy(*three_aspects("S", list(names), [], []))
    aspect = score_hierarchy(score, names, cmf)[0]["aspects"][0]
    assert (aspect["level"], aspect["percentage"]) == (level, percentage)


@pytest.mark.parametrize("total, level, percentage", [(39, "Advanced", 81.25), (38, "Intermediate", 79.17), (27, "Beginner", 56.25)])
def test_aspect_of_four_skills(score, total, level, percentage):
    names = {"K0": total - 3 * (total // 4), "K1": total // 4, "K2": total // 4, "K3": total // 4}
    cmf = hierarchy(*three_aspects("S", list(names), [], []))
    aspect = score_hierarchy(score, names, cmf)[0]["aspects"][0]
    assert (aspect["level"], aspect["percentage"]) == (level, percentage)


def test_space_of_three_aspects_and_the_whole_entry(score):
    totals = {"K1": 30, "K2": 29, "K3": 21}
    cmf = hierarchy(("S", "A1", "K1"), ("S", "A2", "K2"), ("S", "A3", "K3"))
    ids = Table(["Title", "Geo_Id"], [["S", 100], ["A1", 1], ["A2", 2], ["A3", 3], ["K1", 11], ["K2", 12], ["K3", 13]])
    [space] = score_hierarchy(score, totals, cmf, IDs=ids)
    assert (space["space_id"], space["space_name"], space["level"], space["percentage"]) == (100, "S", "Advanced", 74.07)
    assert space["aspects"][0] == {
        "space_id": 100, "aspect_id": 1, "aspect_name": "A1", "level": "Intermediate", "percentage": 62.5,
        "skills": [{"aspect_id": 1, "skill_id": 11, "skill_name": "K1", "score": 30, "level": "Strong Skill"}],
    }
    assert [s["skills"][0]["level"] for s in space["aspects"]] == ["Strong Skill", "Needs Attention", "Development Priority"]


@pytest.mark.parametrize("aspects, message", [(2, 2), (6, 6), (1, 1)])
def test_space_without_a_maximum_score_fails_with_its_count(make_db, aspects, message):
    cmf = hierarchy(*[("S", f"A{i}", "K") for i in range(aspects)])
    with pytest.raises(KeyError) as info:
        mind(Request("c", [], str(make_db(CMF=cmf))))
    assert info.value.args == (message,)


@pytest.mark.parametrize("aspects, score_total, level, percentage", [(5, 130, "Advanced", 72.22), (5, 97, "Beginner", 53.89), (4, 0, "Beginner", 0.0)])
def test_space_maximum_by_aspect_count(score, aspects, score_total, level, percentage):
    cmf = hierarchy(*[("S", f"A{i}", "K" if i == 0 else f"X{i}") for i in range(aspects)])
    [space] = score_hierarchy(score, {"K": score_total}, cmf)
    assert (space["level"], space["percentage"]) == (level, percentage)


def test_structure_follows_first_seen_order_and_drops_the_header_space(score):
    cmf = hierarchy(
        ("S1", "A1", "K1"), ("Space", "Aspect", "Skill"), ("S2", "A2", "K2"), ("S1", "A1", "K3"),
        ("S1", "A3", "K1"), ("S1", "A4", "K2"), ("S2", "B", "K1"), ("S2", "C", "K1"), ("Space", "X", "K1"),
    )
    spaces = score_hierarchy(score, {"K3": 1, "K2": 2, "K1": 3}, cmf)
    assert [s["space_name"] for s in spaces] == ["S1", "S2"]
    assert [a["aspect_name"] for a in spaces[0]["aspects"]] == ["A1", "A3", "A4"]
    assert [k["skill_name"] for k in spaces[0]["aspects"][0]["skills"]] == ["K1", "K3"]


def test_skills_without_totals_count_in_size_but_get_no_entry(score):
    cmf = hierarchy(*three_aspects("S", ["K1", "K2", "Nope"], ["K1", "K1"], ["K9"]))
    aspects = score_hierarchy(score, {"K1": 20, "K2": 16, "Unlisted": 5}, cmf)[0]["aspects"]
    assert [(k["skill_name"], k["score"]) for k in aspects[0]["skills"]] == [("K1", 20), ("K2", 16)]
    assert (aspects[0]["level"], aspects[0]["percentage"]) == ("Advanced", 100.0)
    # A skill listed twice adds twice and counts twice towards the size, with one entry.
    assert [k["skill_name"] for k in aspects[1]["skills"]] == ["K1"]
    assert aspects[1]["percentage"] == round(40 / 48 * 100, 2)
    assert aspects[2]["skills"] == []


def test_no_rows_in_the_scoring_key(score):
    cmf = hierarchy(*three_aspects("S", ["K1"], ["K2"], ["K3"]))
    [space] = score(["x"], CTD=Table(["Idx", "K1", "K2", "K3"]), CMF=cmf)["Spaces"]
    assert (space["level"], space["percentage"]) == ("Beginner", 0.0)
    assert [a["skills"][0]["level"] for a in space["aspects"]] == ["Development Priority"] * 3


def test_empty_hierarchy_still_tallies(make_db, score):
    assert score([], CTD=Table(["Idx", "K1"]))["Spaces"] == []
    with pytest.raises(IndexError):
        mind(Request("c", [], str(make_db(CTD=Table(["K1"], [[None]])))))


@pytest.mark.parametrize(
    "columns, message",
    [(["S", "A"], "need more than 2 values to unpack"), (["S"], "need more than 1 value to unpack"), (["S", "A", "K", "X"], "too many values to unpack (expected 3)")],
)
def test_hierarchy_rows_must_be_three_cells(make_db, columns, message):
    cmf = Table(columns, [["x"] * len(columns)])
    with pytest.raises(ValueError) as info:
        mind(Request("c", [], str(make_db(CMF=cmf))))
    assert str(info.value) == message


def test_identifiers_never_carry_over_and_missing_cells_become_none(score):
    cmf = hierarchy(*three_aspects("S1", ["K1"], ["K2"], ["K3"]), *three_aspects("S2", ["K1"], ["K2"], ["K3"]))
    ids = Table(["Title", "Geo_Id"], [["S1", "s1"], ["S1-A1", None], ["K2", 2.5], ["K2", "later"], ["S2-A0", b"\x01"]])
    spaces = score_hierarchy(score, {"K1": 1, "K2": 1, "K3": 1}, cmf, IDs=ids)
    assert [s["space_id"] for s in spaces] == ["s1", None]
    assert [[a["aspect_id"] for a in s["aspects"]] for s in spaces] == [[None, None, None], [b"\x01", None, None]]
    assert [a["space_id"] for a in spaces[1]["aspects"]] == [None] * 3
    skills = [a["skills"][0] for a in spaces[0]["aspects"]]
    assert [(k["aspect_id"], k["skill_id"]) for k in skills] == [(None, None), (None, 2.5), (None, None)]


def test_numeric_hierarchy_cells_keep_their_kind(score):
    cmf = Table(CMF, [[1, 10, "K1"], [1.0, 11, "K1"], [1, 12, "K1"]])  # 1 and 1.0 are one space
    ids = Table(["Title", "Geo_Id"], [[1.0, "one"], [11, "eleven"]])
    [space] = score_hierarchy(score, {"K1": 2}, cmf, IDs=ids)
    assert (space["space_name"], space["space_id"]) == (1.0, "one")  # the column holds a real, so all are reals
    assert [(a["aspect_name"], a["aspect_id"]) for a in space["aspects"]] == [(10, None), (11, "eleven"), (12, None)]


def test_idx_holding_a_code_fails_in_the_skill_tally(make_db):
    with pytest.raises(KeyError) as info:
        mind(Request("c", [9], str(make_db(CTD=Table(["Idx", "K1"], [["A2", "A2"]])))))
    assert info.value.args == ("Idx",)


def test_hierarchy_is_built_before_the_skill_tally(make_db):
    path = make_db(CMF=Table(["S", "A"], [["S", "A"]]), CTD=Table(["K1"], [["A1"]]))
    with pytest.raises(ValueError):
        mind(Request("c", [], str(path)))


def test_percentages_round_as_the_host_rounds_for_every_total(score):
    """Each space has three aspects and one skill with a total of its own: every total from 0 to 150
    gives an aspect percentage over 48 and a space percentage over 108, rounded to two places."""
    totals = {f"K{t}": t for t in range(151)}
    cmf = hierarchy(*[row for t in totals.values() for row in three_aspects(f"S{t}", [f"K{t}"], [], [])])
    spaces = score_hierarchy(score, totals, cmf)
    assert [s["percentage"] for s in spaces] == [round(t / 108 * 100, 2) for t in totals.values()]
    assert [s["aspects"][0]["percentage"] for s in spaces] == [round(t / 48 * 100, 2) for t in totals.values()]
