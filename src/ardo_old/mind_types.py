"""Types of what ``ardo_old.mind.mind`` takes and returns, for type checkers and for readers.

They live in plain Python rather than in the extension module, so a host can import them at run
time (``from ardo_old.mind_types import Report``) as well as under ``TYPE_CHECKING``.
"""

from __future__ import annotations

import os
from collections.abc import Sequence
from typing import Literal, Protocol, TypeAlias, TypedDict

__all__ = [
    "Aspect", "AspectLevel", "Cell", "DatabasePath", "EmotionalIntelligence", "LearningStyle",
    "PersonalityType", "Report", "ScoringRequest", "Skill", "SkillLevel", "Space", "TeamRoles",
    "Trait", "TraitLevel",
]

# A cell of the database copied into the report as it is stored: an identifier from "IDs", a space,
# aspect or skill name from "CMF". A missing cell, or a title with no identifier, is None.
Cell: TypeAlias = int | float | str | bytes | None

DatabasePath: TypeAlias = str | bytes | os.PathLike[str] | os.PathLike[bytes]

TraitLevel: TypeAlias = Literal["balanced", "rebalanced", "unbalanced"]
SkillLevel: TypeAlias = Literal["Strong Skill", "Needs Attention", "Development Priority"]
# Aspects and spaces share their levels.
AspectLevel: TypeAlias = Literal["Advanced", "Intermediate", "Beginner"]


class ScoringRequest(Protocol):
    """What ``mind`` reads from its argument: three attributes, each read once."""

    @property
    def client_id(self) -> object: ...

    @property
    def user_responses(self) -> Sequence[object]: ...

    @property
    def sqlite_database(self) -> DatabasePath: ...


class PersonalityType(TypedDict):
    """The share of answers leaning to each pole of the four pairs, and the four chosen letters."""

    E: float
    I: float
    S: float
    N: float
    T: float
    F: float
    J: float
    P: float
    title: str


class LearningStyle(TypedDict):
    type: Literal["Visual", "Auditory", "Kinesthetic"]
    visual: int
    auditory: int
    kinesthetic: int


class EmotionalIntelligence(TypedDict):
    SelfAwarness: int
    ManagingEmotions: int
    MotivatingOneself: int
    Empathy: int
    SocialSkills: int


class TeamRoles(TypedDict):
    RI: int
    CO: int
    PL: int
    SH: int
    ME: int
    IMP: int
    TW: int
    CF: int
    SP: int


class Trait(TypedDict):
    id: Cell
    name: str
    score: int
    level: TraitLevel


class Skill(TypedDict):
    aspect_id: Cell
    skill_id: Cell
    skill_name: Cell
    score: int
    level: SkillLevel


class Aspect(TypedDict):
    space_id: Cell
    aspect_id: Cell
    aspect_name: Cell
    level: AspectLevel
    percentage: float
    skills: list[Skill]


class Space(TypedDict):
    space_id: Cell
    space_name: Cell
    level: AspectLevel
    percentage: float
    aspects: list[Aspect]


# The keys are the report's own texts, "Emotional_Intelligance" included.
class Report(TypedDict):
    client_id: object
    Personality_Type: PersonalityType
    vak: LearningStyle
    Emotional_Intelligance: EmotionalIntelligence
    Roles: TeamRoles
    Traits: list[Trait]
    Spaces: list[Space]
