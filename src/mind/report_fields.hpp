// Every value of the report that depends on the answers, as a flat list of named places: what a
// table of many clients holds in its columns, one row per client, and what the statistics of a
// cohort name their scales by. Everything else in a report (names, identifiers, the order of the
// entries) depends on the database alone and is the same for every client.
#pragma once

#include "mind/cell.hpp"
#include "mind/keys.hpp"
#include "mind/scores.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mind {

// Where in Scores a field's value stands, and so also what kind of value it is.
enum class FieldSource : std::uint8_t {
  PoleShare,      // personality[index / 2], first or second pole by index % 2: a real
  Title,          // the four letters of the type: a text
  StyleType,      // style.type: a text
  StyleScore,     // style.visual, .auditory, .kinesthetic by index 0, 1, 2: an integer
  EmotionTotal,   // emotional_intelligence[index]: an integer
  RoleTotal,      // roles[index]: an integer
  TraitScore,     // traits.totals[index]: an integer
  TraitLevel,     // trait_levels[index]: a level
  SpaceLevel,     // spaces[index].level
  SpacePercent,   // spaces[index].percentage: a real
  AspectLevel,    // aspects[index].level
  AspectPercent,  // aspects[index].percentage
  SkillScore,     // skills.totals[index], index a skill slot: an integer
  SkillLevel,     // skill_levels[index]
};

struct ReportField {
  std::string name;  // its place in the report; see field_segment
  FieldSource source;
  std::uint32_t index;
};

// The fields in report order. A competence hierarchy that cannot be made (every client's run
// fails at it) gives no fields of "Spaces".
std::vector<ReportField> report_fields(const Keys& keys);

// The name of one entry as a segment of a field's name, which joins segments with ".": a text as
// it stands, with "\" written "\\", "." written "\." and a leading "[" written "\[", and a NUL
// written "\0"; any other cell in brackets: "[3]", "[2.5]", "[null]", "[0x0a1b]" for a blob. So
// the segments of a name can always be told apart, and two entries never share a name.
std::string field_segment(const Cell& name);

}  // namespace mind
