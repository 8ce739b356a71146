// The sections in report order: how one client is scored from the prepared keys, and reported.
#include "mind/sections.hpp"

#include "mind/scoring_keys.hpp"

namespace mind {

namespace {

std::vector<Cell> trait_ids_of(const PerColumnKey& traits, const Identifiers& ids) {
  std::vector<Cell> found;
  found.reserve(traits.names().size());
  for (const std::string_view name : traits.names()) found.push_back(ids.of(Cell::text(name)));
  return found;
}

}  // namespace

Keys::Keys(const TableSet& tables, PerColumnKey qtm, PerColumnKey ctd) : Keys(tables, std::move(qtm), std::move(ctd), Identifiers(*tables[IDs])) {}

Keys::Keys(const TableSet& tables, PerColumnKey qtm, PerColumnKey ctd, const Identifiers& ids)
    : personality(*tables[PRS]),
      style(*tables[VAK]),
      emotional_intelligence(keyed_totals_key(*tables[EMQ], emotional_intelligence_categories)),
      roles(keyed_totals_key(*tables[TRS], role_codes)),
      traits(std::move(qtm)),
      trait_ids(trait_ids_of(traits, ids)),
      skills(std::move(ctd)),
      competences(*tables[CMF], skills, ids) {}

const std::vector<std::int64_t>& totals_of(const PerColumnKey& key, const Answers& answers, KeyTotals& totals) {
  if (const ReducedKey* rows = key.rows()) {
    totals.failure.reset();
    totals.totals.assign(key.names().size(), 0);
    rows->tally(answers, totals.totals);
  }
  if (totals.failure) throw *totals.failure;
  return totals.totals;
}

void score_sections(const Keys& keys, const Answers& answers, Scores& scores, StopCheck& stop) {
  score_personality(keys.personality, answers, scores);
  stop.check();
  score_learning_style(keys.style, answers, scores.style);
  stop.check();
  score_keyed_totals(keys.emotional_intelligence, answers, scores.emotional_intelligence);
  stop.check();
  score_keyed_totals(keys.roles, answers, scores.roles);
  stop.check();
  score_traits(keys.traits, answers, scores);
  stop.check();
  score_competences(keys.skills, keys.competences, answers, scores);
}

Map report_sections(const Keys& keys, const Scores& scores) {
  return map_of(Entry{"Personality_Type", report_personality(scores)},
                Entry{"vak", report_learning_style(scores.style)},
                Entry{"Emotional_Intelligance", report_keyed_totals(emotional_intelligence_categories, scores.emotional_intelligence)},
                Entry{"Roles", report_keyed_totals(role_codes, scores.roles)},
                Entry{"Traits", report_traits(keys, scores)},
                Entry{"Spaces", report_competences(keys.competences, scores)});
}

}  // namespace mind
