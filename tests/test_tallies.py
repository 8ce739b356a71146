"""Learning style, emotional intelligence, team roles and traits: the scoring keys tallied row by row."""

from __future__ import annotations

import sqlite3

import pytest

from ardo_old.mind import mind
from assessment_db import EMQ_COLUMNS, TRS_COLUMNS, VAK_COLUMNS, Request, Table

# The two sections keyed by fixed column names, which fail on any cell that is not blank and not a code.
KEYED = [("EMQ", "Emotional_Intelligance", EMQ_COLUMNS), ("TRS", "Roles", TRS_COLUMNS)]


def keyed_row(columns, **cells):
    return [cells.get(c) for c in columns]


# Learning style


def test_learning_style_worked_example(score):
    report = score([1, 3, 4], VAK=Table(VAK_COLUMNS, [["A2"] * 5] * 3))
    assert report["vak"] == {"type": "Kinesthetic", "visual": 4, "auditory": 3, "kinesthetic": 11}


@pytest.mark.parametrize(
    "answers, rows, expected",
    [
        ([], [], ("Kinesthetic", 0, 0, 0)),
        ([1], [["A1", None, None, None, None]], ("Visual", 1, 0, 0)),
        ([4], [[None, None, None, "A1", None]], ("Auditory", 0, 4, 0)),
        ([1, 4], [["A4", None, None, None, None], [None, None, None, "A1", None]], ("Kinesthetic", 4, 4, 0)),
        ([2], [["a1", "A5", "", 3, None]], ("Kinesthetic", 0, 0, 0)),
        ([5, 0, "1", None], [["A1"] * 5] * 4, ("Kinesthetic", 0, 0, 0)),
        ([2, 3], [[None, "A1", "A2", None, None], [None, None, None, None, "A3"]], ("Kinesthetic", 0, 0, 9)),
    ],
)
def test_learning_style_scores_and_ties(score, answers, rows, expected):
    vak = score(answers, VAK=Table(VAK_COLUMNS, rows))["vak"]
    assert (vak["type"], vak["visual"], vak["auditory"], vak["kinesthetic"]) == expected


def test_learning_style_needs_a_row_for_every_answer_even_one_that_adds_nothing(make_db):
    path = make_db(VAK=Table(VAK_COLUMNS, [["A1"] * 5]))
    with pytest.raises(KeyError) as info:
        mind(Request("c", [1, 5], str(path)))
    assert info.value.args == (1,)


def test_learning_style_missing_column(make_db):
    path = make_db(VAK=Table(["VN", "KF", "KP", "AS"], [["A1"] * 4]))
    with pytest.raises(KeyError) as info:
        mind(Request("c", [1], str(path)))
    assert info.value.args == ("KS",)


# Emotional intelligence and team roles


@pytest.mark.parametrize("table, key, columns", KEYED)
def test_keyed_tally_with_no_rows_needs_no_columns(score, table, key, columns):
    report = score([], **{table: Table(["Other"])})
    assert report[key] == dict.fromkeys(columns, 0)


@pytest.mark.parametrize("code, answer, points", [("A1", 3, 3), ("A2", 1, 4), ("A3", 2, 4), ("A3", 4, 1), ("A4", 2, 1), ("A4", 4, 4)])
@pytest.mark.parametrize("table, key, columns", KEYED)
def test_keyed_tally_method_points(score, table, key, columns, code, answer, points):
    last = columns[-1]
    report = score([answer], **{table: Table(columns, [keyed_row(columns, **{last: code})])})
    assert report[key][last] == points
    assert sum(report[key].values()) == points


def test_one_answer_feeds_every_category_of_its_row(score):
    rows = [keyed_row(EMQ_COLUMNS, Empathy="A1", SocialSkills="A2")]
    assert score([2], EMQ=Table(EMQ_COLUMNS, rows))["Emotional_Intelligance"] == {
        "SelfAwarness": 0, "ManagingEmotions": 0, "MotivatingOneself": 0, "Empathy": 2, "SocialSkills": 3,
    }


def test_roles_keep_catalogue_order_whatever_the_column_order(score):
    columns = list(reversed(TRS_COLUMNS)) + ["Extra"]
    rows = [keyed_row(columns, IMP="A2", Extra="A1"), keyed_row(columns, PL="A3", ME="A3")]
    roles = score([4, 3], TRS=Table(columns, rows))["Roles"]
    assert list(roles) == list(TRS_COLUMNS)
    assert (roles["IMP"], roles["PL"], roles["ME"], sum(roles.values())) == (1, 4, 4, 9)


@pytest.mark.parametrize("cell", ["A5", "a1", "  ", 7, 2.5, b"A1"])
@pytest.mark.parametrize("table, key, columns", KEYED)
def test_keyed_tally_fails_on_a_cell_that_is_not_a_code(make_db, table, key, columns, cell):
    path = make_db(**{table: Table(columns, [keyed_row(columns, **{columns[1]: cell})])})
    with pytest.raises(KeyError) as info:
        mind(Request("c", [1], str(path)))
    assert info.value.args == (cell,)


@pytest.mark.parametrize("table, key, columns", KEYED)
def test_keyed_tally_skips_blank_cells_but_still_needs_the_answer(make_db, table, key, columns):
    rows = [keyed_row(columns, **{columns[0]: ""}), keyed_row(columns)]
    path = make_db(**{table: Table(columns, rows)})
    with pytest.raises(IndexError):
        mind(Request("c", [1], str(path)))


@pytest.mark.parametrize("table, key, columns", KEYED)
def test_keyed_tally_fails_on_the_first_missing_column_in_order(make_db, table, key, columns):
    kept = [c for c in columns if c not in (columns[2], columns[3])]
    path = make_db(**{table: Table(kept, [[None] * len(kept)])})
    with pytest.raises(KeyError) as info:
        mind(Request("c", [1], str(path)))
    assert info.value.args == (columns[2],)


def test_code_is_checked_before_the_answer(make_db):
    path = make_db(EMQ=Table(EMQ_COLUMNS, [keyed_row(EMQ_COLUMNS, SelfAwarness="A9")]))
    with pytest.raises(KeyError) as info:
        mind(Request("c", [9], str(path)))
    assert info.value.args == ("A9",)


def test_all_numeric_table_with_a_real_column_reports_cells_as_reals(make_db):
    rows = [[3, 1.5, 2, 2, 2]]  # every column holds numbers and one holds reals, so the row is all reals
    path = make_db(EMQ=Table(EMQ_COLUMNS, rows))
    with pytest.raises(KeyError) as info:
        mind(Request("c", [1], str(path)))
    assert info.value.args == (3.0,) and isinstance(info.value.args[0], float)


# Traits


@pytest.mark.parametrize("total, level", [(16, "balanced"), (15, "rebalanced"), (10, "rebalanced"), (9, "unbalanced"), (0, "unbalanced")])
def test_trait_levels(score, total, level):
    answers = [1] * max(total, 1)
    rows = [["A1" if q < total else None] for q in range(len(answers))]
    trait = score(answers, QTM=Table(["Grit"], rows))["Traits"][0]
    assert (trait["score"], trait["level"]) == (total, level)


def test_traits_follow_column_order_skip_idx_and_non_codes(score):
    qtm = Table(["Idx", "Grit", "Focus"], [[1, "A1", "A5"], [2, 7, "A2"], [3, "  ", None]])
    ids = Table(["Title", "Geo_Id"], [["Focus", "f"], ["Grit", "g"], ["Grit", "second"]])
    assert score([4, 1, 2], QTM=qtm, IDs=ids)["Traits"] == [
        {"id": "g", "name": "Grit", "score": 4, "level": "unbalanced"},
        {"id": "f", "name": "Focus", "score": 4, "level": "unbalanced"},
    ]


def test_traits_with_no_rows_score_zero(score):
    assert [(t["score"], t["level"]) for t in score([], QTM=Table(["Idx", "A", "B"]))["Traits"]] == [(0, "unbalanced")] * 2


@pytest.mark.parametrize(
    "ids, expected",
    [
        (Table(["Title", "Geo_Id"], [["First", 1]]), [1, None]),  # the second does not take the first's identifier
        (Table(["Title", "Geo_Id"], [["Second", 2]]), [None, 2]),  # a first miss does not fail the report
        (Table(["Title", "Other"], [["First", 1]]), [None, None]),
        (Table(["Name", "Geo_Id"], [["First", 1]]), [None, None]),
        (Table(["Title", "Geo_Id"], [["first", 1], [None, 5]]), [None, None]),
        (Table(["Title", "Geo_Id"], [["First", None], ["Second", b"\x00id"]]), [None, b"\x00id"]),
    ],
)
def test_trait_identifiers_stand_on_their_own_lookup(score, ids, expected):
    traits = score([], IDs=ids, QTM=Table(["First", "Second"]))["Traits"]
    assert [t["id"] for t in traits] == expected


def test_idx_holding_a_code_fails_in_the_trait_tally(make_db):
    # "Idx" has no total: it fails before the answer is looked at, but cells before it come first.
    with pytest.raises(KeyError) as info:
        mind(Request("c", [9], str(make_db(QTM=Table(["Idx", "Grit"], [["A1", "A1"]])))))
    assert info.value.args == ("Idx",)
    with pytest.raises(KeyError) as info:
        mind(Request("c", [9], str(make_db(QTM=Table(["Grit", "Idx"], [["A1", "A1"]])))))
    assert info.value.args == (9,)


def test_trait_row_needs_its_answer_and_answers_must_be_1_to_4(make_db):
    with pytest.raises(IndexError):
        mind(Request("c", [], str(make_db(QTM=Table(["Grit"], [[None]])))))
    with pytest.raises(KeyError) as info:
        mind(Request("c", [0], str(make_db(QTM=Table(["Grit"], [["A3"]])))))
    assert info.value.args == (0,)


# The trait and skill keys are tallied while they are read ("CTD" before "QTM"), yet a failure of
# either surfaces only when its section is scored: after every read, traits before skills.
FAILING_SKILLS = Table(["Skill"], [["A1"], ["A1"]])  # two rows for one answer: IndexError
FAILING_TRAITS = Table(["Grit", "Idx"], [["A1", "A2"]])  # "Idx" holding a code: KeyError("Idx")


@pytest.mark.parametrize(
    "tables, error, args",
    [
        ({"CTD": FAILING_SKILLS}, IndexError, None),
        ({"QTM": FAILING_TRAITS}, KeyError, ("Idx",)),
        ({"CTD": FAILING_SKILLS, "QTM": FAILING_TRAITS}, KeyError, ("Idx",)),
        ({"CTD": FAILING_SKILLS, "CMF": None}, sqlite3.OperationalError, ("Execution failed on sql 'SELECT * FROM CMF': no such table: CMF",)),
        ({"CTD": FAILING_SKILLS, "EMQ": Table(["Other"], [["A1"]])}, KeyError, ("SelfAwarness",)),
    ],
)
def test_key_tally_failures_wait_for_their_sections(make_db, tables, error, args):
    with pytest.raises(error) as info:
        mind(Request("c", [1], str(make_db(**tables))))
    if args is not None:
        assert info.value.args == args


def test_tables_of_many_blocks_score_like_small_ones(score):
    """Kept and streamed tables far larger than their first blocks, long texts between the codes,
    give the totals that their rows add up to."""
    rows = 20_000
    answers = [1 + q % 4 for q in range(rows)]
    note = "a note that takes room " * 10
    emq = Table([*EMQ_COLUMNS, "Note"], [["A1", None, "A2", "", None, f"{note}{q}"] for q in range(rows)])
    qtm = Table(["Idx", "Grit", "Note"], [[q + 1, "A4", f"{note}{q}"] for q in range(rows)])
    report = score(answers, EMQ=emq, QTM=qtm, VAK=Table(VAK_COLUMNS, [[None] * 5 for _ in range(rows)]))
    per_cycle = rows // 4  # answers 1, 2, 3, 4 in turn
    assert report["Emotional_Intelligance"]["SelfAwarness"] == per_cycle * (1 + 2 + 3 + 4)
    assert report["Emotional_Intelligance"]["MotivatingOneself"] == per_cycle * (4 + 3 + 2 + 1)
    assert [(t["name"], t["score"]) for t in report["Traits"]] == [("Grit", per_cycle * (4 + 1 + 1 + 4)), ("Note", 0)]
