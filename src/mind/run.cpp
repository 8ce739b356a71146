#include "mind/run.hpp"

#include "mind/database.hpp"
#include "mind/tally.hpp"


namespace mind {

namespace {

using TableSlots = std::array<std::optional<Table>, table_count>;

// The tables of one run. The two keys that are only tallied go to their tallies as they are read,
// or, when no tally is given, are kept whole like the others.
struct Tallies {
  KeyTally* ctd;
  KeyTally* qtm;
};

void read_tables(const char* path, TableSlots& kept, Tallies tallies, StopCheck& stop) {
  Database db(path, &stop);
  db.begin_read();
  for (std::size_t id = 0; id < table_count; ++id) {
    stop.check();
    if (id == CTD && tallies.ctd != nullptr) {
      db.stream_table(table_names[id], *tallies.ctd);
    } else if (id == QTM && tallies.qtm != nullptr) {
      db.stream_table(table_names[id], *tallies.qtm);
    } else {
      kept[id] = db.read_table(table_names[id]);
    }
  }
  db.end_read();
  db.close();
}

Map score(const TableSlots& t, const KeyTally& ctd, const KeyTally& qtm, const Answers& answers,
          std::vector<TraitLines>& lines, StopCheck& stop) {
  const Identifiers ids(*t[IDs]);
  Map sections;
  sections.reserve(6);
  sections.push_back({"Personality_Type", personality_type(*t[PRS], answers, lines)});
  stop.check();
  sections.push_back({"vak", learning_style(*t[VAK], answers)});
  stop.check();
  sections.push_back({"Emotional_Intelligance", emotional_intelligence(*t[EMQ], answers)});
  stop.check();
  sections.push_back({"Roles", team_roles(*t[TRS], answers)});
  stop.check();
  sections.push_back({"Traits", traits(qtm, ids)});
  stop.check();
  sections.push_back({"Spaces", competences(ctd, *t[CMF], ids)});
  return sections;
}

template <class Body>
Outcome outcome_of(Body&& body) {
  Outcome outcome;
  try {
    outcome.sections = body(outcome.lines);
  } catch (Failure& failure) {
    outcome.sections.clear();
    outcome.failure.emplace(std::move(failure));
  } catch (const Stopped&) {
    outcome = Outcome{};
    outcome.stopped = true;
  }
  return outcome;
}

}  // namespace

Outcome run(const char* database_path, const Answers& answers, StopCheck* stop) {
  StopCheck never;
  StopCheck& check = stop != nullptr ? *stop : never;
  return outcome_of([&](std::vector<TraitLines>& lines) {
    KeyTally ctd(answers);
    KeyTally qtm(answers);
    TableSlots kept;
    read_tables(database_path, kept, {&ctd, &qtm}, check);
    return score(kept, ctd, qtm, answers, lines, check);
  });
}

KeptTables::KeptTables(const char* database_path) {
  StopCheck never;
  read_tables(database_path, tables_, {nullptr, nullptr}, never);
  ctd_.emplace(*tables_[CTD]);
  qtm_.emplace(*tables_[QTM]);
  tables_[CTD].reset();
  tables_[QTM].reset();
}

Outcome KeptTables::run(const Answers& answers) const {
  StopCheck never;
  return outcome_of([&](std::vector<TraitLines>& lines) {
    KeyTally ctd(answers);
    KeyTally qtm(answers);
    ctd.take_key(*ctd_);
    qtm.take_key(*qtm_);
    return score(tables_, ctd, qtm, answers, lines, never);
  });
}

}  // namespace mind
