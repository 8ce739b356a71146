"""The personality type: shares of first- and second-pole answers, rounding, letters and diagnostic lines."""

from __future__ import annotations

import pytest

from ardo_old.mind import mind
from assessment_db import PRS_COLUMNS, Request, Table


def prs(rows):
    return Table(PRS_COLUMNS, rows)


def ei_only(n):
    """n questions 1..n that all belong to EI."""
    return prs([[q, "Y", None, None, None] for q in range(1, n + 1)])


@pytest.mark.parametrize("first, total", [(1, 8), (3, 8), (5, 8), (7, 8), (1, 40), (3, 40), (1, 3), (2, 3)])
def test_shares_round_as_the_host_rounds(score, first, total):
    answers = [1] * first + [3] * (total - first)
    p = score(answers, PRS=ei_only(total))["Personality_Type"]
    assert (p["E"], p["I"]) == (round(first / total, 2), round((total - first) / total, 2))


def test_known_roundings(score):
    assert score([1] + [4] * 7, PRS=ei_only(8))["Personality_Type"]["E"] == 0.12
    assert score([1] * 3 + [4] * 37, PRS=ei_only(40))["Personality_Type"]["E"] == 0.07


def test_empty_answers_give_infp_and_empty_lines(score, make_db, capsys):
    report = score([], PRS=prs([[1, "Y", "Y", "Y", "Y"], [2, "Y", None, None, None]]))
    assert report["Personality_Type"] == {
        "E": 0.0, "I": 0.0, "S": 0.0, "N": 0.0, "T": 0.0, "F": 0.0, "J": 0.0, "P": 0.0, "title": "INFP",
    }
    mind(Request("c", [], str(make_db(PRS=prs([[1, "Y", "Y", "Y", "Y"], [2, "Y", None, None, None]])))))
    assert capsys.readouterr().out == "{1, 2}\n[]\n{1}\n[]\n{1}\n[]\n{1}\n[]\n"


def test_letters_and_lines(make_db, capsys):
    rows = [
        [1, "Y", None, "Y", None],
        [2, "Y", "Y", None, None],
        [3, None, "Y", "Y", "Y"],
        [2, "Y", None, None, None],  # a repeated question number collapses
    ]
    answers = [1, 3, 2.0]
    report = mind(Request("c", answers, str(make_db(PRS=prs(rows)))))
    assert report["Personality_Type"] == {
        "E": 0.5, "I": 0.5, "S": 0.5, "N": 0.5, "T": 1.0, "F": 0.0, "J": 1.0, "P": 0.0, "title": "INTJ",
    }
    assert capsys.readouterr().out == "{1, 2}\n[1, 3]\n{2, 3}\n[3, 2.0]\n{1, 3}\n[1, 2.0]\n{3}\n[2.0]\n"


@pytest.mark.parametrize("answer", [3, 4, 0, 5, "1", None, 1.5])
def test_every_answer_but_1_or_2_is_second_pole(score, answer):
    p = score([answer], PRS=ei_only(1))["Personality_Type"]
    assert (p["E"], p["I"], p["title"][0]) == (0.0, 1.0, "I")


@pytest.mark.parametrize("mark", ["y", "Y ", " Y", "yes", 1, None])
def test_only_the_exact_text_y_marks_a_question(score, mark):
    report = score([1], PRS=prs([[1, mark, None, None, None]]))
    assert report["Personality_Type"]["E"] == 0.0


def test_idx_stored_as_text_matches_nothing(score):
    report = score([1, 1], PRS=prs([["1", "Y", "Y", "Y", "Y"], ["2", "Y", "Y", "Y", "Y"]]))
    assert report["Personality_Type"]["title"] == "INFP"


def test_idx_with_a_null_reads_as_reals_and_still_matches(make_db, capsys):
    path = make_db(PRS=prs([[1, "Y", None, None, None], [None, "Y", None, None, None]]))
    report = mind(Request("c", [2], str(path)))
    assert report["Personality_Type"]["E"] == 1.0
    first_line = capsys.readouterr().out.splitlines()[0]
    assert first_line in ("{1.0, None}", "{None, 1.0}")


def test_question_numbers_beyond_the_answers_select_nothing(score):
    assert score([1], PRS=ei_only(5))["Personality_Type"]["E"] == 1.0


def test_equal_counts_give_the_second_letter(score):
    assert score([1, 4], PRS=ei_only(2))["Personality_Type"]["title"][0] == "I"


@pytest.mark.parametrize("missing", ["EI", "SN", "TF", "JP", "Idx"])
def test_missing_column_fails_naming_it_after_earlier_lines(make_db, capsys, missing):
    columns = [c for c in PRS_COLUMNS if c != missing]
    path = make_db(PRS=Table(columns, [[1] + ["Y"] * (len(columns) - 1)]))
    with pytest.raises(KeyError) as info:
        mind(Request("c", [1], str(path)))
    assert info.value.args == (missing,)
    written = PRS_COLUMNS.index(missing) - 1 if missing != "Idx" else 0
    assert capsys.readouterr().out.count("\n") == 2 * written
