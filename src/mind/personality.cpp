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

// The positions of the answers the trait keeps: those asked that the client answered.
std::vector<std::size_t> kept_positions(const std::vector<std::size_t>& asked, std::size_t answer_count) {
  return {asked.begin(), std::lower_bound(asked.begin(), asked.end(), answer_count)};
}

std::size_t first_pole_count(const Answers& answers, const std::vector<std::size_t>& kept) {
  std::size_t count = 0;
  for (const std::size_t p : kept) {
    const Answer& a = answers.at(p);
    if (Answers::equals(a, p, 1) || Answers::equals(a, p, 2)) ++count;
  }
  return count;
}

// One trait's share of the type, its lines filled as far as scoring gets.
void score_trait(std::string_view trait, const std::vector<std::size_t>& asked, const Answers& answers, TraitLines& lines,
                 Map& personality, std::string& title) {
  lines.kept = kept_positions(asked, answers.walk());
  lines.answers_kept = true;
  const std::size_t first = first_pole_count(answers, lines.kept);
  const std::size_t second = lines.kept.size() - first;
  const double n = static_cast<double>(std::max<std::size_t>(lines.kept.size(), 1));
  const double probability_e = static_cast<double>(first) / n;
  const double probability_i = static_cast<double>(second) / n;
  personality.push_back({trait.substr(0, 1), round2(probability_e)});
  personality.push_back({trait.substr(1, 1), round2(probability_i)});
  title += probability_e > probability_i ? trait[0] : trait[1];
}

}  // namespace

KeptPersonality::Trait KeptPersonality::trait_of(const Table& prs, std::string_view name) {
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

KeptPersonality::KeptPersonality(const Table& prs) {
  for (std::size_t i = 0; i < personality_traits.size(); ++i) traits_[i] = trait_of(prs, personality_traits[i]);
}

Map personality_type(const KeptPersonality& prs, const Answers& answers, std::vector<TraitLines>& lines) {
  Map personality;
  std::string title;
  for (std::size_t i = 0; i < personality_traits.size(); ++i) {
    const KeptPersonality::Trait& trait = prs.traits_[i];
    if (trait.failure) throw *trait.failure;
    TraitLines& trait_lines = lines.emplace_back();
    trait_lines.question_numbers = trait.question_numbers;
    score_trait(personality_traits[i], trait.asked, answers, trait_lines, personality, title);
  }
  personality.push_back({"title", Value(std::string_view(title))});
  return personality;
}

Map personality_type(const Table& prs, const Answers& answers, std::vector<TraitLines>& lines) {
  Map personality;
  std::string title;
  for (const std::string_view trait : personality_traits) {
    const auto rows = prs.rows_where(trait, Cell::text("Y"));
    const std::size_t idx = prs.column_index(index_column);
    TraitLines& trait_lines = lines.emplace_back();
    for (const std::size_t row : rows) trait_lines.question_numbers.push_back(Value::from_cell(prs.at(row, idx)));
    score_trait(trait, asked_positions(prs, idx, rows), answers, trait_lines, personality, title);
  }
  personality.push_back({"title", Value(std::string_view(title))});
  return personality;
}

}  // namespace mind
