"""Answers are compared and looked up as the host compares them, and fail with the host's own errors."""

from __future__ import annotations

import sys

import pytest

from ardo_old.cohort import score_cohort
from ardo_old.mind import mind
from interrupted import call_interrupted
from assessment_db import EMQ_COLUMNS, Request, Table


def emq_one_row(code="A1"):
    return Table(EMQ_COLUMNS, [[code, None, None, None, None]])


class Weird:
    """An answer object with its own equality, as numpy scalars and similar have."""

    def __init__(self, value):
        self.value = value

    def __eq__(self, other):
        return self.value == other

    def __hash__(self):
        return hash(self.value)


@pytest.mark.parametrize("answer, points", [(1, 1), (1.0, 1), (True, 1), (2, 2), (4.0, 4), (Weird(3), 3)])
def test_answers_equal_to_a_number_score_as_it(score, answer, points):
    assert score([answer], EMQ=emq_one_row())["Emotional_Intelligance"]["SelfAwarness"] == points


@pytest.mark.parametrize("answer", [5, 0, -1, 2**80, 1.5, "1", None, b"1", float("nan")])
def test_strict_lookup_fails_with_keyerror_carrying_the_answer(make_db, answer):
    path = make_db(EMQ=emq_one_row())
    with pytest.raises(KeyError) as info:
        mind(Request("c", [answer], str(path)))
    assert info.value.args[0] is answer


def test_unhashable_answer_fails_as_the_host_lookup_does(make_db):
    path = make_db(EMQ=emq_one_row())
    with pytest.raises(TypeError, match="unhashable type: 'list'"):
        mind(Request("c", [[1]], str(path)))


@pytest.mark.parametrize("answers, message", [([], "list index out of range"), ((), "tuple index out of range")])
def test_missing_answer_is_the_hosts_own_index_error(make_db, answers, message):
    path = make_db(EMQ=emq_one_row())
    with pytest.raises(IndexError, match=message):
        mind(Request("c", answers, str(path)))


class Explosive:
    def __eq__(self, other):
        raise ArithmeticError("cannot compare")

    __hash__ = object.__hash__


@pytest.mark.parametrize("asked, lines", [(True, 2), (False, 8)])
def test_comparison_error_surfaces_where_scoring_first_compares(make_db, capsys, asked, lines):
    from assessment_db import PRS_COLUMNS

    # A personality question compares the answer first; otherwise the learning style does.
    prs = Table(PRS_COLUMNS, [[1, "Y", None, None, None]] if asked else [])
    with pytest.raises(ArithmeticError, match="cannot compare"):
        mind(Request("c", [Explosive()], str(make_db(PRS=prs))))
    assert capsys.readouterr().out.count("\n") == lines


def test_answers_that_cannot_be_iterated_fail_after_the_tables_are_read(make_db, tmp_path):
    with pytest.raises(TypeError, match="'int' object is not iterable"):
        mind(Request("c", 7, str(make_db())))
    import sqlite3

    with pytest.raises(sqlite3.OperationalError):
        mind(Request("c", 7, str(tmp_path / "none.db")))


def test_answer_references_are_not_leaked(make_db, capsys):
    answers = [Weird(1), Weird(9), 1000003, "x"]
    path = make_db(EMQ=emq_one_row())
    before = [sys.getrefcount(a) for a in answers]
    for _ in range(50):
        mind(Request("c", answers, str(path)))
    assert [sys.getrefcount(a) for a in answers] == before
    bad = Weird(9)
    before_bad = sys.getrefcount(bad)
    for _ in range(50):
        with pytest.raises(KeyError):
            mind(Request("c", [bad], str(path)))
    assert sys.getrefcount(bad) == before_bad


class Reentrant:
    """An answer whose comparison scores again with itself as the answer, counting its calls."""

    calls = 0

    def __init__(self, path, swallow):
        self.path, self.swallow = path, swallow

    def __eq__(self, other):
        Reentrant.calls += 1
        try:
            mind(Request("inner", [self], self.path))
        except RecursionError:
            if not self.swallow:
                raise
        return False

    __hash__ = object.__hash__


@pytest.mark.parametrize("outer", ["mind", "cohort"])
@pytest.mark.parametrize("swallow, calls", [(False, 1), (True, 4)], ids=["raises", "swallows the refusal"])
def test_a_comparison_that_scores_again_is_refused_and_not_repeated(make_db, swallow, calls, outer):
    Reentrant.calls = 0
    path = str(make_db(EMQ=emq_one_row()))
    request = Request("c", [Reentrant(path, swallow)], path)
    expected = RecursionError if not swallow else KeyError
    if outer == "mind":
        with pytest.raises(expected):
            mind(request)
    else:
        [result] = score_cohort(path, [request], threads=1)
        assert type(result) is expected
    assert Reentrant.calls == calls


@pytest.mark.parametrize("cohort", [False, True], ids=["mind", "cohort"])
def test_an_endless_answer_iterable_ends_at_ctrl_c(make_db, cohort):
    result = call_interrupted(make_db(), "endless", sigint_after=0.5, cohort=cohort)
    assert result["outcome"] == "KeyboardInterrupt", result
    # The millions of answers taken by then are let go first; without a look at the signal handlers
    # the call would run for seconds more, until the child's memory cap ends it with MemoryError.
    assert result["ms_after_sigint"] < 2000, result
