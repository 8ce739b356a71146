// Competences: skill totals from the scoring key "CTD", rolled up the space / aspect / skill
// hierarchy of "CMF", rated by the level rules and identified from "IDs".
#include "mind/first_index.hpp"
#include "mind/hierarchy.hpp"
#include "mind/levels.hpp"
#include "mind/sections.hpp"
#include "mind/skills.hpp"

namespace mind {

namespace {

class SkillTotals {
 public:
  // The skill columns are named as the tally names its totals, so a slot indexes both.
  explicit SkillTotals(const KeyTally& ctd) : totals_(ctd.totals()), columns_(ctd.columns()) {}

  std::optional<std::size_t> slot(const Cell& skill) const { return columns_.slot(skill); }
  std::int64_t total(std::size_t slot) const { return totals_[slot]; }

 private:
  const std::vector<std::int64_t>& totals_;
  SkillColumns columns_;
};

struct Scored {
  Value entry;
  std::int64_t score;
};

Scored score_aspect(const AspectNode& aspect, const Value& space_id, const SkillTotals& totals, const Identifiers& ids) {
  std::int64_t aspect_score = 0;
  std::vector<std::pair<std::size_t, const Cell*>> rated;  // each skill with a total once, where it first stands
  FirstIndex<std::size_t> seen(aspect.skills.size());
  for (const Cell& skill : aspect.skills) {
    const auto slot = totals.slot(skill);
    if (!slot) continue;
    aspect_score += totals.total(*slot);
    if (seen.try_add(*slot, rated.size()).second) rated.emplace_back(*slot, &skill);
  }
  const Value aspect_id = ids.of(aspect.name);
  List skills;
  skills.reserve(rated.size());
  for (const auto& [slot, skill] : rated) {
    skills.push_back(map_of(Entry{"aspect_id", aspect_id},
                            Entry{"skill_id", ids.of(*skill)},
                            Entry{"skill_name", Value::from_cell(*skill)},
                            Entry{"score", Value(totals.total(slot))},
                            Entry{"level", Value(determine_skill_level(totals.total(slot)))}));
  }
  const Rating rating = determine_aspect_level(aspect_score, aspect.skills.size());
  return {map_of(Entry{"space_id", space_id},
                 Entry{"aspect_id", aspect_id},
                 Entry{"aspect_name", Value::from_cell(aspect.name)},
                 Entry{"level", Value(rating.level)},
                 Entry{"percentage", Value(round2(rating.percentage))},
                 Entry{"skills", Value(std::move(skills))}),
          aspect_score};
}

Value score_space(const SpaceNode& space, const SkillTotals& totals, const Identifiers& ids) {
  std::int64_t space_score = 0;
  const Value space_id = ids.of(space.name);
  List aspects;
  aspects.reserve(space.aspects.size());
  for (const AspectNode& aspect : space.aspects) {
    Scored scored = score_aspect(aspect, space_id, totals, ids);
    space_score += scored.score;
    aspects.push_back(std::move(scored.entry));
  }
  const Rating rating = determine_space_level(space_score, space.aspects.size());
  return map_of(Entry{"space_id", space_id},
                Entry{"space_name", Value::from_cell(space.name)},
                Entry{"level", Value(rating.level)},
                Entry{"percentage", Value(round2(rating.percentage))},
                Entry{"aspects", Value(std::move(aspects))});
}

}  // namespace

List competences(const KeyTally& ctd, const Table& cmf, const Identifiers& ids) {
  return competences(ctd, hierarchical_mapping(cmf), ids);
}

List competences(const KeyTally& ctd, const std::vector<SpaceNode>& hierarchy, const Identifiers& ids) {
  const SkillTotals totals(ctd);
  List section;
  section.reserve(hierarchy.size());
  for (const SpaceNode& space : hierarchy) section.push_back(score_space(space, totals, ids));
  return section;
}

}  // namespace mind
