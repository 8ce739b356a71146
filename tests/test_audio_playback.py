"""ardo_old.audio.stream: feeding the player chunk by chunk, and what is left when something fails."""

from __future__ import annotations

import json
import os
from pathlib import Path

import pytest

from audio_fakes import PLAYER_NAME, FakeProcessFacility, import_audio, install_player, wait_until

MPV_COMMAND = [PLAYER_NAME, "--no-cache", "--no-terminal", "--", "fd://0"]


@pytest.fixture(scope="module")
def audio():
    return import_audio()


@pytest.fixture
def play(audio, monkeypatch):
    """play(facility, audio_stream): stream() through the stand-in process facility."""

    def run(facility: FakeProcessFacility, audio_stream: object) -> bytes:
        monkeypatch.setattr(audio, "subprocess", facility)
        return audio.stream(audio_stream)

    return run


def pulled(chunks: list, log: list):
    """A chunk sequence that logs each pull, so pulls and writes can be seen interleaved."""
    for chunk in chunks:
        log.append(("pull", chunk))
        if isinstance(chunk, BaseException):
            raise chunk
        yield chunk


def popen_call(facility: FakeProcessFacility) -> tuple:
    options = [("stdin", facility.PIPE), ("stdout", facility.DEVNULL), ("stderr", facility.DEVNULL)]
    return ("Popen", (MPV_COMMAND,), options)


@pytest.mark.parametrize(
    "chunks, steps, played",
    [
        (
            [b"ab", None, b"c", b""],
            [("pull", b"ab"), ("write", b"ab"), ("flush",), ("pull", None), ("pull", b"c"), ("write", b"c"), ("flush",),
             ("pull", b""), ("write", b""), ("flush",)],
            b"abc",
        ),
        ([], [], b""),
    ],
    ids=["chunks", "empty"],
)
def test_each_chunk_is_written_and_flushed_as_it_arrives(play, chunks, steps, played):
    facility = FakeProcessFacility()
    assert play(facility, pulled(chunks, facility.log)) == played
    assert facility.log == [popen_call(facility)] + steps + [("close",), ("wait",)]


class Louder:
    """A chunk type of the host's own that joins the sum by its own rule."""

    def __radd__(self, played):
        return played + b"!"


@pytest.mark.parametrize(
    "chunks",
    [
        [bytes([i % 256]) * 512 for i in range(4000)],
        [b"ab", bytearray(b"cd"), memoryview(b"ef"), b"gh"],
        [b"ab", Louder(), b"cd"],
    ],
    ids=["many", "buffers", "own-add"],
)
def test_the_result_is_what_adding_each_chunk_in_turn_gives(play, chunks):
    expected = b""
    for chunk in chunks:
        expected += chunk
    assert play(FakeProcessFacility(), iter(chunks)) == expected


@pytest.mark.parametrize("stdin", [None, 0])
def test_an_absent_input_is_not_closed(play, stdin):
    facility = FakeProcessFacility(stdin=stdin)
    assert play(facility, []) == b""
    assert facility.log == [popen_call(facility), ("wait",)]


def test_a_player_that_cannot_start_fails_before_anything_is_drawn(play):
    facility = FakeProcessFacility({"Popen": FileNotFoundError(2, "No such file")})
    with pytest.raises(FileNotFoundError):
        play(facility, pulled([b"a"], facility.log))
    assert facility.log == [popen_call(facility)]


SERVICE_DOWN = ConnectionError("service unreachable")
BROKEN_PIPE = BrokenPipeError(32, "Broken pipe")


@pytest.mark.parametrize(
    "chunks, failures, error, fed",
    [
        ([SERVICE_DOWN], {}, SERVICE_DOWN, []),
        ([b"a"], {"write": BROKEN_PIPE}, BROKEN_PIPE, [("write", b"a")]),
        ([b"a"], {"flush": BROKEN_PIPE}, BROKEN_PIPE, [("write", b"a"), ("flush",)]),
        ([b"a"], {"write": BROKEN_PIPE, "close": OSError("close failed too")}, BROKEN_PIPE, [("write", b"a")]),
        (["text"], {}, "can't concat str to bytes", [("write", "text"), ("flush",)]),
        (5, {}, "'int' object is not iterable", []),
    ],
    ids=["sequence", "write", "flush", "close-fails-too", "not-bytes", "not-iterable"],
)
def test_after_a_failure_the_player_is_closed_and_reaped_and_the_error_goes_on(play, chunks, failures, error, fed):
    facility = FakeProcessFacility(failures)
    source = pulled(chunks, facility.log) if isinstance(chunks, list) else chunks
    with pytest.raises(Exception) as raised:
        play(facility, source)
    if isinstance(error, str):
        assert type(raised.value) is TypeError and str(raised.value) == error
    else:
        assert raised.value is error and raised.value.__context__ is None
    steps = [step for step in facility.log[1:] if step[0] != "pull"]
    assert steps == fed + [("close",), ("wait",)]


def test_a_wait_that_fails_after_a_failure_carries_the_first_error(play):
    interrupted = KeyboardInterrupt()
    facility = FakeProcessFacility({"write": BROKEN_PIPE, "wait": interrupted})
    with pytest.raises(KeyboardInterrupt) as raised:
        play(facility, [b"a"])
    assert raised.value is interrupted and raised.value.__context__ is BROKEN_PIPE


STAND_IN_PLAYER = """
import json, os, sys
record = {"argv": sys.argv[1:], "pid": os.getpid(),
          "stdout": os.path.realpath("/proc/self/fd/1"), "stderr": os.path.realpath("/proc/self/fd/2")}
with open(os.environ["STAND_IN_PLAYER_RECORD"], "w") as out:
    json.dump(record, out)
with open(os.environ["STAND_IN_PLAYER_RECEIVED"], "wb", buffering=0) as out:
    while data := os.read(0, 65536):
        out.write(data)
"""


def received_is(path: Path, expected: bytes):
    return lambda: path.exists() and path.read_bytes() == expected


def test_a_real_player_on_path_hears_each_chunk_before_the_next_is_drawn(audio, tmp_path, monkeypatch):
    install_player(tmp_path / "bin", monkeypatch, STAND_IN_PLAYER)
    record, received = tmp_path / "record.json", tmp_path / "received"
    monkeypatch.setenv("STAND_IN_PLAYER_RECORD", str(record))
    monkeypatch.setenv("STAND_IN_PLAYER_RECEIVED", str(received))
    chunks = [b"first ", b"second ", b"third"]

    def speech():
        for count, chunk in enumerate(chunks, 1):
            yield chunk
            wait_until(received_is(received, b"".join(chunks[:count])), "the player received the chunk")

    assert audio.stream(speech()) == b"".join(chunks)
    played = json.loads(record.read_text())
    assert played["argv"] == MPV_COMMAND[1:]
    assert played["stdout"] == played["stderr"] == os.devnull
    with pytest.raises(ProcessLookupError):  # already reaped, not merely exited
        os.kill(played["pid"], 0)
