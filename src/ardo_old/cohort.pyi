from collections.abc import Buffer, Iterable, Iterator, Sequence
from typing import Protocol

from ardo_old._arrow_table import ScoreTable
from ardo_old.mind_types import DatabasePath, Report

class _Client(Protocol):
    @property
    def client_id(self) -> object: ...
    @property
    def user_responses(self) -> Iterable[object]: ...

class _ArrowStream(Protocol):
    def __arrow_c_stream__(self, requested_schema: object = None) -> object: ...

class _ArrowArray(Protocol):
    def __arrow_c_array__(self, requested_schema: object = None) -> tuple[object, object]: ...

_ClientId = int | str | bytes | None

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
def score_table(
    database: DatabasePath,
    answers: Buffer | _ArrowStream | _ArrowArray | Iterable[_Client],
    *,
    client_ids: Sequence[_ClientId] | _ArrowStream | _ArrowArray | None = None,
    threads: int | None = None,
    quality: bool = False,
    norms: DatabasePath | None = None,
) -> ScoreTable: ...
def table_reports(table: _ArrowStream) -> list[Report | Exception]: ...
