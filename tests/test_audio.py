"""ardo_old.audio: what its import does, and the chunk sequence of get_audio_stream."""

from __future__ import annotations

import collections.abc
import gc
import inspect
import weakref

import pytest

from audio_fakes import FakeService, import_audio, run_fresh

GENERATE_OPTIONS = [("voice", "tsample"), ("model", "eleven_multilingual_v2"), ("stream", True)]
ATTRIBUTES = ["Iterator", "subprocess", "elevenlabs", "os", "load_dotenv", "get_audio_stream", "stream"]


@pytest.fixture(scope="module")
def audio():
    return import_audio()


@pytest.fixture
def speak(audio, monkeypatch):
    """speak(service, text): a chunk sequence of `text` from the stand-in service."""

    def make(service: FakeService, text: object = "hello"):
        monkeypatch.setattr(audio, "elevenlabs", service)
        return audio.get_audio_stream(text)

    return make


IMPORT = """
import json, sys
from fake_events import events
{setup}
try:
    import ardo_old.audio as audio
    outcome = [name for name in vars(audio) if not name.startswith("__")]
except BaseException as error:
    outcome = [type(error).__name__, str(error), *getattr(error, "__notes__", [])]
print(json.dumps({{"outcome": outcome, "events": events}}))
"""

LOADED = [["import", "elevenlabs"], ["import", "dotenv"], ["load_dotenv", [], {}]]


@pytest.mark.parametrize(
    "env, key_handed",
    [
        ({"ELEVEN_LAPS_API_KEY": "k-env"}, [["set_api_key", "k-env"]]),
        ({"FAKE_DOTENV_KEY": "k-dotenv"}, [["set_api_key", "k-dotenv"]]),
        ({"ELEVEN_LAPS_API_KEY": ""}, [["set_api_key", ""]]),
        ({}, []),  # an unset key is not handed over, so the import still succeeds
    ],
    ids=["environment", "dotenv", "empty", "unset"],
)
def test_import_loads_the_environment_then_hands_over_the_key(env, key_handed):
    ran = run_fresh(IMPORT.format(setup=""), env)
    assert ran == {"outcome": ATTRIBUTES, "events": LOADED + key_handed}


@pytest.mark.parametrize(
    "setup, env, error, events",
    [
        ("sys.modules['elevenlabs'] = None", {}, "ModuleNotFoundError", []),
        ("sys.modules['dotenv'] = None", {}, "ModuleNotFoundError", LOADED[:1]),
        (
            "import types; sys.modules['dotenv'] = types.ModuleType('dotenv')",
            {},
            "ImportError: cannot import name 'load_dotenv' from 'dotenv' (unknown location)",
            LOADED[:1],
        ),
        ("", {"FAKE_LOAD_DOTENV_FAILS": "1"}, "OSError: fake .env unreadable", LOADED),
        ("", {"FAKE_SET_API_KEY_FAILS": "1", "ELEVEN_LAPS_API_KEY": "k"}, "TypeError", LOADED + [["set_api_key", "k"]]),
    ],
    ids=["no-sdk", "no-dotenv", "no-load_dotenv", "load-fails", "key-refused"],
)
def test_a_failing_load_step_fails_the_import_and_stops_there(setup, env, error, events):
    ran = run_fresh(IMPORT.format(setup=setup), env)
    assert ": ".join(ran["outcome"]).startswith(error)
    assert ran["events"] == events
    noted = ran["outcome"][2:] == ["ardo_old.audio needs the audio extra: pip install 'ardo_old[audio]'"]
    assert noted == (error == "ModuleNotFoundError")


def test_service_is_asked_at_the_first_pull_and_chunks_pass_one_for_one(speak):
    chunks = [b"ab", None, b"", b"c"]
    service = FakeService(chunks)
    text = object()  # passed on as it is, not converted
    sequence = speak(service, text)
    assert service.calls == []
    assert next(sequence) is chunks[0]
    assert service.calls == [((), [("text", text)] + GENERATE_OPTIONS)]
    assert service.log == [("draw", b"ab")]
    assert list(sequence) == chunks[1:]
    assert service.log == [("draw", chunk) for chunk in chunks]
    assert list(sequence) == [] and len(service.calls) == 1


def test_an_empty_text_is_spoken_and_an_empty_result_ends_at_the_first_pull(speak):
    service = FakeService([])
    assert list(speak(service, "")) == []
    assert service.calls == [((), [("text", "")] + GENERATE_OPTIONS)]


def test_the_service_is_the_module_attribute_at_the_time_of_the_pull(audio, speak, monkeypatch):
    sequence = speak(FakeService([b"old"]))
    monkeypatch.setattr(audio, "elevenlabs", FakeService([b"new"]))
    assert list(sequence) == [b"new"]
    sequence = audio.get_audio_stream("text")
    monkeypatch.delattr(audio, "elevenlabs")
    with pytest.raises(NameError, match="'elevenlabs'"):
        next(sequence)


class Unbuildable(Exception):
    def __init__(self, *args: object) -> None:
        raise OSError("cannot build")


OPERATIONS = {
    "next": lambda s: next(s),
    "send None": lambda s: s.send(None),
    "send value": lambda s: s.send("ignored"),
    "throw instance": lambda s: s.throw(ValueError("thrown")),
    "throw class": lambda s: s.throw(KeyError),
    "throw class and value": lambda s: s.throw(KeyError, "k"),
    "throw class and tuple": lambda s: s.throw(KeyError, ("a", "b")),
    "throw without traceback": lambda s: s.throw(KeyError, None, None),
    "throw bad traceback": lambda s: s.throw(KeyError, None, 5),
    "throw instance and value": lambda s: s.throw(ValueError(), 1),
    "throw non-exception": lambda s: s.throw(5),
    "throw unbuildable": lambda s: s.throw(Unbuildable),
    "throw StopIteration": lambda s: s.throw(StopIteration),
    "throw GeneratorExit": lambda s: s.throw(GeneratorExit),
    "throw no arguments": lambda s: s.throw(),
    "close": lambda s: s.close(),
}


def host_generator(service: FakeService, llm: object):
    """The host's own generator with the same body, which the chunk sequence must match."""
    audio_stream = service.generate(text=llm, voice="tsample", model="eleven_multilingual_v2", stream=True)
    for chunck in audio_stream:
        yield chunck


def outcomes(sequence, service: FakeService, steps: list[str]) -> list:
    seen = []
    for step in steps:
        try:
            seen.append(("gave", OPERATIONS[step](sequence)))
        except BaseException as error:  # noqa: BLE001 - every outcome is compared
            seen.append(("raised", type(error), error.args, type(error.__cause__)))
    return seen + [service.log, len(service.calls)]


def scripts() -> list[list[str]]:
    before_first_pull = [[step, "next", "next", "next"] for step in OPERATIONS]
    while_suspended = [["next", step, "next", "next"] for step in OPERATIONS]
    after_the_end = [["next", "next", "next", step, "next"] for step in OPERATIONS]
    return before_first_pull + while_suspended + after_the_end


@pytest.mark.filterwarnings("ignore:the \\(type, exc, tb\\) signature:DeprecationWarning")
@pytest.mark.parametrize("steps", scripts(), ids=" / ".join)
def test_sequence_follows_the_host_generator_protocol(speak, steps):
    host_service = FakeService([b"a", b"b"])
    expected = outcomes(host_generator(host_service, "text"), host_service, steps)
    service = FakeService([b"a", b"b"])
    assert outcomes(speak(service, "text"), service, steps) == expected


@pytest.mark.parametrize("nested", ["next", "send None", "throw instance", "close"])
def test_pulling_a_running_sequence_is_refused_as_by_a_generator(speak, nested):
    def run(make):
        holder = []
        service = FakeService([b"a", lambda: outcomes(holder[0], FakeService(), [nested])[0], b"c"])
        holder.append(make(service))
        return outcomes(holder[0], service, ["next", "next", "next", "next"])[:-2]

    assert run(lambda service: speak(service, "t")) == run(lambda service: host_generator(service, "t"))


class RefusingIteration:
    def __iter__(self):
        raise StopIteration("from __iter__")


@pytest.mark.parametrize(
    "generate",
    [lambda **options: (_ for _ in ()).throw(StopIteration("from generate")), lambda **options: RefusingIteration()],
    ids=["generate", "iter"],
)
def test_stop_iteration_escaping_the_body_becomes_runtime_error(speak, generate):
    service = FakeService()
    service.generate = generate
    with pytest.raises(RuntimeError, match="^generator raised StopIteration$") as raised:
        next(speak(service))
    assert isinstance(raised.value.__cause__, StopIteration)
    assert raised.value.__context__ is raised.value.__cause__


def test_stop_iteration_from_the_results_next_is_its_end(speak):
    assert list(speak(FakeService([b"a", StopIteration("end"), b"never"]))) == [b"a"]


@pytest.mark.parametrize("failure", ["generate", "iteration"])
def test_a_service_error_surfaces_at_the_pull_and_ends_the_sequence(speak, failure):
    error = ConnectionError("no network")
    service = FakeService(error=error) if failure == "generate" else FakeService([b"a", error, b"b"])
    sequence = speak(service)
    if failure == "iteration":
        assert next(sequence) == b"a"
    with pytest.raises(ConnectionError) as raised:
        next(sequence)
    assert raised.value is error
    assert list(sequence) == []


def test_sequence_is_a_generator_and_its_cycles_are_collected(speak):
    class Result:
        def __iter__(self):
            return self

        def __next__(self):
            return b"a"

    result = Result()
    unclaimed = [result]
    service = FakeService()
    service.generate = lambda **options: unclaimed.pop()
    sequence = speak(service)
    assert isinstance(sequence, collections.abc.Generator)
    assert iter(sequence) is sequence
    next(sequence)
    result.sequence = sequence  # a cycle only the garbage collector can break
    collected = weakref.finalize(result, lambda: None)
    del sequence, result
    gc.collect()
    assert not collected.alive


@pytest.mark.parametrize("name, parameter", [("get_audio_stream", "llm"), ("stream", "audio_stream")])
@pytest.mark.parametrize(
    "call",
    [
        lambda f, p: f(),
        lambda f, p: f(1, 2),
        lambda f, p: f(wrong=1),
        lambda f, p: f(1, **{p: 2}),
    ],
    ids=["none", "two", "unknown keyword", "twice"],
)
def test_argument_checks_use_the_hosts_wording(audio, name, parameter, call):
    namespace = {}
    exec(f"def {name}({parameter}): pass", namespace)
    with pytest.raises(TypeError) as expected:
        call(namespace[name], parameter)
    with pytest.raises(TypeError) as raised:
        call(getattr(audio, name), parameter)
    assert str(raised.value) == str(expected.value)


def test_functions_carry_names_annotations_and_signatures(audio):
    described = [
        (f.__name__, f.__qualname__, f.__module__, f.__annotations__, str(inspect.signature(f)))
        for f in (audio.get_audio_stream, audio.stream)
    ]
    assert described == [
        ("get_audio_stream", "get_audio_stream", "ardo_old.audio", {}, "(llm)"),
        (
            "stream",
            "stream",
            "ardo_old.audio",
            {"audio_stream": "Iterator[bytes]", "return": "bytes"},
            "(audio_stream: 'Iterator[bytes]') -> 'bytes'",
        ),
    ]
    assert audio.get_audio_stream(llm="by keyword") is not None
