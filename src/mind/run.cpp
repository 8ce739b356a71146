#include "mind/run.hpp"

#include "mind/database.hpp"
#include "mind/scoring_keys.hpp"

namespace mind {

namespace {

std::vector<Table> read_tables(const char* path) {
  Database db(path);
  db.begin_read();
  std::vector<Table> tables;
  tables.reserve(table_count);
  for (const std::string_view name : table_names) tables.push_back(db.read_table(name));
  db.end_read();
  db.close();
  return tables;
}

Map score(const std::vector<Table>& t, const Answers& answers, std::vector<TraitLines>& lines) {
  const Identifiers ids(t[IDs]);
  Map sections;
  sections.reserve(6);
  sections.push_back({"Personality_Type", personality_type(t[PRS], answers, lines)});
  sections.push_back({"vak", learning_style(t[VAK], answers)});
  sections.push_back({"Emotional_Intelligance", emotional_intelligence(t[EMQ], answers)});
  sections.push_back({"Roles", team_roles(t[TRS], answers)});
  sections.push_back({"Traits", traits(t[QTM], ids, answers)});
  sections.push_back({"Spaces", competences(t[CTD], t[CMF], ids, answers)});
  return sections;
}

}  // namespace

Outcome run(const char* database_path, const Answers& answers) {
  Outcome outcome;
  try {
    const auto tables = read_tables(database_path);
    outcome.sections = score(tables, answers, outcome.lines);
  } catch (Failure& failure) {
    outcome.sections.clear();
    outcome.failure.emplace(std::move(failure));
  }
  return outcome;
}

}  // namespace mind
