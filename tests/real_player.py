"""The real mpv, reached as ardo_old.audio reaches it, and made to decode into a file instead of a
sound card, so a test can compare what it decoded with what was sent."""

from __future__ import annotations

import array
import math
import os
import shutil
import subprocess
import wave
from io import BytesIO
from pathlib import Path

import pytest

from audio_fakes import PLAYER_NAME

RATE = 44100
MP3_FRAME = 1152  # samples per MPEG-1 Layer III frame


def require(program: str) -> str:
    """The program's path; in CI its absence fails the test, elsewhere it skips it, saying why."""
    path = shutil.which(program)
    if path is None:
        message = f"{program} is not installed (scripts/install-test-tools installs it)"
        if os.environ.get("CI") == "true":
            pytest.fail(message)
        pytest.skip(message)
    return path


def install_mpv(folder: Path, monkeypatch: pytest.MonkeyPatch) -> Path:
    """Links mpv under the player's Windows path in a folder first on PATH, with a configuration of its
    own (MPV_HOME) that writes the decoded sound, as raw 16-bit samples, to the file returned."""
    mpv = require("mpv")
    (folder / "bin").mkdir(parents=True)
    (folder / "bin" / PLAYER_NAME).symlink_to(mpv)
    monkeypatch.setenv("PATH", f"{folder / 'bin'}{os.pathsep}{os.environ['PATH']}")
    decoded = folder / "decoded.pcm"
    (folder / "mpv").mkdir()
    (folder / "mpv" / "mpv.conf").write_text(
        f"ao=pcm\nao-pcm-file={decoded}\nao-pcm-waveheader=no\naudio-format=s16\nvo=null\n"
    )
    monkeypatch.setenv("MPV_HOME", str(folder / "mpv"))
    # Under the sanitizers' preloaded runtimes, a player that is not built with them would not run.
    monkeypatch.delenv("LD_PRELOAD", raising=False)
    return decoded


def tone(seconds: float = 1.0) -> array.array:
    """A mono signal of two sines, as 16-bit samples."""
    return array.array(
        "h", (int(8000 * math.sin(i * 0.05) + 3000 * math.sin(i * 0.31)) for i in range(int(RATE * seconds)))
    )


def as_wav(samples: array.array) -> bytes:
    out = BytesIO()
    with wave.open(out, "wb") as wav:
        wav.setnchannels(1)
        wav.setsampwidth(2)
        wav.setframerate(RATE)
        wav.writeframes(samples.tobytes())
    return out.getvalue()


def as_mp3(samples: array.array, folder: Path) -> bytes:
    """Encoded into a file, not a pipe: lame then goes back to write the header that tells a decoder
    how many samples of padding to drop."""
    (folder / "sent.wav").write_bytes(as_wav(samples))
    subprocess.run([require("lame"), "--quiet", "-b", "128", folder / "sent.wav", folder / "sent.mp3"], check=True)
    return (folder / "sent.mp3").read_bytes()


def samples_of(path: Path) -> array.array:
    return array.array("h", path.read_bytes())


def same_signal(sent: array.array, decoded: array.array) -> bool:
    """Lossy coding keeps the signal, up to a gain: the normalised correlation is close to one."""
    n = min(len(sent), len(decoded))
    dot = sum(a * b for a, b in zip(sent[:n], decoded[:n]))
    energy = math.sqrt(sum(a * a for a in sent[:n]) * sum(b * b for b in decoded[:n]))
    return energy > 0 and dot / energy > 0.99


def in_chunks(data: bytes, size: int = 4096) -> list[bytes]:
    return [data[i : i + size] for i in range(0, len(data), size)]
