#include "audio/chunk_sequence.hpp"

#include "host/calls.hpp"
#include "host/errors.hpp"
#include "host/names.hpp"
#include "host/objects.hpp"

namespace audio {

namespace {

using host::PythonError;
using host::Ref;
using host::require;

enum class Phase { not_started, running, suspended, finished };

struct ChunkSequence {
  PyObject_HEAD
  Phase phase;
  PyObject* llm;
  PyObject* audio_stream;
  PyObject* position;  // the iterator over audio_stream
  PyObject* chunck;
};

ChunkSequence* as_sequence(PyObject* self) { return reinterpret_cast<ChunkSequence*>(self); }

void finish(ChunkSequence* sequence) {
  sequence->phase = Phase::finished;
  Py_CLEAR(sequence->position);
  Py_CLEAR(sequence->audio_stream);
  Py_CLEAR(sequence->chunck);
  Py_CLEAR(sequence->llm);
}

[[noreturn]] void raise_error(PyObject* type, const char* message) {
  PyErr_SetString(type, message);
  throw PythonError{};
}

[[noreturn]] void raise_exception(PyObject* exception) {
  PyErr_SetRaisedException(Ref::owning(exception).release());
  throw PythonError{};
}

// The service is asked at the first pull, through whatever `elevenlabs` the module holds by then.
void start(ChunkSequence* sequence) {
  Ref sdk = host::global(host::module_of(reinterpret_cast<PyObject*>(sequence)), "elevenlabs");
  Ref generate = host::attribute(sdk.get(), "generate");
  Ref voice = require(PyUnicode_FromString("tsample"));
  Ref model = require(PyUnicode_FromString("eleven_multilingual_v2"));
  Ref options = host::keywords(
      {{"text", sequence->llm}, {"voice", voice.get()}, {"model", model.get()}, {"stream", Py_True}});
  Ref no_arguments = require(PyTuple_New(0));
  sequence->audio_stream = require(PyObject_Call(generate.get(), no_arguments.get(), options.get())).release();
  sequence->position = require(PyObject_GetIter(sequence->audio_stream)).release();
}

// The body from where it stands to its next chunk; an empty Ref when audio_stream is exhausted.
Ref run_body(ChunkSequence* sequence, PyObject* thrown) {
  if (thrown != nullptr) raise_exception(thrown);
  if (sequence->position == nullptr) start(sequence);
  Ref chunk = Ref::consuming(PyIter_Next(sequence->position));
  if (!chunk && PyErr_Occurred()) throw PythonError{};
  return chunk;
}

// A StopIteration escaping the body would read as a plain end to whoever pulls; the host's generators
// refuse that, and so do we.
void refuse_stop_iteration() {
  if (!PyErr_ExceptionMatches(PyExc_StopIteration)) return;
  PyObject* stop = PyErr_GetRaisedException();
  PyObject* error = PyObject_CallFunction(PyExc_RuntimeError, "s", "generator raised StopIteration");
  if (error == nullptr) {
    Py_DECREF(stop);
    return;
  }
  PyException_SetCause(error, Py_NewRef(stop));
  PyException_SetContext(error, stop);
  PyErr_SetRaisedException(error);
}

// One step of the sequence, with `thrown` (or nothing) raised at the point where it is suspended.
// Returns the next chunk, or an empty Ref with no error set when the sequence has ended.
Ref resume(ChunkSequence* sequence, PyObject* thrown) {
  switch (sequence->phase) {
    case Phase::running:
      raise_error(PyExc_ValueError, "generator already executing");
    case Phase::finished:
      if (thrown != nullptr) raise_exception(thrown);
      return {};
    case Phase::not_started:
    case Phase::suspended:
      break;
  }
  // An exception thrown in before the first pull is raised ahead of the body, so it stays as it is.
  const bool inside_body = sequence->phase == Phase::suspended || thrown == nullptr;
  sequence->phase = Phase::running;
  Ref chunk;
  try {
    chunk = run_body(sequence, thrown);
  } catch (...) {
    if (inside_body && PyErr_Occurred()) refuse_stop_iteration();
    finish(sequence);
    throw;
  }
  if (!chunk) {
    finish(sequence);
    return chunk;
  }
  // The chunk handed out before is let go only once the sequence is whole again: letting it go may
  // run host code that pulls from this very sequence.
  Ref previous = Ref::consuming(sequence->chunck);
  sequence->chunck = Ref(chunk).release();
  sequence->phase = Phase::suspended;
  return chunk;
}

// send() and throw() report the end as StopIteration; iteration reports it by returning nothing.
PyObject* chunk_or_stop(Ref chunk) {
  if (!chunk) {
    PyErr_SetNone(PyExc_StopIteration);
    throw PythonError{};
  }
  return chunk.release();
}

PyObject* next(PyObject* self) {
  return host::boundary([&] { return resume(as_sequence(self), nullptr).release(); });
}

PyObject* send(PyObject* self, PyObject* value) {
  return host::boundary([&] {
    ChunkSequence* sequence = as_sequence(self);
    if (sequence->phase == Phase::not_started && value != Py_None)
      raise_error(PyExc_TypeError, "can't send non-None value to a just-started generator");
    return chunk_or_stop(resume(sequence, nullptr));
  });
}

// The exception that throw(type[, value[, traceback]]) raises, built as the host builds it from a
// class. When building fails, the failure is what gets thrown.
Ref exception_from_class(PyObject* type, PyObject* value, PyObject* traceback) {
  Ref exception;
  if (value != nullptr && PyExceptionInstance_Check(value)) {
    const int is_instance = PyObject_IsSubclass(reinterpret_cast<PyObject*>(Py_TYPE(value)), type);
    if (is_instance < 0) return host::take_raised();
    if (is_instance) exception = Ref::owning(value);
  }
  if (!exception) {
    if (value == nullptr || value == Py_None) {
      exception = Ref::consuming(PyObject_CallNoArgs(type));
    } else if (PyTuple_Check(value)) {
      exception = Ref::consuming(PyObject_Call(type, value, nullptr));
    } else {
      exception = Ref::consuming(PyObject_CallFunctionObjArgs(type, value, nullptr));
    }
    if (!exception) return host::take_raised();
    if (!PyExceptionInstance_Check(exception.get())) {
      Ref got = require(PyType_GetName(Py_TYPE(exception.get())));
      PyErr_Format(PyExc_TypeError, "calling %R should have returned an instance of BaseException, not %U", type,
                   got.get());
      return host::take_raised();
    }
  }
  host::require_status(PyException_SetTraceback(exception.get(), traceback != nullptr ? traceback : Py_None));
  return exception;
}

Ref exception_to_throw(PyObject* type, PyObject* value, PyObject* traceback) {
  if (traceback == Py_None) traceback = nullptr;
  if (traceback != nullptr && !PyTraceBack_Check(traceback))
    raise_error(PyExc_TypeError, "throw() third argument must be a traceback object");
  if (PyExceptionClass_Check(type)) return exception_from_class(type, value, traceback);
  if (!PyExceptionInstance_Check(type)) {
    Ref name = require(PyType_GetName(Py_TYPE(type)));
    PyErr_Format(PyExc_TypeError, "exceptions must be classes or instances deriving from BaseException, not %U",
                 name.get());
    throw PythonError{};
  }
  if (value != nullptr && value != Py_None)
    raise_error(PyExc_TypeError, "instance exception may not have a separate value");
  if (traceback != nullptr) host::require_status(PyException_SetTraceback(type, traceback));
  return Ref::owning(type);
}

PyObject* throw_in(PyObject* self, PyObject* args) {
  return host::boundary([&] {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    if (!PyArg_UnpackTuple(args, "throw", 1, 3, &type, &value, &traceback)) throw PythonError{};
    if (value != nullptr) {
      host::require_status(PyErr_WarnEx(PyExc_DeprecationWarning,
                                        "the (type, exc, tb) signature of throw() is deprecated, "
                                        "use the single-arg signature instead.",
                                        1));
    }
    Ref exception = exception_to_throw(type, value, traceback);
    return chunk_or_stop(resume(as_sequence(self), exception.get()));
  });
}

// GeneratorExit raised at the suspension point would leave the body at once, so closing amounts to
// finishing without drawing another chunk.
PyObject* close(PyObject* self, PyObject*) {
  return host::boundary([&] {
    ChunkSequence* sequence = as_sequence(self);
    if (sequence->phase == Phase::running) raise_error(PyExc_ValueError, "generator already executing");
    finish(sequence);
    return Py_NewRef(Py_None);
  });
}

int traverse(PyObject* self, visitproc visit, void* arg) {
  const ChunkSequence* sequence = as_sequence(self);
  Py_VISIT(Py_TYPE(self));
  Py_VISIT(sequence->llm);
  Py_VISIT(sequence->audio_stream);
  Py_VISIT(sequence->position);
  Py_VISIT(sequence->chunck);
  return 0;
}

int clear(PyObject* self) {
  finish(as_sequence(self));
  return 0;
}

PyMethodDef methods[] = {
    {"send", send, METH_O, "send(value) -> the next chunk; the value is ignored."},
    {"throw", throw_in, METH_VARARGS,
     "throw(value)\nthrow(type[,value[,tb]])\n\nRaise the exception where the sequence stands, ending it."},
    {"close", close, METH_NOARGS, "close() -> None. End the sequence without drawing further chunks."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(next)},
    {Py_tp_traverse, reinterpret_cast<void*>(traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(clear)},
    {Py_tp_dealloc, reinterpret_cast<void*>(host::gc_dealloc<clear>)},
    {Py_tp_methods, methods},
    {Py_tp_doc, const_cast<char*>("The speech of one text as a lazy sequence of audio chunks, from get_audio_stream.")},
    {0, nullptr},
};

PyType_Spec type_definition = {
    "ardo_old.audio.ChunkSequence",
    sizeof(ChunkSequence),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    slots,
};

}  // namespace

Ref new_chunk_sequence_type(PyObject* module) {
  Ref type = require(PyType_FromModuleAndSpec(module, &type_definition, nullptr));
  Ref generator = host::import_from("collections.abc", "Generator");
  host::call_method(generator.get(), "register", type.get());
  return type;
}

Ref new_chunk_sequence(PyObject* type, PyObject* llm) {
  Ref self = host::new_instance(type);
  ChunkSequence* sequence = as_sequence(self.get());
  sequence->phase = Phase::not_started;
  sequence->llm = Py_NewRef(llm);
  return self;
}

}  // namespace audio
