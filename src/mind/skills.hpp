// The skills that the scoring key "CTD" totals, and which skills of the hierarchy have a total.
#pragma once

#include "mind/first_index.hpp"
#include "mind/tally.hpp"

#include <optional>
#include <string_view>
#include <vector>

namespace mind {

class SkillColumns {
 public:
  // Every column of `ctd` but "Idx" is a skill; a name that stands twice keeps its first place.
  // Names point into `ctd`, which must outlive this.
  explicit SkillColumns(const Table& ctd);

  const std::vector<TallyTarget>& targets() const noexcept { return targets_; }
  const std::vector<std::string_view>& names() const noexcept { return names_; }

  // The total a hierarchy skill has: a text naming a column of the key, case included. A number or
  // a missing cell never has one.
  std::optional<std::size_t> slot(const Cell& skill) const;

 private:
  std::vector<std::string_view> names_;
  std::vector<TallyTarget> targets_;
  FirstIndex<std::string_view> slots_;
};

}  // namespace mind
