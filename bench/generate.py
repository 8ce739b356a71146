"""Valid assessment databases of a chosen size, for the benchmarks.

Every scoring key ("PRS", "VAK", "EMQ", "TRS", "QTM", "CTD") gets one row per question, and the
client answers every question, so each key pairs row for row with the answers. The competence
hierarchy, the traits and the "IDs" table grow with the question count, slowly enough that "CTD"
(one column per skill) stays a few hundred columns wide at 50,000 questions.

    python bench/generate.py 5000 /tmp/assessment-5000.db
"""

from __future__ import annotations

import argparse
import random
import sqlite3
from dataclasses import dataclass
from pathlib import Path

METHODS = ("A1", "A2", "A3", "A4")
EMQ_CATEGORIES = ("SelfAwarness", "ManagingEmotions", "MotivatingOneself", "Empathy", "SocialSkills")
ROLES = ("RI", "CO", "PL", "SH", "ME", "IMP", "TW", "CF", "SP")
VAK_COLUMNS = ("VN", "KF", "KP", "AS", "KS")
PRS_TRAITS = ("EI", "SN", "TF", "JP")
# A space holds 3 to 5 aspects, the counts the space level rule knows; an aspect 3 or 4 skills.
ASPECTS_PER_SPACE = (3, 4, 5)
SKILLS_PER_ASPECT = (3, 4)


@dataclass(frozen=True)
class Hierarchy:
    """Spaces, each a name and its aspects, each a name and its skills."""

    spaces: list[tuple[str, list[tuple[str, list[str]]]]]

    @property
    def skills(self) -> list[str]:
        return [skill for _, aspects in self.spaces for _, skills in aspects for skill in skills]

    @property
    def aspects(self) -> list[str]:
        return [aspect for _, aspects in self.spaces for aspect, _ in aspects]


def space_count(questions: int) -> int:
    """2 spaces at 50 questions, 4 at 500, 8 at 5,000, 15 (about 210 skills) at 50,000."""
    return max(1, round(0.6 * questions**0.3))


def trait_count(questions: int) -> int:
    return 8 + space_count(questions)


def hierarchy(questions: int) -> Hierarchy:
    spaces = []
    skill_number = 0
    for s in range(space_count(questions)):
        aspects = []
        for a in range(ASPECTS_PER_SPACE[s % len(ASPECTS_PER_SPACE)]):
            skills = []
            for _ in range(SKILLS_PER_ASPECT[(s + a) % len(SKILLS_PER_ASPECT)]):
                skill_number += 1
                skills.append(f"Skill {skill_number:03d}")
            aspects.append((f"Aspect {s + 1}.{a + 1}", skills))
        spaces.append((f"Space {s + 1}", aspects))
    return Hierarchy(spaces)


def answers(questions: int) -> list[int]:
    """The client's answers, 1 to 4, the same for every run of a size."""
    rng = random.Random(f"answers-{questions}")
    return [rng.randint(1, 4) for _ in range(questions)]


def one_method_per_row(columns: tuple[str, ...] | list[str], questions: int, rng: random.Random) -> list[list]:
    """Question q counts toward one column, chosen round the columns, with a random method."""
    rows = []
    for q in range(questions):
        row: list = [q + 1] + [None] * len(columns)
        row[1 + q % len(columns)] = rng.choice(METHODS)
        rows.append(row)
    return rows


def tables(questions: int) -> dict[str, tuple[list[str], list[list]]]:
    """Every table by name: its columns and its rows."""
    rng = random.Random(f"tables-{questions}")
    shape = hierarchy(questions)
    traits = [f"Trait {t + 1:02d}" for t in range(trait_count(questions))]
    titles = traits + [name for name, _ in shape.spaces] + shape.aspects + shape.skills
    prs = []
    for q in range(questions):
        marks = [None] * len(PRS_TRAITS)
        marks[q % len(PRS_TRAITS)] = "Y"
        prs.append([q + 1, *marks])
    cmf = [["Space", "Aspect", "Skill"]]  # the heading row a spreadsheet import leaves behind
    cmf += [[space, aspect, skill] for space, aspects in shape.spaces for aspect, skills in aspects for skill in skills]
    return {
        "IDs": (["Title", "Geo_Id"], [[title, 1000 + i] for i, title in enumerate(titles)]),
        "PRS": (["Idx", *PRS_TRAITS], prs),
        "VAK": (["Idx", *VAK_COLUMNS], [[q + 1, *(rng.choice(METHODS) for _ in VAK_COLUMNS)] for q in range(questions)]),
        "EMQ": (["Idx", *EMQ_CATEGORIES], one_method_per_row(EMQ_CATEGORIES, questions, rng)),
        "TRS": (["Idx", *ROLES], one_method_per_row(ROLES, questions, rng)),
        "CTD": (["Idx", *shape.skills], one_method_per_row(shape.skills, questions, rng)),
        "CMF": (["Space", "Aspect", "Skill"], cmf),
        "QTM": (["Idx", *traits], one_method_per_row(traits, questions, rng)),
    }


def write(path: Path, questions: int) -> Path:
    """Writes the database afresh, typed as a spreadsheet export would type it."""
    path.unlink(missing_ok=True)
    connection = sqlite3.connect(path)
    try:
        for name, (columns, rows) in tables(questions).items():
            declared = ", ".join(f'"{c}" {"INTEGER" if c in ("Idx", "Geo_Id") else "TEXT"}' for c in columns)
            connection.execute(f'CREATE TABLE "{name}" ({declared})')
            marks = ", ".join("?" for _ in columns)
            connection.executemany(f'INSERT INTO "{name}" VALUES ({marks})', rows)
        connection.commit()
    finally:
        connection.close()
    return path


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("questions", type=int, help="questions per scoring key (and answers)")
    parser.add_argument("path", type=Path)
    args = parser.parse_args()
    write(args.path, args.questions)
    print(f"{args.path}: {args.questions} questions, {len(hierarchy(args.questions).skills)} skills")


if __name__ == "__main__":
    main()
