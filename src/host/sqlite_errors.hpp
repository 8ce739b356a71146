// Database failures as the host's own sqlite3 exceptions.
#pragma once

namespace host {

// Raises what the host's sqlite3 raises for a failed SQLite call: the exception class it maps the
// result code to, SQLite's own message, the extended code as sqlite_errorcode.
[[noreturn]] void raise_sqlite_error(int extended_code, const char* message);

// Raises the host's sqlite3 error, in its wording, for a text cell that is not UTF-8.
[[noreturn]] void raise_undecodable_text(const char* column, const char* text);

}  // namespace host
