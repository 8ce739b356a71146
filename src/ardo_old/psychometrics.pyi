from collections.abc import Buffer, Iterable, Mapping
from typing import Literal, SupportsIndex, TypedDict

from ardo_old._arrow_table import ItemAnalysis
from ardo_old.mind_types import DatabasePath

class _ScaleStatistics(TypedDict):
    k: int
    n: int
    mean: float | None
    sd: float | None
    alpha: float | None
    alpha_low: float | None
    alpha_high: float | None
    g6: float | None
    average_r: float | None
    sem: float | None

class _ItemStatistics(TypedDict):
    mean: float | None
    sd: float | None
    r_drop: float | None
    alpha_if_dropped: float | None
    flag: str | None

class _Reliability(TypedDict):
    scale: _ScaleStatistics
    items: list[_ItemStatistics]

class _CohortQuality(TypedDict):
    n: int
    questions: int
    rank: int
    longstring_fence: float | None
    irv_low_fence: float | None
    irv_high_fence: float | None

class _ClientQuality(TypedDict):
    longstring: int
    irv: float | None
    mahalanobis_d2: float | None
    mahalanobis_p: float | None
    flag: str | None

class _ResponseQuality(TypedDict):
    cohort: _CohortQuality
    clients: list[_ClientQuality]

class _ScaleNorm(TypedDict):
    size: int
    mean: float
    sd: float | None
    counts: dict[int, int]

class _NormGroup(TypedDict):
    name: str
    date: str
    scales: dict[str, _ScaleNorm]

class _NormedScore(TypedDict):
    percentile: float
    t: float | None
    sten: int | None
    stanine: int | None
    range: Literal["below", "above"] | None

class _NormScores(TypedDict):
    group: str
    date: str
    scales: dict[str, _NormedScore]

def reliability(items: Buffer, *, threads: int | None = None) -> _Reliability: ...
def response_quality(answers: Buffer, *, threads: int | None = None) -> _ResponseQuality: ...
def write_norms(
    path: DatabasePath, totals: Mapping[str, Iterable[SupportsIndex]], *, name: str, date: str | None = None
) -> None: ...
def read_norms(path: DatabasePath) -> _NormGroup: ...
def norm_scores(path: DatabasePath, totals: Mapping[str, SupportsIndex]) -> _NormScores: ...
class _Scale(TypedDict):
    scale: str
    questions: tuple[int, ...]
    points: tuple[tuple[int, int, int, int], ...]
    lowest: int
    highest: int
    maximum: int | None

class _ScoreMatrix:
    @property
    def clients(self) -> list[int]: ...
    @property
    def shape(self) -> tuple[int, int]: ...
    def __buffer__(self, flags: int, /) -> memoryview: ...

def scales(database: DatabasePath, /) -> list[_Scale]: ...
def item_scores(database: DatabasePath, answers: object, scale: str, *,
                threads: int | None = None) -> tuple[tuple[int, ...], _ScoreMatrix]: ...
def scale_totals(database: DatabasePath, answers: object, *,
                 threads: int | None = None) -> tuple[tuple[str, ...], _ScoreMatrix]: ...
def item_analysis(database: DatabasePath, answers: object, *, threads: int | None = None) -> ItemAnalysis: ...
def build_norms(database: DatabasePath, answers: object, path: DatabasePath, *, name: str, date: str | None = None,
                threads: int | None = None) -> None: ...
def _f_quantile(p: float, df1: float, df2: float, /) -> float: ...
