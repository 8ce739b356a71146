#include "host/errors.hpp"

#include <new>
#include <stdexcept>

namespace host {

void set_error_from_current_exception() noexcept {
  try {
    throw;
  } catch (const PythonError&) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "error return without exception set");
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "unknown C++ exception");
  }
}

void raise_with(PyObject* type, PyObject* arg) {
  // A tuple keeps a tuple-valued key intact, as `raise KeyError(key)` does.
  Ref args = require(PyTuple_Pack(1, arg));
  PyErr_SetObject(type, args.get());
  throw PythonError{};
}

void raise_naming_type(PyObject* type, const char* format, PyObject* object) {
  const Ref name = require(PyType_GetName(Py_TYPE(object)));
  PyErr_Format(type, format, name.get());
  throw PythonError{};
}

Ref take_raised() noexcept { return Ref::consuming(PyErr_GetRaisedException()); }

Ref take_ordinary_error() {
  Ref error = take_raised();
  if (!PyErr_GivenExceptionMatches(error.get(), PyExc_Exception)) {
    PyErr_SetRaisedException(error.release());
    throw PythonError{};
  }
  return error;
}

}  // namespace host
