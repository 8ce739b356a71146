// One scoring run: read the eight tables, score every section, and report what came of it.
#pragma once

#include "mind/answers.hpp"
#include "mind/failure.hpp"
#include "mind/sections.hpp"
#include "mind/stop.hpp"
#include "mind/value.hpp"

#include <optional>
#include <vector>

namespace mind {

struct Outcome {
  Map sections;                   // every key of the report but "client_id", when nothing failed
  std::vector<TraitLines> lines;  // the diagnostic lines produced, also when a later step failed
  std::optional<Failure> failure;
  bool stopped = false;  // the caller stopped the run: nothing else of it counts
};

// Runs without the host: the answers were taken beforehand and the outcome is turned into host
// objects afterwards. Reads the database once, in one read transaction, and closes it on every path.
// `stop`, when given, is asked inside every statement and between tables and sections.
Outcome run(const char* database_path, const Answers& answers, StopCheck* stop = nullptr);

}  // namespace mind
