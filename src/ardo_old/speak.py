"""``python -m ardo_old speak``: speaks a text through the speech service and plays it with mpv, as
ardo_old.audio does for the host; every failure is one line that says what to do."""

from __future__ import annotations

import argparse
import os
import sys
from pathlib import Path
from typing import Any

from ardo_old._command import CommandError

PLAYER = "C:\\Program Files\\mpv\\mpv.exe"
KEY = "ELEVEN_LAPS_API_KEY"


def add_speak_command(commands: Any) -> None:
    command = commands.add_parser(
        "speak",
        help="speak a text through the speech service and mpv",
        description="Speak a text through the ElevenLabs speech service and play it with mpv as it\n"
        f"arrives. The key is {KEY}, from the environment or a .env file in the\n"
        f"current folder. mpv is started as {PLAYER}: on Linux, link it\n"
        "under that name in a folder on PATH.",
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    text = command.add_mutually_exclusive_group(required=True)
    text.add_argument("text", nargs="?", metavar="TEXT", help="the text to speak")
    text.add_argument("--file", metavar="FILE", help="read the text from FILE, '-' for standard input")
    command.add_argument("--save", metavar="FILE", type=Path, help="also write the bytes played to FILE")
    command.set_defaults(run=run_speak)


def read_text(args: argparse.Namespace) -> str:
    if args.file is None:
        given: str = args.text
        return given
    if args.file == "-":
        return sys.stdin.read()
    try:
        return Path(args.file).read_text(encoding="utf-8")
    except (OSError, UnicodeDecodeError) as error:
        raise CommandError(f"cannot read {args.file}: {getattr(error, 'strerror', None) or error}") from None


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


def play(audio: Any, text: str) -> bytes:
    import requests
    from elevenlabs.api.error import APIError

    try:
        played: bytes = audio.stream(audio.get_audio_stream(text))
        return played
    except FileNotFoundError as error:
        if error.filename != PLAYER:
            raise
        raise CommandError(
            f"no player at {PLAYER}: install mpv and link it under that name in a folder on PATH, e.g. "
            f"ln -s \"$(command -v mpv)\" ~/.local/bin/'{PLAYER}'"
        ) from None
    except APIError as error:
        raise CommandError(f"the speech service refused: {error}") from None
    except requests.ConnectionError as error:
        raise CommandError(f"cannot reach the speech service; check the network ({type(error).__name__})") from None
    except requests.RequestException as error:
        raise CommandError(f"the speech service broke off: {error}") from None
    except BrokenPipeError:
        raise CommandError("the player quit before the speech ended") from None


def run_speak(args: argparse.Namespace) -> int:
    text = read_text(args)
    audio = import_audio()
    if os.environ.get(KEY) is None:
        raise CommandError(f"no key for the speech service: put {KEY}=... in a .env file here, or set {KEY}")
    played = play(audio, text)
    if args.save is not None:
        try:
            args.save.write_bytes(played)
        except OSError as error:
            raise CommandError(f"cannot write {args.save}: {error.strerror or error}") from None
    return 0
