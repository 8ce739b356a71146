// Traits: one total per column of the scoring key "QTM", rated and identified from "IDs".
#include "mind/levels.hpp"
#include "mind/sections.hpp"
#include "mind/tally.hpp"

namespace mind {

List traits(const Table& qtm, const Identifiers& ids, const Answers& answers) {
  std::vector<std::string_view> names;
  const auto targets = column_targets(qtm, names);
  const auto totals = tally<is_method_code>(qtm, answers, targets, names.size());
  List section;
  section.reserve(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    section.push_back(map_of(Entry{"id", ids.of(Cell::text(names[i]))},
                             Entry{"name", Value(names[i])},
                             Entry{"score", Value(totals[i])},
                             Entry{"level", Value(determine_trait_level(totals[i]))}));
  }
  return section;
}

}  // namespace mind
