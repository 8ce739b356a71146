// Owned references to host objects and the rule that carries host errors through C++ code.
#pragma once

#include <Python.h>

#include <utility>

namespace host {

// Thrown when a host error is already set (PyErr_Occurred()). It carries nothing: the error itself
// stays in the interpreter until the boundary function returns NULL.
struct PythonError {};

// Owns one strong reference. How it is made says whether it steals (consuming) or adds one (owning).
class Ref {
 public:
  Ref() noexcept = default;
  static Ref consuming(PyObject* p) noexcept { return Ref(p); }
  static Ref owning(PyObject* p) noexcept {
    Py_XINCREF(p);
    return Ref(p);
  }

  Ref(const Ref& other) noexcept : p_(other.p_) { Py_XINCREF(p_); }
  Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  Ref& operator=(Ref other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~Ref() { Py_XDECREF(p_); }

  PyObject* get() const noexcept { return p_; }
  // Hands the reference to a caller that steals it (a return value, PyList_SetItem).
  PyObject* release() noexcept { return std::exchange(p_, nullptr); }
  explicit operator bool() const noexcept { return p_ != nullptr; }

 private:
  explicit Ref(PyObject* p) noexcept : p_(p) {}
  PyObject* p_ = nullptr;
};

// Checks the result of a C API call that returns a new reference.
inline Ref require(PyObject* p) {
  if (p == nullptr) throw PythonError{};
  return Ref::consuming(p);
}

// Checks the status of a C API call that returns -1 on error.
inline int require_status(int status) {
  if (status < 0) throw PythonError{};
  return status;
}

// Releases the global lock for the lifetime of the object.
class ReleasedLock {
 public:
  ReleasedLock() noexcept : state_(PyEval_SaveThread()) {}
  ReleasedLock(const ReleasedLock&) = delete;
  ReleasedLock& operator=(const ReleasedLock&) = delete;
  ~ReleasedLock() { PyEval_RestoreThread(state_); }

 private:
  PyThreadState* state_;
};

}  // namespace host
