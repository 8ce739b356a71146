#include "mind/item_scores.hpp"

#include "mind/levels.hpp"
#include "mind/methods.hpp"
#include "mind/scoring_keys.hpp"
#include "mind/sections.hpp"

#include <algorithm>
#include <map>

namespace mind {

namespace {

constexpr std::uint8_t equals_one_or_two = 1;
constexpr std::uint8_t equals_three_or_four = 2;

std::uint8_t class_of(bool low, bool high, int entry) noexcept {
  return static_cast<std::uint8_t>(entry * 4 + (high ? equals_three_or_four : 0) + (low ? equals_one_or_two : 0));
}

// An answer of class `c` as scoring sees it: equal to 1 for the first bit, to 3 for the second.
Answer answer_of_class(std::size_t c) noexcept {
  Answer answer;
  answer.equal = static_cast<std::uint8_t>(((c & equals_one_or_two) ? 1u : 0u) | ((c & equals_three_or_four) ? 4u : 0u));
  answer.entry = static_cast<std::int8_t>(c / 4);
  return answer;
}

// The points of a question for each class, from what scoring makes of one answer of that class.
template <class Points>
ItemPoints points_by_class(std::size_t position, const Points& points_of) {
  ItemPoints points{};
  for (std::size_t c = 0; c < not_answered; ++c) points[c] = static_cast<std::int32_t>(points_of(answer_of_class(c), position));
  return points;
}

bool counts(const ItemPoints& points) {
  return std::any_of(points.begin(), points.end(), [](std::int32_t p) { return p != 0; });
}

// Items gathered by position; a question that reaches a scale through several cells or skills
// gives it the sum of their points.
class ItemSum {
 public:
  void add(std::size_t position, const ItemPoints& points) {
    if (!counts(points)) return;
    ItemPoints& sum = by_position_.try_emplace(static_cast<std::uint32_t>(position), ItemPoints{}).first->second;
    for (std::size_t c = 0; c < sum.size(); ++c) sum[c] += points[c];
  }
  void add(const std::vector<ScaleItem>& items) {
    for (const ScaleItem& item : items) add(item.position, item.points);
  }
  std::vector<ScaleItem> items() const {
    std::vector<ScaleItem> items;
    items.reserve(by_position_.size());
    for (const auto& [position, points] : by_position_) items.push_back({position, points});
    return items;
  }

 private:
  std::map<std::uint32_t, ItemPoints> by_position_;
};

// The items of every total of a reduced key: row r pairs with the answer at position r, and a cell
// gives its total the method's points for the answer's entry, where strict scoring finds one.
std::vector<std::vector<ScaleItem>> reduced_items(const ReducedKey* key, std::size_t totals) {
  std::vector<ItemSum> sums(totals);
  for (std::size_t row = 0; key != nullptr && row < key->row_count(); ++row) {
    for (const ReducedKey::Counted& cell : key->row(row)) {
      if (cell.method == ReducedKey::Counted::fails) break;
      sums[cell.total].add(row, points_by_class(row, [&](const Answer& a, std::size_t) {
        return a.entry > 0 ? method_points(cell.method, a.entry) : 0;
      }));
    }
  }
  std::vector<std::vector<ScaleItem>> items;
  items.reserve(totals);
  for (const ItemSum& sum : sums) items.push_back(sum.items());
  return items;
}

std::vector<ScaleItem> pole_items(const PersonalityKey::Trait& trait, bool first) {
  ItemSum sum;
  for (const std::size_t p : trait.asked) {
    sum.add(p, points_by_class(p, [&](const Answer& a, std::size_t position) { return leans_to_first_pole(a, position) == first ? 1 : 0; }));
  }
  return sum.items();
}

std::vector<ScaleItem> style_items(const StyleKey& key, std::size_t style) {
  ItemSum sum;
  for (std::size_t p = 0; p < key.row_count(); ++p) {
    const StyleMethods& methods = key.methods_at(p);
    sum.add(p, points_by_class(p, [&](const Answer& a, std::size_t position) { return style_points(methods, a, position)[style]; }));
  }
  return sum.items();
}

// What the competence fields stand on: each skill slot's items, and each aspect in report order.
struct Competences {
  std::vector<std::vector<ScaleItem>> skills;
  std::vector<const CompetenceKey::Aspect*> aspects;
  const std::vector<CompetenceKey::Space>* spaces = nullptr;
};

Competences competences_of(const Keys& keys) {
  Competences found{reduced_items(keys.skills.rows(), keys.skills.names().size()), {}, nullptr};
  try {
    found.spaces = &keys.competences.spaces();
  } catch (const Failure&) {
    return found;
  }
  for (const CompetenceKey::Space& space : *found.spaces) {
    for (const CompetenceKey::Aspect& aspect : space.aspects) found.aspects.push_back(&aspect);
  }
  return found;
}

std::vector<ScaleItem> aspect_items(const CompetenceKey::Aspect& aspect, const Competences& competences) {
  ItemSum sum;
  for (const std::uint32_t slot : aspect.summed) sum.add(competences.skills[slot]);
  return sum.items();
}

class ScaleMaker {
 public:
  explicit ScaleMaker(const Keys& keys)
      : keys_(keys),
        emotions_(reduced_items(&keys.emotional_intelligence, emotional_intelligence_categories.size())),
        roles_(reduced_items(&keys.roles, role_codes.size())),
        traits_(reduced_items(keys.traits.rows(), keys.traits.names().size())),
        competences_(competences_of(keys)) {}

  // The scale behind a field, or none for a field that is no sum of questions (a level, a title).
  std::optional<Scale> scale_of(const ReportField& field) const {
    Scale scale{field, {}, 0, 0, std::nullopt};
    const std::size_t i = field.index;
    switch (field.source) {
      case FieldSource::PoleShare: scale.items = pole_items(keys_.personality.trait(i / 2), i % 2 == 0); break;
      case FieldSource::StyleScore: scale.items = style_items(keys_.style, i); break;
      case FieldSource::EmotionTotal: scale.items = emotions_[i]; break;
      case FieldSource::RoleTotal: scale.items = roles_[i]; break;
      case FieldSource::TraitScore: scale.items = traits_[i]; break;
      case FieldSource::SkillScore: scale.items = competences_.skills[i]; break;
      case FieldSource::AspectPercent: {
        const CompetenceKey::Aspect& aspect = *competences_.aspects[i];
        scale.items = aspect_items(aspect, competences_);
        scale.maximum = aspect_maximum(aspect.listed);
        break;
      }
      case FieldSource::SpacePercent: {
        const CompetenceKey::Space& space = (*competences_.spaces)[i];
        ItemSum sum;
        for (const CompetenceKey::Aspect& aspect : space.aspects) sum.add(aspect_items(aspect, competences_));
        scale.items = sum.items();
        scale.maximum = space_maximum(space.aspects.size());
        break;
      }
      default: return std::nullopt;
    }
    set_range(scale);
    return scale;
  }

 private:
  static void set_range(Scale& scale) {
    for (const ScaleItem& item : scale.items) {
      std::int32_t least = item.points[plain_answer_class(1)];
      std::int32_t most = least;
      for (int entry = 2; entry <= 4; ++entry) {
        least = std::min(least, item.points[plain_answer_class(entry)]);
        most = std::max(most, item.points[plain_answer_class(entry)]);
      }
      scale.lowest += least;
      scale.highest += most;
    }
  }

  const Keys& keys_;
  std::vector<std::vector<ScaleItem>> emotions_;
  std::vector<std::vector<ScaleItem>> roles_;
  std::vector<std::vector<ScaleItem>> traits_;
  Competences competences_;
};

}  // namespace

std::uint8_t answer_class(const Answer& answer, std::size_t position) {
  const bool low = leans_to_first_pole(answer, position);
  const bool high = !low && (Answers::equals(answer, position, 3) || Answers::equals(answer, position, 4));
  return class_of(low, high, answer.entry > 0 ? answer.entry : 0);
}

std::uint8_t plain_answer_class(int entry) noexcept { return class_of(entry <= 2, entry >= 3, entry); }

std::vector<Scale> battery_scales(const Keys& keys) {
  const ScaleMaker maker(keys);
  std::vector<Scale> scales;
  for (const ReportField& field : report_fields(keys)) {
    if (auto scale = maker.scale_of(field)) scales.push_back(std::move(*scale));
  }
  return scales;
}

void classify_answers(const Answers& answers, std::vector<std::uint8_t>& classes, std::size_t size) {
  classes.assign(size, not_answered);
  const std::size_t given = std::min(answers.walk(), size);
  for (std::size_t p = 0; p < given; ++p) classes[p] = answer_class(answers.at(p), p);
}

std::size_t questions_reached(const std::vector<Scale>& scales) noexcept {
  std::size_t reached = 0;
  for (const Scale& scale : scales) {
    if (!scale.items.empty()) reached = std::max<std::size_t>(reached, scale.items.back().position + 1);
  }
  return reached;
}

}  // namespace mind
