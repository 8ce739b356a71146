"""A host program as the assistant writes one: type-checked with mypy --strict against the stubs."""

from __future__ import annotations

import sys
from dataclasses import dataclass
from pathlib import Path

from ardo_old.args import Args
from ardo_old.audio import get_audio_stream, stream
from ardo_old.cohort import score_cohort
from ardo_old.mind import mind
from ardo_old.mind_types import Cell, Report, Space


@dataclass
class Assessment:
    client_id: str
    user_responses: list[int]
    sqlite_database: Path


def label(cell: Cell) -> str:
    if isinstance(cell, bytes):
        return cell.decode("utf-8", "replace")
    return "-" if cell is None else str(cell)


def space_lines(space: Space) -> list[str]:
    lines = [f"{label(space['space_name'])}: {space['level']} ({space['percentage']:.2f}%)"]
    for aspect in space["aspects"]:
        lines.append(f"  {label(aspect['aspect_name'])} #{label(aspect['aspect_id'])}: {aspect['level']}")
        lines.extend(f"    {label(skill['skill_name'])}: {skill['score']} ({skill['level']})"
                     for skill in aspect["skills"])
    return lines


def summary(report: Report) -> str:
    personality = report["Personality_Type"]
    emotional = report["Emotional_Intelligance"]
    roles = report["Roles"]
    lines = [
        f"Type {personality['title']} (E {personality['E']:.0%}, I {personality['I']:.0%})",
        f"Learns best: {report['vak']['type']} ({report['vak']['auditory']} auditory)",
        f"Empathy {emotional['Empathy']}, social skills {emotional['SocialSkills']}",
        f"Team roles: plant {roles['PL']}, teamworker {roles['TW']}, specialist {roles['SP']}",
    ]
    lines.extend(f"{trait['name']} #{label(trait['id'])}: {trait['score']} {trait['level']}"
                 for trait in report["Traits"])
    for space in report["Spaces"]:
        lines.extend(space_lines(space))
    return "\n".join(lines)


def speak(text: str) -> int:
    played: bytes = stream(get_audio_stream(text))
    return len(played)


def lip_sync_settings(fps: int) -> Args:
    settings = Args(device="cuda", fps=fps)
    settings.outfile = str(Path(settings.frame_path) / "answer.mp4")
    crop_width = Args.crop[1] - Args.crop[0]
    return settings if crop_width else Args()


def main(database: str) -> None:
    report = mind(Assessment("c-17", [1, 3, 4, 2] * 21, Path(database)))
    text = summary(report)
    print(text)
    print(lip_sync_settings(30), Args.model_id["all-mpnet-base"])
    speak(text.splitlines()[0])
    for result in score_cohort(database, [Assessment(f"c-{n}", [1, 2, 3, 4] * 21, Path(database)) for n in range(3)]):
        print(result if isinstance(result, BaseException) else summary(result))


if __name__ == "__main__":
    main(sys.argv[1])
