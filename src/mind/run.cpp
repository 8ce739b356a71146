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

// What a run scores from beside the tables it keeps: the tallies of "CTD" and "QTM", and, when the
// run is for many clients, the keys and identifiers kept for all of them.
struct Prepared {
  const KeyTally& ctd;
  const KeyTally& qtm;
  const KeptKey* emq = nullptr;
  const KeptKey* trs = nullptr;
  const Identifiers* ids = nullptr;
  const KeptHierarchy* hierarchy = nullptr;
  const KeptPersonality* personality = nullptr;
  const KeptStyle* style = nullptr;
};

Map score(const TableSlots& t, const Prepared& p, const Answers& answers, std::vector<TraitLines>& lines, StopCheck& stop) {
  std::optional<Identifiers> own_ids;
  if (p.ids == nullptr) own_ids.emplace(*t[IDs]);
  const Identifiers& ids = p.ids != nullptr ? *p.ids : *own_ids;
  Map sections;
  sections.reserve(6);
  sections.push_back({"Personality_Type", p.personality != nullptr ? personality_type(*p.personality, answers, lines)
                                                                   : personality_type(*t[PRS], answers, lines)});
  stop.check();
  sections.push_back({"vak", p.style != nullptr ? learning_style(*p.style, answers) : learning_style(*t[VAK], answers)});
  stop.check();
  sections.push_back({"Emotional_Intelligance", p.emq != nullptr ? emotional_intelligence(*p.emq, answers)
                                                                 : emotional_intelligence(*t[EMQ], answers)});
  stop.check();
  sections.push_back({"Roles", p.trs != nullptr ? team_roles(*p.trs, answers) : team_roles(*t[TRS], answers)});
  stop.check();
  sections.push_back({"Traits", traits(p.qtm, ids)});
  stop.check();
  sections.push_back({"Spaces", p.hierarchy != nullptr ? competences(p.ctd, p.hierarchy->spaces(), ids)
                                                       : competences(p.ctd, *t[CMF], ids)});
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
    return score(kept, {ctd, qtm}, answers, lines, check);
  });
}

KeptTables::KeptTables(const char* database_path, StopCheck* stop) {
  StopCheck never;
  read_tables(database_path, tables_, {nullptr, nullptr}, stop != nullptr ? *stop : never);
  ctd_.emplace(*tables_[CTD]);
  qtm_.emplace(*tables_[QTM]);
  emq_.emplace(kept_emotional_intelligence(*tables_[EMQ]));
  trs_.emplace(kept_team_roles(*tables_[TRS]));
  for (const std::size_t id : {CTD, QTM, EMQ, TRS}) tables_[id].reset();
  ids_.emplace(*tables_[IDs]);
  hierarchy_.emplace(*tables_[CMF]);
  personality_.emplace(*tables_[PRS]);
  style_.emplace(*tables_[VAK]);
}

Outcome KeptTables::run(const Answers& answers) const {
  StopCheck never;
  return outcome_of([&](std::vector<TraitLines>& lines) {
    KeyTally ctd(answers);
    KeyTally qtm(answers);
    ctd.take_key(*ctd_);
    qtm.take_key(*qtm_);
    return score(tables_, {ctd, qtm, &*emq_, &*trs_, &*ids_, &*hierarchy_, &*personality_, &*style_}, answers, lines, never);
  });
}

}  // namespace mind
