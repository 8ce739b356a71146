// Personality type: the share of answers leaning to each pole of four trait pairs, and the four letters.
#include "mind/levels.hpp"
#include "mind/scoring_keys.hpp"
#include "mind/sections.hpp"

#include <algorithm>
#include <string>

namespace mind {

namespace {

// The question numbers (from 1) among the "Idx" cells of the trait's rows that are whole numbers,
// as positions (from 0), in order, each once.
std::vector<std::size_t> asked_positions(const Table& prs, std::size_t idx, const std::vector<std::size_t>& rows) {
  std::vector<std::size_t> asked;
  for (const std::size_t row : rows) {
    const Cell c = prs.at(row, idx);
    std::int64_t question = 0;
    const bool whole = c.kind() == Kind::Integer ? (question = c.as_integer(), true)
                                                 : (c.kind() == Kind::Real && exact_integer(c.as_real(), question));
    if (whole && question >= 1) asked.push_back(static_cast<std::size_t>(question - 1));
  }
  std::sort(asked.begin(), asked.end());
  asked.erase(std::unique(asked.begin(), asked.end()), asked.end());
  return asked;
}

std::uint32_t first_pole_count(const Answers& answers, const std::vector<std::size_t>& asked, std::size_t kept) {
  std::uint32_t count = 0;
  for (std::size_t i = 0; i < kept; ++i) {
    const std::size_t p = asked[i];
    if (leans_to_first_pole(answers.at(p), p)) ++count;
  }
  return count;
}

}  // namespace

bool leans_to_first_pole(const Answer& answer, std::size_t position) {
  return Answers::equals(answer, position, 1) || Answers::equals(answer, position, 2);
}

PersonalityKey::Trait PersonalityKey::trait_of(const Table& prs, std::string_view name) {
  Trait trait;
  try {
    const auto rows = prs.rows_where(name, Cell::text("Y"));
    const std::size_t idx = prs.column_index(index_column);
    for (const std::size_t row : rows) trait.question_numbers.push_back(Value::from_cell(prs.at(row, idx)));
    trait.asked = asked_positions(prs, idx, rows);
  } catch (Failure& failure) {
    trait.failure.emplace(std::move(failure));
  }
  return trait;
}

PersonalityKey::PersonalityKey(const Table& prs) {
  for (std::size_t i = 0; i < personality_traits.size(); ++i) traits_[i] = trait_of(prs, personality_traits[i]);
}

// Each trait's lines are set as far as scoring gets: its questions once its rows are found, the
// answers it keeps (those asked that the client gave) once the answers are walked.
void score_personality(const PersonalityKey& key, const Answers& answers, Scores& scores) {
  DiagnosticLines& lines = scores.lines;
  lines = {};
  for (std::size_t i = 0; i < personality_traits.size(); ++i) {
    const PersonalityKey::Trait& trait = key.trait(i);
    if (trait.failure) throw *trait.failure;
    lines.questions = static_cast<std::uint8_t>(i + 1);
    const auto kept = static_cast<std::size_t>(std::lower_bound(trait.asked.begin(), trait.asked.end(), answers.walk()) - trait.asked.begin());
    lines.kept[i] = static_cast<std::uint32_t>(kept);
    lines.answers = static_cast<std::uint8_t>(i + 1);
    PolePair& pair = scores.personality[i];
    pair.first = first_pole_count(answers, trait.asked, kept);
    pair.second = static_cast<std::uint32_t>(kept) - pair.first;
    const double n = static_cast<double>(std::max<std::size_t>(kept, 1));
    const double first_share = static_cast<double>(pair.first) / n;
    const double second_share = static_cast<double>(pair.second) / n;
    pair.first_share = round2(first_share);
    pair.second_share = round2(second_share);
    pair.first_wins = first_share > second_share;
  }
}

std::string personality_title(const Scores& scores) {
  std::string title;
  for (std::size_t i = 0; i < personality_traits.size(); ++i) {
    title += scores.personality[i].first_wins ? personality_traits[i][0] : personality_traits[i][1];
  }
  return title;
}

Value report_personality(const Scores& scores) {
  Map personality;
  personality.reserve(2 * personality_traits.size() + 1);
  for (std::size_t i = 0; i < personality_traits.size(); ++i) {
    const std::string_view trait = personality_traits[i];
    const PolePair& pair = scores.personality[i];
    personality.push_back({trait.substr(0, 1), Value(pair.first_share)});
    personality.push_back({trait.substr(1, 1), Value(pair.second_share)});
  }
  personality.push_back({"title", Value(std::string_view(personality_title(scores)))});
  return Value(std::move(personality));
}

}  // namespace mind
