// The scoring keys prepared from the tables: everything scoring needs that depends on no answer,
// made once per read of the database, whether one client is scored on it or many. Each key keeps
// the failure that making it met, thrown at the step of a client's run where scoring meets it.
#pragma once

#include "mind/failure.hpp"
#include "mind/hierarchy.hpp"
#include "mind/identifiers.hpp"
#include "mind/scoring_keys.hpp"
#include "mind/table.hpp"
#include "mind/tally.hpp"
#include "mind/value.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace mind {

using TableSet = std::array<std::optional<Table>, table_count>;

// The rows of each personality trait pair ("EI", "SN", "TF", "JP"): an answer 1 or 2 to a question
// asked leans to the first pole, any other to the second.
class PersonalityKey {
 public:
  explicit PersonalityKey(const Table& prs);

  struct Trait {
    std::optional<Failure> failure;       // finding its rows failed: the section fails here
    std::vector<Value> question_numbers;  // the "Idx" cells of its rows, for its diagnostic line
    std::vector<std::size_t> asked;       // the positions of the answers it counts, ascending, each once
  };
  const Trait& trait(std::size_t i) const noexcept { return traits_[i]; }

 private:
  static Trait trait_of(const Table& prs, std::string_view name);
  std::array<Trait, 4> traits_;
};

// The methods of the five columns of "VAK" (-1: none) in the order of vak_columns, row by row.
using StyleMethods = std::array<int, 5>;

// "VAK": the row that each answer pairs with; an answer 1 or 2 scores the first three columns,
// 3 or 4 the last two, each with the lenient lookup.
class StyleKey {
 public:
  explicit StyleKey(const Table& vak);
  // The methods of the row that answer p pairs with, or the failure reading that row meets.
  const StyleMethods& methods_at(std::size_t p) const;
  // The rows whose methods are known: none when a column is missing, which fails every answer.
  std::size_t row_count() const noexcept { return rows_.size(); }

 private:
  std::vector<StyleMethods> rows_;
  std::optional<Failure> failure_;
};

// The competence hierarchy as scoring walks it: every skill resolved to the slot of its total in
// "CTD", every entry's identifier looked up in "IDs". Cells point into "CMF" and "IDs".
class CompetenceKey {
 public:
  CompetenceKey(const Table& cmf, const PerColumnKey& skills, const Identifiers& ids);

  struct Skill {
    std::uint32_t slot;
    Cell name;
    Cell id;
  };
  struct Aspect {
    Cell name;
    Cell id;
    std::size_t listed;                // the skills its list names, repeats and those without a total included
    std::vector<std::uint32_t> summed;  // the slot of every listed skill that has a total, repeats kept
    std::vector<Skill> skills;          // each skill with a total once, where it first stands
  };
  struct Space {
    Cell name;
    Cell id;
    std::vector<Aspect> aspects;
  };
  // The spaces in the order of "CMF", or the failure that making them met, thrown.
  const std::vector<Space>& spaces() const;
  std::size_t aspect_count() const noexcept { return aspect_count_; }

 private:
  std::vector<Space> spaces_;
  std::size_t aspect_count_ = 0;
  std::optional<Failure> failure_;
};

// Every section's key, in report order.
struct Keys {
  // From the tables kept (all but "QTM" and "CTD", which come as their keys).
  Keys(const TableSet& tables, PerColumnKey qtm, PerColumnKey ctd);
  Keys(const Keys&) = delete;  // cells point into the tables
  Keys& operator=(const Keys&) = delete;

  PersonalityKey personality;
  StyleKey style;
  ReducedKey emotional_intelligence;  // totals in the order of emotional_intelligence_categories
  ReducedKey roles;                   // totals in the order of role_codes
  PerColumnKey traits;
  std::vector<Cell> trait_ids;  // the "Geo_Id" of each trait, missing when it has none
  PerColumnKey skills;
  CompetenceKey competences;

 private:
  Keys(const TableSet& tables, PerColumnKey qtm, PerColumnKey ctd, const Identifiers& ids);
};

}  // namespace mind
