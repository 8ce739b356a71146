"""ardo_old.audio.stream against real stand-in players through real pipes: players that stop listening,
fail, linger, or outlive a sequence that fails. Whatever happens, no child process and no descriptor
outlives the call."""

from __future__ import annotations

from pathlib import Path
from typing import Callable

import pytest

from audio_fakes import import_audio, install_player, wait_until
from player_watch import RecordingFacility, played, process_status

LARGE = 1 << 20  # far more than a pipe holds: written into a pipe nobody reads, it waits or fails
SMALL = 100  # stays in the writer's buffer until the flush

PLAYER_PRELUDE = """
import os, select, sys, time
notes = os.environ["STAND_IN_PLAYER_NOTES"]

def note(name, data=b""):
    with open(os.path.join(notes, name), "wb") as out:
        out.write(data)

def read_to_the_end():
    # Gives up after a while, so that input which is never closed fails the test instead of hanging it.
    received, give_up = bytearray(), time.monotonic() + 10
    while select.select([0], [], [], max(0.0, give_up - time.monotonic()))[0]:
        data = os.read(0, 1 << 16)
        if not data:
            return note("received", bytes(received))
        received += data
    sys.exit("the input never ended")
"""
GONE = "sys.exit(0)"
DEAF = "time.sleep(0.2)"
COMPLAINING = "read_to_the_end(); note('finished'); sys.exit(3)"
LINGERING = "read_to_the_end(); time.sleep(0.2); note('finished')"


@pytest.fixture(scope="module")
def audio():
    return import_audio()


@pytest.fixture
def stage(audio, tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> Callable[[str], tuple[RecordingFacility, Path]]:
    """stage(body): the stand-in player running `body` goes on PATH and stream() starts it through a
    RecordingFacility; returns that facility and the folder where the player leaves its notes."""

    def build(body: str) -> tuple[RecordingFacility, Path]:
        install_player(tmp_path / "bin", monkeypatch, PLAYER_PRELUDE + body)
        notes = tmp_path / "notes"
        notes.mkdir()
        monkeypatch.setenv("STAND_IN_PLAYER_NOTES", str(notes))
        facility = RecordingFacility()
        monkeypatch.setattr(audio, "subprocess", facility)
        return facility, notes

    return build


def exited(pid: int) -> Callable[[], bool]:
    return lambda: process_status(pid)[0] == "Z"


@pytest.mark.parametrize(
    "body, size, held_back",
    [(GONE, SMALL, True), (GONE, LARGE, True), (DEAF, LARGE, False)],
    ids=["gone-before-the-flush", "gone-before-the-write", "gone-while-the-write-waits"],
)
def test_a_player_that_stops_listening_breaks_the_pipe_and_is_reaped(audio, stage, body, size, held_back):
    facility, _ = stage(body)
    drawn = []

    def speech():
        if held_back:  # a zombie's end of the pipe is closed: the write or flush cannot succeed
            wait_until(exited(facility.players[0].pid), "the player exited")
        for count in range(1, 4):
            drawn.append(count)
            yield b"x" * size

    outcome = played(audio, facility, speech())
    # Closing the input flushes the small chunk again and breaks the pipe again; that must not show.
    assert type(outcome) is BrokenPipeError and outcome.__context__ is None
    assert drawn == [1]


@pytest.mark.parametrize("body, status", [(COMPLAINING, 3), (LINGERING, 0)], ids=["fails", "lingers"])
def test_a_player_that_reads_everything_is_waited_for_whatever_its_status(audio, stage, body, status):
    facility, notes = stage(body)
    chunks = [b"a" * LARGE, None, b"", b"b" * SMALL, b"c" * LARGE]
    everything = b"".join(chunk for chunk in chunks if chunk is not None)
    assert played(audio, facility, iter(chunks)) == everything
    assert (notes / "received").read_bytes() == everything
    assert (notes / "finished").exists()
    assert facility.players[0].returncode == status


@pytest.mark.parametrize(
    "error", [ConnectionError("service unreachable"), KeyboardInterrupt()], ids=["service", "interrupt"]
)
def test_a_sequence_failing_midway_ends_a_real_players_input_and_waits_for_it(audio, stage, error):
    facility, notes = stage(LINGERING)

    def speech():
        yield b"first"
        raise error

    outcome = played(audio, facility, speech())
    assert outcome is error and error.__context__ is None
    assert (notes / "received").read_bytes() == b"first"
    assert (notes / "finished").exists()
