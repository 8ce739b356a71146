// Database failures as the host's own sqlite3 exceptions.
#pragma once

#include "host/ref.hpp"
#include "mind/failure.hpp"

namespace host {

// Raises what the host's sqlite3 raises when reading fails as `reason` says: the exception class
// it maps the result code to (with the code as sqlite_errorcode and its name as sqlite_errorname), its wording for a text that is not
// UTF-8, and its decoder's own error for a column name that is not. False for other reasons.
bool raise_read_failure(const mind::Reason& reason);

}  // namespace host
