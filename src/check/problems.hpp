// What a check of an assessment database finds: each problem, where it stands and how much it matters.
#pragma once

#include "mind/scoring_keys.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace check {

// An error makes scoring fail for some set of answers that a client may give (integers 1 to 4, as
// many as the range of answer counts allows); a warning is scored, but not as its author meant; a
// note is neither.
enum class Severity : std::uint8_t { Error, Warning, Note };

struct Place {
  std::optional<mind::TableId> table;
  std::optional<std::size_t> row;  // the row's label: its position, counted from 0
  std::optional<std::string> column;
};

inline Place whole_database() { return {}; }
inline Place in_table(mind::TableId table) { return {table, std::nullopt, std::nullopt}; }
inline Place in_column(mind::TableId table, std::string_view column) {
  return {table, std::nullopt, std::string(column)};
}
inline Place in_cell(mind::TableId table, std::size_t row, std::string_view column) {
  return {table, row, std::string(column)};
}

struct Problem {
  Severity severity;
  Place place;
  std::string message;
};

class Problems {
 public:
  void error(Place place, std::string message) { add(Severity::Error, std::move(place), std::move(message)); }
  void warning(Place place, std::string message) { add(Severity::Warning, std::move(place), std::move(message)); }
  void note(Place place, std::string message) { add(Severity::Note, std::move(place), std::move(message)); }
  void add(Severity severity, Place place, std::string message) {
    found_.push_back({severity, std::move(place), std::move(message)});
  }

  // Each table's problems together, in load order and otherwise as found; the database's own last.
  void group_by_table() {
    std::ranges::stable_sort(found_, {}, [](const Problem& p) { return p.place.table.value_or(mind::table_count); });
  }

  const std::vector<Problem>& found() const noexcept { return found_; }
  bool has_error() const noexcept {
    return std::ranges::any_of(found_, [](const Problem& p) { return p.severity == Severity::Error; });
  }

 private:
  std::vector<Problem> found_;
};

}  // namespace check
