// Traits: one total per column of the scoring key "QTM", rated and identified from "IDs".
#include "mind/levels.hpp"
#include "mind/sections.hpp"

namespace mind {

void score_traits(const PerColumnKey& key, const Answers& answers, Scores& scores) {
  const auto& totals = totals_of(key, answers, scores.traits);
  scores.trait_levels.resize(totals.size());
  for (std::size_t i = 0; i < totals.size(); ++i) scores.trait_levels[i] = determine_trait_level(totals[i]);
}

Value report_traits(const Keys& keys, const Scores& scores) {
  const auto& names = keys.traits.names();
  List section;
  section.reserve(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    section.push_back(map_of(Entry{"id", Value::from_cell(keys.trait_ids[i])},
                             Entry{"name", Value(names[i])},
                             Entry{"score", Value(scores.traits.totals[i])},
                             Entry{"level", Value(level_name(scores.trait_levels[i]))}));
  }
  return Value(std::move(section));
}

}  // namespace mind
