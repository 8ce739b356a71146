// One read of the database, and the scoring of clients on it: one client as mind scores it, or
// many against one read.
#pragma once

#include "mind/answers.hpp"
#include "mind/failure.hpp"
#include "mind/keys.hpp"
#include "mind/scores.hpp"
#include "mind/stop.hpp"
#include "mind/value.hpp"

#include <memory>
#include <optional>

namespace mind {

// The eight tables read in one read transaction, and the keys prepared from them. The connection
// is closed on every path; a failure to read or close is thrown as the Failure every client's run
// would meet, and `stop` is asked inside every statement and between tables.
class Battery {
 public:
  // For many clients: every table is kept, and "QTM" and "CTD" reduced for the tallies of each.
  Battery(const char* database_path, StopCheck& stop);
  // For one client: "QTM" and "CTD" are tallied for `answers` into `scores` as their rows go by,
  // never kept, since they hold nine tenths of a large database's cells.
  Battery(const char* database_path, StopCheck& stop, const Answers& answers, Scores& scores);
  Battery(const Battery&) = delete;  // the keys point into the tables
  Battery& operator=(const Battery&) = delete;

  const Keys& keys() const noexcept { return *keys_; }

  // The Scores of one client's answers, every section in order (score_sections); the first failure
  // met is returned, and `scores` then holds what the sections before it scored. Safe to call from
  // several threads at once, each with its own Scores, which may be reused from client to client.
  std::optional<Failure> score(const Answers& answers, Scores& scores) const;

 private:
  struct Streams;
  void read(const char* database_path, StopCheck& stop, Streams* streams);

  TableSet tables_;  // those the keys point into
  std::optional<Keys> keys_;
};

// What one client's answers came to: the Scores, the report's sections built from them when
// nothing failed, or the failure met first. The diagnostic lines count either way.
struct Result {
  Scores scores;
  Map sections;  // every key of the report but "client_id"
  std::optional<Failure> failure;
};

// The result of a client on a Battery for many: what run() gives for these answers on that database.
Result result_of(const Battery& battery, const Answers& answers);

struct Outcome {
  std::unique_ptr<Battery> battery;  // the keys the answers were scored on; none when reading failed
  Result result;
};

// One client, as mind scores it: runs without the host, the answers taken beforehand and the
// outcome turned into host objects afterwards. Throws Stopped when `stop` ends the run.
Outcome run(const char* database_path, const Answers& answers, StopCheck& stop);

}  // namespace mind
