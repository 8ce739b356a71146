"""Mistakes a host can make that the stubs must catch. Each ignore names the error mypy must report:
under --strict an ignore that no error needs is itself an error, so a looser stub fails the check."""

from __future__ import annotations

from types import SimpleNamespace

from ardo_old.args import Args
from ardo_old.audio import get_audio_stream, stream
from ardo_old.mind import mind

report = mind(SimpleNamespace(client_id=1, user_responses=[1, 2], sqlite_database="a.db"))
report["Emotional_Intelligence"]  # type: ignore[typeddict-item]
report["Spaces"][0]["aspects"][0]["percentage"].upper()  # type: ignore[attr-defined]
report["Traits"][0]["name"] + 1  # type: ignore[operator]
space_id: int = report["Spaces"][0]["space_id"]  # type: ignore[assignment]
mind("a.db")  # type: ignore[arg-type]
mind(SimpleNamespace(), SimpleNamespace())  # type: ignore[call-arg]

chunk: str = next(get_audio_stream("hello"))  # type: ignore[assignment]
get_audio_stream(b"hello")  # type: ignore[arg-type]
stream(["text chunks"])  # type: ignore[list-item]
played: str = stream([b"ab", None])  # type: ignore[assignment]

Args(crop=[0, 0, 0, 0])  # type: ignore[call-arg]
Args(fps="30")  # type: ignore[arg-type]
Args().model_id = {}  # type: ignore[misc]
