#include "check/run.hpp"

#include "check/checks.hpp"
#include "check/describe.hpp"
#include "mind/database.hpp"
#include "mind/failure.hpp"
#include "support/overloaded.hpp"

#include <algorithm>
#include <cctype>
#include <variant>

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

// A table that exists fails to read for a reason of the database; the other reasons come from
// scoring, which the check does not run on a table it reads.
std::string why_unreadable(const mind::Failure& failure) {
  return std::visit(support::overloaded{
                        [](const mind::DatabaseFailed& database) { return database.message; },
                        [](const mind::UndecodableText& text) { return "column " + quoted(text.column) + " holds text that is not UTF-8"; },
                        [](const mind::UndecodableName&) { return std::string("a column name is not UTF-8"); },
                        [](const mind::BadShape& shape) { return shape.message; },
                        [&](const mind::MissingKey&) { return std::string(failure.what()); },
                        [&](const mind::MissingAnswer&) { return std::string(failure.what()); },
                        [&](const mind::AnswerFailed&) { return std::string(failure.what()); },
                    },
                    failure.reason());
}

LoadedTables load(const char* path, Problems& problems, mind::StopCheck* stop) {
  mind::Database db(path, stop);
  db.begin_read();
  const Table schema = db.read_table("sqlite_master");
  LoadedTables tables;
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
  const LoadedTables tables = load(path, problems, stop);
  check_scoring_keys(tables, problems);
  const auto entries = check_competences(tables, problems);
  check_identifiers(tables, entries, problems);
  check_answer_counts(tables, problems);
  // A design is judged once scoring works: an error's key fails every client anyway.
  if (!problems.has_error()) {
    for (DesignWarning& warning : design_warnings(tables)) problems.warning(std::move(warning.place), std::move(warning.message));
  }
  problems.group_by_table();
  return problems;
}

DesignWarnings database_design_warnings(const char* path, mind::StopCheck* stop) {
  Problems unread;
  return design_warnings(load(path, unread, stop));
}

std::optional<AnswerRange> database_answer_range(const char* path, mind::StopCheck* stop) {
  Problems unread;
  return answer_range(load(path, unread, stop));
}

}  // namespace check
