// Competences: skill totals from the scoring key "CTD", rolled up the space / aspect / skill
// hierarchy of "CMF", rated by the level rules and identified from "IDs".
#include "mind/first_index.hpp"
#include "mind/hierarchy.hpp"
#include "mind/levels.hpp"
#include "mind/sections.hpp"

namespace mind {

namespace {

CompetenceKey::Aspect aspect_of(const AspectNode& node, const PerColumnKey& skills, const Identifiers& ids) {
  CompetenceKey::Aspect aspect{node.name, ids.of(node.name), node.skills.size(), {}, {}};
  FirstIndex<std::size_t> seen(node.skills.size());
  for (const Cell& skill : node.skills) {
    const auto slot = skills.slot(skill);
    if (!slot) continue;
    aspect.summed.push_back(static_cast<std::uint32_t>(*slot));
    if (seen.try_add(*slot, aspect.skills.size()).second) aspect.skills.push_back({aspect.summed.back(), skill, ids.of(skill)});
  }
  return aspect;
}

}  // namespace

CompetenceKey::CompetenceKey(const Table& cmf, const PerColumnKey& skills, const Identifiers& ids) {
  try {
    for (const SpaceNode& node : hierarchical_mapping(cmf)) {
      Space& space = spaces_.emplace_back(Space{node.name, ids.of(node.name), {}});
      space.aspects.reserve(node.aspects.size());
      for (const AspectNode& aspect : node.aspects) space.aspects.push_back(aspect_of(aspect, skills, ids));
      aspect_count_ += node.aspects.size();
    }
  } catch (Failure& failure) {
    spaces_.clear();
    aspect_count_ = 0;
    failure_.emplace(std::move(failure));
  }
}

const std::vector<CompetenceKey::Space>& CompetenceKey::spaces() const {
  if (failure_) throw *failure_;
  return spaces_;
}

// The hierarchy is made before the skills are totalled, and a space is rated once its aspects are.
void score_competences(const PerColumnKey& skills, const CompetenceKey& key, const Answers& answers, Scores& scores) {
  const auto& spaces = key.spaces();
  const auto& totals = totals_of(skills, answers, scores.skills);
  scores.skill_levels.resize(totals.size());
  for (std::size_t i = 0; i < totals.size(); ++i) scores.skill_levels[i] = determine_skill_level(totals[i]);
  scores.aspects.clear();
  scores.spaces.clear();
  for (const CompetenceKey::Space& space : spaces) {
    std::int64_t space_score = 0;
    for (const CompetenceKey::Aspect& aspect : space.aspects) {
      std::int64_t aspect_score = 0;
      for (const std::uint32_t slot : aspect.summed) aspect_score += totals[slot];
      const Rating rating = determine_aspect_level(aspect_score, aspect.listed);
      scores.aspects.push_back({aspect_score, rating.level, round2(rating.percentage)});
      space_score += aspect_score;
    }
    const Rating rating = determine_space_level(space_score, space.aspects.size());
    scores.spaces.push_back({space_score, rating.level, round2(rating.percentage)});
  }
}

namespace {

Value skill_entry(const CompetenceKey::Skill& skill, const Cell& aspect_id, const Scores& scores) {
  return Value(map_of(Entry{"aspect_id", Value::from_cell(aspect_id)},
                      Entry{"skill_id", Value::from_cell(skill.id)},
                      Entry{"skill_name", Value::from_cell(skill.name)},
                      Entry{"score", Value(scores.skills.totals[skill.slot])},
                      Entry{"level", Value(level_name(scores.skill_levels[skill.slot]))}));
}

Value aspect_entry(const CompetenceKey::Aspect& aspect, const Cell& space_id, const Rated& rated, const Scores& scores) {
  List skills;
  skills.reserve(aspect.skills.size());
  for (const CompetenceKey::Skill& skill : aspect.skills) skills.push_back(skill_entry(skill, aspect.id, scores));
  return Value(map_of(Entry{"space_id", Value::from_cell(space_id)},
                      Entry{"aspect_id", Value::from_cell(aspect.id)},
                      Entry{"aspect_name", Value::from_cell(aspect.name)},
                      Entry{"level", Value(level_name(rated.level))},
                      Entry{"percentage", Value(rated.percentage)},
                      Entry{"skills", Value(std::move(skills))}));
}

}  // namespace

Value report_competences(const CompetenceKey& key, const Scores& scores) {
  const auto& spaces = key.spaces();
  List section;
  section.reserve(spaces.size());
  std::size_t a = 0;
  for (std::size_t s = 0; s < spaces.size(); ++s) {
    const CompetenceKey::Space& space = spaces[s];
    List aspects;
    aspects.reserve(space.aspects.size());
    for (const CompetenceKey::Aspect& aspect : space.aspects) aspects.push_back(aspect_entry(aspect, space.id, scores.aspects[a++], scores));
    const Rated& rated = scores.spaces[s];
    section.push_back(Value(map_of(Entry{"space_id", Value::from_cell(space.id)},
                                   Entry{"space_name", Value::from_cell(space.name)},
                                   Entry{"level", Value(level_name(rated.level))},
                                   Entry{"percentage", Value(rated.percentage)},
                                   Entry{"aspects", Value(std::move(aspects))})));
  }
  return Value(std::move(section));
}

}  // namespace mind
