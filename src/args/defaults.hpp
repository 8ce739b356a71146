// The class body of `Args`: every name with its annotation text and its default, in declaration order.
// The order is the record's field order, its parameter order and the order of its annotation map,
// so rows are never sorted or grouped.
#pragma once

#include <array>
#include <variant>

namespace args {

// Each of the four list constants holds four integers.
struct IntList {
  std::array<long, 4> items;
};

// Stands for the `model_id` map; its entries are in `model_ids`.
struct ModelIds {};

using Default = std::variant<const char*, long, bool, IntList, ModelIds>;

struct Entry {
  const char* name;
  const char* annotation;  // kept as text: the host never evaluates it, `dataclass` only reads "ClassVar["
  Default value;
};

struct ModelId {
  const char* name;
  const char* identifier;
};

inline constexpr std::array<ModelId, 5> model_ids = {{
    {"bert-base-multilingual-uncased", "google-bert/bert-base-multilingual-uncased"},
    {"paraphrase-MiniLM", "models/paraphrase-MiniLM-L3-v2"},
    {"paraphrase-multilingual-MiniLM", "sentence-transformers/paraphrase-multilingual-MiniLM-L12-v2"},
    {"all-mpnet-base", "sentence-transformers/all-mpnet-base-v2"},
    {"multilingual-e5-base", "intfloat/multilingual-e5-base"},
}};

// The chat fills the placeholders; the leading break and the twelve-space indents are part of the
// text the chat model has always been given, so they stay.
inline constexpr char system_prompt[] =
    "\n"
    "            You are an assistant for question-answering tasks and your name is ardo. Use the following "
    "pieces of retrieved context and the history to answer the question at the end.\n"
    "            Please generate your answer based on the context above. "
    "Never answer anything not related to the context.\n"
    "            please answer with same language as the question asked.\n"
    "            Context= {context}\n"
    "            History= {history}\n"
    "            Question= {question}\n"
    "            Helpful Answer:\n"
    "            ";

inline constexpr std::array<Entry, 25> entries = {{
    {"checkpoint_path", "str", R"(E:\chat\wav2lip_master\checkpoints\wav2lip.pth)"},
    {"audio", "str", R"(E:\chat\inputs\ms.wav)"},
    {"face", "str", R"(E:\chat\inputs\tesni720.mp4)"},
    {"outfile", "str", R"(E:\chat\outputs\out.mp4)"},
    {"frame_path", "str", R"(E:\chat\frames)"},
    {"fps", "int", 25},
    {"k", "int", 2},
    {"face_det_batch_size", "int", 16},
    {"wav2lip_batch_size", "int", 32},
    {"resize_factor", "int", 1},
    {"crop", "ClassVar[list[int]]", IntList{0, -1, 0, -1}},
    {"box", "ClassVar[list[int]]", IntList{-1, -1, -1, -1}},
    {"rotate", "bool", false},
    {"nosmooth", "bool", false},
    {"save_frames", "bool", false},
    {"static", "bool", false},
    {"save_as_video", "bool", false},
    {"img_size", "int", 96},
    {"pads", "ClassVar[list[int]]", IntList{0, 0, 0, 0}},
    {"mel_step_size", "int", 16},
    {"device", "str", "cpu"},
    {"model_id", "ClassVar[dict[str, str]]", ModelIds{}},
    {"dim", "int", 768},
    {"num_of_frames", "int", 500},
    {"system_prompt", "str", system_prompt},
}};

}  // namespace args
