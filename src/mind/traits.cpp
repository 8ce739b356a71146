// Traits: one total per column of the scoring key "QTM", rated and identified from "IDs".
#include "mind/levels.hpp"
#include "mind/sections.hpp"
#include "mind/tally.hpp"

namespace mind {

List traits(const KeyTally& qtm, const Identifiers& ids) {
  const auto& totals = qtm.totals();
  const auto& names = qtm.names();
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
