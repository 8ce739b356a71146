"""``python -m ardo_old speak``: speaks a text through the speech service and plays it with mpv, as
ardo_old.audio does for the host, but in flat memory and with every wait bounded; every failure is one
line that says what happened."""

from __future__ import annotations

import argparse
import contextlib
import http.client
import math
import os
import urllib.parse
from collections.abc import Buffer, Iterable, Iterator
from pathlib import Path
from typing import IO, Any

from ardo_old import _speech
from ardo_old._command import CommandError, standard_input

PLAYER = _speech.PLAYER
KEY = _speech.KEY_VARIABLE
# The service's own spelling, which the package does not read: the likeliest reason for a missing key.
LOOK_ALIKE_KEY = "ELEVEN_LABS_API_KEY"
DEFAULT_TIMEOUT = 30.0


def add_speak_command(commands: Any) -> None:
    command = commands.add_parser(
        "speak",
        help="speak a text through the speech service and mpv",
        description="Speak a text through the ElevenLabs speech service and play it with mpv as it arrives. "
        f"The key is {KEY}, from the environment, else from a .env file: the one in the current folder or "
        "the nearest folder above it, else the one nearest above the installed package. "
        f"mpv is started as {PLAYER}: on Linux, link it under that name in a folder on PATH.",
    )
    text = command.add_mutually_exclusive_group(required=True)
    text.add_argument("text", nargs="?", metavar="TEXT", help="the text to speak")
    text.add_argument("--file", metavar="FILE", help="read the text (UTF-8) from FILE, '-' for standard input")
    command.add_argument("--save", metavar="FILE", type=Path,
                         help="also write the audio to FILE as it plays; FILE is opened before the speech "
                              "is asked for, and keeps what was played when the speech breaks off")
    command.add_argument("--timeout", metavar="SECONDS", type=seconds, default=DEFAULT_TIMEOUT,
                         help="how long to wait for the service to take the connection, to answer, and "
                              f"between two parts of the stream (default: {DEFAULT_TIMEOUT:g})")
    command.set_defaults(run=run_speak, parser=command)


def seconds(value: str) -> float:
    try:
        number = float(value)
    except ValueError:
        number = math.nan
    if not 0 < number < math.inf:
        raise argparse.ArgumentTypeError(f"not a positive number of seconds: {value!r}")
    return number


def read_text(args: argparse.Namespace) -> str:
    """The text to speak, held to the same rules whether it comes as an argument, a file or standard
    input: UTF-8 and not blank."""
    if args.file is None:
        return checked_text(os.fsencode(args.text), "the text")
    name = "standard input" if args.file == "-" else args.file
    try:
        data = standard_input().read() if args.file == "-" else Path(args.file).read_bytes()
    except OSError as error:
        raise CommandError(f"cannot read {name}: {error.strerror or error}") from None
    return checked_text(data, name)


def checked_text(data: bytes, name: str) -> str:
    try:
        text = data.decode("utf-8-sig")
    except UnicodeDecodeError as error:
        raise CommandError(f"{name} is not UTF-8 text: {error.reason} at byte {error.start}") from None
    if not text.strip():
        raise CommandError(f"{name} holds nothing to speak")
    return text


def import_audio() -> Any:
    """ardo_old.audio, after the .env file of the working folder: the module's own lookup starts from the
    folder of the code that imports it, which here is the installed package."""
    try:
        import dotenv

        dotenv.load_dotenv(dotenv.find_dotenv(usecwd=True))
        import ardo_old.audio
    except ModuleNotFoundError:
        raise CommandError("speaking needs the audio extra: pip install 'ardo_old[audio]'") from None
    return ardo_old.audio


def require_key() -> None:
    if os.environ.get(KEY) is not None:
        return
    if os.environ.get(LOOK_ALIKE_KEY) is not None:
        raise CommandError(
            f"no key for the speech service: {LOOK_ALIKE_KEY} is set, but the package reads {KEY} "
            "(LAPS, not LABS): rename it")
    raise CommandError(f"no key for the speech service: put {KEY}=... in a .env file here, or set {KEY}")


@contextlib.contextmanager
def opened_for_saving(path: Path | None) -> Iterator[IO[bytes] | None]:
    """The file of --save, opened before any speech is asked for, so that a folder or an unwritable
    place fails first. When the run fails, that failure is the one reported, not the closing's."""
    if path is None:
        yield None
        return
    try:
        file = path.open("wb")
    except OSError as error:
        raise CommandError(cannot_write(path, error)) from None
    try:
        yield file
    except BaseException:
        with contextlib.suppress(OSError):
            file.close()
        raise
    try:
        file.close()
    except OSError as error:
        raise CommandError(cannot_write(path, error)) from None


def cannot_write(path: Path, error: OSError) -> str:
    return f"cannot write {path}: {error.strerror or error}"


def saved(chunks: Iterable[Buffer | None], file: IO[bytes], path: Path) -> Iterator[Buffer | None]:
    """The chunks, each written to `file` before it goes on to the player."""
    for chunk in chunks:
        if chunk is not None:
            try:
                file.write(chunk)
            except OSError as error:
                raise CommandError(cannot_write(path, error)) from None
        yield chunk


@contextlib.contextmanager
def waits_bounded(timeout: float) -> Iterator[None]:
    """Every request of this process gives up after `timeout` seconds without a connection or without
    data. The SDK asks requests with no timeout, so a service that accepts and never answers, or stops
    in mid-stream, would hold the command forever; the host's own SDK stays as it is."""
    from requests.adapters import HTTPAdapter

    send = HTTPAdapter.send

    # A session passes all but the request by name.
    def send_bounded(self: Any, request: Any, **options: Any) -> Any:
        if options.get("timeout") is None:
            options["timeout"] = timeout
        return send(self, request, **options)

    setattr(HTTPAdapter, "send", send_bounded)
    try:
        yield
    finally:
        setattr(HTTPAdapter, "send", send)


def play(audio: Any, text: str, save: IO[bytes] | None, args: argparse.Namespace) -> None:
    chunks = audio.get_audio_stream(text)
    try:
        with waits_bounded(args.timeout):
            _speech.play(chunks if save is None else saved(chunks, save, args.save))
    except Exception as error:
        message = what_failed(error, args.timeout)
        if message is None:
            raise
        raise CommandError(message) from None


def what_failed(error: Exception, timeout: float) -> str | None:
    """What the user is told of a failure of the speech road; None for one that is not of it."""
    from elevenlabs.api.error import APIError
    from requests import RequestException

    if isinstance(error, APIError):
        return f"the speech service refused: {error}"
    if isinstance(error, RequestException):  # before OSError, which it derives from
        return request_failure(error, timeout)
    if isinstance(error, BrokenPipeError):
        return "the player quit before the speech ended"
    if isinstance(error, OSError):
        return player_failure(error) if error.filename == PLAYER else None
    if type(error) is ValueError:  # the SDK's only own ValueError: the voice is not in the service's list
        return f"the speech service does not offer the voice: {error}"
    if isinstance(error, ValueError):  # JSON or a voice list of another shape
        return f"the speech service's reply cannot be read: {error}"
    return None


def player_failure(error: OSError) -> str:
    if isinstance(error, FileNotFoundError):
        return (f"no player at {PLAYER}: install mpv and link it under that name in a folder on PATH, e.g. "
                f"ln -s \"$(command -v mpv)\" ~/.local/bin/'{PLAYER}'")
    return (f"cannot start the player at {PLAYER}: {error.strerror or error}: it must be mpv, or a link to it, "
            "that you may run")


def request_failure(error: Exception, timeout: float) -> str:
    from requests import ConnectionError, ConnectTimeout, ReadTimeout
    from urllib3.exceptions import ReadTimeoutError

    where = service_address(error)
    causes = list(causes_of(error))
    not_http = [cause for cause in causes
                if isinstance(cause, http.client.BadStatusLine) and not isinstance(cause, http.client.RemoteDisconnected)]
    if isinstance(error, ConnectTimeout):
        return f"no connection to the speech service{where} within {timeout:g} s (--timeout)"
    if isinstance(error, ReadTimeout):
        return f"the speech service{where} did not answer within {timeout:g} s (--timeout)"
    if any(isinstance(cause, ReadTimeoutError) for cause in causes):
        return f"the speech service stopped sending for {timeout:g} s in mid-stream (--timeout)"
    if not_http:
        return f"the speech service{where} did not answer in HTTP: it sent {not_http[0].args[0]!r}"
    if any(isinstance(cause, http.client.RemoteDisconnected) for cause in causes):
        return f"the speech service{where} closed the connection without answering"
    if isinstance(error, ConnectionError):
        reason = next((cause.strerror for cause in causes if isinstance(cause, OSError) and cause.strerror), error)
        return f"cannot reach the speech service{where}: {reason}; check the network"
    return f"the speech service broke off: {error}"


def service_address(error: Exception) -> str:
    """" at scheme://host:port" of the request that failed, or nothing when the error does not tell."""
    url = getattr(getattr(error, "request", None), "url", None)
    if not url:
        return ""
    parts = urllib.parse.urlsplit(url)
    return f" at {parts.scheme}://{parts.netloc}"


def causes_of(error: BaseException) -> Iterator[BaseException]:
    """The error and every error behind it: requests and urllib3 keep the one they wrap in their
    arguments or in `reason`, Python in the cause and the context."""
    seen: set[int] = set()
    waiting = [error]
    while waiting:
        cause = waiting.pop()
        if id(cause) in seen:
            continue
        seen.add(id(cause))
        yield cause
        behind = [*cause.args, getattr(cause, "reason", None), cause.__cause__, cause.__context__]
        waiting.extend(item for item in behind if isinstance(item, BaseException))


def run_speak(args: argparse.Namespace) -> int:
    text = read_text(args)
    audio = import_audio()
    require_key()
    with opened_for_saving(args.save) as save:
        play(audio, text, save, args)
    return 0
