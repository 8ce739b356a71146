from typing import Literal, TypedDict

from ardo_old.mind_types import DatabasePath

def check_database(
    path: DatabasePath, /
) -> list[tuple[Literal["error", "warning", "note"], str | None, int | None, str | None, str]]: ...
def answer_range(path: DatabasePath, /) -> tuple[int, int] | None: ...

class _LevelBands(TypedDict):
    """The level rules as scoring has them. Each rule's bands lowest first, as (level, least value):
    traits and skills by their total, aspects and spaces by their percentage of the maximum score."""

    trait: list[tuple[str, int]]
    skill: list[tuple[str, int]]
    aspect: list[tuple[str, int]]
    space: list[tuple[str, int]]
    aspect_maximum_of_three: int  # what an aspect of three skills divides by
    aspect_maximum_otherwise: int  # of any other count of skills
    space_maxima: dict[int, int]  # by count of aspects; a space of another count fails (KeyError)

level_bands: _LevelBands

def design_warnings(path: DatabasePath, /) -> list[tuple[str | None, str]]: ...
def field_name(*segments: str | bytes | int | float | None) -> str: ...
