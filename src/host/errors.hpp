// The one place where C++ exceptions become host errors.
#pragma once

#include "host/ref.hpp"

#include <exception>

namespace host {

// Sets the host error for an exception escaping our code. PythonError means it is already set.
void set_error_from_current_exception() noexcept;

// Runs the body of a function the interpreter calls; returns NULL with the error set on failure.
template <class Body>
PyObject* boundary(Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    set_error_from_current_exception();
    return nullptr;
  }
}

// The same for bodies whose C signature returns an int status.
template <class Body>
int boundary_status(Body&& body) noexcept {
  try {
    body();
    return 0;
  } catch (...) {
    set_error_from_current_exception();
    return -1;
  }
}

// The error set now, taken from the interpreter: the caller owns it.
Ref take_raised() noexcept;

// The error set now, when it is an ordinary one (an Exception), to be handed out later in place of
// a result. Anything else (KeyboardInterrupt, SystemExit, what a signal handler raises) is left set
// and thrown as PythonError, so it ends the call at once.
Ref take_ordinary_error();

// Raises `type(arg)` with the given argument object: KeyError(key) keeps the key itself.
[[noreturn]] void raise_with(PyObject* type, PyObject* arg);

// Raises `type` with `format`, whose one `%U` is replaced by the name of `object`'s type. (The
// format code %T that would name it is not in the interpreters this package supports.)
[[noreturn]] void raise_naming_type(PyObject* type, const char* format, PyObject* object);

}  // namespace host
