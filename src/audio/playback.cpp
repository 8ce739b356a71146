#include "audio/playback.hpp"

#include "host/calls.hpp"
#include "host/names.hpp"

#include <utility>

namespace audio {

namespace {

using host::PythonError;
using host::Ref;
using host::require;

Ref mpv_command() {
  return require(
      Py_BuildValue("[sssss]", "C:\\Program Files\\mpv\\mpv.exe", "--no-cache", "--no-terminal", "--", "fd://0"));
}

Ref start_player(PyObject* module, PyObject* command) {
  Ref process_facility = host::global(module, "subprocess");
  Ref popen = host::attribute(process_facility.get(), "Popen");
  Ref pipe = host::attribute(process_facility.get(), "PIPE");
  Ref devnull = host::attribute(process_facility.get(), "DEVNULL");
  Ref positional = require(PyTuple_Pack(1, command));
  Ref options = host::keywords({{"stdin", pipe.get()}, {"stdout", devnull.get()}, {"stderr", devnull.get()}});
  return require(PyObject_Call(popen.get(), positional.get(), options.get()));
}

// `stdin` is read from the handle at each use, as a host that swaps it would expect.
Ref input_of(PyObject* player) { return host::attribute(player, "stdin"); }

void close_input(PyObject* player) {
  Ref input = input_of(player);
  if (host::require_status(PyObject_IsTrue(input.get()))) host::call_method(input.get(), "close");
}

// Writes each chunk, flushed so the player hears it at once; returns what was written, joined.
Ref feed(PyObject* player, PyObject* audio_stream) {
  Ref audio = require(PyBytes_FromStringAndSize(nullptr, 0));
  Ref chunks = require(PyObject_GetIter(audio_stream));
  while (Ref chunk = Ref::consuming(PyIter_Next(chunks.get()))) {
    if (chunk.get() == Py_None) continue;
    host::call_method(input_of(player).get(), "write", chunk.get());
    host::call_method(input_of(player).get(), "flush");
    audio = require(PyNumber_InPlaceAdd(audio.get(), chunk.get()));
  }
  if (PyErr_Occurred()) throw PythonError{};
  close_input(player);
  return audio;
}

void wait_for(PyObject* player) { host::call_method(player, "wait"); }

// Leaves no player behind when feeding failed: its input is closed (a failure there is beside the
// point) so it sees the end, it is reaped, and then the error that stopped the feeding goes on as it
// was. Only a failing wait replaces that error, carrying it as its context.
void reap_after_failure(PyObject* player) {
  PyObject* failure = PyErr_GetRaisedException();
  try {
    close_input(player);
  } catch (const PythonError&) {
    PyErr_Clear();
  }
  try {
    wait_for(player);
  } catch (const PythonError&) {
    if (failure != nullptr) {
      PyObject* wait_failure = PyErr_GetRaisedException();
      PyException_SetContext(wait_failure, failure);
      PyErr_SetRaisedException(wait_failure);
    }
    throw;
  }
  PyErr_SetRaisedException(failure);
}

Ref checked_bytes(Ref audio) {
  if (PyBytes_CheckExact(audio.get()) || audio.get() == Py_None) return audio;
  Ref name = require(PyType_GetName(Py_TYPE(audio.get())));
  PyErr_Format(PyExc_TypeError, "Expected %s, got %.200U", "bytes", name.get());
  throw PythonError{};
}

}  // namespace

Ref play(PyObject* module, PyObject* audio_stream) {
  Ref command = mpv_command();
  Ref player = start_player(module, command.get());
  Ref audio;
  try {
    audio = feed(player.get(), audio_stream);
  } catch (...) {
    reap_after_failure(player.get());
    throw;
  }
  wait_for(player.get());
  return checked_bytes(std::move(audio));
}

}  // namespace audio
