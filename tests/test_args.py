import dataclasses
import pickle
import typing

import pytest

import ardo_old.args as args_module
from ardo_old.args import Args

PROMPT_LINES = [
    "You are an assistant for question-answering tasks and your name is ardo. Use the following pieces of "
    "retrieved context and the history to answer the question at the end.",
    "Please generate your answer based on the context above. "
    "Never answer anything not related to the context.",
    "please answer with same language as the question asked.",
    "Context= {context}",
    "History= {history}",
    "Question= {question}",
    "Helpful Answer:",
]
INDENT = " " * 12
SYSTEM_PROMPT = "\n" + "".join(INDENT + line + "\n" for line in PROMPT_LINES) + INDENT

FIELD_DEFAULTS = {
    "checkpoint_path": r"E:\chat\wav2lip_master\checkpoints\wav2lip.pth",
    "audio": r"E:\chat\inputs\ms.wav",
    "face": r"E:\chat\inputs\tesni720.mp4",
    "outfile": r"E:\chat\outputs\out.mp4",
    "frame_path": r"E:\chat\frames",
    "fps": 25,
    "k": 2,
    "face_det_batch_size": 16,
    "wav2lip_batch_size": 32,
    "resize_factor": 1,
    "rotate": False,
    "nosmooth": False,
    "save_frames": False,
    "static": False,
    "save_as_video": False,
    "img_size": 96,
    "mel_step_size": 16,
    "device": "cpu",
    "dim": 768,
    "num_of_frames": 500,
    "system_prompt": SYSTEM_PROMPT,
}
FIELDS = list(FIELD_DEFAULTS)

MODEL_IDS = [
    ("bert-base-multilingual-uncased", "google-bert/bert-base-multilingual-uncased"),
    ("paraphrase-MiniLM", "models/paraphrase-MiniLM-L3-v2"),
    ("paraphrase-multilingual-MiniLM", "sentence-transformers/paraphrase-multilingual-MiniLM-L12-v2"),
    ("all-mpnet-base", "sentence-transformers/all-mpnet-base-v2"),
    ("multilingual-e5-base", "intfloat/multilingual-e5-base"),
]
CONSTANTS = {
    "crop": [0, -1, 0, -1],
    "box": [-1, -1, -1, -1],
    "pads": [0, 0, 0, 0],
    "model_id": dict(MODEL_IDS),
}


def test_import_binds_the_decorator_and_typing_names_before_the_record():
    names = [name for name in vars(args_module) if name in ("dataclass", "ClassVar", "Dict", "Args")]
    assert names == ["dataclass", "ClassVar", "Dict", "Args"]
    assert args_module.dataclass is dataclasses.dataclass
    assert args_module.ClassVar is typing.ClassVar
    assert args_module.Dict is typing.Dict


def test_record_is_a_host_class_of_this_module():
    assert (Args.__module__, Args.__qualname__, Args.__mro__) == ("ardo_old.args", "Args", (Args, object))
    assert dataclasses.is_dataclass(Args)


@pytest.mark.parametrize("name", FIELDS)
def test_default_of_each_field_keeps_its_value_and_kind(name):
    value = getattr(Args(), name)
    assert value == FIELD_DEFAULTS[name]
    assert type(value) is type(FIELD_DEFAULTS[name])


def test_system_prompt_text():
    prompt = Args().system_prompt
    assert len(prompt) == 504
    assert prompt.startswith("\n" + INDENT + "You are")
    assert prompt.endswith("Helpful Answer:\n" + INDENT)


def test_annotation_map_holds_all_names_in_declaration_order():
    kinds = {name: type(value).__name__ for name, value in FIELD_DEFAULTS.items()}
    per_record = [(name, kinds[name]) for name in FIELDS]
    list_constant = "ClassVar[list[int]]"
    expected = [
        *per_record[:10], ("crop", list_constant), ("box", list_constant), *per_record[10:16],
        ("pads", list_constant), *per_record[16:18],
        ("model_id", "ClassVar[dict[str, str]]"), *per_record[18:],
    ]
    assert list(Args.__annotations__.items()) == expected


def test_fields_are_the_21_per_record_names_in_order():
    assert [field.name for field in dataclasses.fields(Args)] == FIELDS


def test_positional_arguments_follow_field_order():
    values = [f"value {i}" for i in range(len(FIELDS))]
    record = Args(*values)
    assert [getattr(record, name) for name in FIELDS] == values
    assert (Args(None, "x.wav").audio, Args(*values[:10], True).rotate) == ("x.wav", True)


def test_a_22nd_positional_argument_is_refused():
    with pytest.raises(TypeError):
        Args(*range(22))


@pytest.mark.parametrize("name", CONSTANTS)
def test_class_constants_are_not_parameters(name):
    with pytest.raises(TypeError, match="unexpected keyword argument"):
        Args(**{name: CONSTANTS[name]})


@pytest.mark.parametrize("name", CONSTANTS)
def test_class_constants_are_one_shared_object(name):
    first, second = Args(), Args(fps=30)
    assert getattr(first, name) is getattr(second, name) is getattr(Args, name)
    assert getattr(Args, name) == CONSTANTS[name]


def test_model_id_keeps_its_entry_order():
    assert list(Args.model_id.items()) == MODEL_IDS


def test_values_are_neither_validated_nor_converted():
    record = Args(fps="fast", rotate=1)
    record.dim = None
    assert (record.fps, record.rotate, record.dim) == ("fast", 1, None)


def test_equality_compares_fields_and_records_are_unhashable():
    first, second = Args(), Args()
    assert first == second
    second.fps = 24
    assert first != second
    assert first != dataclasses.replace(first, static=True)
    with pytest.raises(TypeError):
        hash(first)


def test_text_form_lists_the_fields_and_reads_back():
    record = Args(device="cuda", static=True)
    text = repr(record)
    assert text.startswith(r"Args(checkpoint_path='E:\\chat\\wav2lip_master")
    assert "crop" not in text and "model_id" not in text
    assert eval(text, {"Args": Args}) == record


def test_pickle_round_trip():
    record = Args(fps=60, face=r"D:\clips\face.mp4")
    restored = pickle.loads(pickle.dumps(record))
    assert restored == record and type(restored) is Args
