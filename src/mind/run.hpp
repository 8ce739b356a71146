// One scoring run: read the eight tables, score every section, and report what came of it.
#pragma once

#include "mind/answers.hpp"
#include "mind/failure.hpp"
#include "mind/identifiers.hpp"
#include "mind/scoring_keys.hpp"
#include "mind/sections.hpp"
#include "mind/stop.hpp"
#include "mind/table.hpp"
#include "mind/tally.hpp"
#include "mind/value.hpp"

#include <array>
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

// The eight tables read once for many clients. The scoring keys "CTD", "QTM", "EMQ" and "TRS" are
// kept as the cells that count, and tallied again for each client; the identifiers, the competence
// hierarchy, the rows of each personality trait and the methods of the learning styles are made once.
class KeptTables {
 public:
  // Reads as run() reads; a failure to read is the Failure every client's run would meet.
  // `stop`, when given, is asked as run() asks it while reading.
  explicit KeptTables(const char* database_path, StopCheck* stop = nullptr);
  KeptTables(const KeptTables&) = delete;  // the identifiers point into the tables
  KeptTables& operator=(const KeptTables&) = delete;

  // What run() gives for these answers on the database the tables were read from. Safe to call
  // from several threads at once.
  Outcome run(const Answers& answers) const;

 private:
  std::array<std::optional<Table>, table_count> tables_;
  std::optional<TallyKey> ctd_;
  std::optional<TallyKey> qtm_;
  std::optional<KeptKey> emq_;
  std::optional<KeptKey> trs_;
  std::optional<Identifiers> ids_;
  std::optional<KeptHierarchy> hierarchy_;
  std::optional<KeptPersonality> personality_;
  std::optional<KeptStyle> style_;
};

}  // namespace mind
