"""The tables that ``ardo_old.psychometrics`` and ``ardo_old.cohort`` give: any Arrow consumer reads them through the
Arrow C stream interface, without a copy; ``to_pyarrow``, ``to_pandas`` and ``to_polars`` are
there for when those libraries are installed, and ``to_pylist`` for when none is."""

from __future__ import annotations

from typing import Any, NamedTuple


class ArrowExport:
    """A table exported through the PyCapsule protocol of Arrow, with conversions to the common
    libraries (each imported only when asked for)."""

    def __init__(self, table: Any) -> None:
        self._table = table

    def __arrow_c_stream__(self, requested_schema: object = None) -> object:
        return self._table.__arrow_c_stream__(requested_schema)

    def __arrow_c_schema__(self) -> object:
        return self._table.__arrow_c_schema__()

    def to_pyarrow(self) -> Any:
        """A ``pyarrow.Table`` (needs pyarrow: the ``tables`` extra)."""
        import pyarrow

        return pyarrow.table(self)

    def to_pandas(self) -> Any:
        """A ``pandas.DataFrame``, through pyarrow (the ``tables`` extra, and pandas). Integer and
        bool columns keep their type where a row is null (pandas' ``Int64`` and ``boolean``), so a
        failed client does not turn every score into a float."""
        import pandas
        import pyarrow

        nullable = {pyarrow.int64(): pandas.Int64Dtype(), pyarrow.bool_(): pandas.BooleanDtype()}
        return self.to_pyarrow().to_pandas(types_mapper=nullable.get)

    def to_polars(self) -> Any:
        """A ``polars.DataFrame`` (needs polars)."""
        import polars

        return polars.DataFrame(self)


class ArrowTable(ArrowExport):
    """A small table of results, its rows also kept as dicts."""

    def __init__(self, table: Any, rows: list[dict[str, Any]]) -> None:
        super().__init__(table)
        self._rows = rows

    def to_pylist(self) -> list[dict[str, Any]]:
        """The rows as dicts, column by name; needs no Arrow library."""
        return [dict(row) for row in self._rows]

    def __len__(self) -> int:
        return len(self._rows)

    def __repr__(self) -> str:
        return f"<ardo_old table of {len(self._rows)} rows>"


class ScoreTable(ArrowExport):
    """A cohort's results from ``score_table``: a row per client."""

    def __init__(self, table: Any, rows: int) -> None:
        super().__init__(table)
        self._length = rows

    def __len__(self) -> int:
        return self._length

    def __repr__(self) -> str:
        return f"<ardo_old score table of {self._length} clients>"


class ItemAnalysis(NamedTuple):
    """What ``item_analysis`` found: a row per scale, a row per item of each scale, and the
    clients that scored and that were left out because their scoring failed."""

    scales: ArrowTable
    items: ArrowTable
    clients: int
    failed: int
