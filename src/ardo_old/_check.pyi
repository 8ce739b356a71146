from typing import Literal

from ardo_old.mind_types import DatabasePath

def check_database(
    path: DatabasePath, /
) -> list[tuple[Literal["error", "warning", "note"], str | None, int | None, str | None, str]]: ...
def answer_range(path: DatabasePath, /) -> tuple[int, int] | None: ...
