from collections.abc import Iterable, Iterator
from typing import Protocol

from ardo_old.mind_types import DatabasePath, Report

class _Client(Protocol):
    @property
    def client_id(self) -> object: ...
    @property
    def user_responses(self) -> Iterable[object]: ...

def score_cohort(
    database: DatabasePath,
    clients: Iterable[_Client],
    *,
    threads: int | None = None,
) -> list[Report | Exception]: ...
def iter_cohort(
    database: DatabasePath,
    clients: Iterable[_Client],
    *,
    threads: int | None = None,
) -> Iterator[Report | Exception]: ...
