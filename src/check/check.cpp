#include "check/check.hpp"

#include "check/checks.hpp"
#include "check/describe.hpp"
#include "mind/database.hpp"
#include "mind/failure.hpp"

#include <algorithm>
#include <cctype>

namespace check {

namespace {

using mind::Table;
using mind::TableId;

bool same_name(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

// SQLite finds a table or a view by its name without regard to ASCII case.
bool names_table(const Table& schema, std::string_view name) {
  const std::size_t types = schema.column_index("type");
  const std::size_t names = schema.column_index("name");
  for (std::size_t row = 0; row < schema.row_count(); ++row) {
    const mind::Cell type = schema.at(row, types);
    const mind::Cell found = schema.at(row, names);
    if ((type.is_text("table") || type.is_text("view")) && found.kind() == mind::Kind::Text &&
        same_name(found.bytes(), name)) {
      return true;
    }
  }
  return false;
}

std::string why_unreadable(const mind::Failure& failure) {
  const auto& reason = failure.reason();
  if (const auto* database = std::get_if<mind::DatabaseFailed>(&reason)) return database->message;
  if (const auto* text = std::get_if<mind::UndecodableText>(&reason)) {
    return "column " + quoted(text->column) + " holds text that is not UTF-8";
  }
  if (std::holds_alternative<mind::UndecodableName>(reason)) return "a column name is not UTF-8";
  return failure.what();
}

Tables load(const char* path, Problems& problems, mind::StopCheck* stop) {
  mind::Database db(path, stop);
  db.begin_read();
  const Table schema = db.read_table("sqlite_master");
  Tables tables;
  for (std::size_t i = 0; i < mind::table_count; ++i) {
    const auto id = static_cast<TableId>(i);
    const std::string_view name = mind::table_names[id];
    if (!names_table(schema, name)) {
      problems.error(in_table(id), "no such table; every scoring run fails on it");
      continue;
    }
    try {
      tables.keep(id, db.read_table(name));
    } catch (const mind::Failure& failure) {
      problems.error(in_table(id), "cannot be read, so every scoring run fails on it: " + why_unreadable(failure));
    }
  }
  db.end_read();
  db.close();
  return tables;
}

}  // namespace

Problems check_database(const char* path, mind::StopCheck* stop) {
  Problems problems;
  const Tables tables = load(path, problems, stop);
  check_scoring_keys(tables, problems);
  const auto entries = check_competences(tables, problems);
  check_identifiers(tables, entries, problems);
  check_answer_counts(tables, problems);
  problems.group_by_table();
  return problems;
}

}  // namespace check
