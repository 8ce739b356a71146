"""The hostile databases of the reliability table, each scored once in a child interpreter.

    python bench/attacks.py

Endless views are sent a real SIGINT after half a second, and the time from the signal to the
child's report is printed; the others run to their end, and the whole call is timed.
"""

from __future__ import annotations

import shutil
import sqlite3
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))

import test_hostile_databases as hostile  # noqa: E402
from assessment_db import write_database  # noqa: E402
from interrupted import call_interrupted  # noqa: E402

ENDLESS_COLUMNS = {
    "IDs": "'T' || x AS Title, x AS Geo_Id",
    "PRS": "x AS Q",
    "VAK": "'A1' AS VN",
    "EMQ": "'A1' AS Empathy",
    "TRS": "'A1' AS RI",
    "CTD": "x AS Idx",
    "CMF": "'S1' AS Space, 'P1' AS Aspect, 'K' || x AS Skill",
    "QTM": "x AS Idx, 'A1' AS T1",
}
ATTACKS = [(f'endless view as "{t}"', t, f"{hostile.ENDLESS} SELECT {c} FROM c", 0.5) for t, c in ENDLESS_COLUMNS.items()] + [
    ('`DISTINCT` over random blobs as "PRS" (spills to temporary files)', "PRS",
     f"{hostile.ENDLESS} SELECT DISTINCT randomblob(1000) AS Q FROM c", 0.5),
    ('one value of 1 GB in "IDs"', "IDs", "SELECT zeroblob(999999999) AS Title, 1 AS Geo_Id", None),
    ('endless values of 250 MB in "IDs"', "IDs", f"{hostile.ENDLESS} SELECT zeroblob(250000000) AS Title, x AS Geo_Id FROM c", None),
    ('a text cell of 100 MB in "IDs"', "IDs", "SELECT 'T1' AS Title, zeroblob(100000000) || '' AS Geo_Id", None),
]


def main() -> None:
    folder = Path(tempfile.mkdtemp())
    rich = write_database(folder / "rich.db", hostile.rich_tables())
    print("| attack | outcome | time | left open |\n|---|---|---|---|")
    for name, table, select, sigint_after in ATTACKS:
        path = folder / "attack.db"
        shutil.copy(rich, path)
        connection = sqlite3.connect(path)
        hostile.views(connection, {table: select})
        connection.close()
        start = time.monotonic()
        result = call_interrupted(path, hostile.ANSWERS, sigint_after)
        took = f"{result['ms_after_sigint']:.0f} ms after SIGINT" if sigint_after else f"{(time.monotonic() - start) * 1000:.0f} ms"
        print(f"| {name} | {result['outcome']} {result['message'][-40:]} | {took} | {result['left_open']} |")
    shutil.rmtree(folder)


if __name__ == "__main__":
    main()
