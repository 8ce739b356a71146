from collections.abc import Buffer, Iterable

PLAYER: str
KEY_VARIABLE: str

def play(audio_stream: Iterable[Buffer | None], /) -> None: ...
