// Database failures as the host's own sqlite3 exceptions.
#pragma once

#include "host/ref.hpp"

namespace host {

// Raises the sqlite3 exception class that the host's sqlite3 module uses for this result code,
// with `message` and the code in its sqlite_errorcode attribute.
[[noreturn]] void raise_sqlite_error(int extended_code, const char* message);

// A text cell that is not valid UTF-8, reported as the host's sqlite3 reports it.
[[noreturn]] void raise_undecodable_text(const char* column, const char* text);

}  // namespace host
