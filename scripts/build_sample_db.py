"""Builds the sample assessment database that ships with ardo_old.

The questionnaire below is the source of truth; the shipped file is generated from it:

    python3 scripts/build_sample_db.py          # writes src/ardo_old/data/sample.db

The test suite rebuilds the database from this file and compares it with the shipped one, so
rerun the script and commit both files after any change.

Every answer is one of 1 "strongly disagree", 2 "disagree", 3 "agree", 4 "strongly agree".
A scoring-key cell names how that answer earns points for the cell's column:
  A1  agreement scores (1, 2, 3, 4 points)
  A2  reverse-keyed (4, 3, 2, 1)
  A3  the moderate answers score (1, 4, 4, 1)
  A4  the firm answers score (4, 1, 1, 4)
Personality items ("PRS") are worded towards the second pole of their pair (I, N, F, P),
since disagreeing (1 or 2) counts for the first pole. Learning-style items ("VAK") weigh two options
against each other: disagreeing scores the columns "VN", "KF", "KP" and agreeing "AS", "KS".
"""

from __future__ import annotations

import sqlite3
import sys
from dataclasses import dataclass, field
from pathlib import Path
from typing import Sequence

SHIPPED = Path(__file__).resolve().parent.parent / "src" / "ardo_old" / "data" / "sample.db"

PRS_PAIRS = ("EI", "SN", "TF", "JP")
VAK_COLUMNS = ("VN", "KF", "KP", "AS", "KS")
EMQ_CATEGORIES = (
    "SelfAwarness", "ManagingEmotions", "MotivatingOneself", "Empathy", "SocialSkills")
TRS_ROLES = ("RI", "CO", "PL", "SH", "ME", "IMP", "TW", "CF", "SP")
TRAITS = ("Composure", "Self-Confidence", "Patience", "Openness", "Positivity", "Conscientiousness")

# Space -> aspect -> skills. Each skill is scored by three items, so it tops out at 12 points,
# which is what the aspect and space percentages are scaled to. The skill levels' thresholds (25
# and 30 points) lie above that, so every skill here reads "Development Priority".
COMPETENCES = {
    "Personal Effectiveness": {
        "Self-Management": ("Time Management", "Stress Management", "Self-Motivation"),
        "Learning Agility": ("Curiosity", "Adaptability", "Reflection"),
        "Resilience": ("Persistence", "Emotional Recovery", "Optimism"),
    },
    "Working with Others": {
        "Communication": ("Active Listening", "Clear Writing", "Presenting"),
        "Collaboration": ("Team Contribution", "Conflict Handling", "Giving Feedback"),
        "Influence": ("Persuasion", "Negotiation", "Networking"),
        "Support": ("Coaching", "Empathic Response", "Trust Building"),
    },
    "Getting Results": {
        "Problem Solving": ("Analysis", "Creative Thinking", "Decision Making"),
        "Planning": ("Prioritising", "Goal Setting", "Organising"),
        "Delivery": ("Attention to Detail", "Follow-Through", "Quality Focus"),
    },
}

# First identifier of each kind in "IDs"; the rest follow in the order above.
ID_BASES = {"trait": 1001, "space": 2001, "aspect": 3001, "skill": 4001}


@dataclass(frozen=True)
class Item:
    text: str
    prs: tuple[str, ...] = ()
    vak: dict[str, str] = field(default_factory=dict)
    emq: dict[str, str] = field(default_factory=dict)
    trs: dict[str, str] = field(default_factory=dict)
    qtm: dict[str, str] = field(default_factory=dict)
    ctd: dict[str, str] = field(default_factory=dict)


HEAR_OVER_SEE = {"VN": "A2", "AS": "A1"}
HEAR_OVER_FEEL = {"KF": "A2", "AS": "A1"}
HEAR_OVER_HANDLE = {"KP": "A2", "AS": "A1"}
DO_OVER_SEE = {"VN": "A2", "KS": "A1"}

ITEMS = (
    Item("I would rather hear a new idea explained than see it drawn on a whiteboard.",
         vak=HEAR_OVER_SEE, ctd={"Active Listening": "A1"}),
    Item("After a busy day I recharge best with a quiet evening on my own.",
         prs=("EI",), emq={"SelfAwarness": "A1"}, ctd={"Emotional Recovery": "A1"}),
    Item("I plan my week before it starts.",
         trs={"IMP": "A1"}, qtm={"Conscientiousness": "A1"},
         ctd={"Time Management": "A1", "Prioritising": "A1"}),
    Item("With a new gadget, I press the buttons before I look at the pictures in the guide.",
         vak=DO_OVER_SEE, ctd={"Curiosity": "A1"}),
    Item("I notice when a colleague is upset, even if they say nothing.",
         prs=("TF",), emq={"Empathy": "A1"}, trs={"TW": "A1"}, ctd={"Empathic Response": "A1"}),
    Item("I stay calm when a deadline is suddenly moved forward.",
         emq={"ManagingEmotions": "A1"}, qtm={"Composure": "A1"}, ctd={"Stress Management": "A1"}),
    Item("I am more interested in what could be than in how things are done today.",
         prs=("SN",), trs={"PL": "A1"}, qtm={"Openness": "A1"}, ctd={"Creative Thinking": "A1"}),
    Item("I remember the words of a speech better than the mood it created.",
         vak=HEAR_OVER_FEEL, ctd={"Active Listening": "A1"}),
    Item("I push myself to finish tasks even when nobody checks on them.",
         emq={"MotivatingOneself": "A1"}, qtm={"Conscientiousness": "A1"},
         ctd={"Self-Motivation": "A1", "Follow-Through": "A1"}),
    Item("In hard choices I give more weight to people's feelings than to the figures.",
         prs=("TF",), emq={"Empathy": "A1"}, ctd={"Trust Building": "A1"}),
    Item("I find it easy to start a conversation with someone I have never met.",
         emq={"SocialSkills": "A1"}, trs={"RI": "A1"}, qtm={"Self-Confidence": "A1"},
         ctd={"Networking": "A1"}),
    Item("I like to talk a job through before I pick up any tools.",
         vak=HEAR_OVER_HANDLE, ctd={"Reflection": "A1"}),
    Item("I prefer to keep my options open rather than fix a plan early.",
         prs=("JP",), qtm={"Openness": "A1"}, ctd={"Adaptability": "A1"}),
    Item("I check my work twice before I hand it in.",
         trs={"CF": "A1"}, qtm={"Conscientiousness": "A1"},
         ctd={"Attention to Detail": "A1", "Quality Focus": "A1"}),
    Item("I can tell which of my moods is behind my reactions.",
         emq={"SelfAwarness": "A1"}, qtm={"Composure": "A1"}, ctd={"Reflection": "A1"}),
    Item("I would rather try a new app myself than watch someone demonstrate it.",
         vak=DO_OVER_SEE, ctd={"Curiosity": "A1"}),
    Item("I get impatient when others are slow to make up their minds.",
         emq={"ManagingEmotions": "A2"}, trs={"SH": "A1"}, qtm={"Patience": "A2"},
         ctd={"Decision Making": "A1"}),
    Item("I often lose track of time once I am absorbed in a task.",
         prs=("JP",), ctd={"Time Management": "A2"}),
    Item("I enjoy winning a group over to my idea.",
         emq={"SocialSkills": "A1"}, trs={"SH": "A1"}, qtm={"Self-Confidence": "A1"},
         ctd={"Persuasion": "A1", "Presenting": "A1"}),
    Item("I would rather listen to a podcast than read an article on the same subject.",
         vak=HEAR_OVER_SEE, ctd={"Active Listening": "A1"}),
    Item("A full day of meetings leaves me drained.",
         prs=("EI",), emq={"SelfAwarness": "A1"}),
    Item("I set myself clear goals for the coming months.",
         emq={"MotivatingOneself": "A1"}, trs={"IMP": "A1"}, ctd={"Goal Setting": "A1"}),
    Item("I trust my hunches more than facts I can check.",
         prs=("SN",), trs={"PL": "A1", "ME": "A2"}, ctd={"Analysis": "A2"}),
    Item("When I learn a sport, I need to feel the movement rather than watch it.",
         vak=DO_OVER_SEE),
    Item("I bounce back quickly after a setback.",
         emq={"ManagingEmotions": "A1"}, qtm={"Positivity": "A1"},
         ctd={"Emotional Recovery": "A1", "Persistence": "A1"}),
    Item("When I need an answer, I know whom to ask.",
         trs={"RI": "A1"}, ctd={"Networking": "A1"}),
    Item("I stay patient with a colleague who needs things explained several times.",
         emq={"Empathy": "A1"}, trs={"TW": "A1"}, qtm={"Patience": "A1"},
         ctd={"Coaching": "A1", "Empathic Response": "A1"}),
    Item("I say what I think in meetings, even when it is unpopular.",
         trs={"SH": "A1"}, qtm={"Self-Confidence": "A1"}, ctd={"Giving Feedback": "A1"}),
    Item("I usually expect things to turn out well.",
         emq={"MotivatingOneself": "A1"}, qtm={"Positivity": "A1"}, ctd={"Optimism": "A1"}),
    Item("I would rather be told the steps than be shown a chart of them.",
         vak=HEAR_OVER_SEE),
    Item("I follow my heart more than my head when a choice is hard.",
         prs=("TF",), emq={"SelfAwarness": "A1"}),
    Item("People understand my emails on the first read.",
         ctd={"Clear Writing": "A1"}),
    Item("I enjoy weighing the pros and cons of each option in detail.",
         trs={"ME": "A1"}, ctd={"Analysis": "A1", "Decision Making": "A1"}),
    Item("When a plan changes at the last minute, I adjust without fuss.",
         prs=("JP",), emq={"ManagingEmotions": "A1"}, qtm={"Openness": "A1", "Composure": "A1"},
         ctd={"Adaptability": "A1"}),
    Item("I remember a journey by its sounds and conversations more than by its sights.",
         vak=HEAR_OVER_SEE),
    Item("I keep going on a hard problem long after others have stopped.",
         emq={"MotivatingOneself": "A1"}, trs={"SP": "A1"}, qtm={"Patience": "A1"},
         ctd={"Persistence": "A1"}),
    Item("I help the team agree on who does what.",
         trs={"CO": "A1"}, ctd={"Organising": "A1", "Team Contribution": "A1"}),
    Item("I tend to leave the small finishing touches for later.",
         prs=("JP",), trs={"CF": "A2"}, ctd={"Attention to Detail": "A2"}),
    Item("I can give a colleague honest feedback in a kind way.",
         emq={"SocialSkills": "A1"}, ctd={"Giving Feedback": "A1", "Coaching": "A1"}),
    Item("A story told aloud moves me more than acting out the scene would.",
         vak=HEAR_OVER_FEEL),
    Item("Colleagues come to me with their worries.",
         emq={"Empathy": "A1"}, trs={"TW": "A1"},
         ctd={"Empathic Response": "A1", "Trust Building": "A1"}),
    Item("In a negotiation I look for a deal where both sides win.",
         trs={"CO": "A1"}, ctd={"Negotiation": "A1"}),
    Item("I try new ways of doing routine tasks.",
         trs={"PL": "A1"}, qtm={"Openness": "A1"},
         ctd={"Creative Thinking": "A1", "Curiosity": "A1"}),
    Item("I like to study a subject in depth until I am the expert on it.",
         trs={"SP": "A1"}, ctd={"Analysis": "A1"}),
    Item("I enjoy explaining ideas to a room full of people.",
         emq={"SocialSkills": "A1"}, qtm={"Self-Confidence": "A1"}, ctd={"Presenting": "A1"}),
    Item("I would rather talk a problem over than sketch it out.",
         vak=HEAR_OVER_SEE),
    Item("I stay steady when someone criticises my work.",
         emq={"ManagingEmotions": "A1"}, qtm={"Composure": "A1"},
         ctd={"Stress Management": "A1", "Emotional Recovery": "A1"}),
    Item("I think best when I can move around.",
         vak=DO_OVER_SEE),
    Item("I work from a to-do list ordered by importance.",
         trs={"IMP": "A1"}, ctd={"Prioritising": "A1", "Organising": "A1"}),
    Item("I make sure a job is fully finished before I move on.",
         trs={"CF": "A1"}, qtm={"Conscientiousness": "A1"},
         ctd={"Follow-Through": "A1", "Quality Focus": "A1"}),
    Item("I enjoy making contacts outside my own team.",
         trs={"RI": "A1"}, ctd={"Networking": "A1"}),
    Item("I would rather keep the peace in a team than win an argument.",
         prs=("TF",), trs={"TW": "A1"}, ctd={"Conflict Handling": "A1"}),
    Item("When a disagreement starts, I help both sides hear each other.",
         emq={"SocialSkills": "A1"}, trs={"CO": "A1"},
         ctd={"Conflict Handling": "A1", "Negotiation": "A1"}),
    Item("I look back on finished projects to see what I could do better.",
         emq={"SelfAwarness": "A1"}, trs={"ME": "A1"}, ctd={"Reflection": "A1"}),
    Item("I hold myself to high standards of quality.",
         trs={"CF": "A1"}, qtm={"Conscientiousness": "A1"}, ctd={"Quality Focus": "A1"}),
    Item("I get the feel of a tool by handling it rather than reading about it.",
         vak=DO_OVER_SEE),
    Item("I see the big picture before the details.",
         prs=("SN",), ctd={"Goal Setting": "A1"}),
    Item("I keep working towards a goal even when progress is slow.",
         emq={"MotivatingOneself": "A1"}, qtm={"Patience": "A1", "Positivity": "A1"},
         ctd={"Persistence": "A1", "Goal Setting": "A1"}),
    Item("I feel sure I can handle whatever the day brings.",
         emq={"MotivatingOneself": "A1"}, qtm={"Self-Confidence": "A1", "Positivity": "A1"},
         ctd={"Optimism": "A1", "Self-Motivation": "A1"}),
    Item("I would rather hear a story than read it.",
         vak=HEAR_OVER_SEE),
    Item("I like to sort out my own feelings before I talk about them.",
         prs=("EI",), emq={"SelfAwarness": "A1"}),
    Item("I would rather put my thoughts in writing than say them on the spot.",
         prs=("EI",), ctd={"Clear Writing": "A1"}),
    Item("I would rather have one deep conversation than a room full of small talk.",
         prs=("EI",), emq={"Empathy": "A1"}, ctd={"Trust Building": "A1"}),
    Item("I enjoy ideas and theories more than practical facts.",
         prs=("SN",), trs={"PL": "A1"}, ctd={"Creative Thinking": "A1"}),
    Item("Routine detail work bores me quickly.",
         prs=("SN",), qtm={"Patience": "A2"}, ctd={"Attention to Detail": "A2"}),
    Item("I find it hard to criticise someone, even when it is deserved.",
         prs=("TF",), emq={"Empathy": "A1"}, ctd={"Giving Feedback": "A2"}),
    Item("I start a task without a fixed plan and see where it leads.",
         prs=("JP",), qtm={"Openness": "A1"}, ctd={"Adaptability": "A1"}),
    Item("I write notes that others can follow without having to ask me.",
         trs={"IMP": "A1"}, ctd={"Clear Writing": "A1", "Organising": "A1"}),
    Item("I can win support for a change even from people who resisted it at first.",
         emq={"SocialSkills": "A1"}, trs={"SH": "A1"},
         ctd={"Persuasion": "A1", "Negotiation": "A1"}),
    Item("I make sure new team members quickly feel part of the group.",
         trs={"CO": "A1"}, ctd={"Team Contribution": "A1", "Coaching": "A1"}),
    Item("I bring outside ideas and contacts into the team.",
         trs={"RI": "A1"}, ctd={"Team Contribution": "A1", "Persuasion": "A1"}),
    Item("I keep a cool head when a meeting gets heated.",
         emq={"ManagingEmotions": "A1"}, qtm={"Composure": "A1"},
         ctd={"Conflict Handling": "A1", "Stress Management": "A1"}),
    Item("I would rather take time to judge a proposal than decide on it quickly.",
         trs={"ME": "A1"}, ctd={"Decision Making": "A3"}),
    Item("Colleagues rely on me for expert knowledge in my field.",
         trs={"SP": "A1"}),
    Item("I remember a lesson by what was said rather than by how it felt.",
         vak=HEAR_OVER_FEEL),
    Item("A clear explanation calms me more than a reassuring pat on the back.",
         vak=HEAR_OVER_FEEL),
    Item("I would rather hear how a machine works than take it apart.",
         vak=HEAR_OVER_HANDLE),
    Item("I would rather discuss a new recipe than start cooking it straight away.",
         vak=HEAR_OVER_HANDLE),
    Item("I learn a new route by driving it rather than by studying the map.",
         vak=DO_OVER_SEE),
    Item("I look forward to the start of a new working week.",
         qtm={"Positivity": "A1"}, ctd={"Optimism": "A1", "Self-Motivation": "A1"}),
    Item("I finish my work within the time I planned for it.",
         ctd={"Time Management": "A1", "Prioritising": "A1", "Follow-Through": "A1"}),
    Item("I would rather present my ideas by talking them through than with slides.",
         vak=HEAR_OVER_SEE, ctd={"Presenting": "A1"}),
)


def cmf_rows() -> list[tuple[str, str, str]]:
    return [(space, aspect, skill)
            for space, aspects in COMPETENCES.items()
            for aspect, skill_names in aspects.items()
            for skill in skill_names]


def skills() -> list[str]:
    return [skill for _, _, skill in cmf_rows()]


def identifiers() -> list[tuple[str, int, str]]:
    """(title, identifier, kind) for every trait, space, aspect and skill."""
    names = {
        "trait": list(TRAITS),
        "space": list(COMPETENCES),
        "aspect": [aspect for aspects in COMPETENCES.values() for aspect in aspects],
        "skill": skills(),
    }
    return [(title, ID_BASES[kind] + n, kind)
            for kind, titles in names.items()
            for n, title in enumerate(titles)]


def key_row(number: int, cells: dict[str, str], columns: Sequence[str]) -> list:
    """One scoring-key row: the question number, then each column's cell or NULL."""
    unknown = set(cells) - set(columns)
    if unknown:
        raise ValueError(f"item {number} names unknown columns {sorted(unknown)}")
    return [number, *(cells.get(c) for c in columns)]


def key_rows(attribute: str, columns: Sequence[str]) -> list[list]:
    return [key_row(n, getattr(item, attribute), columns) for n, item in enumerate(ITEMS, start=1)]


def prs_rows() -> list[list]:
    marks = [{pair: "Y" for pair in item.prs} for item in ITEMS]
    return [key_row(n, m, PRS_PAIRS) for n, m in enumerate(marks, start=1)]


def tables() -> dict[str, tuple[list[str], list]]:
    """Table name -> (column declarations, rows), in the order they are created."""
    def keyed(columns: Sequence[str]) -> list[str]:
        return ['"Idx" INTEGER PRIMARY KEY', *(f'"{c}" TEXT' for c in columns)]

    # "Questions" keeps the wording with the keys; scoring reads only the other eight tables.
    return {
        "Questions": (['"Idx" INTEGER PRIMARY KEY', '"Text" TEXT'],
                      [[n, item.text] for n, item in enumerate(ITEMS, start=1)]),
        "IDs": (['"Title" TEXT', '"Geo_Id" INTEGER', '"Kind" TEXT'], identifiers()),
        "PRS": (keyed(PRS_PAIRS), prs_rows()),
        "VAK": (keyed(VAK_COLUMNS), key_rows("vak", VAK_COLUMNS)),
        "EMQ": (keyed(EMQ_CATEGORIES), key_rows("emq", EMQ_CATEGORIES)),
        "TRS": (keyed(TRS_ROLES), key_rows("trs", TRS_ROLES)),
        "CTD": (keyed(skills()), key_rows("ctd", skills())),
        "CMF": (['"Space" TEXT', '"Aspect" TEXT', '"Skill" TEXT'], cmf_rows()),
        "QTM": (keyed(TRAITS), key_rows("qtm", TRAITS)),
    }


def build(path: Path) -> Path:
    """Writes a fresh database at path, replacing any file there."""
    path.unlink(missing_ok=True)
    connection = sqlite3.connect(path)
    try:
        with connection:
            for name, (columns, rows) in tables().items():
                connection.execute(f'CREATE TABLE "{name}" ({", ".join(columns)})')
                marks = ", ".join("?" for _ in columns)
                connection.executemany(f'INSERT INTO "{name}" VALUES ({marks})', rows)
    finally:
        connection.close()
    return path


if __name__ == "__main__":
    print(build(Path(sys.argv[1]) if len(sys.argv) > 1 else SHIPPED))
