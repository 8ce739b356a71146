"""What help() and inspect show a host developer for each exposed function and for Args."""

from __future__ import annotations

import inspect
import pydoc

import pytest

from audio_fakes import import_audio


def exposed(name: str):
    if name == "mind":
        from ardo_old.mind import mind

        return mind
    return getattr(import_audio(), name)


@pytest.mark.parametrize(
    "name, signature, summary",
    [
        ("mind", "(response)", "Score one client's answers"),
        ("get_audio_stream", "(llm)", "Speak the text `llm`"),
        ("stream", "(audio_stream: 'Iterator[bytes]') -> 'bytes'", "Play the chunks of `audio_stream`"),
    ],
)
def test_help_shows_the_signature_and_the_docstring(name, signature, summary):
    function = exposed(name)
    assert str(inspect.signature(function)) == signature
    page = pydoc.render_doc(function, renderer=pydoc.plaintext)
    assert f"{name}{signature}\n    {summary}" in page


def test_help_on_args_shows_its_docstring_and_every_field():
    from ardo_old.args import Args

    page = pydoc.render_doc(Args, renderer=pydoc.plaintext)
    assert "Settings of the lip-sync video step" in page
    parameters = inspect.signature(Args).parameters
    assert len(parameters) == 21 and "crop" not in parameters
    assert parameters["fps"].default == 25


def test_modules_and_the_chunk_sequence_are_described():
    import ardo_old.args
    import ardo_old.mind

    audio = import_audio()
    sequence = audio.get_audio_stream("unspoken")
    assert all(m.__doc__ for m in (ardo_old.mind, audio, ardo_old.args))
    assert type(sequence).__doc__ and all(getattr(sequence, m).__doc__ for m in ("send", "throw", "close"))
