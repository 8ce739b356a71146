#include "mind/run.hpp"

#include "mind/database.hpp"
#include "mind/scoring_keys.hpp"

#include <array>
#include <optional>

namespace mind {

namespace {

// The tables of one run: the two keys that are only tallied are tallied as they are read, the
// others kept whole.
struct Tables {
  explicit Tables(const Answers& answers) noexcept : ctd(answers), qtm(answers) {}
  const Table& operator[](TableId id) const { return *kept[id]; }

  std::array<std::optional<Table>, table_count> kept;  // all but "CTD" and "QTM"
  KeyTally ctd;
  KeyTally qtm;
};

void read_tables(const char* path, Tables& tables, StopCheck& stop) {
  Database db(path, &stop);
  db.begin_read();
  for (std::size_t id = 0; id < table_count; ++id) {
    stop.check();
    if (id == CTD) {
      db.stream_table(table_names[id], tables.ctd);
    } else if (id == QTM) {
      db.stream_table(table_names[id], tables.qtm);
    } else {
      tables.kept[id] = db.read_table(table_names[id]);
    }
  }
  db.end_read();
  db.close();
}

Map score(const Tables& t, const Answers& answers, std::vector<TraitLines>& lines, StopCheck& stop) {
  const Identifiers ids(t[IDs]);
  Map sections;
  sections.reserve(6);
  sections.push_back({"Personality_Type", personality_type(t[PRS], answers, lines)});
  stop.check();
  sections.push_back({"vak", learning_style(t[VAK], answers)});
  stop.check();
  sections.push_back({"Emotional_Intelligance", emotional_intelligence(t[EMQ], answers)});
  stop.check();
  sections.push_back({"Roles", team_roles(t[TRS], answers)});
  stop.check();
  sections.push_back({"Traits", traits(t.qtm, ids)});
  stop.check();
  sections.push_back({"Spaces", competences(t.ctd, t[CMF], ids)});
  return sections;
}

}  // namespace

Outcome run(const char* database_path, const Answers& answers, StopCheck* stop) {
  Outcome outcome;
  StopCheck never;
  StopCheck& check = stop != nullptr ? *stop : never;
  try {
    Tables tables(answers);
    read_tables(database_path, tables, check);
    outcome.sections = score(tables, answers, outcome.lines, check);
  } catch (Failure& failure) {
    outcome.sections.clear();
    outcome.failure.emplace(std::move(failure));
  } catch (const Stopped&) {
    outcome = Outcome{};
    outcome.stopped = true;
  }
  return outcome;
}

}  // namespace mind
