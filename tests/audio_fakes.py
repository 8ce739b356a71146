"""Stand-ins for what ardo_old.audio talks to: the speech service, the process facility, the player.

Nothing here reaches a network or starts mpv. Import-time behaviour is observed in fresh interpreters
that find the stand-in `elevenlabs` and `dotenv` packages of fake_sdk/ first; stand-in players are
small Python scripts put on PATH under the player's name.
"""

from __future__ import annotations

import importlib
import json
import os
import subprocess
import sys
import time
from pathlib import Path
from types import ModuleType
from typing import Callable

import pytest

FAKE_SDK = Path(__file__).parent / "fake_sdk"
PLAYER_NAME = "C:\\Program Files\\mpv\\mpv.exe"


def import_audio() -> ModuleType:
    """ardo_old.audio, imported in this interpreter against the stand-in packages."""
    if str(FAKE_SDK) not in sys.path:
        sys.path.insert(0, str(FAKE_SDK))
    return importlib.import_module("ardo_old.audio")


def run_fresh(code: str, env: dict[str, str]) -> object:
    """Runs `code` in a new interpreter with only `env` as its speech settings; returns what it printed, as JSON."""
    environment = {
        name: value
        for name, value in os.environ.items()
        if name != "ELEVEN_LAPS_API_KEY" and not name.startswith("FAKE_")
    }
    environment.update(env, PYTHONPATH=str(FAKE_SDK))
    done = subprocess.run([sys.executable, "-c", code], env=environment, capture_output=True, text=True, check=True)
    return json.loads(done.stdout)


def install_player(folder: Path, monkeypatch: pytest.MonkeyPatch, source: str) -> None:
    """Puts a stand-in player running the Python `source` first on PATH. Without a "/" in the program
    path, the process facility looks the player's name up on PATH as it is."""
    player = folder / PLAYER_NAME
    folder.mkdir(exist_ok=True)
    player.write_text(f"#!{sys.executable}\n{source}")
    player.chmod(0o755)
    monkeypatch.setenv("PATH", f"{folder}{os.pathsep}{os.environ['PATH']}")


def wait_until(condition: Callable[[], bool], what: str, seconds: float = 10.0) -> None:
    deadline = time.monotonic() + seconds
    while not condition():
        assert time.monotonic() < deadline, f"gave up waiting until {what}"
        time.sleep(0.01)


class ServiceResult:
    """The iterable that generate() returns: items handed out one at a time, each draw logged.

    An exception item is raised at its draw; a callable item is called at its draw and its result
    handed out instead.
    """

    def __init__(self, items: list, log: list) -> None:
        self.items = list(items)
        self.log = log

    def __iter__(self) -> ServiceResult:
        return self

    def __next__(self) -> object:
        if not self.items:
            raise StopIteration
        item = self.items.pop(0)
        self.log.append(("draw", item))
        if isinstance(item, BaseException):
            raise item
        return item() if callable(item) else item


class FakeService:
    """Stands in for the `elevenlabs` module: records generate() calls, returns a ServiceResult."""

    def __init__(self, items: list = (), error: BaseException | None = None) -> None:
        self.items = list(items)
        self.error = error
        self.calls: list[tuple] = []
        self.log: list[tuple] = []

    def generate(self, *args: object, **kwargs: object) -> ServiceResult:
        self.calls.append((args, list(kwargs.items())))
        if self.error is not None:
            raise self.error
        return ServiceResult(self.items, self.log)


class FakeInput:
    """The player's standard input: logs write, flush and close; `failures` maps one of them to an error."""

    def __init__(self, log: list, failures: dict[str, BaseException]) -> None:
        self.log = log
        self.failures = failures

    def _do(self, step: str, *args: object) -> None:
        self.log.append((step, *args))
        if step in self.failures:
            raise self.failures[step]

    def write(self, chunk: object) -> None:
        self._do("write", chunk)

    def flush(self) -> None:
        self._do("flush")

    def close(self) -> None:
        self._do("close")


class FakePlayer:
    def __init__(self, log: list, stdin: object, wait_error: BaseException | None) -> None:
        self.log = log
        self.stdin = stdin
        self.wait_error = wait_error

    def wait(self) -> int:
        self.log.append(("wait",))
        if self.wait_error is not None:
            raise self.wait_error
        return 1  # a failing exit status changes nothing


class FakeProcessFacility:
    """Stands in for `subprocess`: Popen logs how it was called and hands out a FakePlayer."""

    PIPE = object()
    DEVNULL = object()

    def __init__(self, failures: dict[str, BaseException] | None = None, stdin: object = "pipe") -> None:
        self.failures = failures or {}
        self.log: list[tuple] = []
        self.stdin = FakeInput(self.log, self.failures) if stdin == "pipe" else stdin

    def Popen(self, *args: object, **kwargs: object) -> FakePlayer:  # noqa: N802 - the facility's own name
        self.log.append(("Popen", args, list(kwargs.items())))
        if "Popen" in self.failures:
            raise self.failures["Popen"]
        return FakePlayer(self.log, self.stdin, self.failures.get("wait"))
