"""Watching the players that stream() starts through the real process facility: which children this
process has, which descriptors it holds, and whether a call left any of them behind."""

from __future__ import annotations

import os
import subprocess
from typing import Iterator


class RecordingFacility:
    """The real process facility, keeping each player it starts. Holding the handle also keeps its
    input open should stream() forget to close it, rather than letting the handle's cleanup close it."""

    PIPE = subprocess.PIPE
    DEVNULL = subprocess.DEVNULL

    def __init__(self) -> None:
        self.players: list[subprocess.Popen] = []

    def Popen(self, *args: object, **kwargs: object) -> subprocess.Popen:  # noqa: N802 - the facility's own name
        player = subprocess.Popen(*args, **kwargs)
        self.players.append(player)
        return player


def process_status(pid: int | str) -> tuple[str, int]:
    """State letter and parent of a process. The name before them may hold spaces and parentheses."""
    with open(f"/proc/{pid}/stat") as stat:
        text = stat.read()
    state, parent = text[text.rindex(")") + 2 :].split()[:2]
    return state, int(parent)


def children() -> dict[int, str]:
    """This process's children, running or exited but not reaped ("Z"), by pid, with their states."""
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            state, parent = process_status(entry)
        except OSError:  # gone since the listing
            continue
        if parent == os.getpid():
            found[int(entry)] = state
    return found


def open_descriptors() -> set[tuple[str, str]]:
    found = set()
    for fd in os.listdir("/proc/self/fd"):
        try:
            found.add((fd, os.readlink(f"/proc/self/fd/{fd}")))
        except OSError:  # the listing's own descriptor, closed by now
            continue
    return found


def played(audio, facility: RecordingFacility, audio_stream: Iterator[bytes | None]) -> object:
    """What stream() returned or raised, once it is certain that the call left nothing behind: the
    player reaped (no zombie either), its input closed, every descriptor as it was before."""
    children_before, descriptors_before = children(), open_descriptors()
    try:
        outcome = audio.stream(audio_stream)
    except BaseException as error:  # a KeyboardInterrupt is among the outcomes under test
        outcome = error
    assert {pid: state for pid, state in children().items() if pid not in children_before} == {}
    assert open_descriptors() == descriptors_before
    [player] = facility.players
    assert player.stdin.closed and player.returncode is not None
    return outcome
