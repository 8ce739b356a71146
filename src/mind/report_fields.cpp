#include "mind/report_fields.hpp"

#include "mind/scoring_keys.hpp"
#include "support/hex.hpp"

#include <array>
#include <cstdio>
#include <string_view>

namespace mind {

namespace {

std::string escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  if (!text.empty() && text.front() == '[') out += '\\';
  for (const char c : text) {
    if (c == '\\' || c == '.') out += '\\';
    if (c == '\0') {
      out += "\\0";
      continue;
    }
    out += c;
  }
  return out;
}

std::string real_text(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// Appended rather than concatenated: GCC 12 warns of an overlapping copy in "[" + text (-Wrestrict).
std::string bracketed(const std::string& inner) {
  std::string out = "[";
  out += inner;
  out += ']';
  return out;
}

class Fields {
 public:
  void add(std::string name, FieldSource source, std::size_t index) {
    fields_.push_back({std::move(name), source, static_cast<std::uint32_t>(index)});
  }
  std::vector<ReportField> take() { return std::move(fields_); }

 private:
  std::vector<ReportField> fields_;
};

void add_competences(const Keys& keys, Fields& fields) {
  const std::vector<CompetenceKey::Space>* spaces = nullptr;
  try {
    spaces = &keys.competences.spaces();
  } catch (const Failure&) {
    return;
  }
  std::size_t a = 0;
  for (std::size_t s = 0; s < spaces->size(); ++s) {
    const CompetenceKey::Space& space = (*spaces)[s];
    const std::string space_name = "Spaces." + field_segment(space.name);
    fields.add(space_name + ".level", FieldSource::SpaceLevel, s);
    fields.add(space_name + ".percentage", FieldSource::SpacePercent, s);
    for (const CompetenceKey::Aspect& aspect : space.aspects) {
      const std::string aspect_name = space_name + "." + field_segment(aspect.name);
      fields.add(aspect_name + ".level", FieldSource::AspectLevel, a);
      fields.add(aspect_name + ".percentage", FieldSource::AspectPercent, a);
      ++a;
      for (const CompetenceKey::Skill& skill : aspect.skills) {
        const std::string skill_name = aspect_name + "." + field_segment(skill.name);
        fields.add(skill_name + ".score", FieldSource::SkillScore, skill.slot);
        fields.add(skill_name + ".level", FieldSource::SkillLevel, skill.slot);
      }
    }
  }
}

}  // namespace

std::string field_segment(const Cell& name) {
  switch (name.kind()) {
    case Kind::Text: return escaped(name.bytes());
    case Kind::Integer: return bracketed(std::to_string(name.as_integer()));
    case Kind::Real: return bracketed(real_text(name.as_real()));
    case Kind::Blob: return bracketed("0x" + support::hex_digits(name.bytes()));
    case Kind::Missing: break;
  }
  return "[null]";
}

std::vector<ReportField> report_fields(const Keys& keys) {
  Fields fields;
  for (std::size_t t = 0; t < personality_traits.size(); ++t) {
    for (std::size_t pole = 0; pole < 2; ++pole) {
      fields.add("Personality_Type." + std::string(personality_traits[t].substr(pole, 1)), FieldSource::PoleShare, 2 * t + pole);
    }
  }
  fields.add("Personality_Type.title", FieldSource::Title, 0);
  fields.add("vak.type", FieldSource::StyleType, 0);
  constexpr std::array<std::string_view, 3> styles = {"visual", "auditory", "kinesthetic"};
  for (std::size_t i = 0; i < styles.size(); ++i) fields.add("vak." + std::string(styles[i]), FieldSource::StyleScore, i);
  for (std::size_t i = 0; i < emotional_intelligence_categories.size(); ++i) {
    fields.add("Emotional_Intelligance." + std::string(emotional_intelligence_categories[i]), FieldSource::EmotionTotal, i);
  }
  for (std::size_t i = 0; i < role_codes.size(); ++i) fields.add("Roles." + std::string(role_codes[i]), FieldSource::RoleTotal, i);
  const auto& traits = keys.traits.names();
  for (std::size_t i = 0; i < traits.size(); ++i) {
    const std::string name = "Traits." + field_segment(Cell::text(traits[i]));
    fields.add(name + ".score", FieldSource::TraitScore, i);
    fields.add(name + ".level", FieldSource::TraitLevel, i);
  }
  add_competences(keys, fields);
  return fields.take();
}

}  // namespace mind
