"""What a cohort table holds beside plain columns, written and read as JSON of plain values: each
client's error (its type by name, from a fixed list, and its arguments) and the report's shape.
Nothing in a table is unpickled or looked up by a name it gives, so a table from an untrusted file
can yield only these exceptions and values, or ValueError."""

from __future__ import annotations

import builtins
import json
import sqlite3
from typing import Any

_SQLITE = ("Error", "Warning", "InterfaceError", "DatabaseError", "DataError", "OperationalError",
           "IntegrityError", "InternalError", "ProgrammingError", "NotSupportedError")
_TYPES: dict[str, type[Exception]] = {
    name: kind for name, kind in vars(builtins).items() if isinstance(kind, type) and issubclass(kind, Exception)
}
_TYPES.update({f"sqlite3.{name}": getattr(sqlite3, name) for name in _SQLITE})
_NAMES: dict[type[BaseException], str] = {kind: name for name, kind in _TYPES.items()}
_SQLITE_ATTRIBUTES = ("sqlite_errorcode", "sqlite_errorname")


class _Unfit(Exception):
    pass


def _plain(value: object) -> object:
    if value is None or type(value) in (bool, int, str):
        return value
    if type(value) is float:
        return {"float": value.hex()}
    if type(value) is bytes:
        return {"bytes": value.hex()}
    raise _Unfit


def _value(data: object) -> object:
    if data is None or type(data) in (bool, int, str):
        return data
    if isinstance(data, dict) and len(data) == 1:
        ((tag, text),) = data.items()
        if type(text) is str:
            if tag == "float":
                return float.fromhex(text)
            if tag == "bytes":
                return bytes.fromhex(text)
    raise _Unfit


def describe(error: BaseException) -> tuple[str, str, str | None]:
    """The type's name, the message (for people) and the detail to rebuild it from; no detail
    when its arguments are not plain values."""
    kind = type(error)
    name = _NAMES.get(kind, f"{kind.__module__}.{kind.__qualname__}")
    try:
        message = str(error)
    except Exception:
        message = ""
    message = message.encode("utf-8", "backslashreplace").decode("utf-8")
    try:
        detail: dict[str, object] = {"args": [_plain(a) for a in error.args]}
        if isinstance(error, sqlite3.Error):
            for attribute in _SQLITE_ATTRIBUTES:
                if hasattr(error, attribute):
                    detail[attribute] = _plain(getattr(error, attribute))
    except _Unfit:
        return name, message, None
    return name, message, json.dumps(detail)


def rebuild(name: str, detail: str | None) -> Exception:
    """The exception a row's error columns describe; ValueError when they describe none that can be."""
    kind = _TYPES.get(name)
    if kind is None or detail is None:
        raise ValueError(f"a client's error of type {name!r} cannot be rebuilt from a table")
    try:
        data = json.loads(detail)
        if not isinstance(data, dict) or not isinstance(data.get("args"), list):
            raise _Unfit
        error = kind(*(_value(a) for a in data["args"]))
        for attribute in _SQLITE_ATTRIBUTES:
            if attribute in data and isinstance(error, sqlite3.Error):
                setattr(error, attribute, _value(data[attribute]))
    except (_Unfit, ValueError, TypeError, RecursionError):
        raise ValueError(f"the error detail of a client's {name} does not fit: {detail[:80]!r}") from None
    return error


def _node(data: object) -> Any:
    if isinstance(data, list):
        return [_node(item) for item in data]
    if isinstance(data, dict) and set(data) == {"map"} and isinstance(data["map"], list):
        entries = []
        for entry in data["map"]:
            if not (isinstance(entry, list) and len(entry) == 2 and type(entry[0]) is str):
                raise _Unfit
            entries.append((entry[0], _node(entry[1])))
        return ("map", entries)
    if isinstance(data, dict) and set(data) == {"field", "type"}:
        if type(data["field"]) is not str or data["type"] not in ("int", "float", "str"):
            raise _Unfit
        return ("field", data["field"], data["type"])
    return _value(data)


def load_shape(text: str) -> Any:
    """The report's shape: lists as lists, a map as ("map", [(key, node), ...]), a field as
    ("field", column, type), anything else the value itself; None when no client could score."""
    try:
        return _node(json.loads(text))
    except (_Unfit, ValueError, TypeError, RecursionError):
        raise ValueError("the table's report shape does not fit") from None
