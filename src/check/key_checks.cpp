// The scoring keys: the columns read by name, and cells that a tally fails on or silently ignores.
#include "check/checks.hpp"
#include "check/describe.hpp"
#include "mind/tally.hpp"

#include <span>

namespace check {

namespace {

using mind::Cell;
using mind::Table;
using mind::TableId;

const std::string not_a_method_code = " is not a method code (\"A1\" to \"A4\")";

// What a tally that takes only method codes passes over without a word; blank cells are meant so.
bool ignored(const Cell& cell) { return mind::is_not_blank(cell) && !mind::is_method_code(cell); }

void require_column(TableId id, const Table& table, std::string_view column, bool read_without_rows,
                    Problems& problems) {
  if (table.find(column)) return;
  if (read_without_rows || table.row_count() > 0) {
    problems.error(in_column(id, column), "no such column; every scoring run fails on it (KeyError)");
  } else {
    problems.warning(in_column(id, column), "no such column; harmless only while the table has no rows");
  }
}

void warn_of_ignored_cells(TableId id, const Table& key, std::size_t column, Problems& problems) {
  const std::string& name = key.columns()[column].name;
  for (std::size_t row = 0; row < key.row_count(); ++row) {
    const Cell cell = key.row_cell(row, column);
    if (ignored(cell)) {
      problems.warning(in_cell(id, row, name), shown(cell) + not_a_method_code + "; the tally ignores it");
    }
  }
}

// Each trait's questions are looked up before its "Idx" cells are read, whether there are rows or not.
void check_personality_key(const Table& prs, Problems& problems) {
  for (const std::string_view trait : mind::personality_traits) require_column(mind::PRS, prs, trait, true, problems);
  require_column(mind::PRS, prs, mind::index_column, true, problems);
}

// The learning-style tally looks codes up leniently: a cell that is not a method code scores nothing.
void check_learning_style_key(const Table& vak, Problems& problems) {
  for (const std::string_view column : mind::vak_columns) {
    if (const auto index = vak.find(column)) {
      warn_of_ignored_cells(mind::VAK, vak, *index, problems);
    } else {
      require_column(mind::VAK, vak, column, false, problems);
    }
  }
}

// Emotional intelligence and team roles count every cell that is not blank, so one that is not a
// method code reaches the strict lookup and fails there, whatever the answer.
void check_keyed_tally(TableId id, const Table& key, std::span<const std::string_view> columns, Problems& problems) {
  for (const mind::FedColumn& target : mind::columns_by_name(key, columns)) {
    if (!target.column) {
      require_column(id, key, target.name, false, problems);
      continue;
    }
    for (std::size_t row = 0; row < key.row_count(); ++row) {
      const Cell cell = key.row_cell(row, *target.column);
      if (ignored(cell)) {
        problems.error(in_cell(id, row, target.name),
                       shown(cell) + not_a_method_code + ", yet the tally counts it: scoring fails on it (KeyError)");
      }
    }
  }
}

// Traits and skills take only method codes and skip the rest; "Idx" has no total, so a code there fails.
void check_column_tally(TableId id, const Table& key, Problems& problems) {
  std::vector<std::string_view> names;
  for (const mind::FedColumn& target : mind::column_per_total(key, names)) {
    if (target.total) {
      warn_of_ignored_cells(id, key, *target.column, problems);
      continue;
    }
    for (std::size_t row = 0; row < key.row_count(); ++row) {
      const Cell cell = key.row_cell(row, *target.column);
      if (mind::is_method_code(cell)) {
        problems.error(in_cell(id, row, target.name),
                       shown(cell) + " is a method code, but \"Idx\" has no total: scoring fails on it (KeyError)");
      }
    }
  }
}

}  // namespace

void check_scoring_keys(const LoadedTables& tables, Problems& problems) {
  if (const Table* prs = tables[mind::PRS]) check_personality_key(*prs, problems);
  if (const Table* vak = tables[mind::VAK]) check_learning_style_key(*vak, problems);
  if (const Table* emq = tables[mind::EMQ]) {
    check_keyed_tally(mind::EMQ, *emq, mind::emotional_intelligence_categories, problems);
  }
  if (const Table* trs = tables[mind::TRS]) check_keyed_tally(mind::TRS, *trs, mind::role_codes, problems);
  if (const Table* ctd = tables[mind::CTD]) check_column_tally(mind::CTD, *ctd, problems);
  if (const Table* qtm = tables[mind::QTM]) check_column_tally(mind::QTM, *qtm, problems);
}

std::optional<AnswerRange> answer_range(const LoadedTables& tables) {
  const Table* vak = tables[mind::VAK];
  if (vak == nullptr) return std::nullopt;
  AnswerRange range{0, vak->row_count(), {}};
  for (const TableId id : {mind::EMQ, mind::TRS, mind::QTM, mind::CTD}) {
    const Table* key = tables[id];
    if (key == nullptr) return std::nullopt;
    if (key->row_count() > range.least) {
      range.least = key->row_count();
      range.longest = mind::table_names[id];
    }
  }
  return range;
}

void check_answer_counts(const LoadedTables& tables, Problems& problems) {
  const auto range = answer_range(tables);
  if (!range) return;
  const auto [least, most, longest_name] = *range;
  const std::string longest(longest_name);
  if (least > most) {
    problems.error(whole_database(), "no number of answers can be scored: " + longest + " has " + std::to_string(least) +
                                         " rows, each needing an answer, but VAK has " + std::to_string(most) +
                                         ", and an answer without its row in VAK fails");
    return;
  }
  const std::string count =
      least == most ? "exactly " + std::to_string(most) : std::to_string(least) + " to " + std::to_string(most);
  const std::string fewer = least == 0 ? "no tallied key has rows" : "fewer leave a row of " + longest + " unanswered";
  problems.note(whole_database(), "a client may give " + count + " answers (" + fewer + "; more have no row in VAK)");
}

}  // namespace check
