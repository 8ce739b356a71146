// The report sections: each scored from its prepared key and the answers into the client's Scores,
// then reported from the Scores and the key's names, identifiers and order.
#pragma once

#include "mind/answers.hpp"
#include "mind/keys.hpp"
#include "mind/scores.hpp"
#include "mind/stop.hpp"
#include "mind/value.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace mind {

// Scores every section in report order into `scores`, whose buffers are reused. The first failure
// met is thrown; the failures of each section come in the order its own steps meet them, and a
// failure a key kept or a streamed tally met counts at that key's section. `stop` is asked
// between sections. Safe to call from several threads at once on one Keys.
void score_sections(const Keys& keys, const Answers& answers, Scores& scores, StopCheck& stop);

// Every section of the report but "client_id", in order, from a client's complete Scores.
Map report_sections(const Keys& keys, const Scores& scores);

// The steps of score_sections, one per section, and the reports of each.
// An answer leans to the first pole of a trait pair when it equals 1 or 2, else to the second.
bool leans_to_first_pole(const Answer& answer, std::size_t position);
void score_personality(const PersonalityKey& key, const Answers& answers, Scores& scores);
Value report_personality(const Scores& scores);
// The four letters of the type: each pair's winning pole.
std::string personality_title(const Scores& scores);
// The points one answer gives the visual, auditory and kinesthetic styles on the row of methods it
// pairs with.
using StylePoints = std::array<std::int64_t, 3>;
StylePoints style_points(const StyleMethods& methods, const Answer& a, std::size_t p);
void score_learning_style(const StyleKey& key, const Answers& answers, StyleScores& scores);
Value report_learning_style(const StyleScores& scores);
// The name of a style as the report gives it ("Visual").
std::string_view style_name(Style style) noexcept;
// Emotional intelligence and team roles: a key of fixed columns, each the name of its total.
ReducedKey keyed_totals_key(const Table& table, std::span<const std::string_view> names);
void score_keyed_totals(const ReducedKey& key, const Answers& answers, std::span<std::int64_t> totals);
Value report_keyed_totals(std::span<const std::string_view> names, std::span<const std::int64_t> totals);
void score_traits(const PerColumnKey& key, const Answers& answers, Scores& scores);
Value report_traits(const Keys& keys, const Scores& scores);
void score_competences(const PerColumnKey& skills, const CompetenceKey& key, const Answers& answers, Scores& scores);
Value report_competences(const CompetenceKey& key, const Scores& scores);

// The totals of a per-column key for these answers: tallied now from its reduced rows, or, for a
// key whose rows went by as it was read, what that read tallied. Fails as the tally failed.
const std::vector<std::int64_t>& totals_of(const PerColumnKey& key, const Answers& answers, KeyTotals& totals);

}  // namespace mind
