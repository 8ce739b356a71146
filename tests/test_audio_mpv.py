"""ardo_old.audio.stream with the real mpv, through the real pipe: what mpv decoded against what was sent,
and what is left behind when mpv gives up."""

from __future__ import annotations

import os

import pytest

from audio_fakes import import_audio
from player_watch import RecordingFacility, played
from real_player import MP3_FRAME, as_mp3, as_wav, in_chunks, install_mpv, same_signal, samples_of, tone


@pytest.fixture(scope="module")
def audio():
    return import_audio()


@pytest.fixture
def player(audio, tmp_path, monkeypatch):
    """The real mpv on PATH under the player's name, started through a RecordingFacility; returns the
    facility and the file of the samples it decodes."""
    decoded = install_mpv(tmp_path, monkeypatch)
    facility = RecordingFacility()
    monkeypatch.setattr(audio, "subprocess", facility)
    return facility, decoded


@pytest.mark.parametrize("encoding", ["wav", "mp3"])
def test_real_audio_is_decoded_in_full_and_in_order(audio, player, encoding, tmp_path):
    facility, decoded = player
    sent = tone()
    data = as_wav(sent) if encoding == "wav" else as_mp3(sent, tmp_path)
    assert played(audio, facility, iter(in_chunks(data))) == data
    assert facility.players[0].returncode == 0
    got = samples_of(decoded)
    if encoding == "wav":
        assert got == sent
    else:
        assert abs(len(got) - len(sent)) <= MP3_FRAME and same_signal(sent, got)


def test_garbage_makes_the_player_fail_yet_every_byte_is_returned(audio, player):
    facility, _ = player
    garbage = os.urandom(5000)  # fits in the pipe: written whole before mpv looks at it
    assert played(audio, facility, iter([garbage[:100], garbage[100:]])) == garbage
    assert facility.players[0].returncode != 0


def test_a_player_that_quits_midway_breaks_the_pipe_and_leaves_nothing_behind(audio, player):
    # mpv gives up on garbage after a look at its start, long before 64 MiB have gone through the pipe.
    facility, _ = player
    outcome = played(audio, facility, (os.urandom(1 << 16) for _ in range(1024)))
    assert type(outcome) is BrokenPipeError
