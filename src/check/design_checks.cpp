// Faults of the instrument's design that its keys alone reveal, read from the battery's scales as
// statistics read them: levels that no total can reach, percentages above 100, scales too short to
// have a reliability, and questions that count for nothing. Scoring is not changed by any of them.
#include "check/checks.hpp"
#include "check/describe.hpp"
#include "mind/item_scores.hpp"
#include "mind/levels.hpp"
#include "mind/scoring_keys.hpp"

#include <cstdio>
#include <set>

namespace check {

namespace {

using mind::FieldSource;
using mind::Scale;

std::string percent_text(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

// "a", "a and b", "a, b and c".
std::string joined(const std::vector<std::string>& words) {
  std::string out;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0) out += i + 1 == words.size() ? " and " : ", ";
    out += words[i];
  }
  return out;
}

std::string listed(const std::vector<std::size_t>& numbers) {
  std::vector<std::string> words;
  for (const std::size_t n : numbers) words.push_back(std::to_string(n));
  return joined(words);
}

// The levels a total never reaches, "Needs Attention" and "Strong Skill" say, with where they begin.
void check_levels(const Scale& scale, const mind::Bands& bands, std::string what, Place place, DesignWarnings& found) {
  std::vector<std::string> names;
  std::vector<std::size_t> starts;
  for (const mind::Band& band : bands) {
    if (band.from > scale.highest) {
      names.push_back(quoted(mind::level_name(band.level)));
      starts.push_back(static_cast<std::size_t>(band.from));
    }
  }
  if (names.empty()) return;
  found.push_back({scale.field.name, std::move(place),
                   what + " totals at most " + std::to_string(scale.highest) + " points, below " + listed(starts) + " where " + joined(names) +
                       (names.size() == 1 ? " begins: that level is" : " begin: those levels are") + " never given"});
}

void check_percentage(const Scale& scale, std::string what, Place place, DesignWarnings& found) {
  if (!scale.maximum || scale.highest <= *scale.maximum) return;
  const double top = static_cast<double>(scale.highest) / *scale.maximum * 100;
  found.push_back({scale.field.name, std::move(place),
                   what + " can total " + std::to_string(scale.highest) + " points, above the " + std::to_string(*scale.maximum) +
                       " its percentage divides by: it reads up to " + percent_text(top) + " %"});
}

// Where a scale's questions are keyed.
Place place_of(const Scale& scale, const mind::Keys& keys) {
  const std::size_t i = scale.field.index;
  switch (scale.field.source) {
    case FieldSource::PoleShare: return in_column(mind::PRS, mind::personality_traits[i / 2]);
    case FieldSource::StyleScore: return in_table(mind::VAK);
    case FieldSource::EmotionTotal: return in_column(mind::EMQ, mind::emotional_intelligence_categories[i]);
    case FieldSource::RoleTotal: return in_column(mind::TRS, mind::role_codes[i]);
    case FieldSource::TraitScore: return in_column(mind::QTM, keys.traits.names()[i]);
    case FieldSource::SkillScore: return in_column(mind::CTD, keys.skills.names()[i]);
    default: return in_table(mind::CMF);
  }
}

void check_length(const Scale& scale, const mind::Keys& keys, DesignWarnings& found) {
  if (scale.items.size() > 1) return;
  const std::string what = "scale " + quoted(scale.field.name);
  found.push_back({scale.field.name, place_of(scale, keys),
                   scale.items.empty() ? what + " counts no question: its total is always 0"
                                       : what + " counts one question (" + std::to_string(scale.items[0].position + 1) +
                                             "): no reliability can be estimated for it"});
}

void check_unused(const std::vector<Scale>& scales, std::size_t questions, DesignWarnings& found) {
  std::vector<bool> counted(questions);
  for (const Scale& scale : scales) {
    for (const mind::ScaleItem& item : scale.items) {
      if (item.position < questions) counted[item.position] = true;
    }
  }
  std::vector<std::size_t> unused;
  for (std::size_t q = 0; q < questions; ++q) {
    if (!counted[q]) unused.push_back(q + 1);
  }
  if (unused.empty()) return;
  found.push_back({std::nullopt, whole_database(),
                   (unused.size() == 1 ? "question " + listed(unused) + " counts" : "questions " + listed(unused) + " count") +
                       " for no scale: the answers to it change no score"});
}

// Skills and traits by the slot of their total, each once; aspects and spaces in report order.
void check_scales(const mind::Keys& keys, const std::vector<Scale>& scales, std::size_t questions, DesignWarnings& found) {
  std::set<std::uint32_t> skills_seen;
  std::vector<const mind::CompetenceKey::Aspect*> aspects;
  for (const auto& space : keys.competences.spaces()) {
    for (const auto& aspect : space.aspects) aspects.push_back(&aspect);
  }
  for (const Scale& scale : scales) {
    const std::uint32_t i = scale.field.index;
    switch (scale.field.source) {
      case FieldSource::TraitScore:
        check_levels(scale, mind::trait_bands, "trait " + quoted(keys.traits.names()[i]), place_of(scale, keys), found);
        break;
      case FieldSource::SkillScore:
        if (!skills_seen.insert(i).second) continue;
        check_levels(scale, mind::skill_bands, "skill " + quoted(keys.skills.names()[i]), place_of(scale, keys), found);
        break;
      case FieldSource::AspectPercent:
        check_percentage(scale, "aspect " + shown(aspects[i]->name), in_column(mind::CMF, "Aspect"), found);
        break;
      case FieldSource::SpacePercent:
        check_percentage(scale, "space " + shown(keys.competences.spaces()[i].name), in_column(mind::CMF, "Space"), found);
        break;
      default: break;
    }
    check_length(scale, keys, found);
  }
  check_unused(scales, questions, found);
}

}  // namespace

DesignWarnings design_warnings(const LoadedTables& tables) {
  DesignWarnings found;
  const auto range = answer_range(tables);
  if (!tables.complete() || !range) return found;
  try {
    const mind::Keys keys(tables.all(), mind::PerColumnKey(*tables[mind::QTM]), mind::PerColumnKey(*tables[mind::CTD]));
    check_scales(keys, mind::battery_scales(keys), range->most, found);
  } catch (const mind::Failure&) {
    // A key that fails every client is an error of its own; its scales have no design to judge.
    found.clear();
  }
  return found;
}

}  // namespace check
