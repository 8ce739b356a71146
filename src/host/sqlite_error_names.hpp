// The names the host's sqlite3 gives SQLite's result codes.
#pragma once

#include "host/ref.hpp"

namespace host {

// What the host's sqlite3 sets as sqlite_errorname for this extended result code: the code's
// name from SQLite's headers when the host knows it too, "unknown" otherwise.
Ref sqlite_error_name(int extended_code);

}  // namespace host
