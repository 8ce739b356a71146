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

// Raises `type(arg)` with the given argument object: KeyError(key) keeps the key itself.
[[noreturn]] void raise_with(PyObject* type, PyObject* arg);

}  // namespace host
