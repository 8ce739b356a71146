// ardo_old.audio: speech from the text-to-speech service as a lazy chunk sequence, and its playback.
#include "audio/chunk_sequence.hpp"
#include "audio/fixed_names.hpp"
#include "audio/playback.hpp"
#include "host/arguments.hpp"
#include "host/calls.hpp"
#include "host/errors.hpp"
#include "host/function.hpp"
#include "host/module_slots.hpp"
#include "host/names.hpp"

#include <array>

namespace {

using host::PythonError;
using host::Ref;
using host::require;

constexpr const char* INSTALL_NOTE = "ardo_old.audio needs the audio extra: pip install 'ardo_old[audio]'";

struct State {
  PyObject* function_type;
  PyObject* chunk_sequence_type;
};

State* state_of(PyObject* module) { return static_cast<State*>(PyModule_GetState(module)); }

Ref get_audio_stream(PyObject* module, PyObject* args, PyObject* kwargs) {
  PyObject* llm = host::single_argument(args, kwargs, "get_audio_stream", "llm");
  return audio::new_chunk_sequence(state_of(module)->chunk_sequence_type, llm);
}

Ref stream(PyObject* module, PyObject* args, PyObject* kwargs) {
  PyObject* audio_stream = host::single_argument(args, kwargs, "stream", "audio_stream");
  return audio::play(module, audio_stream, audio::Played::kept);
}

constexpr std::array<const char*, 1> get_audio_stream_parameters = {"llm"};
constexpr std::array<const char*, 1> stream_parameters = {"audio_stream"};
constexpr std::array<host::Annotation, 2> stream_annotations = {{
    {"audio_stream", "Iterator[bytes]"},
    {"return", "bytes"},
}};

const host::FunctionDef get_audio_stream_definition = {
    "get_audio_stream", get_audio_stream, get_audio_stream_parameters, {},
    "Speak the text `llm` through the ElevenLabs text-to-speech service, as a lazy sequence of audio chunks.\n\n"
    "Returns at once without contacting the service: it is asked, with the voice \"tsample\" and the model\n"
    "\"eleven_multilingual_v2\", when the first chunk is pulled, so a missing or refused key\n"
    "(" AUDIO_KEY_VARIABLE ") surfaces there. The sequence is an iterator with a generator's methods, registered\n"
    "as a collections.abc.Generator (not a generator function's object, which inspect.isgenerator tells): it\n"
    "hands on the service's chunks one for one and supports send (ignored), throw and close. Pass it to\n"
    "`stream` to play it."};
const host::FunctionDef stream_definition = {
    "stream", stream, stream_parameters, stream_annotations,
    "Play the chunks of `audio_stream` through mpv as they arrive; return all the bytes played.\n\n"
    "Starts the player at " AUDIO_PLAYER_PATH ", writes each chunk into its standard input and\n"
    "flushes it (a None chunk is skipped), closes that input and waits for the player to exit; its exit\n"
    "status is not examined. Blocks until then. If drawing or writing a chunk fails, the player's input is\n"
    "closed and the player waited for before the error goes on."};

// An unset key is not handed over: the SDK refuses None, which would make the module unimportable
// without a key, whereas the service's own refusal at the first pull says what is missing.
void hand_over_api_key(PyObject* sdk, PyObject* os) {
  Ref name = require(PyUnicode_FromString(AUDIO_KEY_VARIABLE));
  Ref key = host::call_method(os, "getenv", name.get());
  if (key.get() != Py_None) host::call_method(sdk, "set_api_key", key.get());
}

// A missing SDK or python-dotenv stays the host's own ModuleNotFoundError, so that a caller catching it
// sees nothing new; the note on it tells whoever reads the traceback what to install.
void note_the_audio_extra() {
  if (!PyErr_ExceptionMatches(PyExc_ModuleNotFoundError)) return;
  PyObject* error = PyErr_GetRaisedException();
  Ref noted = Ref::consuming(PyObject_CallMethod(error, "add_note", "s", INSTALL_NOTE));
  if (!noted) {
    Py_DECREF(error);
    throw PythonError{};
  }
  PyErr_SetRaisedException(error);
}

template <typename Import>
Ref import_of_the_extra(Import import) {
  try {
    return import();
  } catch (const PythonError&) {
    note_the_audio_extra();
    throw;
  }
}

void load(PyObject* module) {
  host::bind(module, "Iterator", host::import_from("typing", "Iterator"));
  host::bind(module, "subprocess", host::import_module("subprocess"));
  Ref sdk = import_of_the_extra([] { return host::import_module("elevenlabs"); });
  host::bind(module, "elevenlabs", sdk);
  Ref os = host::import_module("os");
  host::bind(module, "os", os);
  Ref load_dotenv = import_of_the_extra([] { return host::import_from("dotenv", "load_dotenv"); });
  host::bind(module, "load_dotenv", load_dotenv);
  require(PyObject_CallNoArgs(load_dotenv.get()));
  hand_over_api_key(sdk.get(), os.get());
  PyObject* function_type = state_of(module)->function_type;
  host::bind(module, "get_audio_stream", host::new_function(function_type, get_audio_stream_definition));
  host::bind(module, "stream", host::new_function(function_type, stream_definition));
}

int exec_module(PyObject* module) {
  return host::boundary_status([&] {
    State* state = state_of(module);
    state->function_type = host::new_function_type(module).release();
    state->chunk_sequence_type = audio::new_chunk_sequence_type(module).release();
    load(module);
  });
}

int traverse_module(PyObject* module, visitproc visit, void* arg) {
  const State* state = state_of(module);
  if (state == nullptr) return 0;
  Py_VISIT(state->function_type);
  Py_VISIT(state->chunk_sequence_type);
  return 0;
}

int clear_module(PyObject* module) {
  State* state = state_of(module);
  if (state == nullptr) return 0;
  Py_CLEAR(state->function_type);
  Py_CLEAR(state->chunk_sequence_type);
  return 0;
}

void free_module(void* module) { clear_module(static_cast<PyObject*>(module)); }

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "ardo_old.audio",
    "Speech for the ardo assistant: get_audio_stream(text) asks the text-to-speech service for speech as a\n"
    "lazy chunk sequence, and stream(chunks) plays such a sequence through mpv.\n\n"
    "Importing loads a .env file with python-dotenv and hands " AUDIO_KEY_VARIABLE ", when set, to the SDK.",
    sizeof(State), nullptr, host::module_slots<exec_module>, traverse_module, clear_module,
    free_module,
};

}  // namespace

PyMODINIT_FUNC PyInit_audio() { return PyModuleDef_Init(&definition); }
