// Checking an assessment database against everything scoring needs, before any client meets it.
#pragma once

#include "check/problems.hpp"

namespace check {

// Reads the eight tables with the scoring core's loader, in one read transaction, and lists what
// scoring would trip on. Throws mind::Failure only when the database cannot be opened or its
// schema read. Like scoring, it creates an empty database where `path` names no file.
Problems check_database(const char* path);

}  // namespace check
