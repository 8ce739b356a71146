#include "mind/run.hpp"

#include "mind/database.hpp"
#include "mind/sections.hpp"

namespace mind {

// The tallies that take "QTM" and "CTD" as they are read, for one client.
struct Battery::Streams {
  StreamedTally qtm;
  StreamedTally ctd;
};

namespace {

// The keys of the two tables that are only tallied, kept whole by the read or streamed through it.
PerColumnKey key_of(std::optional<Table>& table, StreamedTally* stream) {
  if (stream != nullptr) return std::move(*stream->key());
  PerColumnKey key(*table);
  table.reset();
  return key;
}

}  // namespace

Battery::Battery(const char* database_path, StopCheck& stop) { read(database_path, stop, nullptr); }

Battery::Battery(const char* database_path, StopCheck& stop, const Answers& answers, Scores& scores) {
  Streams streams{{answers, scores.traits}, {answers, scores.skills}};
  read(database_path, stop, &streams);
}

// Only the tables that the keys point into are kept past the keys.
void Battery::read(const char* database_path, StopCheck& stop, Streams* streams) {
  Database db(database_path, &stop);
  db.begin_read();
  for (std::size_t id = 0; id < table_count; ++id) {
    stop.check();
    if (streams != nullptr && (id == QTM || id == CTD)) {
      db.stream_table(table_names[id], id == QTM ? streams->qtm : streams->ctd);
    } else {
      tables_[id] = db.read_table(table_names[id]);
    }
  }
  db.end_read();
  db.close();
  keys_.emplace(tables_, key_of(tables_[QTM], streams ? &streams->qtm : nullptr), key_of(tables_[CTD], streams ? &streams->ctd : nullptr));
  for (const std::size_t id : {PRS, VAK, EMQ, TRS}) tables_[id].reset();
}

std::optional<Failure> Battery::score(const Answers& answers, Scores& scores) const {
  StopCheck never;
  try {
    score_sections(*keys_, answers, scores, never);
  } catch (Failure& failure) {
    return std::move(failure);
  }
  return std::nullopt;
}

Result result_of(const Battery& battery, const Answers& answers) {
  Result result;
  result.failure = battery.score(answers, result.scores);
  if (!result.failure) result.sections = report_sections(battery.keys(), result.scores);
  return result;
}

Outcome run(const char* database_path, const Answers& answers, StopCheck& stop) {
  Outcome outcome;
  Result& result = outcome.result;
  try {
    outcome.battery = std::make_unique<Battery>(database_path, stop, answers, result.scores);
    score_sections(outcome.battery->keys(), answers, result.scores, stop);
    result.sections = report_sections(outcome.battery->keys(), result.scores);
  } catch (Failure& failure) {
    result.failure.emplace(std::move(failure));
  }
  return outcome;
}

}  // namespace mind
