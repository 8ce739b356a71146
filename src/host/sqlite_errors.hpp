// Database failures as the host's own sqlite3 exceptions.
#pragma once

#include "host/ref.hpp"

namespace host {

// Raises the sqlite3 exception class that the host's sqlite3 module uses for this result code,
// with `message` and the code in its sqlite_errorcode attribute.
[[noreturn]] void raise_sqlite_error(int extended_code, const char* message);

// The sqlite3 exception class of that name (OperationalError, DatabaseError, ...), as a new reference.
Ref sqlite_exception_class(const char* name);

}  // namespace host
