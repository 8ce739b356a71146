"""What help() and inspect show a host developer for each exposed function and for Args, and the
README's Python examples, run as written."""

from __future__ import annotations

import ast
import inspect
import io
import pydoc
import re
import subprocess
import sys
import tokenize
from collections.abc import Generator
from pathlib import Path

import pytest

from audio_fakes import import_audio, install_player

README = Path(__file__).parents[1] / "README.md"


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
    # The docstring says what the sequence is, and is not.
    assert isinstance(sequence, Generator) and not inspect.isgenerator(sequence)
    assert "collections.abc.Generator" in audio.get_audio_stream.__doc__


def readme_examples() -> list[str]:
    return re.findall(r"^```python\n(.*?)^```", README.read_text(encoding="utf-8"), re.S | re.M)


def shown_value(comment: str) -> tuple[bool, object]:
    """The value that a comment shows for the expression before it: a literal, up to any ';'."""
    try:
        return True, ast.literal_eval(comment.lstrip("# ").split(";")[0])
    except (ValueError, SyntaxError):
        return False, None


@pytest.mark.parametrize("example", readme_examples(),
                         ids=lambda code: re.search(r"from ardo_old\.(\w+)", code).group(1))
def test_readme_example_runs_as_written_and_gives_what_it_shows(example, tmp_path, monkeypatch, capsys):
    if '__name__ == "__main__"' in example:  # a script: saved and run as its reader runs it
        (tmp_path / "example.py").write_text(example)
        done = subprocess.run([sys.executable, "example.py"], cwd=tmp_path, capture_output=True, text=True, timeout=300)
        assert done.returncode == 0, done.stderr
        return
    import_audio()  # speech goes to the stand-in SDK and a stand-in player that reads what it is fed
    install_player(tmp_path / "bin", monkeypatch, "import sys; sys.stdin.buffer.read()")
    monkeypatch.chdir(tmp_path)
    comments = {token.start[0]: token.string for token in tokenize.generate_tokens(io.StringIO(example).readline)
                if token.type == tokenize.COMMENT}
    namespace: dict = {}
    for statement in ast.parse(example).body:
        checked, value = shown_value(comments.get(statement.end_lineno, ""))
        if isinstance(statement, ast.Expr) and checked:
            assert eval(compile(ast.Expression(statement.value), "README.md", "eval"), namespace) == value
        else:
            exec(compile(ast.Module([statement], []), "README.md", "exec"), namespace)
    assert [path.name for path in tmp_path.iterdir()] == ["bin"]  # nothing written where the example runs
