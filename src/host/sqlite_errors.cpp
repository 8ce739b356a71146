#include "host/sqlite_errors.hpp"

#include "host/names.hpp"
#include "host/ref.hpp"

#include <sqlite3.h>

#include <cstring>

namespace host {

namespace {

// The host's own mapping from primary result codes to its DB-API exception classes.
const char* class_name(int primary_code) {
  switch (primary_code) {
    case SQLITE_INTERNAL:
    case SQLITE_NOTFOUND:
      return "InternalError";
    case SQLITE_ERROR:
    case SQLITE_PERM:
    case SQLITE_ABORT:
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_READONLY:
    case SQLITE_INTERRUPT:
    case SQLITE_IOERR:
    case SQLITE_FULL:
    case SQLITE_CANTOPEN:
    case SQLITE_PROTOCOL:
    case SQLITE_EMPTY:
    case SQLITE_SCHEMA:
      return "OperationalError";
    case SQLITE_TOOBIG:
      return "DataError";
    case SQLITE_CONSTRAINT:
    case SQLITE_MISMATCH:
      return "IntegrityError";
    case SQLITE_MISUSE:
    case SQLITE_RANGE:
      return "InterfaceError";
    default:
      return "DatabaseError";
  }
}

// The sqlite3 exception class of that name (OperationalError, DatabaseError, ...).
Ref sqlite_exception_class(const char* name) { return import_from("sqlite3", name); }

}  // namespace

[[noreturn]] void raise_sqlite_error(int extended_code, const char* message) {
  if ((extended_code & 0xff) == SQLITE_NOMEM) {
    PyErr_NoMemory();
    throw PythonError{};
  }
  Ref type = sqlite_exception_class(class_name(extended_code & 0xff));
  Ref text = require(PyUnicode_DecodeUTF8(message, static_cast<Py_ssize_t>(std::strlen(message)), "replace"));
  Ref error = require(PyObject_CallFunctionObjArgs(type.get(), text.get(), nullptr));
  Ref code = require(PyLong_FromLong(extended_code));
  require_status(PyObject_SetAttrString(error.get(), "sqlite_errorcode", code.get()));
  PyErr_SetObject(type.get(), error.get());
  throw PythonError{};
}

[[noreturn]] void raise_undecodable_text(const char* column, const char* text) {
  Ref type = sqlite_exception_class("OperationalError");
  PyErr_Format(type.get(), "Could not decode to UTF-8 column '%s' with text '%s'", column, text);
  throw PythonError{};
}

}  // namespace host
