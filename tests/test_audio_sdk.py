"""ardo_old.audio with the real `elevenlabs` SDK and the real python-dotenv, against the stand-in speech
service of speech_service.py on 127.0.0.1. The SDK reads its base URL when it is imported, so every
case runs in a fresh interpreter. scripts/test-audio-sdk runs this file once per SDK release of the
`audio` extra's range, each in its own environment."""

from __future__ import annotations

import importlib.util
import itertools
import json
import os
import signal
import subprocess
import sys
from pathlib import Path

import pytest

from audio_fakes import PLAYER_NAME, install_player, wait_until
from real_player import as_wav, in_chunks, install_mpv, samples_of, tone
from speech_service import SpeechService

SERVICE = Path(__file__).parent / "speech_service.py"
CHUNKS = ["ID3 first", "second", "third and last"]
MiB = 1024 * 1024

if importlib.util.find_spec("elevenlabs") is None or importlib.util.find_spec("dotenv") is None:
    # Where they must be there, their absence is a failure, not a reason to skip.
    if os.environ.get("ARDO_SDK_REQUIRED") == "1":
        raise RuntimeError("the elevenlabs SDK and python-dotenv are not installed")
    pytest.skip("needs the audio extra: scripts/test-audio-sdk runs these tests", allow_module_level=True)


def speak_once(
    tmp_path: Path, service: dict, key: str | None = None, dotenv_key: str | None = None, play: bool = False
) -> dict:
    """One sequence pulled to its end in a fresh interpreter: `key` in the environment, `dotenv_key` in
    a .env file of the working folder; no other key of this environment gets in."""
    environment = {name: value for name, value in os.environ.items() if not name.startswith("ELEVEN")}
    environment["NO_PROXY"] = environment["no_proxy"] = "127.0.0.1"
    if key is not None:
        environment["ELEVEN_LAPS_API_KEY"] = key
    if dotenv_key is not None:
        (tmp_path / ".env").write_text(f"ELEVEN_LAPS_API_KEY={dotenv_key}\n")
    settings = json.dumps({"service": {"chunks": CHUNKS, **service}, "text": "Hello there", "play": play})
    # Run as with -c, python-dotenv looks for .env from the working folder up.
    code = f"import sys; sys.path.insert(0, {str(SERVICE.parent)!r}); import speech_service; speech_service.main()"
    done = subprocess.run(
        [sys.executable, "-c", code], input=settings, cwd=tmp_path, env=environment, capture_output=True, text=True,
        timeout=60,
    )
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout)


@pytest.mark.parametrize(
    "key, dotenv_key", [(None, "right-key"), ("right-key", "stale-key")], ids=["from-dotenv", "environment-wins"]
)
def test_the_key_reaches_the_service_and_chunks_stream_one_by_one(tmp_path, key, dotenv_key):
    # Each chunk waits until the one before is in the caller's hands: a client that read the whole
    # body before handing out the first chunk would make the service give up.
    outcome = speak_once(tmp_path, {"hold_back": True}, key=key, dotenv_key=dotenv_key)
    assert outcome["asked_before"] == 0
    assert outcome["error"] is None and not outcome["gave_up"]
    assert outcome["chunks"] == CHUNKS
    voices, speech = outcome["requests"]
    assert voices["path"] == "/v1/voices"
    assert speech["path"] == "/v1/text-to-speech/tsampleVoice00000001/stream"
    assert speech["body"]["text"] == "Hello there" and speech["body"]["model_id"] == "eleven_multilingual_v2"
    assert {voices["key"], speech["key"]} == {"right-key"}


@pytest.mark.parametrize(
    "key, service, error",
    [
        (None, {}, "elevenlabs.api.error.AuthorizationError"),
        ("wrong-key", {}, "elevenlabs.api.error.APIError"),
        ("right-key", {"refusal": "quota"}, "elevenlabs.api.error.RateLimitError"),
        ("right-key", {"cut_after": 2}, "requests.exceptions.ChunkedEncodingError"),
    ],
    ids=["no-key", "wrong-key", "quota", "cut-midway"],
)
def test_service_failures_surface_at_the_pull_that_meets_them_and_finish_the_sequence(tmp_path, key, service, error):
    outcome = speak_once(tmp_path, service, key=key)
    assert outcome["asked_before"] == 0
    assert outcome["chunks"] == CHUNKS[: service.get("cut_after", 0)]
    assert outcome["error"] == error and outcome["finished_after"]


@pytest.mark.parametrize("cut_after", [None, 5], ids=["whole", "cut-midway"])
def test_the_whole_road_from_service_to_player(tmp_path, monkeypatch, cut_after):
    decoded = install_mpv(tmp_path, monkeypatch)
    sent = tone(0.5)
    chunks = [chunk.decode("latin-1") for chunk in in_chunks(as_wav(sent), 2048)]
    outcome = speak_once(tmp_path, {"chunks": chunks, "cut_after": cut_after}, key="right-key", play=True)
    assert outcome["children_left"] == 0
    if cut_after is None:
        assert outcome["error"] is None and outcome["played"] == "".join(chunks)
        assert samples_of(decoded) == sent
    else:
        assert outcome["error"] == "requests.exceptions.ChunkedEncodingError"


def speak_command(cwd: Path, base_url: str, *args: str, env: dict | None = None, stdin: bytes = b"") -> tuple:
    """`speak` run in `cwd` against the service at `base_url`, with the right key unless `env` says
    otherwise; its status and what it wrote on standard error."""
    environment = {name: value for name, value in os.environ.items() if not name.startswith("ELEVEN")}
    environment.update(NO_PROXY="127.0.0.1", no_proxy="127.0.0.1", ELEVEN_BASE_URL=base_url)
    environment.update({"ELEVEN_LAPS_API_KEY": "right-key"} if env is None else env)
    done = subprocess.run([sys.executable, "-m", "ardo_old", "speak", *args], input=stdin, cwd=cwd,
                          env=environment, capture_output=True, timeout=60)
    return done.returncode, done.stderr.decode()


def test_the_speak_command_plays_and_saves_the_speech_with_the_key_of_a_parent_folder(tmp_path, monkeypatch):
    decoded = install_mpv(tmp_path, monkeypatch)
    (tmp_path / ".env").write_text("ELEVEN_LAPS_API_KEY=right-key\n")
    (tmp_path / "below").mkdir()
    sent = tone(0.5)
    with SpeechService(in_chunks(as_wav(sent), 2048)) as service:
        status, errors = speak_command(tmp_path / "below", service.url, "--file", "-", "--save", "saved.wav",
                                       env={}, stdin=b"Hi")
    assert (status, errors) == (0, "")
    assert (tmp_path / "below" / "saved.wav").read_bytes() == as_wav(sent) and samples_of(decoded) == sent
    assert service.requests[-1]["body"]["text"] == "Hi"


DISCARDING_PLAYER = "import sys\nwhile sys.stdin.buffer.read(1 << 16):\n    pass\n"
NO_KEY = "no key for the speech service"


@pytest.mark.parametrize(
    "args, env, service, player, local, says",
    [
        (["Hi"], {}, {}, "stand-in", True, f"{NO_KEY}: put ELEVEN_LAPS_API_KEY=... in a .env file here"),
        (["Hi"], {"ELEVEN_LABS_API_KEY": "right-key"}, {}, "stand-in", True,
         f"{NO_KEY}: ELEVEN_LABS_API_KEY is set, but the package reads ELEVEN_LAPS_API_KEY (LAPS, not LABS)"),
        (["Hi"], {"ELEVEN_LAPS_API_KEY": "wrong-key"}, {}, "stand-in", False,
         "the speech service refused: refused: wrong key"),
        (["Hi"], None, {}, "missing", True, f"no player at {PLAYER_NAME}: install mpv and link it"),
        (["Hi"], None, {}, "not executable", True, f"cannot start the player at {PLAYER_NAME}: Permission denied"),
        (["Hi"], None, None, "stand-in", False, "cannot reach the speech service at SERVICE: Connection refused"),
        (["Hi", "--timeout", "0.5"], None, {"reply": "nothing"}, "stand-in", False,
         "the speech service at SERVICE did not answer within 0.5 s (--timeout)"),
        (["Hi"], None, {"reply": "not http"}, "stand-in", False,
         "the speech service at SERVICE did not answer in HTTP: it sent 'SSH-2.0-OpenSSH_9.2\\r\\n'"),
        (["Hi", "--timeout", "0.5"], None, {"stall_after": 2}, "stand-in", False,
         "the speech service stopped sending for 0.5 s in mid-stream (--timeout)"),
        (["Hi"], None, {"voice_listed": False}, "stand-in", False,
         "the speech service does not offer the voice: Voice 'tsample' not found."),
        (["Hi", "--save", "."], None, {}, "stand-in", True, "cannot write .: Is a directory"),
        (["Hi", "--save", "no/such/folder"], None, {}, "stand-in", True, "cannot write no/such/folder: No such file"),
        (["--file", "-"], None, {}, "stand-in", True, "standard input is not UTF-8 text: invalid start byte at byte 1"),
    ],
    ids=["no-key", "labs-key", "refused", "no-player", "player-not-executable", "no-network", "never-answers",
         "not-http", "stops-midway", "no-voice", "save-to-folder", "save-nowhere", "binary-input"],
)
def test_each_speak_failure_is_one_line_saying_what_happened(tmp_path, monkeypatch, args, env, service, player,
                                                             local, says):
    if player == "missing":
        monkeypatch.setenv("PATH", os.path.dirname(sys.executable))
    else:
        install_player(tmp_path / "bin", monkeypatch, DISCARDING_PLAYER)
        if player == "not executable":
            (tmp_path / "bin" / PLAYER_NAME).chmod(0o644)
    with SpeechService([b"audio"] * 4, **(service or {})) as running:
        if service is not None:
            status, errors = speak_command(tmp_path, running.url, *args, env=env, stdin=b"a\xff")
    if service is None:  # closed by now: nothing listens on its port
        status, errors = speak_command(tmp_path, running.url, *args, env=env)
    assert status == 1
    errors = errors.replace(running.url.removesuffix("/v1"), "SERVICE")
    assert errors.startswith(f"ardo_old speak: error: {says}") and errors.count("\n") == 1, errors
    if local:  # found before the service is asked anything
        assert running.requests == []


# Writes what it is given as it comes, so a test can tell how far the speech went.
TELLING_PLAYER = ("import sys\nwith open('played', 'wb', buffering=0) as out:\n"
                  "    while data := sys.stdin.buffer.read1(1 << 16):\n        out.write(data)\n")


def test_ctrl_c_in_mid_stream_ends_speak_with_one_line_and_keeps_what_was_saved(tmp_path, monkeypatch):
    install_player(tmp_path / "bin", monkeypatch, TELLING_PLAYER)
    environment = dict(os.environ, NO_PROXY="127.0.0.1", no_proxy="127.0.0.1", ELEVEN_LAPS_API_KEY="right-key")
    with SpeechService([b"audio"] * 4, stall_after=2) as service:
        environment["ELEVEN_BASE_URL"] = service.url
        child = subprocess.Popen([sys.executable, "-m", "ardo_old", "speak", "Hi", "--save", "saved.mp3"], cwd=tmp_path,
                                 env=environment, stderr=subprocess.PIPE,
                                 preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
        wait_until(lambda: (tmp_path / "played").exists() and (tmp_path / "played").read_bytes() == b"audio" * 2,
                   "the player has the two chunks sent")
        child.send_signal(signal.SIGINT)
        _, errors = child.communicate(timeout=30)
    assert (child.returncode, errors) == (130, b"ardo_old speak: interrupted\n")
    assert (tmp_path / "saved.mp3").read_bytes() == b"audio" * 2


# The peak of the process's own memory after exec (VmHWM): its maximum resident size as getrusage
# gives it would start from the peak of the test process that forked it.
SPEAK_AND_TELL_PEAK = """
import sys
from ardo_old.cli import main
status = main(sys.argv[1:])
print(next(line.split()[1] for line in open("/proc/self/status") if line.startswith("VmHWM:")))
sys.exit(status)
"""


@pytest.mark.parametrize("save", [[], ["--save", os.devnull]], ids=["played", "played-and-saved"])
def test_a_stream_longer_than_memory_should_hold_plays_in_flat_memory(tmp_path, monkeypatch, save):
    install_player(tmp_path / "bin", monkeypatch, DISCARDING_PLAYER)
    streamed = 128 * MiB
    environment = dict(os.environ, NO_PROXY="127.0.0.1", no_proxy="127.0.0.1", ELEVEN_LAPS_API_KEY="right-key")
    with SpeechService(itertools.repeat(bytes(MiB // 16), streamed // (MiB // 16))) as service:
        environment["ELEVEN_BASE_URL"] = service.url
        done = subprocess.run([sys.executable, "-c", SPEAK_AND_TELL_PEAK, "speak", "Hi", *save], cwd=tmp_path,
                              env=environment, capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert int(done.stdout) * 1024 < streamed / 2  # about 40 MiB here, whatever the length
