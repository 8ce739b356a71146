// ardo_old._speech: what the speak command takes from the speech road beside ardo_old.audio. Its
// playback is the module's own, without keeping what was played, so a stream of any length plays in
// flat memory; and the player's path and the key's variable name are the ones the module uses.
#include "audio/fixed_names.hpp"
#include "audio/playback.hpp"
#include "host/errors.hpp"
#include "host/module_slots.hpp"
#include "host/names.hpp"

namespace {

using host::Ref;
using host::require;

PyObject* play(PyObject* module, PyObject* audio_stream) {
  return host::boundary([&] { return audio::play(module, audio_stream, audio::Played::dropped).release(); });
}

int exec_module(PyObject* module) {
  return host::boundary_status([&] {
    host::bind(module, "PLAYER", require(PyUnicode_FromString(AUDIO_PLAYER_PATH)));
    host::bind(module, "KEY_VARIABLE", require(PyUnicode_FromString(AUDIO_KEY_VARIABLE)));
    host::bind(module, "subprocess", host::import_module("subprocess"));
  });
}

PyMethodDef methods[] = {
    {"play", play, METH_O,
     "play(audio_stream, /)\n--\n\n"
     "Play the chunks of `audio_stream` through mpv as ardo_old.audio.stream does, keeping none of them;\n"
     "returns None once the player has exited."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "ardo_old._speech",
    "Playback without keeping, and the fixed names of the speech road; used by `python -m ardo_old speak`.",
    0,
    methods,
    host::module_slots<exec_module>,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__speech() { return PyModuleDef_Init(&definition); }
