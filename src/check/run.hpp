// Checking an assessment database against everything scoring needs, before any client meets it.
#pragma once

#include "check/checks.hpp"
#include "check/problems.hpp"
#include "mind/stop.hpp"

#include <optional>

namespace check {

// Reads the eight tables with the scoring core's loader, in one read transaction, and lists what
// scoring would trip on. Throws mind::Failure only when the database cannot be opened or its
// schema read. Like scoring, it creates an empty database where `path` names no file.
// `stop`, when given, can end the reading as it ends a scoring run, with mind::Stopped.
Problems check_database(const char* path, mind::StopCheck* stop = nullptr);

// The design warnings that check_database lists, with the scale each concerns.
DesignWarnings database_design_warnings(const char* path, mind::StopCheck* stop = nullptr);

// How many answers the database at `path` takes, read as check_database reads it; none when a table
// that decides it cannot be read.
std::optional<AnswerRange> database_answer_range(const char* path, mind::StopCheck* stop = nullptr);

}  // namespace check
