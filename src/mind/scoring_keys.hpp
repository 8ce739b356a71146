// The names scoring reads by: the eight tables in load order and the fixed columns of the keyed tables.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace mind {

enum TableId : std::size_t { IDs, PRS, VAK, EMQ, TRS, CTD, CMF, QTM, table_count };
inline constexpr std::array<std::string_view, table_count> table_names = {"IDs", "PRS", "VAK", "EMQ",
                                                                           "TRS", "CTD", "CMF", "QTM"};

// The question-number column; in "QTM" and "CTD" every other column is a trait or a skill.
inline constexpr std::string_view index_column = "Idx";

// "IDs" gives each trait, space, aspect and skill the identifier of the first row titled like it.
inline constexpr std::string_view title_column = "Title";
inline constexpr std::string_view identifier_column = "Geo_Id";

inline constexpr std::array<std::string_view, 4> personality_traits = {"EI", "SN", "TF", "JP"};

// Read in this order for every answer; the first three count for answers 1 and 2, the last two for 3 and 4.
inline constexpr std::array<std::string_view, 5> vak_columns = {"VN", "KF", "KP", "AS", "KS"};

inline constexpr std::array<std::string_view, 5> emotional_intelligence_categories = {
    "SelfAwarness", "ManagingEmotions", "MotivatingOneself", "Empathy", "SocialSkills"};

// Resource Investigator, Co-ordinator, Plant, Shaper, Monitor Evaluator, Implementer, Teamworker,
// Completer Finisher, Specialist: the report carries only the codes.
inline constexpr std::array<std::string_view, 9> role_codes = {"RI", "CO", "PL", "SH", "ME", "IMP", "TW", "CF", "SP"};

}  // namespace mind
