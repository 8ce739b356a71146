// The checks of one database, each over the tables as the scoring core loaded them.
#pragma once

#include "check/problems.hpp"
#include "mind/keys.hpp"
#include "mind/table.hpp"

#include <algorithm>

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace check {

// The eight tables by their place in the load order; one that could not be read is absent.
class LoadedTables {
 public:
  void keep(mind::TableId id, mind::Table table) { tables_[id].emplace(std::move(table)); }
  const mind::Table* operator[](mind::TableId id) const noexcept { return tables_[id] ? &*tables_[id] : nullptr; }
  bool complete() const noexcept {
    return std::all_of(tables_.begin(), tables_.end(), [](const auto& table) { return table.has_value(); });
  }
  const mind::TableSet& all() const noexcept { return tables_; }

 private:
  mind::TableSet tables_;
};

// The columns that scoring reads by name, and the cells of the scoring keys.
void check_scoring_keys(const LoadedTables& tables, Problems& problems);

// A trait, space, aspect or skill that gets an entry in the report, and with it an identifier from
// "IDs". The title points into its table.
struct Titled {
  std::string_view kind;
  mind::Cell title;
  Place place;
};

// The competence hierarchy of "CMF": its shape, each space's number of aspects, and its skills against
// the columns of "CTD". Returns the spaces, aspects and skills that get entries, each once.
std::vector<Titled> check_competences(const LoadedTables& tables, Problems& problems);

// The titles in "IDs" of every trait and of `entries`.
void check_identifiers(const LoadedTables& tables, const std::vector<Titled>& entries, Problems& problems);

// How many answers a client may give: every tallied key needs an answer per row, and "VAK" a row per
// answer. `longest` names the key with the most rows; no count works when `least` exceeds `most`.
struct AnswerRange {
  std::size_t least;
  std::size_t most;
  std::string_view longest;
};

// None when "VAK" or one of the tallied keys could not be read.
std::optional<AnswerRange> answer_range(const LoadedTables& tables);

void check_answer_counts(const LoadedTables& tables, Problems& problems);

// A fault of the instrument's design, and the scale it concerns (by its report field), if one.
struct DesignWarning {
  std::optional<std::string> scale;
  Place place;
  std::string message;
};
using DesignWarnings = std::vector<DesignWarning>;

// None when a table is missing or no answer count works: the errors found say why.
DesignWarnings design_warnings(const LoadedTables& tables);

}  // namespace check
