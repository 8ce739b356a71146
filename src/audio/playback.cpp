#include "audio/playback.hpp"

#include "audio/fixed_names.hpp"
#include "host/calls.hpp"
#include "host/names.hpp"

#include <string>
#include <utility>

namespace audio {

namespace {

using host::PythonError;
using host::Ref;
using host::require;

Ref mpv_command() {
  return require(
      Py_BuildValue("[sssss]", AUDIO_PLAYER_PATH, "--no-cache", "--no-terminal", "--", "fd://0"));
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

// `audio += chunk` for every chunk written. While every chunk is exactly bytes the result is their
// concatenation, so they are gathered once instead of copying all that was played at each chunk;
// any other chunk hands the sum to the host's own `+=`, with whatever it accepts or raises.
class PlayedAudio {
 public:
  void add(PyObject* chunk) {
    if (!sum_ && PyBytes_CheckExact(chunk)) {
      char* data = nullptr;
      Py_ssize_t size = 0;
      host::require_status(PyBytes_AsStringAndSize(chunk, &data, &size));
      gathered_.append(data, static_cast<std::size_t>(size));
      return;
    }
    if (!sum_) sum_ = gathered_bytes();
    sum_ = require(PyNumber_InPlaceAdd(sum_.get(), chunk));
  }
  Ref result() { return sum_ ? std::move(sum_) : gathered_bytes(); }

 private:
  Ref gathered_bytes() const {
    return require(PyBytes_FromStringAndSize(gathered_.data(), static_cast<Py_ssize_t>(gathered_.size())));
  }

  std::string gathered_;
  Ref sum_;
};

// Writes each chunk, flushed so the player hears it at once; returns what was written, joined, when
// it is kept, and None otherwise.
Ref feed(PyObject* player, PyObject* audio_stream, Played played) {
  PlayedAudio audio;
  Ref chunks = require(PyObject_GetIter(audio_stream));
  while (Ref chunk = Ref::consuming(PyIter_Next(chunks.get()))) {
    if (chunk.get() == Py_None) continue;
    host::call_method(input_of(player).get(), "write", chunk.get());
    host::call_method(input_of(player).get(), "flush");
    if (played == Played::kept) audio.add(chunk.get());
  }
  if (PyErr_Occurred()) throw PythonError{};
  close_input(player);
  return played == Played::kept ? audio.result() : Ref::owning(Py_None);
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

Ref play(PyObject* module, PyObject* audio_stream, Played played) {
  Ref command = mpv_command();
  Ref player = start_player(module, command.get());
  Ref audio;
  try {
    audio = feed(player.get(), audio_stream, played);
  } catch (...) {
    reap_after_failure(player.get());
    throw;
  }
  wait_for(player.get());
  return checked_bytes(std::move(audio));
}

}  // namespace audio
